#include "output/text_view.h"

#include <algorithm>
#include <cstring>

#include "platform/codec.h"

namespace vanta::output {

namespace {

// Length of the character that starts at text[i]: a complete UTF-8 sequence, else one byte.
std::size_t CharLen(std::string_view text, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  std::size_t need;
  if (c >= 0xC2 && c <= 0xDF) need = 2;
  else if (c >= 0xE0 && c <= 0xEF) need = 3;
  else if (c >= 0xF0 && c <= 0xF4) need = 4;
  else return 1;
  if (i + need > text.size()) return 1;
  for (std::size_t k = 1; k < need; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  return need;
}

// Where the view keeps its runs' bytes before it compacts them: dead bytes may grow to the live ones
// plus this much.
constexpr std::size_t kCompactSlack = 64 * 1024;
// Dropped runs at the front of the run vector are removed in one move once there are this many.
constexpr std::size_t kRunHeadSlack = 1024;

}  // namespace

std::size_t CountChars(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    i += c < 0x80 ? 1 : CharLen(text, i);
    ++n;
  }
  return n;
}

std::size_t ByteOffsetOfChar(std::string_view text, std::size_t chars) {
  std::size_t i = 0;
  while (chars > 0 && i < text.size()) {
    i += CharLen(text, i);
    --chars;
  }
  return i;
}

TextView::TextView() { fonts_.push_back(FontSpec{}); }

std::size_t TextView::Length() const {
  std::lock_guard lock(mutex_);
  return length_;
}

void TextView::SetSelection(std::size_t start, std::size_t end) {
  std::lock_guard lock(mutex_);
  if (start > end) std::swap(start, end);
  sel_start_ = std::min(start, length_);
  sel_end_ = std::min(end, length_);
  caret_ = sel_end_;
  ++generation_;
}

std::pair<std::size_t, std::size_t> TextView::Selection() const {
  std::lock_guard lock(mutex_);
  return {sel_start_, sel_end_};
}

void TextView::ReplaceSelection(std::string_view text) {
  std::lock_guard lock(mutex_);
  InsertTextLocked(text);
}

void TextView::DeleteRange(std::size_t start, std::size_t end) {
  std::lock_guard lock(mutex_);
  if (start > end) std::swap(start, end);
  DeleteLocked(std::min(start, length_), std::min(end, length_));
}

std::size_t TextView::Caret() const {
  std::lock_guard lock(mutex_);
  return caret_;
}

void TextView::SetCaret(std::size_t pos) {
  std::lock_guard lock(mutex_);
  caret_ = sel_start_ = sel_end_ = std::min(pos, length_);
}

void TextView::CaretToEnd() {
  std::lock_guard lock(mutex_);
  caret_ = sel_start_ = sel_end_ = length_;
}

void TextView::SetCaretFormat(const CharFormat& format) {
  std::lock_guard lock(mutex_);
  caret_format_ = format;
  if (caret_format_.font >= fonts_.size()) caret_format_.font = 0;
}

CharFormat TextView::CaretFormat() const {
  std::lock_guard lock(mutex_);
  return caret_format_;
}

void TextView::InsertText(std::string_view text) {
  std::lock_guard lock(mutex_);
  InsertTextLocked(text);
}

void TextView::InsertUtf16(std::u16string_view text) {
  const std::string utf8 = platform::Utf16ToUtf8(text);
  std::lock_guard lock(mutex_);
  InsertTextLocked(utf8);
}

void TextView::InsertPicture(int number, std::string_view label) {
  std::lock_guard lock(mutex_);
  DropSelectionLocked();
  const std::size_t offset = buffer_.size();
  buffer_.append(label);
  InsertLocked(offset, 1, RunKind::Picture, number);
}

void TextView::InsertObject(std::string_view name) {
  std::lock_guard lock(mutex_);
  DropSelectionLocked();
  const std::size_t offset = buffer_.size();
  buffer_.append(name);
  InsertLocked(offset, 1, RunKind::Object, 0);
}

bool TextView::IsObjectAt(std::size_t pos) const {
  std::lock_guard lock(mutex_);
  if (pos >= length_) return false;
  std::size_t start = 0;
  const std::size_t i = FindRunLocked(pos, &start);
  return i < runs_.size() - head_ && runs_[head_ + i].kind != RunKind::Text;
}

uint16_t TextView::AddFont(const FontSpec& font) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < fonts_.size(); ++i)
    if (fonts_[i] == font) return static_cast<uint16_t>(i);
  if (fonts_.size() >= kMaxFonts) return 0;
  fonts_.push_back(font);
  return static_cast<uint16_t>(fonts_.size() - 1);
}

