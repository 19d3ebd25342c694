// The code walker: turns a line full of formatting codes into styled runs of a text view.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "output/text_view.h"

namespace vanta::output {

// The fixed colour palette of the numbered colour code (index taken modulo 16), as 0x00BBGGRR.
uint32_t PaletteColour(int index);

// "Appearance" ignore switches, one bit each.
enum IgnoreBit : uint32_t {
  kIgnoreBold = 1u << 0,        // "IgB0"  0x02
  kIgnoreItalic = 1u << 1,      // "IgI0"  0x16
  kIgnoreUnderline = 1u << 2,   // "IgU0"  0x1F
  kIgnoreStrikeout = 1u << 3,   // "IgS0"  0x1D
  kIgnoreColour = 1u << 4,      // "IgK0"  0x03 with digits, 0x03 0x07 0x03 0x07
  kIgnoreHexColour = 1u << 5,   // "IgG0"  0x07
  kIgnoreAlert = 1u << 6,       // "IgD0"  0x04
  kIgnoreSize = 1u << 7,        // "IgY0"  0x19
  kIgnoreFont = 1u << 8,        // "IgE0"  0x05
  kIgnoreAnimation = 1u << 9,   // "IgT0"  0x1E
  kIgnoreMedia = 1u << 10,      // "IgQ0"  0x11 0x01 k
  kIgnoreOther = 1u << 11,      // "IgO0"  other bytes below 32
  kIgnoreLink = 1u << 12,       // "IgL0"  0x18
  kIgnoreMarkup = 1u << 13,     // "IgR0"  0x12
};
inline constexpr int kIgnoreKeyCount = 14;
// The key of bit i ("IgB0", "IgI0", ...).
extern const char* const kIgnoreKeys[kIgnoreKeyCount];

// The format state of the line being walked; reset for every line.
struct LineFormat {
  uint32_t colour = 0;
  uint32_t background = 0xFFFFFF;  // may hold a palette index below 16 (an "EditBG" of 0..15)
  bool bold = false, italic = false, strikeout = false, link = false;
  Underline underline = Underline::None;
  bool font_switch = false;   // a symbol-font switch (0x12 family) is on
  uint16_t font = 0;          // the view's font index of the following text; 0 = default
  bool font_created = false;  // a font code made a font in this line
  int16_t height = CharFormat::kDefaultHeight;
  int16_t base_height = CharFormat::kDefaultHeight;  // captured at the first size code
  bool base_captured = false;
  bool colour_changed = false, background_changed = false, size_changed = false;
  bool no_background = false;
  bool link_seen = false;  // the first 0x18 of the line was met
};

CharFormat ToCharFormat(const LineFormat& f);

struct WalkOptions {
  uint32_t ignore = 0;             // IgnoreBit set
  uint32_t request_colour = 0;     // restored by 0x03 0x07 0x03 0x07
  uint32_t reset_colour = 0;       // "General"/"ResetColor"
  uint32_t reset_background = 0xFFFFFF;  // the line's background, restored by the reset codes
  int mode = 0;
  bool at_bottom = false;          // keep the view at its end while inserting
  int window = -1;                 // for the markup handlers
  // Text inserted from byte plain_from of the line on is appended to *plain (when given).
  std::size_t plain_from = 0;
  std::string* plain = nullptr;
  void (*beep)() = nullptr;        // the alert code's beep
};

class LineWalker;

// What a markup handler gets: the view, the line's format and a way to insert text in that format.
struct MarkupContext {
  TextView& view;
  LineFormat& format;
  const WalkOptions& options;
  bool ignored;  // the code family's ignore switch is on: consume without effect
  LineWalker* walker;
  void Insert(std::string_view text);  // in the current line format, at the caret
};

// Handles the extended markup codes (0x04, 0x05, 0x11, 0x12 except the 0x12 0x04 pair, 0x18, 0x1E).
// Returns the position after the code, or 0 to leave the code to the built-in handling.
using MarkupHandler = std::function<std::size_t(MarkupContext& ctx, std::string_view line, std::size_t pos)>;

// Walks one assembled line into the view at its caret. `format` must be initialised by the caller
// (text colour, background, no-background flag) and is left as the line ended.
void WalkLine(TextView& view, std::string_view line, LineFormat& format, const WalkOptions& options,
              const MarkupHandler* markup = nullptr);

// Decodes the data of a font code (pairs of characters, see the font code) into a font; false when
// the data holds no usable font.
bool DecodeFontData(std::string_view data, FontSpec* font);

}  // namespace vanta::output
