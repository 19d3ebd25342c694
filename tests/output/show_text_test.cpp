// ShowText and AppendLine with windows: assembly of the line, hold rule, activity, trimming, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "output/show_text.h"
#include "platform/clock.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::output {
namespace {

using sessions::WindowTable;

class OutputFrontEnd : public test::RecordingFrontEnd {
 public:
  bool InForeground() const override { return foreground; }
  bool FocusInWindow(const ui::WindowInfo&) const override { return focus; }
  void DeactivateObject(const ui::WindowInfo&) override { ++deactivated; }
  void ActivityChanged(const ui::WindowInfo&, int indicator) override { last_indicator = indicator; }
  void TrayNotify(std::string_view title, std::string_view text, int seconds) override {
    tray_title = std::string(title);
    tray_text = std::string(text);
    tray_seconds = seconds;
  }
  bool foreground = true;
  bool focus = false;
  int deactivated = 0;
  int last_indicator = -1;
  std::string tray_title, tray_text;
  int tray_seconds = 0;
};

class ShowTextTest : public test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    if (!headless) {
      auto f = std::make_unique<OutputFrontEnd>();
      ofe = f.get();
      fe = ofe;
      ui::Install(std::move(f));
    }
    GetOutputHooks() = OutputHooks{};
    GetOutputHooks().log_line = [this](int, std::string_view line) { logged.emplace_back(line); };
    ResetClearClock();
    ReloadTextSettings();
  }
  void TearDown() override {
    GetOutputHooks() = OutputHooks{};
    platform::SetLocalTimeSource(nullptr);
    SetOutputSuppressed(false);
    CoreTest::TearDown();
  }
  void Pref(const std::string& section, const std::string& key, const std::string& value) {
    SetPref(section, key, value);
    ReloadTextSettings();
  }
  static TextView& View(int n) { return OutputOf(n)->view; }
  static void FixTime(int year, int mon, int day, int h, int m, int s) {
    platform::SetLocalTimeSource([=] {
      platform::LocalTime t;
      t.tm.tm_year = year - 1900;
      t.tm.tm_mon = mon - 1;
      t.tm.tm_mday = day;
      t.tm.tm_hour = h;
      t.tm.tm_min = m;
      t.tm.tm_sec = s;
      return t;
    });
  }
  void Show(int n, std::string_view text, int mode = 0, bool no_ts = false, int fallback = -1) {
    ShowText(n, text, fallback, 0, mode, false, no_ts);
  }

  OutputFrontEnd* ofe = nullptr;
  std::vector<std::string> logged;
};

TEST_F(ShowTextTest, PrefixWithTimeStampsOffAndPlainTextForTheFrontEnd) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "hello\r\n");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], " \x0F\x03\x07\x03\x07hello\r\n");
  EXPECT_EQ(View(s).PlainText(), " hello\n");
  ASSERT_FALSE(fe->lines().empty());
  EXPECT_EQ(fe->lines().back().text, "hello");
  EXPECT_EQ(fe->lines().back().window_name, "irc.test");
}

TEST_F(ShowTextTest, TimeStampFormula) {
  const int s = MakeServerWindow("irc.test", 6667);
  FixTime(2026, 3, 4, 5, 6, 7);
  Pref("MoreOptions", "TimeStamp", "1");
  Show(s, "a");
  Pref("MoreOptions", "TimeStampFormula", "[$year-$month-$day $_hour:$minute:$second$h02]>");
  Show(s, "b");
  Show(s, "c", 0, /*no_ts=*/true);
  Show(s, "d", 2);
  ASSERT_EQ(logged.size(), 4u);
  EXPECT_EQ(logged[0], "\x03" "1\x02" "05:06 | \x02\x03\x07\x03\x07" "a\r\n");
  EXPECT_EQ(logged[1], "[2026-03-04 05:06:07\x02]>b\r\n");
  EXPECT_EQ(logged[2], "c\r\n");
  EXPECT_EQ(logged[3], "d\r\n");
  // The time stamp's codes are walked like any other: the stamp is colour 1 and bold.
  auto runs = View(s).Runs();
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[0].text, "05:06 | ");
  EXPECT_TRUE(runs[0].format.bold);
  EXPECT_EQ(runs[0].format.colour, 0u);
}

