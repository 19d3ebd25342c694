#include "dispatch/masks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vanta::dispatch {
namespace {

// The matcher in its plain recursive form: "*" tries the rest of the pattern at every later
// start and the first non-zero attempt decides. `collapse` makes a run of "*" act as one.
// Exponential on hostile input, so only used on tiny strings.
int ReferenceMatch(const char* t, const char* p, bool cs, bool collapse) {
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (;;) {
    if (*p == '\0') return *t == '\0' ? 1 : 0;
    if (*t == '\0' && *p != '*') return -1;
    if (*p == '*') {
      ++p;
      if (collapse)
        while (*p == '*') ++p;
      if (*p == '\0') return 1;
      for (; *t != '\0'; ++t) {
        const int r = ReferenceMatch(t, p, cs, collapse);
        if (r != 0) return r;
      }
      return -1;
    }
    if (*p != '?' && (cs ? *p != *t : up(*p) != up(*t))) return 0;
    ++p;
    ++t;
  }
}

struct MatchCase {
  std::string text;
  std::string pattern;
  bool cs;
  int expected;
};

TEST(Match, Table) {
  const std::vector<MatchCase> cases = {
      {"abc", "a*c", false, 1},
      {"abc", "a?c", false, 1},
      {"ab", "abc", false, -1},  // text runs out first
      {"abc", "ab", false, 0},   // pattern runs out first
      {"ABC", "a*", false, 1},
      {"aBC", "a*c", true, -1},  // every start after the star fails, text exhausted
      {"ABC", "abc", true, 0},
      {"ABC", "abc", false, 1},
      {"", "*", false, 1},
      {"", "", false, 1},
      {"a", "", false, 0},
      {"", "a", false, -1},
      {"", "?", false, -1},
      {"", "*?", false, -1},
      {"a", "?", false, 1},
      {"ab", "?", false, 0},
      {"abc", "*", false, 1},
      {"abc", "abc*", false, 1},
      {"abcabd", "*abd", false, 1},  // first candidate start fails, a later one matches
      {"abab", "*ab", false, 1},     // last segment must end with the text
      {"aaab", "*ab", false, 1},
      {"xaby", "*a?y", false, 1},
      {"ab", "a*b*c", false, -1},
      {"abc", "*x*", false, -1},
      {"nick!user@host.example.com", "*!*@*.example.com", false, 1},
      {"Nick!User@Host", "nick!*@host", false, 1},
      {"Nick!User@Host", "nick!*@host", true, 0},
      // Runs of stars act as one star, also where the text is already used up.
      {"a", "a**", false, 1},
      {"", "**", false, 1},
      {"ab", "*b**", false, 1},
      {"abc", "a***c", false, 1},
      // Only ASCII letters fold; other bytes compare exactly.
      {"[", "{", false, 0},
      {"\xc3\xa9", "\xc3\x89", false, 0},
      {"\xc3\xa9", "??", false, 1},
      {"\xff\x80", "\xff*", true, 1},
      // A NUL byte ends either string.
      {std::string("ab\0cd", 5), "ab", false, 1},
      {"ab", std::string("ab\0*x", 5), false, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Match(c.text, c.pattern, c.cs), c.expected)
        << "text \"" << c.text << "\" pattern \"" << c.pattern << "\" cs " << c.cs;
  }
}

// Every pattern over a small alphabet against every short text: the iterative matcher gives
// exactly the results of the recursive form, -1 and 0 included.
TEST(Match, AgreesWithRecursiveFormOnAllSmallInputs) {
  const std::string text_alphabet = "abA";
  const std::string pattern_alphabet = "ab*?A";
  auto all_strings = [](const std::string& alphabet, std::size_t max_len) {
    std::vector<std::string> out = {""};
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (out[i].size() == max_len) continue;
      for (char c : alphabet) out.push_back(out[i] + c);
    }
    return out;
  };
  const auto texts = all_strings(text_alphabet, 5);
  const auto patterns = all_strings(pattern_alphabet, 5);
  int failures = 0;
  for (const auto& p : patterns) {
    const bool has_double_star = p.find("**") != std::string::npos;
    for (const auto& t : texts) {
      for (bool cs : {false, true}) {
        const int got = Match(t, p, cs);
        const int want = ReferenceMatch(t.c_str(), p.c_str(), cs, true);
        // Without a run of stars the collapsing makes no difference at all.
        if (!has_double_star) {
          ASSERT_EQ(want, ReferenceMatch(t.c_str(), p.c_str(), cs, false));
        }
        if (got != want && ++failures <= 10) {
          ADD_FAILURE() << "text \"" << t << "\" pattern \"" << p << "\" cs " << cs << ": got " << got
                        << ", want " << want;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// Inputs that would make a naive backtracking matcher run for ages; these must simply finish.
TEST(Match, HostileInputFinishes) {
  const std::string as(100000, 'a');
  EXPECT_EQ(Match(as, "*a*a*a*a*a*a*a*b", false), -1);
  EXPECT_EQ(Match(as, "*a*a*a*a*a*a*a*a", false), 1);
  EXPECT_EQ(Match(as, std::string(5000, '*') + "b", false), -1);
  EXPECT_EQ(Match(as, std::string(5000, '*'), false), 1);
  EXPECT_EQ(Match(as + "b", "*aaaaaaaaaaaaaaaaaaaab", false), 1);
  EXPECT_EQ(Match(as, std::string(200, '?') + "*" + std::string(200, '?') + "*b", false), -1);
  std::string pattern;
  for (int i = 0; i < 2000; ++i) pattern += "*a";
  EXPECT_EQ(Match(as, pattern + "*b", true), -1);
  EXPECT_EQ(Match(as, pattern, true), 1);

  // All byte values except NUL, in text and pattern.
  std::string bytes;
  for (int i = 1; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  EXPECT_EQ(Match(bytes, bytes, true), 1);
  EXPECT_EQ(Match(bytes, "*" + bytes.substr(100), false), 1);
  EXPECT_TRUE(MaskTest(bytes, "\x01*\xff", true));
}

TEST(MaskTest, LoneStarAndMatch) {
  EXPECT_TRUE(MaskTest("", "*", false));
  EXPECT_TRUE(MaskTest("anything at all", "*", true));
  EXPECT_TRUE(MaskTest("abc", "A?C", false));
  EXPECT_FALSE(MaskTest("abc", "A?C", true));
  EXPECT_FALSE(MaskTest("ab", "abc", false));  // -1 is a mismatch too
  EXPECT_FALSE(MaskTest("abc", "ab", false));
}

struct MaskMatchCase {
  std::string text;
  std::string mask;
  bool whole;
  bool cs;
  bool expected;
};

TEST(MaskMatch, WholeAndPerTokenModes) {
  const std::string join = ":nick!user@host JOIN :#chan";
  const std::string privmsg = ":nick!user@host PRIVMSG #chan :please JOIN now";
  const std::vector<MaskMatchCase> cases = {
      {join, "* JOIN *", false, false, true},
      {privmsg, "* JOIN *", true, false, true},    // anywhere in the line
      {privmsg, "* JOIN *", false, false, false},  // must be the second word
      {privmsg, "* PRIVMSG #chan *", false, false, true},
      {privmsg, "* privmsg #CHAN *", false, false, true},
      {privmsg, "* privmsg #CHAN *", false, true, false},
      {privmsg, "* privmsg #CHAN *", true, true, false},
      {privmsg, "*", false, false, true},
      {privmsg, "*", true, false, true},
      {"a b c", "a *", false, false, true},     // fewer mask tokens than text tokens
      {"a ", "a *", true, false, true},
      {"a ", "a *", false, false, false},       // the text has no second token
      {"a b c", "a b", false, false, false},    // whole text must match first
      {"ab cd", "a* c*", false, false, true},
      {"ab cd", "a*c*", false, false, false},   // whole matches, first tokens do not
      {"ab cd", "a*c*", true, false, true},
      {"x JOIN y", "* ?OIN *", false, false, true},
      {"x JOIN\r\n", "* JOIN", false, false, false},  // the CR LF stays in the whole text
      {"x JOIN\r\n", "* JOIN*", false, false, true},  // ... but ends the token
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MaskMatch(c.text, c.mask, c.whole, c.cs), c.expected)
        << "text \"" << c.text << "\" mask \"" << c.mask << "\" whole " << c.whole << " cs " << c.cs;
  }
}

// A mask of more than 42 words compares word 42 like any other word.
TEST(MaskMatch, FortyThirdWordIsAnOrdinaryWord) {
  std::string text;
  std::string mask;
  for (int i = 0; i < 50; ++i) {
    text += (i ? " w" : "w") + std::to_string(i);
    mask += i == 42 ? " x42" : (i ? " *" : "*");
  }
  EXPECT_FALSE(MaskMatch(text, mask, false, false));
  mask.replace(mask.find("x42"), 3, "w42");
  EXPECT_TRUE(MaskMatch(text, mask, false, false));
}

TEST(MaskMatch, ManyTokensFinishes) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "a ";
  EXPECT_TRUE(MaskMatch(text, text, false, false));
  EXPECT_TRUE(MaskMatch(text, "* " + text.substr(2), false, true));
  EXPECT_FALSE(MaskMatch(text, text + "b", false, false));
}

struct TokenCase {
  std::string text;
  int n;
  bool rest;
  bool keep;
  char delim;
  std::ptrdiff_t expected;
  std::string token;
};

TEST(Token, Table) {
  const std::vector<TokenCase> cases = {
      {"a b", 0, false, false, ' ', -1, "a"},  // found at position 0
      {"a b", 1, false, false, ' ', 2, "b"},
      {"a b", 2, false, false, ' ', 0, ""},
      {"a b", 5, false, false, ' ', 0, ""},
      {" a b", 0, false, false, ' ', 1, "a"},
      {" a b", 1, false, false, ' ', 1, "a"},  // the leading space is a separator
      {" a b", 2, false, false, ' ', 3, "b"},
      {"a   b", 1, false, false, ' ', 4, "b"},  // a run of delimiters is one separator
      {"a b ", 1, false, false, ' ', 2, "b"},
      {"a b ", 2, false, false, ' ', 0, ""},   // trailing delimiters make no token
      {"", 0, false, false, ' ', 0, ""},
      {"   ", 0, false, false, ' ', 0, ""},
      {"a,b,,c", 2, false, false, ',', 5, "c"},
      {"a b", 1, false, false, ',', 0, ""},
      {"a b", 0, false, false, ',', -1, "a b"},
      {"a b c d", 1, true, false, ' ', 2, "b c d"},
      {"a b c d\r\n", 1, true, false, ' ', 2, "b c d"},
      {"a b\r\nc d", 1, false, false, ' ', 2, "b"},
      {"a b\r\nc d", 1, false, true, ' ', 2, "b\r\nc"},
      {"a b\r\nc d", 1, true, true, ' ', 2, "b\r\nc d"},
      {"a b\r\n", 1, true, true, ' ', 2, "b"},  // trailing CR LF removed
      {"a\rb c", 0, false, false, ' ', -1, "a"},
      {"a\rb c", 1, false, false, ' ', 4, "c"},  // skipping does not stop at CR
      {"a \r\n", 1, false, false, ' ', 2, ""},   // a token that is empty once cut at CR
      {"a b", -1, false, false, ' ', 0, ""},
      // Index 42: everything after the first delimiter.
      {"a b  c", 42, false, false, ' ', 2, "b  c"},
      {"a b c\r\n", 42, false, false, ' ', 2, "b c"},
      {" abc", 42, false, false, ' ', 1, "abc"},
      {"a,b,c", 42, false, false, ',', 2, "b,c"},
      {"abc", 42, false, false, ' ', 0, ""},
      {"abc ", 42, false, false, ' ', 0, ""},
      {"", 42, false, false, ' ', 0, ""},
      // A NUL byte ends the text.
      {std::string("a b\0c d", 7), 1, false, false, ' ', 2, "b"},
      {std::string("a b\0c d", 7), 2, false, false, ' ', 0, ""},
      {"a b", 0, false, false, '\0', -1, "a b"},
      {"a b", 1, false, false, '\0', 0, ""},
  };
  for (const auto& c : cases) {
    std::string dst = "stale";
    EXPECT_EQ(Token(c.text, c.n, dst, c.rest, c.keep, c.delim), c.expected)
        << "text \"" << c.text << "\" n " << c.n << " rest " << c.rest << " keep " << c.keep;
    EXPECT_EQ(dst, c.token) << "text \"" << c.text << "\" n " << c.n;
  }
}

TEST(Token, IndicesAroundFortyTwo) {
  std::string text;
  for (int i = 0; i < 50; ++i) text += (i ? " t" : "t") + std::to_string(i);
  std::string dst;
  EXPECT_GT(Token(text, 41, dst), 0);
  EXPECT_EQ(dst, "t41");
  EXPECT_GT(Token(text, 43, dst), 0);
  EXPECT_EQ(dst, "t43");
  EXPECT_EQ(Token(text, 42, dst), 3);
  EXPECT_EQ(dst, text.substr(3));
  EXPECT_GT(Token(text, 49, dst), 0);
  EXPECT_EQ(dst, "t49");
  EXPECT_EQ(Token(text, 50, dst), 0);
  EXPECT_EQ(Token(text, 2147483647, dst), 0);
}

TEST(Token, HugeText) {
  std::string text(1 << 20, ' ');
  text += "x";
  std::string dst;
  EXPECT_EQ(Token(text, 1, dst), static_cast<std::ptrdiff_t>(1 << 20));
  EXPECT_EQ(dst, "x");
  EXPECT_EQ(Token(text, 2, dst), 0);
}

}  // namespace
}  // namespace vanta::dispatch
