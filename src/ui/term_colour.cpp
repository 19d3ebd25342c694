#include "ui/term_colour.h"

#include <climits>
#include <cstdlib>

namespace vanta::ui {

namespace {
struct Rgb {
  int r, g, b;
};

Rgb Split(uint32_t bbggrr) {
  return {static_cast<int>(bbggrr & 0xFF), static_cast<int>((bbggrr >> 8) & 0xFF),
          static_cast<int>((bbggrr >> 16) & 0xFF)};
}

int Distance(Rgb a, Rgb b) {
  const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

// The usual values of the terminal's sixteen colours.
constexpr Rgb kAnsi[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// The sixteen colours of the numbered colour code (white, black, navy, green, red, maroon, purple,
// orange, yellow, lime, teal, cyan, blue, pink, grey, silver) as terminal colours.
constexpr uint32_t kCodePalette[16] = {0xFFFFFF, 0x000000, 0x800000, 0x008000, 0x0000FF, 0x000080,
                                       0x800080, 0x0080FF, 0x00FFFF, 0x00FF00, 0x808000, 0xFFFF00,
                                       0xFF0000, 0xFF00FF, 0x808080, 0xC0C0C0};
constexpr int kCodeToAnsi[16] = {15, 0, 4, 2, 9, 1, 5, 3, 11, 10, 6, 14, 12, 13, 8, 7};

int CodePaletteIndex(uint32_t bbggrr) {
  for (int i = 0; i < 16; ++i)
    if (kCodePalette[i] == bbggrr) return i;
  return -1;
}

int Nearest16(Rgb c) {
  int best = 0, best_d = INT_MAX;
  for (int i = 0; i < 16; ++i) {
    const int d = Distance(c, kAnsi[i]);
    if (d < best_d) best = i, best_d = d;
  }
  return best;
}

constexpr int kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

int CubeLevel(int v) {
  int best = 0;
  for (int i = 1; i < 6; ++i)
    if (std::abs(kCubeLevels[i] - v) < std::abs(kCubeLevels[best] - v)) best = i;
  return best;
}

int Nearest256(Rgb c) {
  for (int i = 0; i < 16; ++i)
    if (kAnsi[i].r == c.r && kAnsi[i].g == c.g && kAnsi[i].b == c.b) return i;
  const int r = CubeLevel(c.r), g = CubeLevel(c.g), b = CubeLevel(c.b);
  const int cube = 16 + 36 * r + 6 * g + b;
  const int cube_d = Distance(c, {kCubeLevels[r], kCubeLevels[g], kCubeLevels[b]});
  // The grey ramp 232..255: 8, 18, ..., 238.
  const int avg = (c.r + c.g + c.b) / 3;
  int step = (avg - 8 + 5) / 10;
  if (step < 0) step = 0;
  if (step > 23) step = 23;
  const int grey = 8 + 10 * step;
  const int grey_d = Distance(c, {grey, grey, grey});
  return grey_d < cube_d ? 232 + step : cube;
}
}  // namespace

ColourDepth DepthFromColours(int colours) {
  if (colours >= 0x1000000) return ColourDepth::kTrue;
  if (colours >= 256) return ColourDepth::k256;
  if (colours >= 16) return ColourDepth::k16;
  return ColourDepth::k8;
}

int TerminalColour(uint32_t bbggrr, ColourDepth depth) {
  bbggrr &= 0xFFFFFF;
  const Rgb c = Split(bbggrr);
  if (depth == ColourDepth::kTrue) return (c.r << 16) | (c.g << 8) | c.b;
  const int code = CodePaletteIndex(bbggrr);
  switch (depth) {
    case ColourDepth::k256:
      if (code >= 0 && code != 7) return kCodeToAnsi[code];
      return Nearest256(c);  // orange has its own cube colour
    case ColourDepth::k16:
      return code >= 0 ? kCodeToAnsi[code] : Nearest16(c);
    default:
      return (code >= 0 ? kCodeToAnsi[code] : Nearest16(c)) % 8;
  }
}

ColourPair MapRunColours(const output::CharFormat& f, ColourDepth depth, uint32_t default_text,
                         uint32_t default_background) {
  ColourPair p;
  const uint32_t fg = f.colour & 0xFFFFFF;
  const uint32_t bg = f.background & 0xFFFFFF;
  const bool default_bg = f.no_background || bg == (default_background & 0xFFFFFF);
  if (!default_bg) p.bg = TerminalColour(bg, depth);
  if (fg != (default_text & 0xFFFFFF) || !default_bg) p.fg = TerminalColour(fg, depth);
  return p;
}

ActivityStyle ActivityColour(int indicator, ColourDepth depth) {
  const bool bright = depth != ColourDepth::k8;
  switch (indicator) {
    case 1: return {bright ? 14 : 6, false};  // new text: cyan
    case 2: return {bright ? 9 : 1, true};    // mention: red, bold
    case 3: return {bright ? 13 : 5, true};   // notified: magenta, bold
    default: return {-1, false};
  }
}

}  // namespace vanta::ui
