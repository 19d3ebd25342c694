#include <gtest/gtest.h>

#include "ui/term_text.h"

namespace vanta::ui {
namespace {

std::vector<std::string> Rows(std::string_view text, int width) {
  const auto glyphs = DecodeGlyphs(text);
  const auto starts = WrapGlyphs(glyphs, width);
  std::vector<std::string> rows;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t b = starts[k] < glyphs.size() ? glyphs[starts[k]].offset : text.size();
    const std::size_t e = k + 1 < starts.size() ? glyphs[starts[k + 1]].offset : text.size();
    rows.emplace_back(text.substr(b, e - b));
  }
  return rows;
}

TEST(TermText, WidthsOfMixedText) {
  struct Case {
    const char* text;
    int cells;
  } cases[] = {
      {"", 0},
      {"hello", 5},
      {"\xE6\x97\xA5\xE6\x9C\xAC", 4},          // two CJK ideographs
      {"a\xF0\x9F\x98\x80" "b", 4},             // emoji between letters
      {"e\xCC\x81", 1},                         // e + combining acute
      {"caf\xE9", 4},                           // CP1252 e-acute (not UTF-8)
      {"\x02" "bold", 5},                       // a control byte shows as one visible cell
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.cells) << c.text;
}

TEST(TermText, InvalidBytesReadAsCp1252) {
  EXPECT_EQ(DisplayText("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(DisplayText("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(DisplayText("ok \xC3\xA9"), "ok \xC3\xA9");
  // A truncated sequence: each byte on its own.
  EXPECT_EQ(DecodeGlyphs("\xE6\x97").size(), 2u);
}

TEST(TermText, WrapsByDisplayWidth) {
  struct Case {
    const char* text;
    int width;
    std::vector<std::string> rows;
  } cases[] = {
      {"", 10, {""}},
      {"short", 10, {"short"}},
      {"exactly10!", 10, {"exactly10!"}},
      {"hello world again", 11, {"hello ", "world again"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      // Wide characters never straddle a row end: 3 columns hold one ideograph and a letter.
      {"a\xE6\x97\xA5\xE6\x9C\xAC", 3, {"a\xE6\x97\xA5", "\xE6\x9C\xAC"}},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 5, {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE8\xAA\x9E"}},
      // A combining mark stays with its letter.
      {"abce\xCC\x81xyz", 4, {"abce\xCC\x81", "xyz"}},
      // Emoji count two cells.
      {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 4, {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}},
      // A blank early in the row is not worth a break: the word is cut instead.
      {"a verylongwordhere", 8, {"a verylo", "ngwordhe", "re"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Rows(c.text, c.width), c.rows) << c.text << " @" << c.width;
}

TEST(TermText, FitWidthNeverSplitsAWideCharacter) {
  EXPECT_EQ(FitWidth("ab\xE6\x97\xA5", 3), "ab");
  EXPECT_EQ(FitWidth("ab\xE6\x97\xA5", 4), "ab\xE6\x97\xA5");
  EXPECT_EQ(FitWidth("anything", 0), "");
}

}  // namespace
}  // namespace vanta::ui
