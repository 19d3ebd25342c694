// Wildcard matching, tokens and ban masks on arbitrary bytes.
// Input layout: byte 0 picks the flags, byte 1 the token index and ban type, byte 2 the delimiter;
// the rest is "text\npattern" (no newline: the rest is both text and pattern).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dispatch/ban_mask.h"
#include "dispatch/masks.h"

namespace {

using namespace vanta::dispatch;

void Check(bool ok) {
  if (!ok) std::abort();
}

// The plain recursive matcher, runs of "*" acting as one; only used on short inputs.
int Reference(std::string_view t, std::string_view p, bool cs) {
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  std::size_t i = 0, j = 0;
  for (;;) {
    if (j == p.size()) return i == t.size() ? 1 : 0;
    if (i == t.size() && p[j] != '*') return -1;
    if (p[j] == '*') {
      while (j < p.size() && p[j] == '*') ++j;
      if (j == p.size()) return 1;
      for (; i < t.size(); ++i) {
        const int r = Reference(t.substr(i), p.substr(j), cs);
        if (r != 0) return r;
      }
      return -1;
    }
    if (p[j] != '?' && (cs ? p[j] != t[i] : up(p[j]) != up(t[i]))) return 0;
    ++i;
    ++j;
  }
}

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool cs = data[0] & 1;
  const bool rest = data[0] & 4;
  const bool keep = data[0] & 8;
  const int n = data[1] % 48;
  const int type = data[1] % 17 - 1;
  const char delim = static_cast<char>(data[2]);
  const std::string_view input(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::size_t nl = input.find('\n');
  const std::string_view text = nl == std::string_view::npos ? input : input.substr(0, nl);
  const std::string_view pattern = nl == std::string_view::npos ? input : input.substr(nl + 1);

  const int m = Match(text, pattern, cs);
  Check(m >= -1 && m <= 1);
  const std::string_view t0 = UpToNul(text);
  const std::string_view p0 = UpToNul(pattern);
  std::size_t stars = 0;
  for (char c : p0) stars += c == '*';
  if (t0.size() <= 24 && p0.size() <= 24 && stars <= 4) Check(m == Reference(t0, p0, cs));
  Check(Match(text, text, true) == 1);  // any pattern matches its own text

  const bool per_token = MaskMatch(text, pattern, false, cs);
  const bool by_whole = MaskMatch(text, pattern, true, cs);
  Check(!per_token || by_whole);
  Check(by_whole == MaskTest(text, pattern, cs));

  std::string token;
  const std::ptrdiff_t pos = Token(text, n, token, rest, keep, delim);
  if (pos == 0) {
    Check(token.empty());
  } else {
    const std::size_t start = pos < 0 ? 0 : static_cast<std::size_t>(pos);
    Check(start < t0.size());
    Check(t0.substr(start, token.size()) == token);
    if (!token.empty()) Check(token.back() != '\r' && token.back() != '\n');
    if (n != kTokenAfterFirst) {
      if (!rest && delim != '\0') Check(token.find(delim) == std::string::npos);
      if (!keep) Check(token.find_first_of("\r\n") == std::string::npos);
    }
  }

  // A ban mask always matches the address it was made from.
  const UserAddress who = SplitAddress(text);
  const std::string mask = BanMask(who, type);
  if (type < 0 || type >= kBanMaskTypes) {
    Check(mask.empty());
  } else {
    Check(MaskTest(who.nick + "!" + who.user + "@" + who.host, mask, true));
  }
  return 0;
}
