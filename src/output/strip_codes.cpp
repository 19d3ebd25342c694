#include "output/strip_codes.h"

#include <cstdint>

namespace vanta::output {

namespace codes {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsColourRestore(std::string_view t, std::size_t i) {
  return i + 3 < t.size() && t[i] == '\x03' && t[i + 1] == '\x07' && t[i + 2] == '\x03' && t[i + 3] == '\x07';
}

std::size_t ColourLength(std::string_view t, std::size_t i) {
  if (IsColourRestore(t, i)) return 4;
  std::size_t j = i + 1;
  if (j >= t.size() || !IsDigit(t[j])) return 1;
  ++j;
  if (j < t.size() && IsDigit(t[j])) ++j;
  if (j < t.size() && t[j] == ',') {
    ++j;  // a comma without digits goes with the code
    if (j < t.size() && IsDigit(t[j])) {
      ++j;
      if (j < t.size() && IsDigit(t[j])) ++j;
    }
  }
  return j - i;
}

namespace {
bool Hex8At(std::string_view t, std::size_t i) {
  if (i + 8 > t.size()) return false;
  for (std::size_t k = 0; k < 8; ++k)
    if (HexValue(t[i + k]) < 0) return false;
  return true;
}
}  // namespace

std::size_t HexColourLength(std::string_view t, std::size_t i) {
  if (!Hex8At(t, i + 1)) return 1;
  if (i + 9 < t.size() && t[i + 9] == ',' && Hex8At(t, i + 10)) return 18;
  return 9;
}

uint32_t ParseHex8(std::string_view t, std::size_t i) {
  uint32_t v = 0;
  for (std::size_t k = 0; k < 8; ++k) v = v * 16u + static_cast<uint32_t>(HexValue(t[i + k]));
  return v;
}

std::size_t SizeLength(std::string_view t, std::size_t i) {
  std::size_t j = i + 1;
  while (j < t.size() && j - i <= 3 && IsDigit(t[j])) ++j;
  return j - i;
}

std::size_t FontLength(std::string_view t, std::size_t i) {
  if (i + 1 >= t.size()) return 1;
  const std::size_t n = static_cast<unsigned char>(t[i + 1]);
  if (n < 2 || n > 300) return 1;
  const std::size_t end = i + 2 + n;
  return (end > t.size() ? t.size() : end) - i;
}

}  // namespace codes

void StripCodes(std::string& out, std::string_view t, unsigned flags) {
  out.clear();
  out.reserve(t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    // Copy the plain stretch up to the next control byte in one go.
    std::size_t j = i;
    while (j < t.size() && static_cast<unsigned char>(t[j]) >= 0x20) ++j;
    out.append(t.data() + i, j - i);
    if (j >= t.size()) break;
    i = j;
    const char c = t[i];
    std::size_t skip = 0;
    switch (c) {
      case '\x02': skip = (flags & kStripBold) ? 1 : 0; break;
      case '\x16': skip = (flags & kStripItalic) ? 1 : 0; break;
      case '\x1F': skip = (flags & kStripUnderline) ? 1 : 0; break;
      case '\x1D': skip = (flags & kStripStrikeout) ? 1 : 0; break;
      case '\x03': skip = (flags & kStripColour) ? codes::ColourLength(t, i) : 0; break;
      case '\x0F': skip = (flags & kStripColour) ? 1 : 0; break;
      case '\x07': skip = (flags & kStripHexColour) ? codes::HexColourLength(t, i) : 0; break;
      case '\x19': skip = (flags & kStripSize) ? codes::SizeLength(t, i) : 0; break;
      case '\x04': skip = (flags & kStripAlert) ? 1 : 0; break;
      case '\x01': skip = (flags & kStripCtcp) ? 1 : 0; break;
      case '\x05': skip = (flags & kStripFont) ? codes::FontLength(t, i) : 0; break;
      case '\x12':
        if (flags & kStripMarkup) {
          skip = 1;
          while (i + skip < t.size()) {
            const char n = t[i + skip];
            if (n != '\x02' && n != '\x1D' && n != '\x1F' && n != '\x0F' && n != '\x09' && n != '\x12' && n != '\x1E')
              break;
            ++skip;
          }
        }
        break;
      default: break;
    }
    if (skip == 0) {
      out.push_back(c);
      ++i;
    } else {
      i += skip;
    }
  }
}

std::string StripCodes(std::string_view text, unsigned flags) {
  std::string out;
  StripCodes(out, text, flags);
  return out;
}

}  // namespace vanta::output
