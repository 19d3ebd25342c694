// Text conversions between UTF-8 (the program's code page) and UTF-16.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vanta::platform {

// UTF-8 to UTF-16; each invalid byte becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// True when text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// Bytes as UTF-8 for display: valid UTF-8 stays, anything else is read as CP1252.
std::string DisplayUtf8(std::string_view text);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t code_point);

// ASCII-only case folding: the program compares names (INI keys, files, nicks) this way.
inline unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace vanta::platform
