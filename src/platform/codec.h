// Text conversions between UTF-8 (the program's code page) and UTF-16.
#pragma once
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

}  // namespace vanta::platform