TEST_F(ShowTextTest, LineEndsAndEscapes) {
  const int s = MakeServerWindow("irc.test", 6667);
  struct Case {
    std::string text;
    int mode;
    std::string logged;
  } cases[] = {
      {"plain", 0, "plain\r\n"},
      {"trailing ends go\n\r\n", 0, "trailing ends go\r\n"},
      {"continuation", 1, "continuation"},
      {"a\rb", 0, "a\rb\n"},
      {"a\nb", 0, "a\nb\r"},
      {"\\x41BC", 0, "ABC\r\n"},
      {"\\X4a\\x4B", 0, "JK\r\n"},
      {"end \\x", 0, "end \\x\r\n"},
      {"bad \\xZZ", 0, "bad \\xZZ\r\n"},
      {"half \\x4G", 0, "half \\x4G\r\n"},
      {"\\x0", 1, "\\x0"},
      {"ab\\x0", 1, "ab\\x0"},
      {"\\x02bold", 0, "\x02" "bold\r\n"},
      {std::string("cut\0here", 8), 0, "cut\r\n"},
  };
  for (const auto& c : cases) {
    logged.clear();
    Show(s, c.text, c.mode, true);
    ASSERT_EQ(logged.size(), 1u) << c.text;
    EXPECT_EQ(logged[0], c.logged) << c.text;
  }
}

TEST_F(ShowTextTest, EmptyLinesShowNothing) {
  const int s = MakeServerWindow("irc.test", 6667);
  const auto before = fe->lines().size();
  for (const char* t : {"", "\r\n", "\n\n\r", "\r"}) Show(s, t);
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(View(s).Length(), 0u);
  EXPECT_EQ(fe->lines().size(), before);
}

TEST_F(ShowTextTest, InvalidWindowUsesFallbackOrDrops) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(57, "to the fallback", 0, true, s);
  Show(57, "dropped", 0, true, 58);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "to the fallback\r\n");
  EXPECT_NE(View(s).PlainText().find("to the fallback"), std::string::npos);
}

TEST_F(ShowTextTest, PlugInCanSwallowTheLineAfterLogging) {
  const int s = MakeServerWindow("irc.test", 6667);
  std::string seen;
  GetOutputHooks().text_shown = [&](int, uint64_t, std::string_view t) {
    seen = std::string(t);
    return t.find("secret") != std::string_view::npos ? 1 : 0;
  };
  Show(s, "secret\r\n", 0, true);
  Show(s, "public", 0, true);
  EXPECT_EQ(seen, "public");
  EXPECT_EQ(logged.size(), 2u);
  EXPECT_EQ(View(s).PlainText(), "public\n");
}

TEST_F(ShowTextTest, SuppressionFlagShowsNothing) {
  const int s = MakeServerWindow("irc.test", 6667);
  SetOutputSuppressed(true);
  Show(s, "quiet");
  SetOutputSuppressed(false);
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(View(s).Length(), 0u);
}

TEST_F(ShowTextTest, HoldWhileSelectingThenFlushInOrder) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "first", 0, true);
  View(s).SetSelection(1, 4);
  ofe->focus = true;
  Show(s, "held 1", 0, true);
  Show(s, "held 2", 0, true);
  ShowText(s, "bypass", -1, 0, 0, /*no_hold=*/true, true);
  EXPECT_EQ(OutputOf(s)->pending.size(), 2u);
  EXPECT_EQ(View(s).PlainText(), "first\nbypass\n");
  // Without focus the selection does not hold: the list is flushed first, then the new line.
  ofe->focus = false;
  Show(s, "after", 0, true);
  EXPECT_TRUE(OutputOf(s)->pending.empty());
  const std::string text = View(s).PlainText();
  const auto h1 = text.find("held 1"), h2 = text.find("held 2"), after = text.find("after");
  ASSERT_NE(h1, std::string::npos);
  EXPECT_LT(h1, h2);
  EXPECT_LT(h2, after);
  // Flushed entries get a time-stamp prefix again (no-time-stamp is cleared for them).
  EXPECT_NE(text.find(" held 1\n"), std::string::npos);
}

TEST_F(ShowTextTest, SelectingOneCharacterRangeAtStartDoesNotHold) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "x", 0, true);
  View(s).SetSelection(0, 1);
  ofe->focus = true;
  Show(s, "shown", 0, true);
  EXPECT_TRUE(OutputOf(s)->pending.empty());
  EXPECT_NE(View(s).PlainText().find("shown"), std::string::npos);
}

TEST_F(ShowTextTest, SelectedObjectIsDeactivatedInsteadOfHolding) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "ab", 0, true);
  View(s).InsertObject("[object]");
  View(s).SetSelection(3, 4);
  ofe->focus = true;
  Show(s, "next", 0, true);
  EXPECT_EQ(ofe->deactivated, 1);
  EXPECT_TRUE(OutputOf(s)->pending.empty());
  EXPECT_NE(View(s).PlainText().find("next"), std::string::npos);
}

