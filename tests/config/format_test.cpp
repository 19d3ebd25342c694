// The safe formatter for catalogue texts.
#include "config/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vanta::config {
namespace {

struct Case {
  const char* name;
  std::string got;
  std::string want;
};

void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(FormatText, ConversionsFlagsWidthPrecision) {
  Check({
      {"plain text", FormatText("no placeholders", {}), "no placeholders"},
      {"percent", FormatText("100%% sure", {}), "100% sure"},
      {"string", FormatText("Connecting to %s...", {"irc.example.org"}), "Connecting to irc.example.org..."},
      {"host and port", FormatText("Connected to %s port %u", {"::1", 6667u}), "Connected to ::1 port 6667"},
      {"left-justified", FormatText("[%-10s]", {"abc"}), "[abc       ]"},
      {"right-justified", FormatText("[%10s]", {"abc"}), "[       abc]"},
      {"string precision", FormatText("%.3s", {"abcdef"}), "abc"},
      {"zero-padded", FormatText("%02u:%02u", {9u, 5}), "09:05"},
      {"float", FormatText("%5.1f", {3.14159}), "  3.1"},
      {"float precision", FormatText("%.2f KB", {1.5}), "1.50 KB"},
      {"hex", FormatText("%x %X %#x %08X", {255, 255, 255, 48879}), "ff FF 0xff 0000BEEF"},
      {"octal", FormatText("%o", {8}), "10"},
      {"signed", FormatText("%d %i %+d % d", {-5, 7, 3, 4}), "-5 7 +3  4"},
      {"char", FormatText("%c%c", {'O', 75}), "OK"},
      {"long", FormatText("%ld %lu", {std::int64_t{-9000000000}, std::uint64_t{9000000000}}),
       "-9000000000 9000000000"},
      {"long long", FormatText("%lld %llu", {std::numeric_limits<long long>::min(),
                                             std::numeric_limits<unsigned long long>::max()}),
       "-9223372036854775808 18446744073709551615"},
      {"windows length", FormatText("%I64u %I32d %Iu", {5u, 6, 7u}), "5 6 7"},
      {"narrowing h", FormatText("%hu %hhd %hd", {70000, 300, 40000}), "4464 44 -25536"},
      {"star width", FormatText("[%*d] [%-*d] [%*d]", {5, 42, 4, 1, -3, 2}), "[   42] [1   ] [2  ]"},
      {"star precision", FormatText("%.*s|%.*s", {2, "abcdef", -1, "xyz"}), "ab|xyz"},
      {"std::string and temporaries", FormatText("%s-%s", {std::string("a"), std::string_view("b")}), "a-b"},
      {"null pointer text", FormatText("[%s]", {static_cast<const char*>(nullptr)}), "[]"},
      {"wide string spelling", FormatText("%S", {"x"}), "x"},
  });
}

TEST(FormatText, MismatchedFormats) {
  Check({
      {"missing arguments print nothing", FormatText("%s %s %s", {"one"}), "one  "},
      {"no arguments at all", FormatText("%d|%s|%c|%f|%x", {}), "||||"},
      {"missing argument ignores width", FormatText("[%10s]", {}), "[]"},
      {"text for %d prints nothing but is used up", FormatText("%d/%s", {"text", "next"}), "/next"},
      {"text for %f and %x", FormatText("%f%x", {"a", "b"}), ""},
      {"number for %s", FormatText("%s %s %s", {42, -7, 2.5}), "42 -7 2.5"},
      {"double for %d", FormatText("%d %u", {3.9, 2.0}), "3 2"},
      {"huge double for %d", FormatText("%d", {1e300}), "9223372036854775807"},
      {"NaN for %d", FormatText("%d", {std::nan("")}), "0"},
      {"integer for %f", FormatText("%.1f", {2}), "2.0"},
      {"negative int for %u", FormatText("%u %x", {-1, -1}), "4294967295 ffffffff"},
      {"negative int64 for %u", FormatText("%u", {std::int64_t{-1}}), "18446744073709551615"},
      {"negative short for %u", FormatText("%u", {static_cast<short>(-1)}), "65535"},
      {"big unsigned for %d", FormatText("%d", {std::numeric_limits<std::uint64_t>::max()}),
       "18446744073709551615"},
      {"%n prints nothing and uses nothing", FormatText("a%nb%s", {"c"}), "abc"},
      {"%p prints nothing", FormatText("%p%s", {"x"}), "x"},
      {"unknown conversion", FormatText("%y%k%s", {"z"}), "z"},
      {"trailing percent", FormatText("abc%", {"x"}), "abc"},
      {"trailing cut-off spec", FormatText("abc%-5l", {"x"}), "abc"},
      {"%c with 0", FormatText("[%c]", {0}), "[]"},
      {"%c with text", FormatText("%c", {"xyz"}), "x"},
      {"%lc and %C as UTF-8", FormatText("%lc%C", {0xE9, 0x20AC}), "\xC3\xA9\xE2\x82\xAC"},
      {"%lc with a surrogate", FormatText("[%lc]", {0xD800}), "[]"},
      {"extra arguments are ignored", FormatText("%s", {"a", "b", 3}), "a"},
  });
}

TEST(FormatText, HostileTexts) {
  // Widths and precisions are capped, so a damaged text cannot demand gigabytes.
  EXPECT_EQ(FormatText("%999999999999d", {1}).size(), 4096u);
  EXPECT_EQ(FormatText("%.999999999f", {1.0}).size(), 4098u);
  EXPECT_EQ(FormatText("%*s", {std::numeric_limits<std::int64_t>::max(), "x"}).size(), 4096u);
  EXPECT_EQ(FormatText("%*s", {std::numeric_limits<std::int64_t>::min(), "x"}).size(), 4096u);
  // A NUL inside a text argument ends it, as it would end a C string.
  EXPECT_EQ(FormatText("[%s]", {std::string_view("ab\0cd", 5)}), "[ab]");
  // A precision never leaves half a UTF-8 sequence.
  Check({
      {"cut before a 2-byte sequence", FormatText("%.2s", {"a\xC3\xA9"}), "a"},
      {"cut after it", FormatText("%.3s", {"a\xC3\xA9"}), "a\xC3\xA9"},
      {"cut inside a 3-byte sequence", FormatText("%.2s", {"\xE2\x82\xAC"}), ""},
      {"invalid bytes are cut by bytes", FormatText("%.2s", {"\x80\x80\x80"}), "\x80\x80"},
  });
  // Every prefix of a busy format, with arguments of every kind, formats without trouble.
  const std::string busy = "%-08.3s%+5d%#x%c%lc%.*f%*s%%%n%I64u%hhx%q";
  for (std::size_t n = 0; n <= busy.size(); ++n)
    FormatText(std::string_view(busy).substr(0, n), {"text", -1, 2.5, 0, std::uint64_t{7}, 'c'});
}

}  // namespace
}  // namespace vanta::config
