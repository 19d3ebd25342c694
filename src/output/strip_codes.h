// Removing formatting codes from text (notification text, logs, scripts).
#pragma once
#include <string>
#include <string_view>

namespace vanta::output {

// Which codes StripCodes removes.
enum StripFlag : unsigned {
  kStripBold = 0x001,       // 0x02
  kStripItalic = 0x002,     // 0x16
  kStripUnderline = 0x004,  // 0x1F
  kStripStrikeout = 0x008,  // 0x1D
  kStripColour = 0x010,     // 0x03 with its digits, 0x03 0x07 0x03 0x07, and the reset 0x0F
  kStripHexColour = 0x020,  // 0x07 and eight hexadecimal digits [, eight more]
  kStripSize = 0x040,       // 0x19 with up to three digits
  kStripAlert = 0x080,      // 0x04 (the byte only)
  kStripCtcp = 0x100,       // 0x01
  kStripFont = 0x200,       // 0x05, its length byte and that many data bytes
  kStripMarkup = 0x400,     // 0x12 with the bytes 0x02 0x1D 0x1F 0x0F 0x09 0x12 0x1E right after it
  kStripAll = 0xFFFF,
};

// Copies text into dest (replacing its contents; its capacity is reused) without the selected codes.
void StripCodes(std::string& dest, std::string_view text, unsigned flags);
std::string StripCodes(std::string_view text, unsigned flags = kStripAll);

// Lengths of the codes, shared with the line walker. Each returns the number of bytes the code that
// starts at text[i] occupies (at least 1, never past the end).
namespace codes {
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c);  // -1 when not a hexadecimal digit
// 0x03: "\x03\x07\x03\x07" -> 4; 0x03 f[f][,[b[b]]] -> its length; a bare 0x03 -> 1.
std::size_t ColourLength(std::string_view text, std::size_t i);
// True when text[i..] is the four-byte restore sequence 0x03 0x07 0x03 0x07.
bool IsColourRestore(std::string_view text, std::size_t i);
// 0x07 HHHHHHHH[,HHHHHHHH] -> 9 or 18; 1 when the eight digits are missing.
std::size_t HexColourLength(std::string_view text, std::size_t i);
// Parses eight hexadecimal digits at text[i] (they must be there).
uint32_t ParseHex8(std::string_view text, std::size_t i);
// 0x19 d[d[d]] -> 1 to 4.
std::size_t SizeLength(std::string_view text, std::size_t i);
// 0x05 n data: 2 + n when 2 <= n <= 300 (cut at the end of the text); 1 otherwise.
std::size_t FontLength(std::string_view text, std::size_t i);
}  // namespace codes

}  // namespace vanta::output
