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

const std::vector<uint32_t>& WrappedView::RowsOf(uint32_t index) {
  Line& line = lines_[index];
  if (line.rows.empty()) {
    scratch_.clear();
    AppendGlyphs(std::string_view(text_).substr(line.begin, line.end - line.begin), scratch_);
    for (std::size_t start : WrapGlyphs(scratch_, width_))
      line.rows.push_back(line.begin + (start < scratch_.size() ? scratch_[start].offset : line.end - line.begin));
  }
  return line.rows;
}

bool WrappedView::Sync(const output::TextView& view, int width) {
  if (width < 2) width = 2;
  added_rows_ = 0;
  const uint64_t gen = view.Generation();
  if (gen == generation_ && width == width_) return false;
  if (gen == generation_) {  // only the width changed
    width_ = width;
    for (Line& l : lines_) l.rows.clear();
    return true;
  }
  const bool same_width = width == width_;
  width_ = width;
  // What the old end looked like, to count the rows appended after it.
  const std::size_t old_lines = lines_.size();
  std::size_t old_last_rows = 0;
  std::string old_last;
  if (same_width && old_lines > 0) {
    old_last_rows = RowsOf(static_cast<uint32_t>(old_lines - 1)).size();
    old_last = text_.substr(lines_.back().begin, lines_.back().end - lines_.back().begin);
  }

  const std::size_t old_size = text_.size();
  text_.clear();
  text_.reserve(old_size);
  spans_.clear();
  formats_.clear();
  lines_.clear();
  uint32_t line_begin = 0;
  view.ForEachRun([&](output::RunKind kind, const output::CharFormat& format, std::string_view text) {
    const uint16_t fi = FormatIndex(format);
    auto add = [&](std::string_view part) {
      if (part.empty()) return;
      const auto at = static_cast<uint32_t>(text_.size());
      if (spans_.empty() || spans_.back().format != fi) {
        if (!spans_.empty() && spans_.back().offset == at) spans_.back().format = fi;
        else spans_.push_back({at, fi});
      }
      text_.append(part);
    };
    if (kind != output::RunKind::Text) {
      add(text.empty() ? std::string_view("[?]") : text);
      return;
    }
    while (!text.empty()) {
      const std::size_t nl = text.find('\n');
      add(text.substr(0, nl));
      if (nl == std::string_view::npos) break;
      lines_.push_back({line_begin, static_cast<uint32_t>(text_.size()), {}});
      line_begin = static_cast<uint32_t>(text_.size());
      text.remove_prefix(nl + 1);
    }
  });
  if (text_.size() > line_begin) lines_.push_back({line_begin, static_cast<uint32_t>(text_.size()), {}});
  generation_ = gen;

  // Grown at its end: the old last line is still there (perhaps longer) and lines may follow it.
  if (same_width && old_lines > 0 && lines_.size() >= old_lines) {
    const Line& l = lines_[old_lines - 1];
    const std::string_view now(text_.data() + l.begin, l.end - l.begin);
    if (now.substr(0, old_last.size()) == old_last) {
      std::size_t rows = 0;
      for (std::size_t i = old_lines - 1; i < lines_.size(); ++i) rows += RowsOf(static_cast<uint32_t>(i)).size();
      added_rows_ = rows > old_last_rows ? rows - old_last_rows : 0;
    }
  }
  return true;
}

void WrappedView::Page(std::size_t* back, int height, std::vector<RowRef>* rows) {
  rows->clear();
  const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
  const std::size_t need = *back + h;
  // Rows from the end upwards until the page is covered.
  std::vector<RowRef> up;
  for (std::size_t i = lines_.size(); i-- > 0 && up.size() < need;) {
    const auto& r = RowsOf(static_cast<uint32_t>(i));
    for (std::size_t k = r.size(); k-- > 0 && up.size() < need;)
      up.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(k)});
  }
  if (up.size() < need) *back = up.size() > h ? up.size() - h : 0;
  const std::size_t end = std::min(up.size(), *back + h);
  for (std::size_t k = end; k-- > *back;) rows->push_back(up[k]);
}

void WrappedView::Row(RowRef ref, std::vector<Piece>& out) {
  out.clear();
  if (ref.line >= lines_.size()) return;
  const auto& starts = RowsOf(ref.line);
  if (ref.row >= starts.size()) return;
  const uint32_t begin = starts[ref.row];
  const uint32_t end = ref.row + 1 < starts.size() ? starts[ref.row + 1] : lines_[ref.line].end;
  // The span covering the row's first byte.
  auto it = std::upper_bound(spans_.begin(), spans_.end(), begin,
                             [](uint32_t off, const Span& s) { return off < s.offset; });
  if (it != spans_.begin()) --it;
  uint32_t pos = begin;
  while (pos < end && it != spans_.end()) {
    const uint32_t next = (it + 1) != spans_.end() ? std::min(end, (it + 1)->offset) : end;
    if (next > pos) out.push_back({std::string_view(text_).substr(pos, next - pos), &formats_[it->format]});
    pos = std::max(pos, next);
    ++it;
  }
}

std::size_t WrappedView::RowCount() {
  std::size_t n = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) n += RowsOf(static_cast<uint32_t>(i)).size();
  return n;
}

bool WrappedView::Find(std::size_t r, RowRef* ref) {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::size_t n = RowsOf(static_cast<uint32_t>(i)).size();
    if (r < n) {
      *ref = {static_cast<uint32_t>(i), static_cast<uint32_t>(r)};
      return true;
    }
    r -= n;
  }
  return false;
}

void WrappedView::Row(std::size_t r, std::vector<Piece>& out) {
  RowRef ref;
  out.clear();
  if (Find(r, &ref)) Row(ref, out);
}

std::string WrappedView::RowText(std::size_t r) {
  std::vector<Piece> pieces;
  Row(r, pieces);
  std::string raw;
  for (const auto& p : pieces) raw += p.text;
  return DisplayText(raw);
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
