// Numeric replies fed to the handler as the dispatcher would: session state, the end of the
// welcome sequence, channel topics, modes and names, whois and the result views, default display.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/result_views.h"
#include "platform/ini.h"
#include "config/file_set.h"
#include "sessions/hooks.h"
#include "dispatch/numerics_fixture.h"

namespace vanta::dispatch::test {
namespace {

using sessions::ServerSession;

bool Contains(const std::vector<std::string>& v, const std::string& needle) {
  return std::any_of(v.begin(), v.end(), [&](const std::string& s) { return s.find(needle) != std::string::npos; });
}
// Index of the first text containing needle, -1 when none.
int IndexOf(const std::vector<std::string>& v, const std::string& needle) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i].find(needle) != std::string::npos) return static_cast<int>(i);
  return -1;
}

class NumericsTest : public NumericFixture {};

TEST_F(NumericsTest, EndOfWelcomeRunsOnceAndSetsRegistered) {
  auto s = Session(server);
  s->ircx.store(1);
  s->oper.store(1);
  s->Set(&ServerSession::oper_name, "op");
  s->Set(&ServerSession::oper_password, "pw");
  s->Set(&ServerSession::user_modes, "+iw");
  s->Set(&ServerSession::perform, "/join #perf\r\n\r\n/msg x hi");
  SetPref("General", "TempStartupChannel", "#temp");
  SetPref("General", "StartupChannel", "#always");
  std::vector<std::string> executed;
  sessions::GetHooks().execute_line = [&](int, std::string_view l) { executed.emplace_back(l); };
  int ticks = 0;
  GetNumericHooks().notify_tick = [&](int n) { ticks += n == server; };

  Numeric(":irc.test 372 me :- motd line");
  EXPECT_TRUE(MotdInProgress(server));
  Numeric(":irc.test 376 me :End of MOTD command");
  EXPECT_EQ(s->registered.load(), 1);
  EXPECT_FALSE(MotdInProgress(server));
  EXPECT_EQ(s->ircx.load(), 0) << "the request flag is cleared once sent";
  EXPECT_EQ(s->oper.load(), 0);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"IRCX", "OPER op pw", "MODE me +iw", "USERHOST me", "JOIN #temp",
                                              "JOIN #always"}));
  EXPECT_EQ(executed, (std::vector<std::string>{"/join #perf", "/msg x hi"}));
  EXPECT_EQ(platform::ini::ReadString(config::PrefIni(), "General", "TempStartupChannel", "gone"), "gone");
  EXPECT_EQ(ticks, 1) << "the notify list is polled once at once";
  auto slot = sessions::WindowTable::Get().Slot(server);
  EXPECT_TRUE(platform::UiLoop::Get().TimerActive(slot->id, kNotifyTimer));
  EXPECT_TRUE(WaitShown("End of MOTD command", "irc.test")) << "376 is still shown";

  // A second 376 (after a MOTD request) sends and joins nothing; the startup channel is joined at
  // every connection, the temporary one was used up.
  Numeric(":irc.test 376 me :End of MOTD command");
  EXPECT_TRUE(Sent().empty());
  s->registered.store(0);
  Numeric(":irc.test 376 me :End of MOTD command");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"MODE me +iw", "USERHOST me", "JOIN #always"}));
  GetNumericHooks() = NumericHooks{};
}

