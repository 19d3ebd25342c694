// Text as a terminal shows it: characters decoded for display and measured in screen cells, and
// lines broken into rows of a given width.
//
// Valid UTF-8 sequences are shown as they are; every byte that is not part of one is read as
// CP1252, so a text view's character positions and the glyphs here correspond one to one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::ui {

// One character of display text.
struct Glyph {
  char32_t code = 0;    // what is drawn (control bytes become visible symbols)
  uint8_t width = 0;    // screen cells: 0 (combining), 1 or 2
  uint32_t offset = 0;  // first byte in the source text
  uint8_t bytes = 0;    // bytes in the source text
};

// Cells a code point takes: 2 for wide (CJK, most emoji), 0 for combining marks, else 1. Characters
// the terminal cannot print count as one cell (they are drawn as a replacement).
int CellWidth(char32_t code);
// The code point drawn for a character: control characters map to visible symbols, unprintable ones
// to U+FFFD.
char32_t DisplayCode(char32_t code);

// Decodes text for display (see the header comment).
std::vector<Glyph> DecodeGlyphs(std::string_view text);
// Appends the glyphs of text to out (offsets relative to text).
void AppendGlyphs(std::string_view text, std::vector<Glyph>& out);
// Screen cells of a text.
int DisplayWidth(std::string_view text);
// The longest prefix of text that fits in `cells` screen cells, as display UTF-8.
std::string FitWidth(std::string_view text, int cells);
// Display text as UTF-8 (invalid bytes read as CP1252, control characters made visible).
std::string DisplayText(std::string_view text);
// UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, char32_t code);

// Breaks a line into rows of at most `width` cells: returns the index of the first glyph of every
// row (the first is always 0; an empty line has one row). A row breaks after the last blank that
// fits when there is one in its second half, else at the width. A wide character never straddles a
// row end; combining marks stay with the character before them.
std::vector<std::size_t> WrapGlyphs(const std::vector<Glyph>& glyphs, int width);

}  // namespace vanta::ui
