#include "ui/term_view.h"

#include <algorithm>

#include "ui/term_text.h"

namespace vanta::ui {

Layout ComputeLayout(int rows, int cols, int nick_width) {
  Layout l;
  if (rows < 1 || cols < 1) return l;
  l.input = {rows - 1, 0, 1, cols};
  if (rows >= 2) l.windows = {rows - 2, 0, 1, cols};
  if (rows >= 3) l.title = {0, 0, 1, cols};
  const int text_h = std::max(0, rows - 3);
  int nw = 0;
  if (nick_width > 0 && cols >= 40) nw = std::clamp(nick_width, 6, cols / 4);
  if (nw > 0) {
    l.nicks = {1, cols - nw, text_h, nw};
    l.separator = {1, cols - nw - 1, text_h, 1};
    l.text = {1, 0, text_h, cols - nw - 1};
  } else {
    l.text = {1, 0, text_h, cols};
  }
  return l;
}

uint16_t WrappedView::FormatIndex(const output::CharFormat& f) {
  // Consecutive runs mostly share a format; a small table keeps repeated ones together.
  if (!formats_.empty() && formats_.back() == f) return static_cast<uint16_t>(formats_.size() - 1);
  if (formats_.size() < 256) {
    for (std::size_t i = 0; i < formats_.size(); ++i)
      if (formats_[i] == f) return static_cast<uint16_t>(i);
  }
  if (formats_.size() >= 0xFFFF) return static_cast<uint16_t>(formats_.size() - 1);
  formats_.push_back(f);
  return static_cast<uint16_t>(formats_.size() - 1);
}

void WrappedView::EndLine() {
  const auto starts = WrapGlyphs(line_, width_);
  const auto end = static_cast<uint32_t>(text_.size());
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const uint32_t b = starts[k] < line_.size() ? line_[starts[k]].offset : end;
    const uint32_t e = k + 1 < starts.size() ? line_[starts[k + 1]].offset : end;
    rows_.push_back({b, e});
  }
  line_.clear();
  line_begin_ = end;
}

bool WrappedView::Sync(const output::TextView& view, int width) {
  if (width < 2) width = 2;
  const uint64_t gen = view.Generation();
  if (gen == generation_ && width == width_) return false;
  width_ = width;
  const std::size_t old_size = text_.size();
  text_.clear();
  text_.reserve(old_size);
  spans_.clear();
  formats_.clear();
  rows_.clear();
  line_.clear();
  line_begin_ = 0;
  bool open = false;  // text since the last line end
  std::vector<Glyph>& scratch = scratch_;
  view.ForEachRun([&](output::RunKind kind, const output::CharFormat& format, std::string_view text) {
    const uint16_t fi = FormatIndex(format);
    auto add = [&](std::string_view part) {
      if (part.empty()) return;
      const auto at = static_cast<uint32_t>(text_.size());
      if (spans_.empty() || spans_.back().format != fi) {
        if (!spans_.empty() && spans_.back().offset == at) spans_.back().format = fi;
        else spans_.push_back({at, fi});
      }
      scratch.clear();
      AppendGlyphs(part, scratch);
      for (Glyph g : scratch) {
        g.offset = static_cast<uint32_t>(text_.size());
        line_.push_back(g);
        AppendUtf8(text_, g.code);
      }
      open = true;
    };
    if (kind != output::RunKind::Text) {
      add(text.empty() ? std::string_view("[?]") : text);
      return;
    }
    while (!text.empty()) {
      const std::size_t nl = text.find('\n');
      add(text.substr(0, nl));
      if (nl == std::string_view::npos) break;
      EndLine();
      open = false;
      text.remove_prefix(nl + 1);
    }
  });
  if (open) EndLine();  // the last line has no line end yet
  generation_ = gen;
  return true;
}

void WrappedView::Row(std::size_t r, std::vector<Piece>& out) const {
  out.clear();
  if (r >= rows_.size()) return;
  const RowRange range = rows_[r];
  // The span covering the row's first byte.
  auto it = std::upper_bound(spans_.begin(), spans_.end(), range.begin,
                             [](uint32_t off, const Span& s) { return off < s.offset; });
  if (it != spans_.begin()) --it;
  uint32_t pos = range.begin;
  while (pos < range.end && it != spans_.end()) {
    const uint32_t next = (it + 1) != spans_.end() ? std::min(range.end, (it + 1)->offset) : range.end;
    if (next > pos) out.push_back({std::string_view(text_).substr(pos, next - pos), &formats_[it->format]});
    pos = std::max(pos, next);
    ++it;
  }
}

std::string WrappedView::RowText(std::size_t r) const {
  if (r >= rows_.size()) return {};
  return text_.substr(rows_[r].begin, rows_[r].end - rows_[r].begin);
}

std::size_t FirstVisibleRow(std::size_t rows, int height, std::size_t* back) {
  const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
  const std::size_t max_back = rows > h ? rows - h : 0;
  if (*back > max_back) *back = max_back;
  return rows > h ? rows - h - *back : 0;
}

std::vector<WindowListItem> BuildWindowList(const std::vector<WindowEntry>& windows, int active, int width,
                                            ColourDepth depth) {
  std::vector<WindowListItem> items;
  if (width <= 0) return items;
  std::vector<int> widths;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    WindowListItem it;
    it.window = static_cast<int>(i);
    it.text = std::to_string(i + 1) + ":" + FitWidth(windows[i].name, 24);
    it.style = ActivityColour(windows[i].activity, depth);
    it.active = static_cast<int>(i) == active;
    widths.push_back(DisplayWidth(it.text));
    items.push_back(std::move(it));
  }
  // Scroll: the first item shown is the earliest one that still lets the active item fit.
  std::size_t first = 0;
  if (active >= 0 && static_cast<std::size_t>(active) < items.size()) {
    auto span = [&](std::size_t a, std::size_t b) {  // cells of items a..b with separators
      int w = 0;
      for (std::size_t i = a; i <= b; ++i) w += widths[i] + (i > a ? 1 : 0);
      return w;
    };
    while (first < static_cast<std::size_t>(active) && span(first, static_cast<std::size_t>(active)) > width) ++first;
  }
  std::vector<WindowListItem> shown;
  int x = 0;
  for (std::size_t i = first; i < items.size(); ++i) {
    if (x >= width) break;
    WindowListItem it = std::move(items[i]);
    it.x = x;
    if (x + widths[i] > width) it.text = FitWidth(it.text, width - x);
    x += widths[i] + 1;
    shown.push_back(std::move(it));
  }
  return shown;
}

}  // namespace vanta::ui