FontSpec TextView::Font(uint16_t index) const {
  std::lock_guard lock(mutex_);
  return index < fonts_.size() ? fonts_[index] : fonts_[0];
}

void TextView::SetAutoUrlDetect(bool on) {
  std::lock_guard lock(mutex_);
  auto_url_ = on;
}

bool TextView::AutoUrlDetect() const {
  std::lock_guard lock(mutex_);
  return auto_url_;
}

void TextView::SetScrolledAway(bool away) {
  std::lock_guard lock(mutex_);
  scrolled_away_ = away;
}

bool TextView::ScrolledAway() const {
  std::lock_guard lock(mutex_);
  return scrolled_away_;
}

void TextView::ScrollToCaret() {
  std::lock_guard lock(mutex_);
  scrolled_away_ = false;
  ++scroll_count_;
}

uint64_t TextView::ScrollCount() const {
  std::lock_guard lock(mutex_);
  return scroll_count_;
}

std::vector<StyledRun> TextView::Runs() const {
  std::lock_guard lock(mutex_);
  std::vector<StyledRun> out;
  out.reserve(runs_.size() - head_);
  for (std::size_t i = head_; i < runs_.size(); ++i) {
    const Run& r = runs_[i];
    out.push_back(StyledRun{r.kind, r.format, std::string(RunText(r)), r.number});
  }
  return out;
}

std::string TextView::PlainText() const {
  std::lock_guard lock(mutex_);
  std::string out;
  out.reserve(live_bytes_);
  for (std::size_t i = head_; i < runs_.size(); ++i) out.append(RunText(runs_[i]));
  return out;
}

void TextView::ForEachRun(const std::function<void(RunKind, const CharFormat&, std::string_view)>& fn) const {
  std::lock_guard lock(mutex_);
  for (std::size_t i = head_; i < runs_.size(); ++i) fn(runs_[i].kind, runs_[i].format, RunText(runs_[i]));
}

std::size_t TextView::RunCount() const {
  std::lock_guard lock(mutex_);
  return runs_.size() - head_;
}

std::size_t TextView::MemoryBytes() const {
  std::lock_guard lock(mutex_);
  std::size_t fonts = 0;
  for (const auto& f : fonts_) fonts += sizeof(FontSpec) + f.face.capacity();
  return buffer_.capacity() + spare_.capacity() + runs_.capacity() * sizeof(Run) + fonts + sizeof(*this);
}

uint64_t TextView::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void TextView::Clear() {
  std::lock_guard lock(mutex_);
  buffer_.clear();
  spare_.clear();
  runs_.clear();
  head_ = 0;
  length_ = live_bytes_ = caret_ = sel_start_ = sel_end_ = 0;
  ++generation_;
}

// Index (relative to head_) of the run holding character pos, with the position its run starts at;
// the run count when pos is at or past the end.
std::size_t TextView::FindRunLocked(std::size_t pos, std::size_t* run_start) const {
  const std::size_t n = runs_.size() - head_;
  if (pos >= length_) {
    *run_start = length_;
    return n;
  }
  if (pos >= length_ / 2) {  // appends and trims touch the ends; search from the nearer one
    std::size_t start = length_;
    for (std::size_t i = n; i-- > 0;) {
      start -= runs_[head_ + i].chars;
      if (start <= pos) {
        *run_start = start;
        return i;
      }
    }
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t c = runs_[head_ + i].chars;
    if (pos < start + c) {
      *run_start = start;
      return i;
    }
    start += c;
  }
  *run_start = length_;
  return n;
}

// Makes a run boundary at character pos; returns the index (relative to head_) of the first run at
// or after pos.
std::size_t TextView::SplitAtLocked(std::size_t pos) {
  std::size_t start = 0;
  const std::size_t i = FindRunLocked(pos, &start);
  if (i == runs_.size() - head_ || start == pos) return i;
  Run& r = runs_[head_ + i];
  const std::size_t k = pos - start;  // 0 < k < r.chars: only text runs have more than one character
  const std::size_t b = ByteOffsetOfChar(RunText(r), k);
  Run tail = r;
  tail.offset = r.offset + static_cast<uint32_t>(b);
  tail.bytes = r.bytes - static_cast<uint32_t>(b);
  tail.chars = r.chars - static_cast<uint32_t>(k);
  r.bytes = static_cast<uint32_t>(b);
  r.chars = static_cast<uint32_t>(k);
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(head_ + i + 1), tail);
  return i + 1;
}

