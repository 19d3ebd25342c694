// The code walker, StripCodes and the text view model, without a window.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "output/strip_codes.h"
#include "output/text_codes.h"
#include "output/text_view.h"

namespace vanta::output {
namespace {

constexpr uint32_t kRequest = 0x123456;
constexpr uint32_t kLineBg = 0xFFFFFF;

std::string Hex6(uint32_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%06X", v & 0xFFFFFF);
  return b;
}

// Runs as "[text|attributes]" listing only what differs from the line's defaults.
std::string Describe(const TextView& view) {
  std::string out;
  for (const auto& r : view.Runs()) {
    out += "[" + r.text;
    std::string a;
    const auto& f = r.format;
    if (f.bold) a += " b";
    if (f.italic) a += " i";
    if (f.strikeout) a += " s";
    if (f.link) a += " link";
    if (f.underline == Underline::Single) a += " u1";
    if (f.underline == Underline::Dotted) a += " u2";
    if (f.underline == Underline::Double) a += " u3";
    if (f.colour != kRequest) a += " c=" + Hex6(f.colour);
    if (f.background != kLineBg) a += " bg=" + Hex6(f.background);
    if (f.no_background) a += " nobg";
    if (f.height != CharFormat::kDefaultHeight) a += " h=" + std::to_string(f.height);
    if (f.font != 0) a += " font=" + view.Font(f.font).face;
    if (r.kind != RunKind::Text) a += " object";
    if (!a.empty()) out += "|" + a.substr(1);
    out += "]";
  }
  return out;
}

int g_beeps = 0;
void CountBeep() { ++g_beeps; }

struct WalkSetup {
  uint32_t ignore = 0;
  int mode = 0;
  uint32_t background = kLineBg;
  uint32_t reset_colour = 0x00AA00;
};

std::string Walk(std::string_view line, const WalkSetup& s = {}, const MarkupHandler* markup = nullptr) {
  TextView view;
  LineFormat f;
  f.colour = kRequest;
  f.background = s.background;
  WalkOptions o;
  o.ignore = s.ignore;
  o.request_colour = kRequest;
  o.reset_colour = s.reset_colour;
  o.reset_background = kLineBg;
  o.mode = s.mode;
  o.beep = &CountBeep;
  WalkLine(view, line, f, o, markup);
  return Describe(view);
}

// "w" (width) font data: pairs giving the 60-byte record; face "Mono" at byte 28.
std::string FontCode(std::string_view face) {
  std::string data;
  for (int i = 0; i < 28; ++i) data += "0 ";  // byte 0 (' ' - 32)
  for (char c : face) data += std::string("x") + c;
  data += "0 ";  // NUL
  std::string code = "\x05";
  code += static_cast<char>(data.size());
  return code + data;
}

TEST(CodeWalker, EveryCodeWithItsIgnoreSwitch) {
  const std::string font = FontCode("Mono");
  struct Case {
    const char* what;
    std::string line;
    uint32_t bit;
    const char* on;   // switch off: the code works
    const char* off;  // switch on: the code's bytes are consumed without effect
  } cases[] = {
      {"bold", "a\x02" "b", kIgnoreBold, "[a][b|b]", "[ab]"},
      {"italic", "a\x16" "b", kIgnoreItalic, "[a][b|i]", "[ab]"},
      {"strikeout", "a\x1D" "b", kIgnoreStrikeout, "[a][b|s]", "[ab]"},
      {"underline single", "a\x1F" "b", kIgnoreUnderline, "[a][b|u1]", "[ab]"},
      {"underline dotted", "a\x1F\x1F" "b", kIgnoreUnderline, "[a][b|u2]", "[ab]"},
      {"three 0x1F are one double switch", "a\x1F\x1F\x1F" "b", kIgnoreUnderline, "[a][b|u3]", "[ab]"},
      {"underline off again", "\x1F" "a\x1F" "b", kIgnoreUnderline, "[a|u1][b]", "[ab]"},
      {"numbered colour", "\x03" "4x", kIgnoreColour, "[x|c=0000FF]", "[x]"},
      {"restore the request colour", "\x03" "4a\x03\x07\x03\x07" "b", kIgnoreColour, "[a|c=0000FF][b]", "[ab]"},
      {"hexadecimal colour", "\x07" "00FF0000x", kIgnoreHexColour, "[x|c=FF0000]", "[x]"},
      {"size", "a\x19" "5b", kIgnoreSize, "[a][b|h=15]", "[ab]"},
      {"font", "a" + font + "b", kIgnoreFont, "[a][b|font=Mono]", "[ab]"},
      {"link", "a\x18" "b", kIgnoreLink, "[a][b|link]", "[ab]"},
      {"link with a menu list", "a\x18{x,/y}b", kIgnoreLink, "[a][b|link]", "[ab]"},
      {"animation parameters are consumed", "x\x1E" "12,3,4,5text", kIgnoreAnimation, "[xtext]", "[xtext]"},
      {"media object hides the rest of the line", "a\x11\x01" "5 1.2.3.4 99\r\n", kIgnoreMedia, "[a\n]", "[a\n]"},
      {"markup bytes go, the symbol stays", "\x12\xAE\x12x", kIgnoreMarkup, "[\xAEx]", "[\xAEx]"},
      {"attention pair is dropped", "a\x12\x04" "b", kIgnoreMarkup, "[ab]", "[ab]"},
      {"other control byte", "a\x01" "b", kIgnoreOther, "[a\x01" "b]", "[ab]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Walk(c.line), c.on) << c.what;
    EXPECT_EQ(Walk(c.line, {.ignore = c.bit}), c.off) << c.what << " (ignored)";
  }
}

TEST(CodeWalker, AlertBeepsOnceAndHonoursItsSwitch) {
  g_beeps = 0;
  EXPECT_EQ(Walk("a\x04\x04\x04" "b"), "[ab]");
  EXPECT_EQ(g_beeps, 1);
  EXPECT_EQ(Walk("a\x04" "b", {.ignore = kIgnoreAlert}), "[ab]");
  EXPECT_EQ(g_beeps, 1);
  EXPECT_EQ(Walk("a\x04\x02" "0000009000000064\x02\x04\x02" "0000008000000100\x02" "b"), "[ab]");
  EXPECT_EQ(g_beeps, 1);  // an inline tune is not a beep
}

TEST(CodeWalker, Colours) {
  struct Case {
    const char* what;
    std::string line;
    const char* expected;
    uint32_t background = kLineBg;
  } cases[] = {
      {"red on blue", "\x03" "4,12x", "[x|c=0000FF bg=FF0000]"},
      {"comma without digit is dropped", "\x03" "4,x", "[x|c=0000FF]"},
      {"bare colour code resets", "\x03" "4a\x03x", "[a|c=0000FF][x|c=00AA00]"},
      {"two digits", "\x03" "12x", "[x|c=FF0000]"},
      {"a third digit is text", "\x03" "123", "[3|c=FF0000]"},
      {"index modulo 16", "\x03" "16a\x03" "99b", "[a|c=FFFFFF][b|c=008000]"},
      {"background with one digit then text", "\x03" "1,2,3", "[,3|c=000000 bg=800000]"},
      {"hex colour with background", "\x07" "000000FF,00FF0000x", "[x|c=0000FF bg=FF0000]"},
      {"hex colour, lower case digits", "\x07" "00ff0000x", "[x|c=FF0000]"},
      {"short hex colour drops only the code", "\x07" "00FFx", "[00FFx]"},
      {"hex colour without a full background keeps the comma", "\x07" "000000FF,12x", "[,12x|c=0000FF]"},
      {"EditBG below 16 is a palette index for the fallback", "\x03" "4x", "[x|c=0000FF bg=000080]", 5},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.line, {.background = c.background}), c.expected) << c.what;
}

TEST(CodeWalker, ResetRules) {
  struct Case {
    const char* what;
    std::string line;
    int mode;
    const char* expected;
  } cases[] = {
      {"bold stays on after reset in a normal line", "\x02" "a\x0F" "b", 0, "[ab|b]"},
      {"reset without a colour change keeps the request colour", "a\x0F" "b", 0, "[ab]"},
      {"reset after a colour goes to ResetColor", "\x03" "4a\x0F" "b", 0, "[a|c=0000FF][b|c=00AA00]"},
      {"reset after a background restores the line background", "\x03" "4,2a\x0F" "b", 0,
       "[a|c=0000FF bg=800000][b|c=00AA00]"},
      {"size stays after reset in a normal line", "\x19" "5a\x0F" "b", 0, "[ab|h=15]"},
      {"size is restored by reset in a continuation", "\x19" "5a\x0F" "b", 1, "[a|h=15][b]"},
      {"restore sequence is not ResetColor", "\x03" "4a\x03\x07\x03\x07" "b", 0, "[a|c=0000FF][b]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.line, {.mode = c.mode}), c.expected) << c.what;
}

TEST(CodeWalker, MarkupHandlerTakesExtendedCodes) {
  MarkupHandler h = [](MarkupContext& ctx, std::string_view line, std::size_t pos) -> std::size_t {
    if (line[pos] != '\x12') return 0;  // leave the rest to the built-in handling
    ctx.Insert(ctx.ignored ? "(ignored)" : "<sym>");
    return pos + 3;
  };
  EXPECT_EQ(Walk("a\x12\xAE\x12" "b", {}, &h), "[a<sym>b]");
  EXPECT_EQ(Walk("a\x12\xAE\x12" "b", {.ignore = kIgnoreMarkup}, &h), "[a(ignored)b]");
  EXPECT_EQ(Walk("a\x18" "b", {}, &h), "[a][b|link]");
  // A handler that claims nothing cannot stall the walk.
  MarkupHandler stuck = [](MarkupContext&, std::string_view, std::size_t pos) { return pos; };
  EXPECT_EQ(Walk("a\x12" "b", {}, &stuck), "[ab]");
}

TEST(CodeWalker, HostileLinesNeverCrash) {
  // Every code cut off at the end of the line.
  const char* tails[] = {"\x03", "\x03" "1", "\x03" "12,", "\x07", "\x07" "0000", "\x07" "00000000,", "\x19",
                         "\x05", "\x05\xFF", "\x05\x02" "0", "\x1F\x1F", "\x04\x02" "abc", "\x04", "\x18{abc",
                         "\x1E" "1,", "\x11", "\x11\x01", "\x12", "\x12\x1F", "\x16", "\x0F"};
  for (const char* t : tails) {
    std::string line = std::string("text") + t;
    Walk(line);
    Walk(line, {.ignore = 0x3FFF});
    Walk(line, {.mode = 1});
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  Walk(all + all);
  std::string big(100 * 1024, 'x');
  for (std::size_t i = 0; i < big.size(); i += 97) big[i] = "\x02\x03\x1F\x07\x19\x05\x12"[i % 7];
  Walk(big);
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string r;
    for (int k = 0; k < 64; ++k) {
      seed = seed * 1103515245u + 12345u;
      r.push_back(static_cast<char>((seed >> 16) & 0x1F));  // mostly control bytes
    }
    Walk(r);
    StripCodes(r, kStripAll);
  }
}

TEST(CodeWalker, LongRunIsSplitAndKeepsEveryByte) {
  std::string big(25000, 'y');
  TextView view;
  LineFormat f;
  WalkOptions o;
  WalkLine(view, big, f, o);
  EXPECT_EQ(view.Length(), 25000u);
  EXPECT_EQ(view.PlainText(), big);
}

TEST(FontData, DecodesFaceCharsetAndPitch) {
  FontSpec font;
  EXPECT_FALSE(DecodeFontData("0 0 ", &font));
  std::string data;
  for (int i = 0; i < 23; ++i) data += "0 ";
  data += "xA";  // charset byte 23 = 'A' (65)
  data += "0 0 0 ";
  data += "1z";  // pitch and family byte 27 = 255
  data += "xVxe";
  ASSERT_TRUE(DecodeFontData(data, &font));
  EXPECT_EQ(font.face, "Ve");
  EXPECT_EQ(font.charset, 65);
  EXPECT_EQ(font.pitch_family, 255);
}

TEST(StripCodes, FlagBits) {
  const std::string font = "\x05\x02" "ab";
  struct Case {
    unsigned flags;
    std::string in;
    std::string out;
  } cases[] = {
      {kStripBold, "a\x02" "b\x16", "ab\x16"},
      {kStripItalic, "a\x16" "b\x02", "ab\x02"},
      {kStripUnderline, "a\x1F" "b", "ab"},
      {kStripStrikeout, "a\x1D" "b", "ab"},
      {kStripColour, "\x03" "4,12a\x03" "5b\x03" "c\x03\x07\x03\x07" "d\x0F" "e", "abcde"},
      {kStripColour, "\x03" "4,x", "x"},
      {kStripColour, "\x07" "00FF0000x", "\x07" "00FF0000x"},
      {kStripHexColour, "\x07" "00FF0000x", "x"},
      {kStripHexColour, "\x07" "00FF0000,000000FFx", "x"},
      {kStripHexColour, "\x07" "00FF0000,1x", ",1x"},
      {kStripHexColour, "bell\x07" "!", "bell!"},
      {kStripSize, "\x19" "1234", "4"},
      {kStripAlert, "\x04\x04" "x", "x"},
      {kStripCtcp, "\x01" "VERSION\x01", "VERSION"},
      {kStripFont, "a" + font + "b", "ab"},
      {kStripFont, "a\x05\xFF" "bc", "a"},   // cut at the end of the text
      {kStripFont, "a\x05\x01" "bc", "a\x01" "bc"},  // length out of range: only the code goes
      {kStripMarkup, "\x12\x12\xAE\x12\x1F" "x", "\xAEx"},
      {kStripAll, "\x02\x03" "4x\x1F\x16\x1D\x07" "00000000\x19" "2\x04\x01\x12\x0Fy", "xy"},
      {0, "\x02" "a", "\x02" "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(StripCodes(c.in, c.flags), c.out) << "flags " << c.flags;
}

TEST(TextView, CountsCharactersAndFoldsLineEnds) {
  TextView v;
  v.InsertText("a\xC3\xA9\r\nb\xE9\rc\n");  // a, e-acute, line end, b, a CP1252 byte, line end, c, line end
  EXPECT_EQ(v.Length(), 8u);
  EXPECT_EQ(v.PlainText(), "a\xC3\xA9\nb\xE9\nc\n");
  v.DeleteRange(0, 2);
  EXPECT_EQ(v.PlainText(), "\nb\xE9\nc\n");
}

TEST(TextView, SequenceSplitAcrossInsertsStaysTwoCharacters) {
  TextView v;
  v.InsertText("a\xD0");
  v.InsertText("\xA5" "b");  // would form one character if the runs were joined
  EXPECT_EQ(v.Length(), 4u);
  v.DeleteRange(0, 2);
  EXPECT_EQ(v.PlainText(), "\xA5" "b");
  EXPECT_EQ(v.Length(), 2u);
}

TEST(TextView, SelectReplaceInsertInTheMiddle) {
  TextView v;
  CharFormat bold;
  bold.bold = true;
  v.InsertText("hello world");
  v.SetSelection(6, 11);
  v.SetCaretFormat(bold);
  v.ReplaceSelection("there");
  EXPECT_EQ(v.PlainText(), "hello there");
  EXPECT_EQ(v.Caret(), 11u);
  v.SetCaret(5);
  v.InsertText(",");
  EXPECT_EQ(v.PlainText(), "hello, there");
  auto runs = v.Runs();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].text, "hello");
  EXPECT_EQ(runs[1].text, ",");
  EXPECT_TRUE(runs[1].format.bold);
  EXPECT_EQ(runs[2].text, " ");
  EXPECT_FALSE(runs[2].format.bold);
  v.SetSelection(0, 7);
  v.ReplaceSelection("");
  EXPECT_EQ(v.PlainText(), "there");
  EXPECT_EQ(v.Length(), 5u);
}

TEST(TextView, PlaceholdersAreOneCharacter) {
  TextView v;
  v.InsertText("a");
  v.InsertPicture(3, "[picture 3]");
  v.InsertObject("[object clip.ole]");
  v.InsertText("b");
  EXPECT_EQ(v.Length(), 4u);
  EXPECT_FALSE(v.IsObjectAt(0));
  EXPECT_TRUE(v.IsObjectAt(1));
  EXPECT_TRUE(v.IsObjectAt(2));
  EXPECT_EQ(v.Runs()[1].number, 3);
  v.DeleteRange(1, 2);
  EXPECT_EQ(v.PlainText(), "a[object clip.ole]b");
}

TEST(TextView, FrontTrimmingKeepsContentAndBoundsMemory) {
  TextView v;
  CharFormat f;
  std::size_t peak = 0;
  std::string expected_tail;
  for (int i = 0; i < 20000; ++i) {
    f.bold = (i % 3) == 0;
    v.SetCaretFormat(f);
    v.InsertText("line " + std::to_string(i) + " some channel text here\r\n");
    if (v.Length() >= 30000) v.DeleteRange(0, 10000);
    peak = std::max(peak, v.MemoryBytes());
  }
  EXPECT_LT(v.Length(), 30000u);
  const std::string text = v.PlainText();
  EXPECT_NE(text.find("line 19999 some channel text here\n"), std::string::npos);
  EXPECT_EQ(text.find("line 100 "), std::string::npos);
  EXPECT_LT(peak, 1u << 20);
}

}  // namespace
}  // namespace vanta::output