TEST_F(ShowTextTest, ActivityAndMentionByWindowKind) {
  const int s = MakeServerWindow("irc.test", 6667, "Tester");
  const int ch = MakeWindow("#chan", sessions::kChannelWindow, s);
  const int other = MakeWindow("#other", sessions::kChannelWindow, s);
  struct Case {
    const char* what;
    int window;  // 0 server, 1 channel
    bool active_fg;
    std::string text;
    int indicator;
  } cases[] = {
      {"new text in a channel", 1, false, "hello", 1},
      {"mention in a channel", 1, false, "hi tester, there", 2},
      {"mention at the end", 1, false, "hi TESTER", 2},
      {"nick followed by a letter is no mention", 1, false, "testers", 1},
      {"nick followed by the digit 0", 1, false, "tester0", 2},
      {"mention in a server window is only new text", 0, false, "tester here", 1},
      {"attention marker counts in a server window", 0, false, "\x12\x04\x04" "look", 2},
      {"active window in the foreground is cleared", 1, true, "plain", 0},
  };
  for (const auto& c : cases) {
    const int n = c.window == 0 ? s : ch;
    auto out = OutputOf(n);
    out->new_text = 0;
    out->mention = 0;
    out->attention = 0;
    WindowTable::Get().Activate(c.active_fg ? n : other);
    ofe->foreground = c.active_fg;
    Show(n, c.text, 0, false, s);
    EXPECT_EQ(ActivityIndicator(n), c.indicator) << c.what;
    EXPECT_EQ(ofe->last_indicator, c.indicator) << c.what;
  }
  // A quiet marker changes nothing.
  auto out = OutputOf(ch);
  out->new_text = 0;
  out->mention = 0;
  WindowTable::Get().Activate(other);
  ofe->foreground = false;
  Show(ch, "\x12\x04" "quiet tester", 0, false, s);
  EXPECT_EQ(ActivityIndicator(ch), 0);
  EXPECT_EQ(View(ch).PlainText().find('\x12'), std::string::npos);
}

TEST_F(ShowTextTest, DccChatMentionUsesItsOwnNick) {
  const int d = MakeWindow("=peer", sessions::kDccWindow, -1);
  {
    auto slot = WindowTable::Get().Slot(d);
    std::lock_guard lock(slot->mutex);
    slot->dcc_own_nick = "me";
  }
  ofe->foreground = false;
  Show(d, "hey me");
  EXPECT_EQ(ActivityIndicator(d), 2);
}

TEST_F(ShowTextTest, NotificationTextAndBalloon) {
  const int s = MakeServerWindow("irc.test", 6667);
  const int ch = MakeWindow("#chan", sessions::kChannelWindow, s);
  OutputOf(ch)->notification_mode = 1;
  ofe->foreground = false;
  for (int i = 0; i < 40; ++i) Show(ch, "\x02line " + std::to_string(i), 0, true);
  const std::string& buf = OutputOf(ch)->notification_text;
  EXPECT_LT(buf.size(), 256u);
  EXPECT_EQ(buf.find('\x02'), std::string::npos);
  EXPECT_NE(buf.find("line 39\r\n"), std::string::npos);
  EXPECT_EQ(ofe->tray_title, "#chan (Ctrl+" + std::to_string(ch + 1) + ")");
  EXPECT_EQ(ofe->tray_text, buf);
  EXPECT_EQ(ofe->tray_seconds, 5);
  EXPECT_EQ(LastNotifiedWindow(), WindowTable::Get().Slot(ch)->id);
  // One line longer than the buffer keeps its start instead of vanishing.
  Show(ch, std::string(600, 'z'), 0, true);
  EXPECT_EQ(OutputOf(ch)->notification_text, std::string(250, 'z'));
}

TEST_F(ShowTextTest, TrimBySize) {
  const int s = MakeServerWindow("irc.test", 6667);
  const std::string line(99, 'x');  // 100 characters with its line end
  std::size_t max_len = 0;
  for (int i = 0; i < 800; ++i) {
    Show(s, line, 0, true);
    max_len = std::max(max_len, View(s).Length());
  }
  // Each trim removes 10000 characters once the view reached 30000.
  EXPECT_LT(max_len, 30000u + 100u);
  EXPECT_GE(max_len, 29900u);
  EXPECT_EQ(View(s).Length() % 100, 0u);
}

