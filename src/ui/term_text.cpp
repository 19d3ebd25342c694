#include "ui/term_text.h"

#include "platform/codec.h"

#include <wchar.h>

namespace vanta::ui {

namespace {
// CP1252 bytes 0x80..0x9F; 0 marks the five unassigned bytes (shown as U+FFFD).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t Cp1252(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD;
  return b;
}

// Length of the valid UTF-8 sequence at text[pos] (0 when there is none) and its code point.
std::size_t Utf8At(std::string_view text, std::size_t pos, char32_t* code) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (b0 < 0x80) {
    *code = b0;
    return 1;
  }
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) len = 2, cp = b0 & 0x1F, min = 0x80;
  else if (b0 >= 0xE0 && b0 <= 0xEF) len = 3, cp = b0 & 0x0F, min = 0x800;
  else if (b0 >= 0xF0 && b0 <= 0xF4) len = 4, cp = b0 & 0x07, min = 0x10000;
  else return 0;
  if (pos + len > text.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code = cp;
  return len;
}
}  // namespace

char32_t DisplayCode(char32_t code) {
  if (code == '\t') return ' ';
  if (code < 0x20) return 0x2400 + code;  // the control pictures block
  if (code == 0x7F) return 0x2421;
  if (code >= 0x80 && code < 0xA0) return 0xFFFD;
  if (code < 0x7F) return code;
  const int w = wcwidth(static_cast<wchar_t>(code));
  if (w < 0) return 0xFFFD;
  return code;
}

int CellWidth(char32_t code) {
  if (code < 0x7F) return 1;
  const int w = wcwidth(static_cast<wchar_t>(code));
  if (w < 0) return 1;  // drawn as U+FFFD
  return w > 2 ? 2 : w;
}

void AppendGlyphs(std::string_view text, std::vector<Glyph>& out) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    std::size_t len = Utf8At(text, pos, &cp);
    if (len == 0) {
      cp = Cp1252(static_cast<unsigned char>(text[pos]));
      len = 1;
    }
    Glyph g;
    g.code = DisplayCode(cp);
    g.width = static_cast<uint8_t>(CellWidth(g.code));
    g.offset = static_cast<uint32_t>(pos);
    g.bytes = static_cast<uint8_t>(len);
    out.push_back(g);
    pos += len;
  }
}

std::vector<Glyph> DecodeGlyphs(std::string_view text) {
  std::vector<Glyph> out;
  out.reserve(text.size());
  AppendGlyphs(text, out);
  return out;
}

int DisplayWidth(std::string_view text) {
  int cells = 0;
  for (const Glyph& g : DecodeGlyphs(text)) cells += g.width;
  return cells;
}

void AppendUtf8(std::string& out, char32_t cp) { platform::AppendUtf8(out, static_cast<uint32_t>(cp)); }

std::string DisplayText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const Glyph& g : DecodeGlyphs(text)) AppendUtf8(out, g.code);
  return out;
}

std::string FitWidth(std::string_view text, int cells) {
  std::string out;
  int used = 0;
  for (const Glyph& g : DecodeGlyphs(text)) {
    if (used + g.width > cells) break;
    used += g.width;
    AppendUtf8(out, g.code);
  }
  return out;
}

std::vector<std::size_t> WrapGlyphs(const std::vector<Glyph>& glyphs, int width) {
  std::vector<std::size_t> rows{0};
  if (width < 2) width = 2;  // room for one wide character
  std::size_t start = 0;
  while (start < glyphs.size()) {
    int used = 0;
    std::size_t i = start;
    std::size_t last_blank = 0;  // index after the last blank in the row, 0 = none
    while (i < glyphs.size() && used + glyphs[i].width <= width) {
      used += glyphs[i].width;
      if (glyphs[i].code == ' ') last_blank = i + 1;
      ++i;
    }
    if (i >= glyphs.size()) break;
    // glyphs[i] does not fit; combining marks always fit, so they stay with the character before.
    std::size_t next = i;
    if (last_blank > start && last_blank < i && last_blank - start >= (i - start) / 2) next = last_blank;
    if (next == start) next = start + 1;  // always make progress
    rows.push_back(next);
    start = next;
  }
  return rows;
}

}  // namespace vanta::ui
