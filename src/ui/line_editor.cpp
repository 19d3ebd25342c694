#include "ui/line_editor.h"

#include <vector>

#include "ui/term_text.h"

namespace vanta::ui {

namespace {
bool Blank(char c) { return c == ' ' || c == '\t'; }

// At most max bytes of text, never ending inside a UTF-8 sequence that continues after the cut.
std::string_view CutAt(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t cut = max;
  while (cut > 0 && max - cut < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  if (cut < max && static_cast<unsigned char>(text[cut]) < 0xC0) cut = max;  // not a sequence after all
  return text.substr(0, cut);
}
}  // namespace

void LineEditor::Set(std::string_view text) {
  text_.assign(CutAt(text, kMaxBytes));
  cursor_ = text_.size();
  view_start_ = 0;
}

bool LineEditor::Insert(std::string_view text) {
  const std::string_view kept = CutAt(text, kMaxBytes - text_.size());
  text_.insert(cursor_, kept);
  cursor_ += kept.size();
  return kept.size() == text.size();
}

std::size_t LineEditor::PrevChar(std::size_t pos) const {
  if (pos == 0) return 0;
  // Step back over the glyph that ends at pos.
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && (static_cast<unsigned char>(text_[start]) & 0xC0) == 0x80) --start;
  const auto glyphs = DecodeGlyphs(std::string_view(text_).substr(start, pos - start));
  return pos - glyphs.back().bytes;
}

std::size_t LineEditor::NextChar(std::size_t pos) const {
  if (pos >= text_.size()) return text_.size();
  const std::string_view rest = std::string_view(text_).substr(pos, 4);
  const auto glyphs = DecodeGlyphs(rest);
  return pos + glyphs.front().bytes;
}

void LineEditor::SetCursor(std::size_t pos) {
  if (pos >= text_.size()) {
    cursor_ = text_.size();
    return;
  }
  cursor_ = PrevChar(NextChar(pos));
}

void LineEditor::Left() { cursor_ = PrevChar(cursor_); }
void LineEditor::Right() { cursor_ = NextChar(cursor_); }

void LineEditor::WordLeft() {
  while (cursor_ > 0 && Blank(text_[cursor_ - 1])) --cursor_;
  while (cursor_ > 0 && !Blank(text_[cursor_ - 1])) cursor_ = PrevChar(cursor_);
}

void LineEditor::WordRight() {
  while (cursor_ < text_.size() && Blank(text_[cursor_])) ++cursor_;
  while (cursor_ < text_.size() && !Blank(text_[cursor_])) cursor_ = NextChar(cursor_);
}

void LineEditor::Backspace() {
  const std::size_t p = PrevChar(cursor_);
  text_.erase(p, cursor_ - p);
  cursor_ = p;
}

void LineEditor::Delete() { text_.erase(cursor_, NextChar(cursor_) - cursor_); }

void LineEditor::KillToEnd() {
  kill_ = text_.substr(cursor_);
  text_.erase(cursor_);
}

void LineEditor::KillToStart() {
  kill_ = text_.substr(0, cursor_);
  text_.erase(0, cursor_);
  cursor_ = 0;
}

void LineEditor::DeleteWordBack() {
  std::size_t p = cursor_;
  while (p > 0 && Blank(text_[p - 1])) --p;
  while (p > 0 && !Blank(text_[p - 1])) --p;
  kill_ = text_.substr(p, cursor_ - p);
  text_.erase(p, cursor_ - p);
  cursor_ = p;
}

void LineEditor::DeleteWordForward() {
  std::size_t p = cursor_;
  while (p < text_.size() && Blank(text_[p])) ++p;
  while (p < text_.size() && !Blank(text_[p])) ++p;
  kill_ = text_.substr(cursor_, p - cursor_);
  text_.erase(cursor_, p - cursor_);
}

std::size_t LineEditor::WordStart() const {
  std::size_t p = cursor_;
  while (p > 0 && !Blank(text_[p - 1])) --p;
  return p;
}

std::size_t LineEditor::VisibleStart(int width) {
  if (width < 1) width = 1;
  const auto glyphs = DecodeGlyphs(text_);
  // Cells before each glyph, and before the cursor and the current start.
  int cursor_cells = 0, start_cells = -1;
  std::vector<int> before(glyphs.size() + 1, 0);
  for (std::size_t i = 0; i < glyphs.size(); ++i) before[i + 1] = before[i] + glyphs[i].width;
  std::size_t ci = glyphs.size();
  for (std::size_t i = 0; i <= glyphs.size(); ++i) {
    const std::size_t off = i < glyphs.size() ? glyphs[i].offset : text_.size();
    if (off == cursor_) ci = i;
    if (off == view_start_) start_cells = before[i];
  }
  cursor_cells = before[ci];
  if (start_cells < 0 || static_cast<std::size_t>(start_cells) > static_cast<std::size_t>(cursor_cells)) {
    view_start_ = 0;
    start_cells = 0;
  }
  if (cursor_cells - start_cells + 1 <= width) return view_start_;
  // Scroll right just enough for the cursor (and a quarter of the field more, so typing does not
  // scroll at every character).
  const int need = cursor_cells + 1 - width + width / 4;
  for (std::size_t i = 0; i <= ci; ++i)
    if (before[i] >= need || i == ci) {
      view_start_ = i < glyphs.size() ? glyphs[i].offset : text_.size();
      break;
    }
  return view_start_;
}

void InputHistory::Add(std::string_view line) {
  if (!line.empty() && (entries_.empty() || entries_.back() != line)) {
    entries_.emplace_back(line);
    if (entries_.size() > kMaxEntries) entries_.pop_front();
  }
  pos_ = entries_.size();
  draft_.clear();
}

bool InputHistory::Older(std::string_view current, std::string* out) {
  if (pos_ > entries_.size()) pos_ = entries_.size();
  if (pos_ == 0) return false;
  if (pos_ == entries_.size()) draft_.assign(current);
  --pos_;
  *out = entries_[pos_];
  return true;
}

bool InputHistory::Newer(std::string* out) {
  if (pos_ >= entries_.size()) return false;
  ++pos_;
  *out = pos_ == entries_.size() ? draft_ : entries_[pos_];
  return true;
}

}  // namespace vanta::ui