TEST_F(NumericsTest, NoMotdTriggersNothing) {
  Numeric(":irc.test 422 me :MOTD File is missing");
  EXPECT_EQ(Session(server)->registered.load(), 0);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(NumericsTest, SessionStateReplies) {
  auto s = Session(server);
  Numeric(":irc.test 221 me +iwx");
  EXPECT_EQ(s->Get(&ServerSession::own_user_mode_text), "iwx");
  Numeric(":irc.test 381 me :You are now an IRC operator");
  EXPECT_EQ(s->oper.load(), 1);
  Numeric(":irc.test 293 me :admin");
  EXPECT_EQ(s->admin_oper.load(), 1);
  s->away.store(1);
  Numeric(":irc.test 305 me :You are no longer marked as being away");
  EXPECT_EQ(s->away.load(), 0);
  Numeric(":irc.test 800 me 1 0 ANON,NTLM 512 *");
  EXPECT_EQ(s->ircx.load(), 1);
  auto t = Texts("irc.test");
  EXPECT_TRUE(Contains(t, "IRCX Status"));
  EXPECT_TRUE(Contains(t, "Version #: 0"));
  EXPECT_TRUE(Contains(t, "Packages : ANON,NTLM"));
  EXPECT_TRUE(Contains(t, "MsgSize : 512"));
  // A hostile 221 longer than the field keeps 19 bytes.
  Numeric(":irc.test 221 me +" + std::string(100, 'x'));
  EXPECT_EQ(s->Get(&ServerSession::own_user_mode_text), std::string(19, 'x'));
}

TEST_F(NumericsTest, WhoisWithoutViewIsShownInOrder) {
  const char* lines[] = {":irc.test 311 me bob ~b host.example * :Bob Builder",
                         ":irc.test 312 me bob irc.example :Example server",
                         ":irc.test 313 me bob :is an IRC operator",
                         ":irc.test 301 me bob :gone fishing",
                         ":irc.test 317 me bob 42 1700000000 :seconds idle, signon time",
                         ":irc.test 319 me bob :@#a +#b",
                         ":irc.test 318 me bob :End of WHOIS list"};
  for (auto* l : lines) Numeric(l);
  auto t = Texts("irc.test");
  std::vector<std::string> order = {"WHOIS bob?", "bob!~b@host.example - Bob Builder", "bob @ irc.example",
                                    "bob is an IRC operator", "bob is away: gone fishing", "bob signed in @ ",
                                    "bob in @#a +#b", "End of WHOIS list"};
  int last = -1;
  for (auto& o : order) {
    int i = IndexOf(t, o);
    EXPECT_GT(i, last) << o << "\n" << AllShown();
    last = i;
  }
  EXPECT_EQ(t.size(), order.size()) << "consumed replies are not shown again by the default display\n" << AllShown();
  WhoisRecord r = CurrentWhois(server);
  EXPECT_EQ(r.nick, "bob");
  EXPECT_EQ(r.user, "~b");
  EXPECT_EQ(r.host, "host.example");
  EXPECT_EQ(r.full_name, "Bob Builder");
  EXPECT_EQ(r.server, "irc.example");
  EXPECT_EQ(r.operator_text, "Yes : is an IRC operator");
  EXPECT_EQ(r.away_text, "Yes : gone fishing");
  EXPECT_EQ(r.idle_seconds, 42);
  EXPECT_EQ(r.signon_time, 1700000000);
  EXPECT_EQ(r.channels, "@#a +#b");
  EXPECT_FALSE(r.pending);
}

// A front end with result views: every view opens and every call is recorded.
class ViewFrontEnd : public vanta::test::RecordingFrontEnd {
 public:
  bool OpenResultView(const ui::WindowInfo&, ResultView v) override {
    calls.push_back("open " + std::to_string(static_cast<int>(v)));
    return true;
  }
  void ResultViewClear(const ui::WindowInfo&, ResultView) override { calls.push_back("clear"); }
  void ResultViewAddRow(const ui::WindowInfo&, ResultView, const std::vector<std::string>& c) override {
    std::string row = "row";
    for (auto& x : c) row += "|" + x;
    calls.push_back(row);
  }
  void ResultViewSetLastRow(const ui::WindowInfo&, ResultView, int col, std::string_view t) override {
    calls.push_back("last " + std::to_string(col) + " " + std::string(t));
  }
  void ResultViewSetTitle(const ui::WindowInfo&, ResultView, std::string_view t) override {
    calls.push_back("title " + std::string(t));
  }
  void ResultViewEnded(const ui::WindowInfo&, ResultView) override { calls.push_back("ended"); }
  void ResultViewWhois(const ui::WindowInfo&, const WhoisFields& w) override { whois.push_back(w); }
  std::vector<std::string> calls;
  std::vector<WhoisFields> whois;
};

class NumericViewsTest : public NumericFixture {
 protected:
  void SetUp() override {
    NumericFixture::SetUp();
    auto v = std::make_unique<ViewFrontEnd>();
    views = v.get();
    fe = v.get();
    ui::Install(std::move(v));
  }
  ViewFrontEnd* views = nullptr;
};

TEST_F(NumericsTest, ViewsNeverOpenWithoutFrontEndSupport) {
  EXPECT_FALSE(OpenView(server, ResultView::Whois));
  EXPECT_FALSE(ViewOpen(server, ResultView::Whois));
  // The channel list is shown as text.
  Numeric(":irc.test 322 me #chan 5 :a topic");
  EXPECT_TRUE(WaitShown("#chan 5 :a topic", "irc.test"));
  Numeric(":irc.test 352 me #chan ~u h.example irc.example bob H@ :0 Bob B");
  EXPECT_TRUE(WaitShown("bob!~u@h.example (#chan) irc.example H@ :0 Bob B", "irc.test")) << AllShown();
}

TEST_F(NumericViewsTest, WhoisViewConsumesAndFillsFields) {
  ASSERT_TRUE(OpenView(server, ResultView::Whois, /*for_deny=*/true));
  Numeric(":irc.test 311 me bob ~b host.example.org * :Bob");
  Numeric(":irc.test 312 me bob irc.example :x");
  Numeric(":irc.test 318 me bob :End of WHOIS list");
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
  ASSERT_EQ(views->whois.size(), 1u);
  auto& w = views->whois[0];
  ASSERT_EQ(w.fields.size(), 10u);
  EXPECT_EQ(w.fields[0], "bob");
  EXPECT_EQ(w.fields[4], "irc.example");
  EXPECT_EQ(w.fields[7], "<No Operator>");
  EXPECT_EQ(w.fields[8], "<No Away>");
  EXPECT_EQ(w.ban_masks.size(), 15u);
  ASSERT_EQ(w.deny_lines.size(), 15u);
  EXPECT_EQ(w.deny_lines[0], "ADD DENY " + w.ban_masks[0] + " 0 ");
  EXPECT_FALSE(ViewOpen(server, ResultView::Whois)) << "the end of whois closes the feed";
}

TEST_F(NumericViewsTest, ListFeedsAndTheirEnds) {
  // Channel list: the first entry opens the view.
  Numeric(":irc.test 322 me #a 3 :first");
  Numeric(":irc.test 322 me #b 7 :second");
  EXPECT_EQ(ViewRows(server, ResultView::ChannelList), 2);
  Numeric(":irc.test 323 me :End of LIST");
  EXPECT_FALSE(ViewOpen(server, ResultView::ChannelList));
  auto& c = views->calls;
  EXPECT_NE(std::find(c.begin(), c.end(), "row|#a|3|first"), c.end());
  EXPECT_NE(std::find(c.begin(), c.end(), "row|#b|7|second"), c.end());
  EXPECT_EQ(c.back(), "ended");
  c.clear();

  // Ban list, who, links, silence: the feed ends with its title.
  struct Case {
    ResultView view;
    std::vector<std::string> lines;
    std::string row;
  };
  const Case cases[] = {
      {ResultView::Ban, {":irc.test 367 me #a *!*@bad.example op 0", ":irc.test 368 me #a :End"}, "row|*!*@bad.example|op|"},
      {ResultView::Ban, {":irc.test 348 me #a *!*@ok.example op 0", ":irc.test 349 me #a :End"}, "row|*!*@ok.example|op|"},
      {ResultView::Who, {":irc.test 352 me #a ~u h s bob G* :0 Bob B", ":irc.test 315 me #a :End"}, "row|bob|~u|h|s|Bob B|o|+"},
      {ResultView::Links, {":irc.test 364 me a.example b.example :1 info", ":irc.test 365 me * :End"}, "row|a.example b.example :1 info"},
      {ResultView::Silence, {":irc.test 271 me me *!*@spam", ":irc.test 272 me :End"}, "row|*!*@spam"},
      {ResultView::Access, {":irc.test 803 me #a :Start", ":irc.test 804 me #a OWNER *!*@x 0", ":irc.test 805 me #a :End"}, "row|OWNER *!*@x 0"},
      {ResultView::Property, {":irc.test 818 me #a TOPIC :hi", ":irc.test 819 me #a :End"}, "row|TOPIC :hi"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.row);
    fe->Clear();
    c.clear();
    ASSERT_TRUE(OpenView(server, k.view));
    for (auto& l : k.lines) Numeric(l);
    EXPECT_FALSE(ViewOpen(server, k.view));
    EXPECT_NE(std::find(c.begin(), c.end(), k.row), c.end()) << ::testing::PrintToString(c);
    EXPECT_EQ(c.back(), "ended");
    EXPECT_TRUE(fe->lines().empty()) << AllShown();
  }
  // 421 closes the channel-list, access and property feeds.
  ASSERT_TRUE(OpenView(server, ResultView::Access));
  ASSERT_TRUE(OpenView(server, ResultView::Property));
  Numeric(":irc.test 421 me ACCESS :Unknown command");
  EXPECT_FALSE(ViewOpen(server, ResultView::Access));
  EXPECT_FALSE(ViewOpen(server, ResultView::Property));
}

TEST_F(NumericsTest, AccessListWithoutViewShowsNothing) {
  Numeric(":irc.test 804 me #a OWNER *!*@x 0");
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
}

TEST_F(NumericsTest, NamesInSeveralLinesBuildTheList) {
  int ch = Channel("#chan");
  NickListReplace(ch, {"old"});
  Numeric(":irc.test 353 me = #chan :me @op +voice");
  Numeric(":irc.test 353 me = #chan :.owner %half plain");
  EXPECT_EQ(NickListEntries(ch), (std::vector<std::string>{"old"})) << "the list changes only at the end";
  Numeric(":irc.test 366 me #chan :End of /NAMES list.");
  EXPECT_EQ(NickListEntries(ch), (std::vector<std::string>{".owner", "@op", "%half", "+voice", "me", "plain"}));
  EXPECT_EQ(PendingNames(server, ch), "");
  EXPECT_TRUE(Texts("irc.test").empty()) << "names for an open window are consumed\n" << AllShown();
}

TEST_F(NumericsTest, NamesOfTwoServersDoNotMix) {
  int other = AddServer("irc.other", "me");
  int a = Channel("#same", server);
  int b = Channel("#same", other);
  Numeric(":irc.test 353 me = #same :alice", server);
  Numeric(":irc.other 353 me = #same :zed", other);
  Numeric(":irc.test 353 me = #same :bob", server);
  Numeric(":irc.other 366 me #same :End", other);
  Numeric(":irc.test 366 me #same :End", server);
  EXPECT_EQ(NickListEntries(a), (std::vector<std::string>{"alice", "bob"}));
  EXPECT_EQ(NickListEntries(b), (std::vector<std::string>{"zed"}));
}

TEST_F(NumericsTest, NamesForChannelWithoutWindowAreIgnored) {
  int ch = Channel("#mine");
  NickListReplace(ch, {"keep"});
  Numeric(":irc.test 353 me = #elsewhere :x y");
  Numeric(":irc.test 366 me #elsewhere :End");
  Numeric(":irc.test 366 me #mine :End");
  EXPECT_EQ(NickListEntries(ch), (std::vector<std::string>{"keep"}));
  EXPECT_TRUE(WaitShown("x y", "irc.test")) << "shown as text instead";
}

TEST_F(NumericsTest, HugeNamesReplyIsBounded) {
  int ch = Channel("#big");
  std::string nicks;
  for (int i = 0; i < 1000; ++i) nicks += (i ? " n" : "n") + std::to_string(i);
  Numeric(":irc.test 353 me = #big :" + nicks);
  // Many lines of long nicks stop at the accumulation's limit instead of growing without end.
  std::string longnicks;
  for (int i = 0; i < 30; ++i) longnicks += " " + std::string(300, 'a' + i % 26) + std::to_string(i);
  for (int i = 0; i < 20; ++i) Numeric(":irc.test 353 me = #big :" + longnicks);
  EXPECT_LE(PendingNames(server, ch).size(), 100000u);
  Numeric(":irc.test 366 me #big :End");
  auto list = NickListEntries(ch);
  EXPECT_GE(list.size(), 1000u);
  EXPECT_NE(std::find(list.begin(), list.end(), "n999"), list.end());
}

TEST_F(NumericsTest, TopicReplies) {
  int ch = Channel("#t");
  SetTopicPending(ch, true);
  Numeric(":irc.test 332 me #t :the topic here");
  EXPECT_EQ(Topic(ch), "the topic here");
  EXPECT_TRUE(WaitShown("#t TOPIC: the topic here", "#t"));
  Numeric(":irc.test 333 me #t alice 1700000000");
  EXPECT_TRUE(WaitShown("TOPIC: alice (", "#t"));
  fe->Clear();
  Numeric(":irc.test 332 me #t :second");
  EXPECT_EQ(Topic(ch), "second");
  EXPECT_TRUE(Texts("#t").empty()) << "only the pending topic is shown";
  Numeric(":irc.test 331 me #t :No topic is set");
  EXPECT_EQ(Topic(ch), "");
  Numeric(":irc.test 332 me #t :" + std::string(5000, 'x'));
  EXPECT_EQ(Topic(ch).size(), kTopicStored);
}

TEST_F(NumericsTest, ChannelModesAndPlainText) {
  int ch = Channel("#m");
  Numeric(":irc.test 324 me #m +ntfl 10");
  auto slot = sessions::WindowTable::Get().Slot(ch);
  {
    std::lock_guard lock(slot->mutex);
    EXPECT_EQ(slot->mode_text, "ntfl 10");
  }
  EXPECT_TRUE(ChannelPlainText(ch));
  Numeric(":irc.test 324 me #m +nt");
  EXPECT_TRUE(ChannelPlainText(ch)) << "a reply without f leaves the flag";
  SetPref("General", "IgnoreF", "1");
  config::LoadOptions();
  Numeric(":irc.test 324 me #m +f");
  EXPECT_FALSE(ChannelPlainText(ch));
  SetPref("General", "IgnoreF", "0");
  config::LoadOptions();
}

TEST_F(NumericsTest, ModeWarningsOncePerWindow) {
  int ch = Channel("#w");
  Numeric(":irc.test 324 me #w +mz");
  size_t first = Texts("#w").size();
  EXPECT_EQ(first, 1u) << "173 for m; z only warns with IRCX\n" << AllShown();
  Numeric(":irc.test 324 me #w +mz");
  EXPECT_EQ(Texts("#w").size(), first);
  // The letters are only those before the first space.
  Session(server)->ircx.store(1);
  int ch2 = Channel("#w2");
  Numeric(":irc.test 324 me #w2 +n zmx");
  EXPECT_TRUE(Texts("#w2").empty()) << AllShown();
  (void)ch;
  (void)ch2;
}

TEST_F(NumericsTest, CannotJoinMarks) {
  struct Case {
    const char* line;
    const char* shown;
  } cases[] = {
      {":irc.test 471 me #c :Cannot join channel", "#c :Cannot join channel (+l)"},
      {":irc.test 473 me #c :Cannot join channel", "#c :Cannot join channel (+i)"},
      {":irc.test 474 me #c :Cannot join channel (+b)", "#c :Cannot join channel (+b)"},
      {":irc.test 475 me #c :Cannot join channel", "#c :Cannot join channel (+k)"},
  };
  for (auto& k : cases) {
    fe->Clear();
    Numeric(k.line);
    auto t = Texts("irc.test");
    ASSERT_EQ(t.size(), 1u) << k.line << "\n" << AllShown();
    EXPECT_NE(t[0].find(k.shown), std::string::npos) << t[0];
    EXPECT_EQ(t[0].find("(+b) (+b)"), std::string::npos);
  }
}

TEST_F(NumericsTest, DefaultDisplayModes) {
  struct Case {
    const char* raw_mode;
    uint8_t show;
    const char* line;
    const char* shown;  // "" = nothing
  } cases[] = {
      {"0", 1, ":irc.test 999 me :some text", "some text"},
      {"0", 0, ":irc.test 999 me :some text", ""},
      {"1", 1, ":irc.test 999 me :some text", ":irc.test 999 me :some text"},
      {"1", 1, ":irc.test 471 me #c :full", "#c :full (+l)"},
      {"2", 0, ":irc.test 999 me :x", ":irc.test 999 me :x"},
  };
  for (auto& k : cases) {
    SCOPED_TRACE(std::string(k.raw_mode) + " " + k.line);
    SetPref("Appearance", "RAWSERVER", k.raw_mode);
    Session(server)->show_numerics.store(k.show);
    fe->Clear();
    Numeric(k.line);
    auto t = Texts("irc.test");
    if (!*k.shown) {
      EXPECT_TRUE(t.empty()) << AllShown();
    } else {
      ASSERT_EQ(t.size(), 1u) << AllShown();
      EXPECT_NE(t[0].find(k.shown), std::string::npos) << t[0];
    }
  }
}

TEST_F(NumericsTest, UserhostOfOwnNickShowsAddresses) {
  EXPECT_TRUE(Numeric(":irc.test 302 me :me=+~me@127.0.0.1"));
  auto t = Texts("irc.test");
  EXPECT_TRUE(Contains(t, "IP Information"));
  EXPECT_TRUE(Contains(t, "Local IP4: "));
  EXPECT_TRUE(Contains(t, "Remote IP6: "));
  EXPECT_EQ(t.size(), 5u) << AllShown();
  fe->Clear();
  EXPECT_FALSE(Numeric(":irc.test 302 me :bob=+~b@h"));
  EXPECT_FALSE(Contains(Texts(), "IP Information"));
}

TEST_F(NumericsTest, FirstIsonStartsUpAndRejoins) {
  std::vector<std::string> events;
  sessions::GetHooks().special_event = [&](std::string_view e, std::string_view, int) { events.emplace_back(e); };
  Channel("#one");
  int replies = 0;
  GetNumericHooks().ison_reply = [&](int, const ParsedLine&) { ++replies; };
  Numeric(":irc.test 303 me :bob");
  Numeric(":irc.test 303 me :bob");
  EXPECT_EQ(replies, 2);
  EXPECT_EQ(std::count(events.begin(), events.end(), "OnStartup"), 1);
  auto sent = Sent();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "JOIN #one"), 1) << ::testing::PrintToString(sent);
  GetNumericHooks() = NumericHooks{};
}

