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
// ends) wraps by display width. Reading the view only copies its bytes and finds the line ends;
// lines are broken into rows when a page needs them, and kept until the view or the width changes,
// so a window of any size costs little to show at its end.
class WrappedView {
 public:
  // A styled piece of a row: the view's bytes (draw them as DecodeGlyphs shows them) in one format.
  struct Piece {
    std::string_view text;
    const output::CharFormat* format;
  };
  // A row: the line it belongs to and its number within the line.
  struct RowRef {
    uint32_t line = 0;
    uint32_t row = 0;
  };

  // Re-reads the view when its generation changed, or forgets the rows when the width changed;
  // true when anything changed.
  bool Sync(const output::TextView& view, int width);
  int width() const { return width_; }
  // Rows that the last Sync added at the end (text appended to the view), for keeping a scrolled
  // page where it is; 0 when the view did not grow at its end.
  std::size_t AddedRows() const { return added_rows_; }
  // The page `*back` rows above the end, `height` rows tall, top to bottom (fewer when the view
  // has fewer rows). *back is clamped so the page never starts above the first row.
  void Page(std::size_t* back, int height, std::vector<RowRef>* rows);
  // The pieces of a row (cleared first).
  void Row(RowRef ref, std::vector<Piece>& out);

  // All rows (breaks every line; for tests and small views).
  std::size_t RowCount();
  void Row(std::size_t r, std::vector<Piece>& out);
  // A row's display text without formats.
  std::string RowText(std::size_t r);

 private:
  struct Line {
    uint32_t begin = 0, end = 0;  // into text_
    std::vector<uint32_t> rows;   // start of each row; empty until broken into rows
  };
  uint16_t FormatIndex(const output::CharFormat& f);
  const std::vector<uint32_t>& RowsOf(uint32_t line);
  bool Find(std::size_t r, RowRef* ref);

  uint64_t generation_ = ~0ull;
  int width_ = -1;
  std::size_t added_rows_ = 0;
  std::string text_;  // the view's bytes, line ends removed
  struct Span {
    uint32_t offset;  // into text_
    uint16_t format;
  };
  std::vector<Span> spans_;  // ascending offsets
  std::vector<output::CharFormat> formats_;
  std::vector<Line> lines_;
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
