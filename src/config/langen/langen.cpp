// langen.so: the English language library. It carries the message catalogue as two DATA
// resources, "SS" (ANSI, code page 1252) and "USS" (Unicode, UTF-8 with a length prefix per entry),
// both built at compile time from the one UTF-8 source in english.h, and hands them out through
// VantaFindResource.
//
// "SS" layout (little-endian): u16 language tag, u32 code page, u32 count N, N u32 offsets, then the
// string area; entry i is the NUL-terminated text at string area + offset i.
// "USS" layout: 9 header bytes (u16 language tag, u32 code page 65001, 3 zero bytes), u32 count N at
// byte 9, N u32 offsets from byte 13, then the string area; entry i at string area + offset i is a
// u16 byte length of its text, the UTF-8 text and a NUL.
// A number without text has the offset 0xFFFFFFFF, which lies outside every table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/langen/english.h"

namespace vanta::langen {
namespace {

constexpr std::uint16_t kLanguageTag = 0x0409;  // English (United States)
constexpr std::uint32_t kAnsiCodePage = 1252;
constexpr std::uint32_t kUnicodeCodePage = 65001;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
constexpr std::size_t kCapacity = 1300;
constexpr std::size_t kSsHeader = 10;
constexpr std::size_t kUssHeader = 13;

// Decodes the code point at s[i] and advances i; -1 for a malformed or overlong sequence.
constexpr long DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t extra = 0;
  long cp = 0;
  long min = 0;
  if (b0 < 0x80) { ++i; return b0; }
  if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
  else return -1;
  if (i + extra >= s.size()) return -1;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  i += extra + 1;
  return cp;
}

// The code points of the CP1252 bytes 0x80-0x9F (0 where the byte is undefined).
constexpr std::array<long, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The CP1252 byte of a code point, -1 when the code page has none.
constexpr int Cp1252Byte(long cp) {
  if (cp >= 0 && cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<int>(cp);
  for (std::size_t k = 0; k < kCp1252High.size(); ++k)
    if (kCp1252High[k] != 0 && kCp1252High[k] == cp) return static_cast<int>(0x80 + k);
  return -1;
}

// Byte length of a text in CP1252; -1 when it is not valid UTF-8 or has no CP1252 form.
constexpr long AnsiLength(std::string_view s) {
  long n = 0;
  for (std::size_t i = 0; i < s.size();) {
    const long cp = DecodeUtf8(s, i);
    if (cp < 0 || Cp1252Byte(cp) < 0) return -1;
    ++n;
  }
  return n;
}

constexpr bool SourceIsValid() {
  int previous = -1;
  for (const MessageEntry& e : kEnglishMessages) {
    if (e.number <= previous || e.number >= static_cast<int>(kCapacity)) return false;
    previous = e.number;
    if (e.text.size() > 0xFFFF) return false;  // the USS prefix holds the length in 16 bits
    for (char c : e.text)
      if (c == '\0') return false;
    if (AnsiLength(e.text) < 0) return false;
  }
  return previous >= 0;
}
static_assert(SourceIsValid(),
              "english.h: numbers must ascend below 1300; texts must be NUL-free UTF-8 with a CP1252 form");

constexpr std::size_t kSourceSize = sizeof(kEnglishMessages) / sizeof(kEnglishMessages[0]);
constexpr std::size_t kCount = static_cast<std::size_t>(kEnglishMessages[kSourceSize - 1].number) + 1;

constexpr std::size_t SsSize() {
  std::size_t n = kSsHeader + 4 * kCount;
  for (const MessageEntry& e : kEnglishMessages) n += static_cast<std::size_t>(AnsiLength(e.text)) + 1;
  return n;
}

constexpr std::size_t UssSize() {
  std::size_t n = kUssHeader + 4 * kCount;
  for (const MessageEntry& e : kEnglishMessages) n += 2 + e.text.size() + 1;
  return n;
}

template <std::size_t N>
constexpr void Put16(std::array<std::uint8_t, N>& a, std::size_t at, std::uint32_t v) {
  a[at] = static_cast<std::uint8_t>(v & 0xFF);
  a[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

template <std::size_t N>
constexpr void Put32(std::array<std::uint8_t, N>& a, std::size_t at, std::uint32_t v) {
  for (std::size_t k = 0; k < 4; ++k) a[at + k] = static_cast<std::uint8_t>((v >> (8 * k)) & 0xFF);
}

// Fills the offsets of an N-entry table at `offsets`: kNoEntry for numbers without text; `entry`
// writes one entry at the given string-area position and returns its size.
template <std::size_t N, class WriteEntry>
constexpr void FillTable(std::array<std::uint8_t, N>& a, std::size_t offsets, WriteEntry entry) {
  const std::size_t area = offsets + 4 * kCount;
  std::size_t pos = 0;
  std::size_t next = 0;
  for (std::size_t n = 0; n < kCount; ++n) {
    if (next < kSourceSize && static_cast<std::size_t>(kEnglishMessages[next].number) == n) {
      Put32(a, offsets + 4 * n, static_cast<std::uint32_t>(pos));
      pos += entry(a, area + pos, kEnglishMessages[next].text);
      ++next;
    } else {
      Put32(a, offsets + 4 * n, kNoEntry);
    }
  }
}

constexpr std::array<std::uint8_t, SsSize()> BuildSs() {
  std::array<std::uint8_t, SsSize()> a{};
  Put16(a, 0, kLanguageTag);
  Put32(a, 2, kAnsiCodePage);
  Put32(a, 6, static_cast<std::uint32_t>(kCount));
  FillTable(a, kSsHeader, [](std::array<std::uint8_t, SsSize()>& t, std::size_t at, std::string_view text) {
    std::size_t w = at;
    for (std::size_t i = 0; i < text.size();) t[w++] = static_cast<std::uint8_t>(Cp1252Byte(DecodeUtf8(text, i)));
    t[w++] = 0;
    return w - at;
  });
  return a;
}

constexpr std::array<std::uint8_t, UssSize()> BuildUss() {
  std::array<std::uint8_t, UssSize()> a{};
  Put16(a, 0, kLanguageTag);
  Put32(a, 2, kUnicodeCodePage);
  Put32(a, 9, static_cast<std::uint32_t>(kCount));
  FillTable(a, kUssHeader, [](std::array<std::uint8_t, UssSize()>& t, std::size_t at, std::string_view text) {
    Put16(t, at, static_cast<std::uint32_t>(text.size()));
    std::size_t w = at + 2;
    for (char c : text) t[w++] = static_cast<std::uint8_t>(c);
    t[w++] = 0;
    return w - at;
  });
  return a;
}

alignas(4) constexpr std::array<std::uint8_t, SsSize()> kSs = BuildSs();
alignas(4) constexpr std::array<std::uint8_t, UssSize()> kUss = BuildUss();

constexpr bool EqualsIgnoreCase(const char* a, std::string_view b) {
  std::size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == b.size();
}

}  // namespace
}  // namespace vanta::langen

// Resource lookup by type and name, as the program asks for it. Returns the resource's bytes (valid
// for as long as the library stays loaded) and stores its size, or nullptr (size 0) when the library
// has no such resource.
extern "C" __attribute__((visibility("default"))) const void* VantaFindResource(const char* type, const char* name,
                                                                             std::uint32_t* size) {
  using namespace vanta::langen;
  const void* data = nullptr;
  std::uint32_t bytes = 0;
  if (type != nullptr && name != nullptr && EqualsIgnoreCase(type, "DATA")) {
    if (EqualsIgnoreCase(name, "SS")) {
      data = kSs.data();
      bytes = static_cast<std::uint32_t>(kSs.size());
    } else if (EqualsIgnoreCase(name, "USS")) {
      data = kUss.data();
      bytes = static_cast<std::uint32_t>(kUss.size());
    }
  }
  if (size != nullptr) *size = bytes;
  return data;
}