TEST_F(NumericsTest, HostileNumericsNeverCrash) {
  Channel("#c");
  std::string big(10000, 'A');
  std::vector<std::string> lines = {
      ":irc.test 311", ":irc.test 311 me", ":irc.test 311 me bob", ":irc.test 317 me bob x y",
      ":irc.test 317 me bob 99999999999999999999 -99999999999", ":irc.test 353 me", ":irc.test 353 me =",
      ":irc.test 353 me = #c", ":irc.test 353 me = #c :", ":irc.test 366", ":irc.test 324 me #c",
      ":irc.test 324 me #c +", ":irc.test 332", ":irc.test 333 me #c", ":irc.test 352 me", ":irc.test 322",
      ":irc.test 800 me", ":irc.test 302 me", ":irc.test 302 me :", ":irc.test 302 me :=", ":irc.test 471",
      ":irc.test 801", ":irc.test 820 me", ":irc.test 221 me", ":irc.test 221", ":irc.test 376",
      ":irc.test 12a me x", ":irc.test -5 me x", ":irc.test 0 me x", ":irc.test 4294967297 me",
      ":irc.test 311 me " + big + " " + big + " " + big + " * :" + big, ":irc.test 353 me = #c :" + big,
      ":irc.test 332 me #c :" + big, ":irc.test 324 me #c +" + big, ":irc.test 999 " + big,
      std::string(":irc.test 311 me a\0b c d", 23)};
  for (auto& l : lines) {
    Numeric(l);
    Stage(l);
  }
  SUCCEED();
}

}  // namespace
}  // namespace vanta::dispatch::test
