// Wildcard masks ("*" any run of bytes, "?" any one byte) and the N-th-token helper.
//
// Every text here is a byte string that ends at the end of the view or at its first NUL byte,
// whichever comes first; nothing after a NUL is looked at. No function keeps state, so all of
// them may be called from any thread at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vanta::dispatch {

// Result values of Match.
inline constexpr int kMatch = 1;
inline constexpr int kMismatch = 0;
// The text ran out before the pattern did. Also a mismatch; it tells the caller that no later
// start in the text can match either.
inline constexpr int kTextExhausted = -1;

// Matches `text` against the wildcard `pattern`: 1 match, 0 mismatch, -1 text exhausted.
// Case-insensitive matching (case_sensitive false) folds ASCII letters only; all other bytes
// compare exactly. A run of consecutive "*" acts as a single "*".
// Allocates nothing; time is bounded by len(text) * len(pattern).
int Match(std::string_view text, std::string_view pattern, bool case_sensitive);

// True when `mask` is exactly "*" or Match gives 1.
bool MaskTest(std::string_view text, std::string_view mask, bool case_sensitive);

// Whole mode (`whole` set): MaskTest of the whole text.
// Per-token mode: the mask must match the whole text, and then every space-delimited token i of
// the mask must match token i of the text (Token rules, line breaks ending a token). A mask with
// fewer tokens than the text passes; one with more fails. So "* JOIN *" needs JOIN as the second
// word of the line, not just anywhere in it.
bool MaskMatch(std::string_view text, std::string_view mask, bool whole, bool case_sensitive);

// Token index with a special meaning: everything after the first delimiter.
inline constexpr int kTokenAfterFirst = 42;

// Extracts token `n` (counted from 0) of `text`, split at `delimiter`, into `dst`.
// - Runs of consecutive delimiters count as one separator; a run at the very start of the text
//   also counts as a separator for n >= 1 (so tokens 0 and 1 of " a b" are both "a").
// - The copy stops at the delimiter (unless `rest`: then it runs to the end of the line), at CR
//   or LF (unless `keep_line_breaks`), or at the end of the text. Trailing CR and LF are removed.
// - n == kTokenAfterFirst: everything after the first delimiter (0 when there is none or it is
//   the last byte).
// Returns 0 when there is no such token (also for a negative n), else the token's start position
// in `text`, or -1 when it starts at position 0, so that any token found gives a non-zero
// result. `dst` is cleared first and holds the token afterwards ("" when none).
std::ptrdiff_t Token(std::string_view text, int n, std::string& dst, bool rest = false,
                     bool keep_line_breaks = false, char delimiter = ' ');

}  // namespace vanta::dispatch