TEST_F(ShowTextTest, TrimByMinutesBeforeClear) {
  const int s = MakeServerWindow("irc.test", 6667);
  Pref("General", "MinutesBeforeClear", "5");
  FixTime(2026, 1, 1, 10, 0, 0);
  Show(s, std::string(99, 'a'), 0, true);
  EXPECT_NE(ClearClock(), 0);
  for (int i = 0; i < 399; ++i) Show(s, std::string(99, 'a'), 0, true);
  EXPECT_EQ(View(s).Length(), 40000u);  // no size rule
  FixTime(2026, 1, 1, 10, 6, 0);
  Show(s, std::string(99, 'b'), 0, true);
  EXPECT_EQ(View(s).Length(), 20000u + 100u);
  EXPECT_EQ(ClearClock(), 0);
  Show(s, std::string(99, 'c'), 0, true);
  EXPECT_NE(ClearClock(), 0);
  EXPECT_EQ(View(s).Length(), 20200u);
}

TEST_F(ShowTextTest, IgnoreSwitchesAreReadFromPreferences) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "\x02" "bold", 0, true);
  Pref("Appearance", "IgB0", "1");
  Show(s, "\x02" "plain", 0, true);
  auto runs = View(s).Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(runs[0].format.bold);
  EXPECT_FALSE(runs[1].format.bold);
}

TEST_F(ShowTextTest, PreferenceChangeIsSeenWithoutReload) {
  const int s = MakeServerWindow("irc.test", 6667);
  Show(s, "one");
  SetPref("General", "ResetColor", "255");  // written on disk only
  SetPref("MoreOptions", "TimeStamp", "1");
  FixTime(2026, 1, 1, 1, 2, 3);
  Show(s, "two");
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[1].find("01:02"), std::string::npos);
}

TEST_F(ShowTextTest, ServerWindowsOnWhiteWithoutColorServer) {
  const int s = MakeServerWindow("irc.test", 6667);
  Pref("Metrics", "EditBG", "0");
  Show(s, "dark", 0, true);
  Pref("MoreOptions", "ColorServer", "0");
  Show(s, "white", 0, true);
  auto runs = View(s).Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].format.background, 0u);
  EXPECT_EQ(runs[1].format.background, 0xFFFFFFu);
}

TEST_F(ShowTextTest, TargetViewGetsTheTextAndLeavesActivityAlone) {
  const int s = MakeServerWindow("irc.test", 6667);
  TextView popup;
  ofe->foreground = false;
  ShowText(s, "into the popup", -1, 0, 0, false, true, &popup);
  EXPECT_EQ(popup.PlainText(), "into the popup\n");
  EXPECT_EQ(View(s).Length(), 0u);
  EXPECT_EQ(ActivityIndicator(s), 0);
}

TEST_F(ShowTextTest, HostileTextNeverCrashes) {
  const int s = MakeServerWindow("irc.test", 6667);
  std::string all;
  for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
  Show(s, all);
  Show(s, std::string(100 * 1024, '\x03'));
  std::string big;
  while (big.size() < 100 * 1024) big += "\x03" "4,5word\x02\x1F\x07" "00FF00FF\x19" "3 FFFEEE x \\x41";
  Show(s, big);
  for (const char* tail : {"\x03", "\x07" "12", "\x05\x90", "\x19", "\x1F\x1F", "\x04\x02", "\x18{", "\x11\x01", "\x12",
                           "FFFEEE", "\\x", "\\x4"})
    Show(s, std::string("end ") + tail, 0);
  EXPECT_GT(View(s).Length(), 0u);
}

class HeadlessShowTextTest : public ShowTextTest {
 public:
  HeadlessShowTextTest() { headless = true; }
};

TEST_F(HeadlessShowTextTest, ReturnsRightAfterResolvingTheWindow) {
  const int s = MakeServerWindow("irc.test", 6667);
  ASSERT_GE(s, 0);
  Show(s, "nobody sees this");
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(View(s).Length(), 0u);
  EXPECT_TRUE(fe->lines().empty());
}

TEST_F(ShowTextTest, ManyThreadsKeepTheirOrder) {
  const int s = MakeServerWindow("irc.test", 6667);
  constexpr int kThreads = 4, kLines = 150;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, s, &done] {
      for (int i = 0; i < kLines; ++i) {
        const std::string text = "t" + std::to_string(t) + " " + std::to_string(i);
        ShowText(s, text, -1, 0);
      }
      done.fetch_add(1);
    });
  }
  EXPECT_TRUE(PumpUntil([&] { return done.load() == kThreads; }, 20000));
  for (auto& th : threads) th.join();
  std::map<int, int> next;
  int total = 0;
  for (const auto& l : fe->lines()) {
    if (l.text.size() < 2 || l.text[0] != 't') continue;
    const int t = l.text[1] - '0';
    const int i = std::stoi(l.text.substr(3));
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
    ++total;
  }
  EXPECT_EQ(total, kThreads * kLines);
}

}  // namespace
}  // namespace vanta::output
