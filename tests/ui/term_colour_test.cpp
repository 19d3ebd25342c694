#include <gtest/gtest.h>

#include "output/text_codes.h"
#include "ui/term_colour.h"
#include "ui/term_view.h"

namespace vanta::ui {
namespace {

TEST(TermColour, DepthFromReportedColours) {
  EXPECT_EQ(DepthFromColours(0), ColourDepth::k8);
  EXPECT_EQ(DepthFromColours(8), ColourDepth::k8);
  EXPECT_EQ(DepthFromColours(16), ColourDepth::k16);
  EXPECT_EQ(DepthFromColours(88), ColourDepth::k16);
  EXPECT_EQ(DepthFromColours(256), ColourDepth::k256);
  EXPECT_EQ(DepthFromColours(0x1000000), ColourDepth::kTrue);
}

TEST(TermColour, TheSixteenCodeColours) {
  // Colour code index -> terminal colour at 16, 256 and 8 colours.
  struct Case {
    int code;
    int ansi16, ansi256, ansi8;
  } cases[] = {
      {0, 15, 15, 7},  {1, 0, 0, 0},    {2, 4, 4, 4},    {3, 2, 2, 2},    {4, 9, 9, 1},   {5, 1, 1, 1},
      {6, 5, 5, 5},    {7, 3, 208, 3},  {8, 11, 11, 3},  {9, 10, 10, 2},  {10, 6, 6, 6}, {11, 14, 14, 6},
      {12, 12, 12, 4}, {13, 13, 13, 5}, {14, 8, 8, 0},   {15, 7, 7, 7},
  };
  for (const auto& c : cases) {
    const uint32_t v = output::PaletteColour(c.code);
    EXPECT_EQ(TerminalColour(v, ColourDepth::k16), c.ansi16) << c.code;
    EXPECT_EQ(TerminalColour(v, ColourDepth::k256), c.ansi256) << c.code;
    EXPECT_EQ(TerminalColour(v, ColourDepth::k8), c.ansi8) << c.code;
  }
}

TEST(TermColour, OtherColours) {
  struct Case {
    uint32_t bbggrr;
    int c16, c256, ctrue;
  } cases[] = {
      {0x0000FF, 9, 9, 0xFF0000},      // pure red
      {0x5F87AF, 8, 16 + 36 * 3 + 6 * 2 + 1, 0xAF875F},  // a cube colour (r=AF g=87 b=5F)
      {0x303030, 0, 236, 0x303030},    // dark grey: the grey ramp
      {0x123456, 1, 16 + 36 * 1 + 6 * 1 + 0, 0x563412},
      {0xFF000000 | 0x00FF00, 10, 10, 0x00FF00},  // bits above 24 are ignored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TerminalColour(c.bbggrr, ColourDepth::k16), c.c16) << std::hex << c.bbggrr;
    EXPECT_EQ(TerminalColour(c.bbggrr, ColourDepth::k256), c.c256) << std::hex << c.bbggrr;
    EXPECT_EQ(TerminalColour(c.bbggrr, ColourDepth::kTrue), c.ctrue) << std::hex << c.bbggrr;
  }
}

TEST(TermColour, DefaultColoursFollowTheTerminal) {
  output::CharFormat f;  // black on white: the view's defaults
  EXPECT_EQ(MapRunColours(f, ColourDepth::k256), (ColourPair{-1, -1}));
  f.colour = output::PaletteColour(4);
  EXPECT_EQ(MapRunColours(f, ColourDepth::k256), (ColourPair{9, -1}));
  // A background of its own: the text colour is given too, even the default one.
  f.colour = 0;
  f.background = output::PaletteColour(8);
  EXPECT_EQ(MapRunColours(f, ColourDepth::k16), (ColourPair{0, 11}));
  f.no_background = true;
  EXPECT_EQ(MapRunColours(f, ColourDepth::k16), (ColourPair{-1, -1}));
}

TEST(WindowList, ActivityColours) {
  struct Case {
    int indicator;
    ColourDepth depth;
    ActivityStyle style;
  } cases[] = {
      {0, ColourDepth::k256, {-1, false}}, {1, ColourDepth::k256, {14, false}}, {2, ColourDepth::k256, {9, true}},
      {3, ColourDepth::k256, {13, true}},  {1, ColourDepth::k8, {6, false}},    {2, ColourDepth::k8, {1, true}},
      {3, ColourDepth::k8, {5, true}},     {7, ColourDepth::k16, {-1, false}},
  };
  for (const auto& c : cases) EXPECT_EQ(ActivityColour(c.indicator, c.depth), c.style) << c.indicator;
  // The four states are told apart.
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b)
      EXPECT_NE(ActivityColour(a, ColourDepth::k16), ActivityColour(b, ColourDepth::k16));
}

TEST(WindowList, ItemsAndScrolling) {
  std::vector<WindowEntry> w = {{"irc.example", 0}, {"#chan", 1}, {"#other", 2}, {"bob", 3}};
  auto items = BuildWindowList(w, 1, 80, ColourDepth::k16);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].text, "1:irc.example");
  EXPECT_EQ(items[1].x, 14);
  EXPECT_TRUE(items[1].active);
  EXPECT_EQ(items[1].style, ActivityColour(1, ColourDepth::k16));
  EXPECT_EQ(items[2].style, ActivityColour(2, ColourDepth::k16));
  EXPECT_EQ(items[3].style, ActivityColour(3, ColourDepth::k16));
  // Narrow: the active last window stays visible.
  items = BuildWindowList(w, 3, 16, ColourDepth::k16);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.back().text, "4:bob");
  EXPECT_TRUE(items.back().active);
  for (const auto& it : items) EXPECT_LE(it.x + static_cast<int>(it.text.size()), 16);
  EXPECT_TRUE(BuildWindowList(w, 0, 0, ColourDepth::k16).empty());
}

}  // namespace
}  // namespace vanta::ui
