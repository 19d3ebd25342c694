// Colours for the terminal: the text view's 0x00BBGGRR values mapped to what the terminal offers
// (8, 16 or 256 palette colours, or direct 24-bit colour), and the window list's activity colours.
#pragma once
#include <cstdint>

#include "output/text_view.h"

namespace vanta::ui {

enum class ColourDepth : uint8_t { k8, k16, k256, kTrue };

// The depth a terminal reporting `colours` colours (ncurses COLORS) supports.
ColourDepth DepthFromColours(int colours);

// The terminal colour of a 0x00BBGGRR value: a palette index for the palette depths (the sixteen
// colours of the numbered colour code map to the terminal's own sixteen colours), 0xRRGGBB for true
// colour.
int TerminalColour(uint32_t bbggrr, ColourDepth depth);

// Foreground and background of a run; -1 is the terminal's default colour. Text in `default_text`
// and a background equal to `default_background` (or no background) use the terminal's defaults,
// so the view follows the terminal's theme.
struct ColourPair {
  int fg = -1;
  int bg = -1;
  bool operator==(const ColourPair&) const = default;
};
ColourPair MapRunColours(const output::CharFormat& format, ColourDepth depth, uint32_t default_text = 0,
                         uint32_t default_background = 0xFFFFFF);

// How the window list shows a window's activity indicator (0 nothing, 1 new text, 2 mention,
// 3 notified): a foreground colour (-1 default) and bold.
struct ActivityStyle {
  int fg = -1;
  bool bold = false;
  bool operator==(const ActivityStyle&) const = default;
};
ActivityStyle ActivityColour(int indicator, ColourDepth depth);

}  // namespace vanta::ui