void TextView::DeleteLocked(std::size_t start, std::size_t end) {
  if (start >= end) return;
  std::size_t removed_bytes = 0;
  if (start == 0) {
    // Trimming the front: whole runs go by moving the head, the run vector is tidied rarely.
    const std::size_t j = SplitAtLocked(end);
    for (std::size_t k = 0; k < j; ++k) removed_bytes += runs_[head_ + k].bytes;
    head_ += j;
    if (head_ >= kRunHeadSlack && head_ * 2 >= runs_.size()) {
      runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  } else {
    const std::size_t i = SplitAtLocked(start);
    const std::size_t j = SplitAtLocked(end);
    for (std::size_t k = i; k < j; ++k) removed_bytes += runs_[head_ + k].bytes;
    runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(head_ + i),
                runs_.begin() + static_cast<std::ptrdiff_t>(head_ + j));
  }
  const std::size_t n = end - start;
  length_ -= n;
  live_bytes_ -= removed_bytes;
  auto shift = [&](std::size_t& p) {
    if (p >= end) p -= n;
    else if (p > start) p = start;
  };
  shift(caret_);
  shift(sel_start_);
  shift(sel_end_);
  if (head_ == runs_.size()) {  // empty: start the buffers over
    runs_.clear();
    head_ = 0;
    buffer_.clear();
  }
  ++generation_;
  CompactLocked();
}

void TextView::DropSelectionLocked() {
  if (sel_start_ != sel_end_) DeleteLocked(sel_start_, sel_end_);
  caret_ = sel_end_ = sel_start_;
}

// Places the bytes buffer_[offset..] as a run at the caret (the selection is already gone).
void TextView::InsertLocked(std::size_t offset, std::size_t chars, RunKind kind, int number) {
  const auto size = static_cast<uint32_t>(buffer_.size() - offset);
  if (size == 0 && kind == RunKind::Text) return;
  Run run{static_cast<uint32_t>(offset), size, static_cast<uint32_t>(chars), number, kind, caret_format_};
  if (caret_ >= length_) {
    Run* last = runs_.size() > head_ ? &runs_.back() : nullptr;
    // Text joins the last run when it has the same format and follows it in the buffer, unless it
    // starts with a continuation byte (joined, the bytes could count as fewer characters).
    if (kind == RunKind::Text && last && last->kind == RunKind::Text && last->format == run.format &&
        last->offset + last->bytes == run.offset && (static_cast<unsigned char>(buffer_[offset]) & 0xC0) != 0x80) {
      last->bytes += run.bytes;
      last->chars += run.chars;
    } else {
      runs_.push_back(run);
    }
  } else {
    const std::size_t i = SplitAtLocked(caret_);
    runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(head_ + i), run);
  }
  length_ += chars;
  live_bytes_ += size;
  caret_ += chars;
  sel_start_ = sel_end_ = caret_;
  ++generation_;
  CompactLocked();
}

// Appends text to buffer_ with its line ends folded to "\n" and places it at the caret.
void TextView::InsertTextLocked(std::string_view text) {
  DropSelectionLocked();
  if (text.empty()) return;
  const std::size_t offset = buffer_.size();
  if (text.size() >= UINT32_MAX / 4) text = text.substr(0, UINT32_MAX / 4);
  if (!std::memchr(text.data(), '\r', text.size())) {
    buffer_.append(text);
  } else {
    buffer_.reserve(offset + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c == '\r') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        c = '\n';
      }
      buffer_.push_back(c);
    }
  }
  InsertLocked(offset, CountChars(std::string_view(buffer_).substr(offset)), RunKind::Text, 0);
}

// Copies the live runs into the spare buffer once dead bytes dominate, then swaps the buffers; both
// keep their capacity, so a view that is trimmed regularly stops allocating.
void TextView::CompactLocked() {
  if (buffer_.size() <= 2 * live_bytes_ + kCompactSlack) return;
  spare_.clear();
  for (std::size_t i = head_; i < runs_.size(); ++i) {
    Run& r = runs_[i];
    const auto at = static_cast<uint32_t>(spare_.size());
    spare_.append(RunText(r));
    r.offset = at;
  }
  buffer_.swap(spare_);
  spare_.clear();
}

}  // namespace vanta::output
