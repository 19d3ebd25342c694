#include "dispatch/masks.h"

namespace vanta::dispatch {

namespace {

// The part of a view before its first NUL: the texts here are C strings at heart.
std::string_view UpToNul(std::string_view s) {
  const std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

bool SameByte(char a, char b, bool case_sensitive) {
  if (a == b) return true;
  if (case_sensitive) return false;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  return upper(a) == upper(b);
}

// Moves `q` past one separator: the bytes up to the next delimiter, then the whole run of
// delimiters. False when the text ends before a delimiter is found.
bool SkipSeparator(std::string_view s, char d, std::size_t& q) {
  while (q < s.size() && s[q] != d) ++q;
  if (q == s.size()) return false;
  while (q < s.size() && s[q] == d) ++q;
  return true;
}

// Where the token begins once `q` separators have been skipped: further delimiters are passed
// over. npos when the text ends there.
std::size_t TokenStart(std::string_view s, char d, std::size_t q) {
  while (q < s.size() && s[q] == d) ++q;
  return q < s.size() ? q : std::string_view::npos;
}

std::string_view StripLineBreaks(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

// The token that begins at `start`.
std::string_view TokenText(std::string_view s, std::size_t start, char d, bool rest, bool keep) {
  std::size_t end = start;
  while (end < s.size()) {
    const char c = s[end];
    if (c == d && !rest) break;
    if ((c == '\r' || c == '\n') && !keep) break;
    ++end;
  }
  return StripLineBreaks(s.substr(start, end - start));
}

// Walks the tokens of one text in order, carrying the scan position over from token to token
// so that walking all tokens is linear in the text. Gives the same tokens as Token(text, i)
// with rest and keep clear, for every i (including 42, which Token treats specially).
class TokenWalker {
 public:
  explicit TokenWalker(std::string_view text) : text_(UpToNul(text)) {}

  // The next token, or false when there is none.
  bool Next(std::string_view& token) {
    if (index_ > 0 && !SkipSeparator(text_, ' ', q_)) return false;
    ++index_;
    const std::size_t start = TokenStart(text_, ' ', q_);
    if (start == std::string_view::npos) return false;
    token = TokenText(text_, start, ' ', false, false);
    return true;
  }

 private:
  std::string_view text_;
  std::size_t q_ = 0;
  std::size_t index_ = 0;
};

}  // namespace

// Iterative form of the classic recursive matcher with its early exit. In the recursive form a
// "*" tries the rest of the pattern at each later start in the text and the first attempt that
// does not give 0 decides. An attempt can only give 0 before it reaches the next "*" (after
// that, the inner "*" decides for good), so only the most recent "*" ever needs to be retried:
// its pattern position and the current start are all the state there is.
int Match(std::string_view text, std::string_view pattern, bool case_sensitive) {
  text = UpToNul(text);
  pattern = UpToNul(pattern);
  const std::size_t tn = text.size();
  const std::size_t pn = pattern.size();
  constexpr std::size_t kNoStar = static_cast<std::size_t>(-1);

  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t star_p = kNoStar;  // pattern position right after the last "*"
  std::size_t star_t = 0;        // text position of the current attempt of that "*"

  for (;;) {
    if (p < pn && pattern[p] == '*') {
      while (p < pn && pattern[p] == '*') ++p;
      if (p == pn) return kMatch;
      if (t == tn) return kTextExhausted;
      star_p = p;
      star_t = t;
      continue;
    }
    if (p == pn) {
      if (t == tn) return kMatch;
      // Text left over: this attempt fails.
    } else if (t == tn) {
      return kTextExhausted;
    } else if (pattern[p] == '?' || SameByte(pattern[p], text[t], case_sensitive)) {
      ++p;
      ++t;
      continue;
    }
    if (star_p == kNoStar) return kMismatch;
    ++star_t;
    if (star_t == tn) return kTextExhausted;
    t = star_t;
    p = star_p;
  }
}

bool MaskTest(std::string_view text, std::string_view mask, bool case_sensitive) {
  return UpToNul(mask) == "*" || Match(text, mask, case_sensitive) == kMatch;
}

bool MaskMatch(std::string_view text, std::string_view mask, bool whole, bool case_sensitive) {
  if (!MaskTest(text, mask, case_sensitive)) return false;
  if (whole) return true;
  TokenWalker mask_tokens(mask);
  TokenWalker text_tokens(text);
  std::string_view mask_token;
  std::string_view text_token;
  for (;;) {
    if (!mask_tokens.Next(mask_token)) return true;
    if (!text_tokens.Next(text_token)) return false;
    if (!MaskTest(text_token, mask_token, case_sensitive)) return false;
  }
}

std::ptrdiff_t Token(std::string_view text, int n, std::string& dst, bool rest, bool keep_line_breaks,
                     char delimiter) {
  dst.clear();
  text = UpToNul(text);
  if (n < 0) return 0;

  std::size_t start = 0;
  if (n == kTokenAfterFirst) {
    const std::size_t d = text.find(delimiter);
    if (d == std::string_view::npos || d + 1 >= text.size()) return 0;
    start = d + 1;
    dst.assign(StripLineBreaks(text.substr(start)));
  } else {
    std::size_t q = 0;
    for (int i = 0; i < n; ++i) {
      if (!SkipSeparator(text, delimiter, q)) return 0;
    }
    start = TokenStart(text, delimiter, q);
    if (start == std::string_view::npos) return 0;
    dst.assign(TokenText(text, start, delimiter, rest, keep_line_breaks));
  }
  return start == 0 ? -1 : static_cast<std::ptrdiff_t>(start);
}

}  // namespace vanta::dispatch
