#include <gtest/gtest.h>

#include <functional>

#include "ui/completion.h"
#include "ui/line_editor.h"

namespace vanta::ui {
namespace {

// "|" marks the cursor in the expected texts.
std::string Show(const LineEditor& ed) {
  std::string s = ed.text();
  s.insert(ed.cursor(), "|");
  return s;
}

LineEditor Make(std::string_view text, std::size_t cursor) {
  LineEditor ed;
  ed.Set(text);
  ed.SetCursor(cursor);
  return ed;
}

TEST(LineEditor, EditingKeys) {
  using Op = std::function<void(LineEditor&)>;
  struct Case {
    const char* name;
    const char* text;
    std::size_t cursor;
    Op op;
    const char* expect;
  } cases[] = {
      {"insert", "helo", 3, [](LineEditor& e) { e.Insert("l"); }, "hell|o"},
      {"left over a wide character", "a\xE6\x97\xA5", 4, [](LineEditor& e) { e.Left(); }, "a|\xE6\x97\xA5"},
      {"right over an emoji", "\xF0\x9F\x98\x80x", 0, [](LineEditor& e) { e.Right(); }, "\xF0\x9F\x98\x80|x"},
      {"left at the start", "ab", 0, [](LineEditor& e) { e.Left(); }, "|ab"},
      {"right at the end", "ab", 2, [](LineEditor& e) { e.Right(); }, "ab|"},
      {"home", "abc", 2, [](LineEditor& e) { e.Home(); }, "|abc"},
      {"end", "abc", 1, [](LineEditor& e) { e.End(); }, "abc|"},
      {"backspace removes a whole character", "x\xC3\xA9", 3, [](LineEditor& e) { e.Backspace(); }, "x|"},
      {"backspace at the start", "ab", 0, [](LineEditor& e) { e.Backspace(); }, "|ab"},
      {"backspace over an invalid byte", "a\xE9", 2, [](LineEditor& e) { e.Backspace(); }, "a|"},
      {"delete", "abc", 1, [](LineEditor& e) { e.Delete(); }, "a|c"},
      {"delete at the end", "abc", 3, [](LineEditor& e) { e.Delete(); }, "abc|"},
      {"kill to end (Ctrl+K)", "hello world", 5, [](LineEditor& e) { e.KillToEnd(); }, "hello|"},
      {"kill to start (Ctrl+U)", "hello world", 6, [](LineEditor& e) { e.KillToStart(); }, "|world"},
      {"delete word back (Ctrl+W)", "say hello  ", 11, [](LineEditor& e) { e.DeleteWordBack(); }, "say |"},
      {"delete word back mid-word", "say hello", 7, [](LineEditor& e) { e.DeleteWordBack(); }, "say |lo"},
      {"delete word forward (Alt+D)", "say hello there", 3, [](LineEditor& e) { e.DeleteWordForward(); }, "say| there"},
      {"word left", "one two three", 13, [](LineEditor& e) { e.WordLeft(); }, "one two |three"},
      {"word right", "one two three", 0, [](LineEditor& e) { e.WordRight(); }, "one| two three"},
      {"yank what was killed", "hello world", 5,
       [](LineEditor& e) {
         e.KillToEnd();
         e.Home();
         e.Yank();
       },
       " world|hello"},
      {"set cursor inside a character moves to its start", "\xE6\x97\xA5", 2, [](LineEditor&) {}, "|\xE6\x97\xA5"},
  };
  for (const auto& c : cases) {
    LineEditor ed = Make(c.text, c.cursor);
    c.op(ed);
    EXPECT_EQ(Show(ed), c.expect) << c.name;
  }
}

TEST(LineEditor, LengthIsCappedWithoutSplittingACharacter) {
  LineEditor ed;
  ed.Set(std::string(LineEditor::kMaxBytes - 1, 'x'));
  EXPECT_FALSE(ed.Insert("\xC3\xA9"));  // two bytes do not fit into one
  EXPECT_EQ(ed.text().size(), LineEditor::kMaxBytes - 1);
  EXPECT_TRUE(ed.Insert("y"));
  EXPECT_FALSE(ed.Insert("z"));
  EXPECT_EQ(ed.text().size(), LineEditor::kMaxBytes);
}

TEST(LineEditor, VisiblePartFollowsTheCursor) {
  LineEditor ed;
  ed.Set(std::string(100, 'a'));
  const std::size_t start = ed.VisibleStart(20);
  EXPECT_GT(start, 80u);            // the end of the line is visible
  EXPECT_LE(100 - start + 1, 20u);  // and the cursor cell fits
  ed.Home();
  EXPECT_EQ(ed.VisibleStart(20), 0u);
  // Wide characters: the cursor after 30 ideographs (60 cells) in a 20-cell field.
  std::string wide;
  for (int i = 0; i < 30; ++i) wide += "\xE6\x97\xA5";
  ed.Set(wide);
  const std::size_t ws = ed.VisibleStart(20);
  EXPECT_EQ(ws % 3, 0u);  // at a character boundary
  EXPECT_LE((wide.size() - ws) / 3 * 2 + 1, 20u);
}

TEST(InputHistory, BrowsingKeepsTheDraft) {
  InputHistory h;
  std::string out;
  EXPECT_FALSE(h.Older("draft", &out));
  h.Add("first");
  h.Add("second");
  h.Add("second");  // a repeat is kept once
  h.Add("");        // empty lines are not kept
  EXPECT_EQ(h.size(), 2u);
  ASSERT_TRUE(h.Older("draft", &out));
  EXPECT_EQ(out, "second");
  ASSERT_TRUE(h.Older(out, &out));
  EXPECT_EQ(out, "first");
  EXPECT_FALSE(h.Older(out, &out));  // the oldest: stays
  ASSERT_TRUE(h.Newer(&out));
  EXPECT_EQ(out, "second");
  ASSERT_TRUE(h.Newer(&out));
  EXPECT_EQ(out, "draft");  // back to what was being written
  EXPECT_FALSE(h.Newer(&out));
}

TEST(InputHistory, KeepsTheNewestEntries) {
  InputHistory h;
  for (std::size_t i = 0; i < InputHistory::kMaxEntries + 10; ++i) h.Add("line " + std::to_string(i));
  EXPECT_EQ(h.size(), InputHistory::kMaxEntries);
  std::string out, last;
  while (h.Older(last, &out)) last = out;
  EXPECT_EQ(last, "line 10");
}

TEST(NickCompleter, Cases) {
  const std::vector<std::string> nicks = {"@Alice", "@alfred", "+Bob", "bobby", "carol"};
  struct Case {
    const char* name;
    const char* text;  // cursor at the end
    std::string start_suffix, text_suffix;
    int tabs;
    const char* expect;  // "|" marks the cursor; nullptr: nothing completed
  } cases[] = {
      {"start of line, default suffix", "al", "", "", 1, "Alice |"},
      {"start of line, QuickCompleteS", "al", ": ", ", ", 1, "Alice: |"},
      {"inside the text, QuickCompleteT", "hi al", ": ", ", ", 1, "hi Alice, |"},
      {"case ignored, prefix skipped", "BO", "", "", 1, "Bob |"},
      {"second tab: next match", "al", ":", "", 2, "alfred:|"},
      {"tabs wrap around", "al", ":", "", 3, "Alice:|"},
      {"no match", "zed", "", "", 1, nullptr},
      {"empty word", "hello ", "", "", 1, nullptr},
  };
  for (const auto& c : cases) {
    LineEditor ed;
    ed.Set(c.text);
    NickCompleter comp;
    bool ok = false;
    for (int i = 0; i < c.tabs; ++i) ok = comp.Complete(ed, nicks, c.start_suffix, c.text_suffix);
    if (!c.expect) {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_EQ(ed.text(), c.text) << c.name;
    } else {
      EXPECT_TRUE(ok) << c.name;
      EXPECT_EQ(Show(ed), c.expect) << c.name;
    }
  }
}

TEST(NickCompleter, CompletesInTheMiddleAndRestartsAfterEditing) {
  LineEditor ed;
  ed.Set("hi ca, bye");
  ed.SetCursor(5);
  NickCompleter comp;
  const std::vector<std::string> nicks = {"carol", "cat"};
  ASSERT_TRUE(comp.Complete(ed, nicks, ":", ""));
  EXPECT_EQ(Show(ed), "hi carol |, bye");
  ASSERT_TRUE(comp.Complete(ed, nicks, ":", ""));
  EXPECT_EQ(Show(ed), "hi cat |, bye");
  // Typing ends the cycle: the next Tab completes the new word.
  ed.Insert("b");
  ed.Backspace();
  ed.Backspace();
  ed.Insert("x");
  EXPECT_FALSE(comp.Complete(ed, nicks, ":", ""));
}

TEST(NickCompleter, QueryPartnerAndBareNicks) {
  EXPECT_EQ(CompletionCandidates({"@op", "+voice", "plain", ".owner", "%half"}),
            (std::vector<std::string>{"op", "voice", "plain", "owner", "half"}));
}

}  // namespace
}  // namespace vanta::ui
