// The screen of the terminal front end, without a terminal: the layout of its regions, a text view
// broken into rows of the text region's width, and the window list line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "output/text_view.h"
#include "ui/term_colour.h"
#include "ui/term_text.h"

namespace vanta::ui {

struct Rect {
  int y = 0, x = 0, h = 0, w = 0;
  bool operator==(const Rect&) const = default;
};

// Title line at the top, the text (and the nick list at its right, after a one-column separator),
// the window list line, the input line at the bottom.
struct Layout {
  Rect title, text, separator, nicks, windows, input;
};
// nick_width: the cells the nick list would like (0: no nick list). The nick list is dropped on
// terminals narrower than 40 columns and never takes more than a quarter of the width.
Layout ComputeLayout(int rows, int cols, int nick_width);

// A text view as rows of at most `width` cells: every line of the view (the text between line
// ends) wraps by display width. Rebuilt only when the view or the width changed.
class WrappedView {
 public:
  // A styled piece of a row: display text (UTF-8) in one format.
  struct Piece {
    std::string_view text;
    const output::CharFormat* format;
  };

  // Re-reads the view when its generation or the width changed; true when it was rebuilt.
  bool Sync(const output::TextView& view, int width);
  std::size_t RowCount() const { return rows_.size(); }
  int width() const { return width_; }
  // The pieces of row r (cleared first).
  void Row(std::size_t r, std::vector<Piece>& out) const;
  // The row's text without formats (tests).
  std::string RowText(std::size_t r) const;

 private:
  uint16_t FormatIndex(const output::CharFormat& f);
  void EndLine();

  uint64_t generation_ = ~0ull;
  int width_ = -1;
  std::string text_;  // display text of every line, line ends removed
  struct Span {
    uint32_t offset;  // into text_
    uint16_t format;
  };
  std::vector<Span> spans_;  // ascending offsets
  std::vector<output::CharFormat> formats_;
  struct RowRange {
    uint32_t begin, end;  // into text_
  };
  std::vector<RowRange> rows_;
  // Building state.
  uint32_t line_begin_ = 0;
  std::vector<Glyph> line_;  // the line being built; offsets into text_
  std::vector<Glyph> scratch_;
};

// Where the page of a scrolled view starts: `back` rows above the bottom, `height` rows a page.
// Returns the first row shown; `back` is clamped to what the view has.
std::size_t FirstVisibleRow(std::size_t rows, int height, std::size_t* back);

// One window of the window list.
struct WindowEntry {
  std::string name;
  int activity = 0;  // 0 nothing, 1 new text, 2 mention, 3 notified
};
// One item as drawn on the window list line.
struct WindowListItem {
  int window = 0;      // window number
  int x = 0;           // column
  std::string text;    // "N:name", cut to fit
  ActivityStyle style;
  bool active = false;
};
// The window list line for `width` cells: items "N:name" (N the window number + 1) separated by a
// space, scrolled so the active window is visible.
std::vector<WindowListItem> BuildWindowList(const std::vector<WindowEntry>& windows, int active, int width,
                                            ColourDepth depth);

}  // namespace vanta::ui
