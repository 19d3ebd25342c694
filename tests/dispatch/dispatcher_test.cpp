// The server line dispatcher fed lines directly: what each command shows, where and in which
// colour, what it does to windows and nick lists, and what it sends back.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/format.h"
#include "output/show_text.h"
#include "platform/paths.h"
#include "sessions/hooks.h"
#include "dispatcher_support.h"

namespace vanta::dispatch::test {
namespace {

using sessions::WindowTable;
constexpr uint32_t kPartColour = 14787751;

uint32_t Ok() { return output::Colours().ok; }
uint32_t Err() { return output::Colours().error; }
uint32_t Info() { return output::Colours().info; }
uint32_t Text() { return output::Colours().text; }

// ---- what a line shows, where and in which colour ----

struct ShowCase {
  const char* name;
  const char* line;
  const char* window;  // window the text must appear in
  const char* needle;
  uint32_t (*colour)();
};

class ShowTable : public DispatchTest, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(ShowTable, ShowsInWindowAndColour) {
  const ShowCase& c = GetParam();
  Channel("#c", {"@me", "bob", "+carol"});
  Query("dave");
  fe->Clear();
  Feed(c.line);
  auto got = In(c.window, c.needle);
  ASSERT_EQ(got.size(), 1u) << c.name << "\n" << AllShown();
  EXPECT_EQ(got[0].colour, c.colour()) << c.name;
}

const ShowCase kShowCases[] = {
    {"join other", ":eve!e@h.example JOIN :#c", "#c", "eve (e@h.example) has joined #c", Ok},
    {"part other", ":bob!b@h PART #c :later", "#c", "bob has left #c later", [] { return kPartColour; }},
    {"part without window", ":bob!b@h PART #nowin :bye", "irc.test", "bob has left #nowin", [] { return kPartColour; }},
    {"topic", ":bob!b@h TOPIC #c :fresh topic", "#c", "bob changes the topic of #c to: fresh topic", Ok},
    {"topic without window", ":bob!b@h TOPIC #nowin :t", "irc.test", "changes the topic of #nowin", Ok},
    {"kick other", ":bob!b@h KICK #c carol :flooding", "#c", "carol was kicked from #c by bob (flooding)", Err},
    {"kick own", ":bob!b@h KICK #c me :out", "#c", "me was kicked from #c by bob (out)", Text},
    {"mode channel", ":bob!b@h MODE #c +m", "#c", "bob sets mode +m", Ok},
    {"own user mode", ":me MODE me :+i", "irc.test", "me sets mode +i", Ok},
    {"channel message", ":bob!b@h PRIVMSG #c :hello all", "#c", "<bob> hello all", Text},
    {"message to channel without window", ":bob!b@h PRIVMSG #nowin :x", "irc.test", "<bob> x", Text},
    {"message in open query", ":dave!d@h PRIVMSG me :psst", "dave", "<dave> psst", Text},
    {"channel action", ":bob!b@h PRIVMSG #c :\x01" "ACTION waves\x01", "#c", "*bob waves", Ok},
    {"private action without query", ":zed!z@h PRIVMSG me :\x01" "ACTION nods\x01", "irc.test", "*zed nods", Ok},
    {"ctcp request", ":zed!z@h PRIVMSG me :\x01VERSION\x01", "irc.test", "CTCP zed (zed!z@h) VERSION", Err},
    {"dcc offer", ":zed!z@h PRIVMSG me :\x01" "DCC CHAT chat 1 2\x01", "irc.test", "**DCC** zed (zed!z@h) DCC CHAT chat 1 2", Err},
    {"channel notice", ":bob!b@h NOTICE #c :to all", "#c", "bob =|= to all", Err},
    {"ctcp reply", ":bob!b@h NOTICE me :\x01VERSION client 1.0\x01", "irc.test", "CTCP VERSION REPLY from bob : client 1.0", Info},
    {"chanops notice", ":bob!b@h NOTICE @#c :-CHANOPS- ops only", "#c", "<bob>(=CHANOPS=) ops only", Err},
    {"own wall notice", ":bob!b@h NOTICE me :VantaIRC wALLV(#c) voiced", "#c", "<bob>(=wALLV=) voiced", Err},
    {"invite in the active window", ":bob!b@h INVITE me :#secret", "#c", "bob invites you to #secret", Text},
    {"wallops", ":oper!o@h WALLOPS :net split", "irc.test", "WALLOPS", Ok},
    {"silence", ":me!m@h SILENCE +*!*@bad", "irc.test", "Silence: +*!*@bad", Ok},
    {"whisper", ":bob!b@h WHISPER #c me :psst", "#c", "bob whispers in #c", Err},
    {"knock", ":bob!b@h KNOCK #c 471 full", "#c", "bob knocks on #c (471 full (+l))", Err},
    {"data", ":bob!b@h DATA #c x :y", "#c", "***data*** bob", Err},
    {"unknown command", ":bob!b@h FROB #c some words", "#c", "<bob> [bob!b@h] FROB some words", Ok},
    {"unknown command without window", ":bob!b@h FROB #nowin w", "irc.test", "<bob> [bob!b@h] FROB w", Ok},
    {"error line", "ERROR :Closing Link: me (bye)", "irc.test", "ERROR :Closing Link", Err},
    {"other prefix-less line", "NOTAUTH hello", "irc.test", "NOTAUTH hello", Info},
    {"redirect", "REDIRECT other.host 6667", "irc.test", "REDIRECT other.host", Err},
};

INSTANTIATE_TEST_SUITE_P(Lines, ShowTable, ::testing::ValuesIn(kShowCases),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// ---- JOIN ----

TEST_F(DispatchTest, OwnJoinOpensActiveChannelWindowWithTopicPending) {
  Feed(":me!m@h JOIN :#new");
  const int w = Find("#new");
  ASSERT_GE(w, 0);
  EXPECT_EQ(WindowTable::Get().Kind(w), sessions::kChannelWindow);
  EXPECT_EQ(WindowTable::Get().Slot(w)->active.load(), 1);
  EXPECT_TRUE(TakeTopicPending(w));
  ASSERT_EQ(In("#new", "me (m@h) has joined #new").size(), 1u) << AllShown();
  EXPECT_EQ(In("#new", "has joined")[0].colour, Ok());
  // A second own JOIN (a rejoin) reuses the window.
  Feed(":me!m@h JOIN #new");
  EXPECT_EQ(Find("#new"), w);
  EXPECT_EQ(WindowTable::Get().Count(), 2);
}

TEST_F(DispatchTest, OtherJoinWithoutWindowShowsNothing) {
  fe->Clear();
  Feed(":bob!b@h JOIN #elsewhere");
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
  EXPECT_LT(Find("#elsewhere"), 0);
}

TEST_F(DispatchTest, OtherJoinAddsPlainEntryAndSorts) {
  const int w = Channel("#c", {"@me", "zed"});
  Feed(":alice!a@h JOIN #c");
  EXPECT_EQ(NickListEntries(w), (std::vector<std::string>{"@me", "alice", "zed"}));
}

TEST_F(DispatchTest, JoinChecksRunForEveryJoin) {
  std::vector<std::string> seen;
  GetDispatcherHooks().join_checks = [&](int, std::string_view l) { seen.emplace_back(l); };
  Channel("#c");
  Feed(":bob!b@h JOIN #c");
  Feed(":bob!b@h JOIN #nowin");
  EXPECT_EQ(seen, (std::vector<std::string>{":bob!b@h JOIN #c", ":bob!b@h JOIN #nowin"}));
}

// ---- PART ----

TEST_F(DispatchTest, OwnPartClosesTheChannelWindow) {
  const int w = Channel("#c", {"me", "bob"});
  (void)w;
  Feed(":me!m@h PART #c");
  PumpUntil([&] { return Find("#c") < 0; }, 1000);
  EXPECT_LT(Find("#c"), 0);
  EXPECT_EQ(fe->destroyed(), (std::vector<std::string>{"#c"}));
}

TEST_F(DispatchTest, OtherPartRemovesTheNick) {
  const int w = Channel("#c", {"me", "@bob"});
  Feed(":bob!b@h PART #c :bye");
  EXPECT_EQ(NickListEntries(w), (std::vector<std::string>{"me"}));
  EXPECT_EQ(Find("#c"), w);
}

class HeadlessDispatchTest : public DispatchTest {
 protected:
  HeadlessDispatchTest() { headless = true; }
};

TEST_F(HeadlessDispatchTest, OwnPartLeavesAnInactiveWindow) {
  const int w = Channel("#c", {"me"});
  Feed(":me!m@h PART #c");
  platform::UiLoop::Get().RunOnce(20);
  ASSERT_EQ(Find("#c"), w);
  EXPECT_EQ(WindowTable::Get().Slot(w)->active.load(), 0);
}

// ---- KICK ----

struct KickCase {
  const char* name;
  bool rejoin;
  bool destroy;
};
class KickTable : public DispatchTest, public ::testing::WithParamInterface<KickCase> {};

TEST_P(KickTable, OwnKick) {
  const KickCase& k = GetParam();
  config::SetOptionInt(config::OptionIndex("General", "OnKickRejoin"), k.rejoin);
  config::SetOptionInt(config::OptionIndex("General", "OnKickDestroy"), k.destroy);
  const int w = Channel("#c", {"@bob", "me"});
  ClearSent();
  fe->Clear();
  Feed(":bob!b@h KICK #c me :go away");
  EXPECT_EQ(WasSent("JOIN #c"), k.rejoin) << ::testing::PrintToString(Sent());
  EXPECT_EQ(In("irc.test", "me was kicked from #c").size(), k.destroy ? 1u : 0u) << AllShown();
  PumpUntil([&] { return (Find("#c") < 0) == k.destroy; }, 1000);
  if (k.destroy) {
    EXPECT_LT(Find("#c"), 0);
  } else {
    ASSERT_EQ(Find("#c"), w);
    EXPECT_EQ(NickListEntries(w), (std::vector<std::string>{"@bob"}));
    EXPECT_EQ(WindowTable::Get().Slot(w)->active.load(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, KickTable,
                         ::testing::Values(KickCase{"plain", false, false}, KickCase{"rejoin", true, false},
                                           KickCase{"destroy", false, true}, KickCase{"both", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DispatchTest, KickOfOtherRemovesVictimOnly) {
  const int w = Channel("#c", {"@me", "bob", "carol"});
  ClearSent();
  Feed(":me!m@h KICK #c bob :bye");
  EXPECT_EQ(NickListEntries(w), (std::vector<std::string>{"@me", "carol"}));
  EXPECT_FALSE(WasSent("JOIN #c"));
}

// ---- QUIT and KILL ----

TEST_F(DispatchTest, QuitShowsInEveryWindowOfTheNick) {
  const int a = Channel("#a", {"bob", "me"});
  const int b = Channel("#b", {"@bob"});
  const int other = Channel("#other", {"me"});
  Query("bob");
  fe->Clear();
  Feed(":bob!b@h QUIT :Quit: gone");
  for (const char* win : {"#a", "#b", "bob"}) {
    auto got = In(win, "bob has quit IRC (Quit: gone)");
    EXPECT_EQ(got.size(), 1u) << win << "\n" << AllShown();
  }
  EXPECT_TRUE(In("#other").empty());
  EXPECT_TRUE(In("irc.test").empty());
  EXPECT_EQ(NickListEntries(a), (std::vector<std::string>{"me"}));
  EXPECT_TRUE(NickListEntries(b).empty());
  EXPECT_EQ(NickListEntries(other), (std::vector<std::string>{"me"}));
}

TEST_F(DispatchTest, KillActsAsQuitForTheVictim) {
  const int a = Channel("#a", {"bob", "me"});
  fe->Clear();
  Feed(":oper!o@h KILL bob :spam");
  EXPECT_EQ(In("#a", "bob was killed by oper (spam)").size(), 1u) << AllShown();
  EXPECT_EQ(NickListEntries(a), (std::vector<std::string>{"me"}));
}

// ---- NICK ----

TEST_F(DispatchTest, NickOfOtherRenamesEntriesAndQuery) {
  const int a = Channel("#a", {"@bob", "me"});
  const int none = Channel("#none", {"me"});
  const int q = Query("bob");
  const int multi = Query("carol,bob");
  fe->Clear();
  Feed(":bob!b@h NICK :robert");
  EXPECT_EQ(In("#a", "bob is now known as robert").size(), 1u) << AllShown();
  EXPECT_EQ(In("bob", "bob is now known as robert").size(), 1u) << AllShown();
  EXPECT_TRUE(In("#none").empty());
  EXPECT_EQ(NickListEntries(a), (std::vector<std::string>{"@robert", "me"}));
  EXPECT_EQ(NickListEntries(none), (std::vector<std::string>{"me"}));
  EXPECT_EQ(WindowTable::Get().Slot(q)->Name(), "robert");
  EXPECT_EQ(WindowTable::Get().Slot(multi)->Name(), "carol,robert");
}

TEST_F(DispatchTest, OwnNickChangeUpdatesTheSession) {
  const int a = Channel("#a", {"@me"});
  Feed(":me!m@h NICK newme");
  EXPECT_EQ(Session()->Get(&sessions::ServerSession::nick), "newme");
  EXPECT_EQ(NickListEntries(a), (std::vector<std::string>{"@newme"}));
  // The new nick is the own one from now on.
  Feed(":bob!b@h KICK #a newme :x");
  EXPECT_EQ(In("#a", "newme was kicked")[0].colour, Text());
}

// ---- MODE ----

struct ModeCase {
  const char* name;
  const char* modes;
  std::vector<std::string> after;
  bool queries;  // a MODE query for the channel goes out
};
class ModeTable : public DispatchTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTable, NickListAndQuery) {
  const ModeCase& m = GetParam();
  const int w = Channel("#c", {"@me", "%hal", "+val", "bob", ".own"});
  ClearSent();
  Feed(std::string(":me!m@h MODE #c ") + m.modes);
  EXPECT_EQ(NickListEntries(w), m.after) << m.name;
  EXPECT_EQ(WasSent("MODE #c"), m.queries) << ::testing::PrintToString(Sent());
}

const ModeCase kModeCases[] = {
    {"op", "+o bob", {".own", "@bob", "@me", "%hal", "+val"}, false},
    {"op as trailing argument", "+o :bob", {".own", "@bob", "@me", "%hal", "+val"}, false},
    {"deop", "-o me", {".own", "%hal", "+val", "bob", "me"}, false},
    {"voice plain", "+v bob", {".own", "@me", "%hal", "+bob", "+val"}, false},
    {"voice an operator changes nothing", "+v me", {".own", "@me", "%hal", "+val", "bob"}, false},
    {"devoice", "-v val", {".own", "@me", "%hal", "bob", "val"}, false},
    {"op a voiced nick", "+o val", {".own", "@me", "@val", "%hal", "bob"}, false},
    {"op a half-operator", "+o hal", {".own", "@hal", "@me", "+val", "bob"}, false},
    {"halfop", "+h bob", {".own", "@me", "%bob", "%hal", "+val"}, false},
    {"dehalfop", "-h hal", {".own", "@me", "+val", "bob", "hal"}, false},
    {"owner", "+q me", {".me", ".own", "%hal", "+val", "bob"}, false},
    {"deowner", "-q own", {"@me", "%hal", "+val", "bob", "own"}, false},
    {"several", "+o-v bob val", {".own", "@bob", "@me", "%hal", "val"}, false},
    {"ban before op", "+bo *!*@x bob", {".own", "@bob", "@me", "%hal", "+val"}, false},
    {"unknown nick", "+o nobody", {".own", "@me", "%hal", "+val", "bob"}, false},
    {"limit", "+l 10", {".own", "@me", "%hal", "+val", "bob"}, true},
    {"limit as trailing argument", "+l :10", {".own", "@me", "%hal", "+val", "bob"}, true},
    {"flag only", "+nt", {".own", "@me", "%hal", "+val", "bob"}, true},
    {"flag as trailing argument", ":+m", {".own", "@me", "%hal", "+val", "bob"}, true},
};
INSTANTIATE_TEST_SUITE_P(Modes, ModeTable, ::testing::ValuesIn(kModeCases), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

TEST_F(DispatchTest, UserModeSendsNoQuery) {
  ClearSent();
  Feed(":me MODE me :+iw");
  EXPECT_TRUE(Sent().empty()) << ::testing::PrintToString(Sent());
}

// ---- TOPIC ----

TEST_F(DispatchTest, TopicIsStoredAndCutWhenLong) {
  const int w = Channel("#c");
  Feed(":bob!b@h TOPIC #c :a new topic");
  EXPECT_EQ(Topic(w), "a new topic");
  Feed(":bob!b@h TOPIC #c :" + std::string(1999, 'x'));
  EXPECT_EQ(Topic(w).size(), 1999u);
  Feed(":bob!b@h TOPIC #c :" + std::string(2000, 'y'));
  EXPECT_EQ(Topic(w), std::string(1990, 'y'));
}

// ---- PRIVMSG ----

TEST_F(DispatchTest, PrivateMessageOpensQueryWindow) {
  Feed(":zed!z@h PRIVMSG me :are you there?");
  const int q = Find("zed");
  ASSERT_GE(q, 0);
  EXPECT_EQ(WindowTable::Get().Kind(q), sessions::kQueryWindow);
  EXPECT_EQ(WindowTable::Get().OwningServer(q), server);
  EXPECT_EQ(In("zed", "<zed> are you there?").size(), 1u) << AllShown();
  EXPECT_TRUE(In("irc.test", "are you there").empty());
}

TEST_F(DispatchTest, IncomingPrivatesLockKeepsTheMessageInTheServerWindow) {
  std::vector<std::string> events;
  GetDispatcherHooks().locking_event = [&](std::string_view ev, std::string_view arg, int) {
    events.push_back(std::string(ev) + "|" + std::string(arg));
    return 1;
  };
  Feed(":zed!z@h PRIVMSG me :hi");
  EXPECT_LT(Find("zed"), 0);
  EXPECT_EQ(In("irc.test", "<zed> hi").size(), 1u) << AllShown();
  EXPECT_EQ(events, (std::vector<std::string>{"IncomingPrivates|:zed!z@h PRIVMSG me :hi\r\n"}));
}

TEST_F(DispatchTest, PlainTextChannelShowsBareText) {
  Channel("#f");
  Feed(":irc.test 324 me #f +ntf");  // the channel's modes hold "f"
  Feed(":bob!b@h PRIVMSG #f :\x02raw\x02 text");
  ASSERT_EQ(In("#f", "raw text").size(), 1u) << AllShown();
  EXPECT_TRUE(In("#f", "<bob>").empty());
}

// ---- NOTICE ----

TEST_F(DispatchTest, ServerNoticeGoesToEveryWindowWithNoticeAll) {
  Channel("#a");
  Query("dave");
  fe->Clear();
  Feed(":irc.test NOTICE me :*** maintenance soon");
  for (const char* w : {"irc.test", "#a", "dave"}) EXPECT_EQ(In(w, "maintenance soon").size(), 1u) << w;
  config::SetOptionInt(config::OptionIndex("Appearance", "NOTICEALL"), 0);
  fe->Clear();
  WindowTable::Get().Activate(Find("#a"));
  Feed(":bob!b@h NOTICE me :just you");
  EXPECT_EQ(In("#a", "just you").size(), 1u) << AllShown();
  EXPECT_EQ(fe->lines().size(), 1u);
}

TEST_F(DispatchTest, IgnoredSenderStopsEverything) {
  int alerts = 0;
  GetDispatcherHooks().is_ignored = [](int, std::string_view l) { return l.find(":spam!") == 0; };
  GetDispatcherHooks().talk_alert = [&](int, std::string_view) { ++alerts; };
  Channel("#c");
  fe->Clear();
  Feed(":spam!s@h NOTICE #c :buy now");
  Feed(":spam!s@h PRIVMSG me :buy now");
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
  EXPECT_LT(Find("spam"), 0);
  EXPECT_EQ(alerts, 0);
  Feed(":ok!o@h NOTICE #c :fine");
  EXPECT_EQ(alerts, 1);
}

TEST_F(DispatchTest, CtcpPingReplyGoesToTheLagMeasurement) {
  int pings = 0;
  GetDispatcherHooks().ping_reply = [&](int, const ParsedLine& l) {
    ++pings;
    EXPECT_EQ(l.nick, "bob");
  };
  fe->Clear();
  Feed(":bob!b@h NOTICE me :\x01PING 12345\x01");
  EXPECT_EQ(pings, 1);
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
}

// ---- prefix-less lines ----

TEST_F(DispatchTest, PingIsAnsweredWithItsArgument) {
  ClearSent();
  fe->Clear();
  Feed("PING :irc.test");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PONG :irc.test"}));
  EXPECT_TRUE(fe->lines().empty()) << AllShown();  // "HidePP" is on by default
  config::SetOptionInt(config::OptionIndex("Appearance", "HidePP"), 0);
  Feed("PING 12345");
  EXPECT_TRUE(WasSent("PONG 12345"));
  EXPECT_EQ(In("irc.test", "PING - PONG").size(), 1u);
}

TEST_F(DispatchTest, CloneJoinsAndCreateOpensAWindow) {
  ClearSent();
  Feed("CLONE #copy");
  EXPECT_TRUE(WasSent("JOIN #copy"));
  Feed("CREATE #made 0");
  EXPECT_EQ(WindowTable::Get().Kind(Find("#made")), sessions::kChannelWindow);
}

// ---- the pipeline ----

TEST_F(DispatchTest, EarlyConsumersStopTheLine) {
  std::vector<std::string> order;
  auto& h = GetDispatcherHooks();
  h.feed_address_book = [&](int, std::string_view) { order.push_back("book"); };
  h.plugins = [&](int, std::string_view l) {
    order.push_back("plugins");
    return l.find("plug") != std::string_view::npos;
  };
  h.ctcp = [&](int, std::string_view l) {
    order.push_back("ctcp");
    return l.find("ctcp") != std::string_view::npos;
  };
  h.events = [&](int, std::string l) {
    order.push_back("events");
    return l.find("event") != std::string::npos;
  };
  Channel("#c");
  fe->Clear();
  for (const char* text : {"plug", "ctcp", "event"}) Feed(std::string(":bob!b@h PRIVMSG #c :") + text);
  EXPECT_TRUE(fe->lines().empty()) << AllShown();
  EXPECT_EQ(order, (std::vector<std::string>{"book", "plugins", "book", "plugins", "ctcp", "book", "plugins", "ctcp",
                                             "events"}));
  Feed(":bob!b@h PRIVMSG #c :through");
  EXPECT_EQ(In("#c", "<bob> through").size(), 1u);
}

TEST_F(DispatchTest, RawDisplayModes) {
  Channel("#c");
  GetDispatcherHooks().plugins = [](int, std::string_view l) { return l.find("eaten") != std::string_view::npos; };
  SetPref("Appearance", "RAWSERVER", "4");
  fe->Clear();
  Feed(":bob!b@h PRIVMSG #c :eaten");
  EXPECT_EQ(In("irc.test", ":bob!b@h PRIVMSG #c :eaten").size(), 1u) << AllShown();
  SetPref("Appearance", "RAWSERVER", "3");
  fe->Clear();
  Feed(":bob!b@h PRIVMSG #c :eaten");
  Feed(":bob!b@h PRIVMSG #c :kept");
  EXPECT_TRUE(In("irc.test", "eaten").empty()) << AllShown();
  EXPECT_EQ(In("irc.test", ":bob!b@h PRIVMSG #c :kept").size(), 1u) << AllShown();
  EXPECT_EQ(In("#c", "<bob> kept").size(), 1u);
  EXPECT_EQ(In("irc.test", ":bob!b@h PRIVMSG #c :kept")[0].colour, Text());
}

TEST_F(DispatchTest, ShowNumericsFlagIsCopiedForEveryLine) {
  for (uint8_t flag : {0, 1, 0}) {
    Session()->show_numerics.store(flag);
    Session()->numeric_pending.store(!flag);
    Feed(":irc.test NOTICE me :x");
    EXPECT_EQ(Session()->numeric_pending.load(), flag);
  }
}

TEST_F(DispatchTest, InvalidServerWindowDoesNothing) {
  EXPECT_FALSE(Dispatch(-1, "PING :x\r\n"));
  EXPECT_FALSE(Dispatch(999, "PING :x\r\n"));
  const int c = Channel("#c");
  ClearSent();
  EXPECT_FALSE(Dispatch(c, "PING :x\r\n"));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(DispatchTest, InstallMakesTheConnectionHookDispatch) {
  InstallDispatcher();
  ASSERT_TRUE(static_cast<bool>(sessions::GetHooks().dispatch_line));
  ClearSent();
  sessions::GetHooks().dispatch_line(server, "PING :via.hook\r\n");
  EXPECT_TRUE(WasSent("PONG :via.hook"));
}

// ---- secure messages ----

// A stand-in cipher: XOR with the key, the way a stream cipher behaves for the message form.
std::optional<std::string> XorCipher(std::string_view key, std::string_view data, bool) {
  std::string out(data);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  return out;
}

std::string TestKey() {
  std::string k;
  for (int i = 0; i < 127; ++i) k += static_cast<char>('A' + i % 26);
  return k + ' ';  // a key may end in a blank
}

TEST_F(DispatchTest, SecureKeyOfferSecuresTheQuery) {
  const int q = Query("bob");
  ClearSent();
  fe->Clear();
  Feed(":bob!b@h PRIVMSG me :" + std::string(kSecureKeyMarker) + TestKey());
  auto slot = WindowTable::Get().Slot(q);
  EXPECT_EQ(slot->secure_message.load(), 1);
  {
    std::lock_guard lock(slot->mutex);
    EXPECT_EQ(slot->secure_key, TestKey());
  }
  EXPECT_TRUE(WasSent("NOTICE bob :" + std::string(kSecureKeyMarker)));
  EXPECT_EQ(In("bob", config::Msg(178)).size(), 1u) << AllShown();
  EXPECT_TRUE(In("bob", "SECUREMSGKEY").empty());
  // The key file.
  bool found = false;
  if (DIR* d = opendir(platform::ResolvePath("DYN").c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.rfind("bob-", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".KEY") {
        std::ifstream f(platform::ResolvePath("DYN/" + n), std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        found = content == TestKey();
      }
    }
    closedir(d);
  }
  EXPECT_TRUE(found);

  // Encrypted messages are shown decrypted.
  GetDispatcherHooks().cipher = XorCipher;
  auto wire = EncryptSecureMessage(TestKey(), "secret words");
  ASSERT_TRUE(wire.has_value());
  fe->Clear();
  Feed(":bob!b@h PRIVMSG me :" + *wire);
  EXPECT_EQ(In("bob", "<bob> secret words").size(), 1u) << AllShown();
}

TEST_F(DispatchTest, SecureKeyOfferRefusedForSeveralTargets) {
  const int q = Query("bob,carol");
  ClearSent();
  Feed(":bob!b@h PRIVMSG me :" + std::string(kSecureKeyMarker) + TestKey());
  EXPECT_EQ(WindowTable::Get().Slot(q)->secure_message.load(), 0);
  EXPECT_TRUE(WasSent("NOTICE bob :\x03-SECUREMSGFAILEDEMULTI-\x03"));
}

TEST(SecureBytes, RoundTripEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string enc = EncodeSecureBytes(all);
  EXPECT_EQ(enc.find_first_of(std::string_view("\r\n\0\x01", 4)), std::string::npos);
  EXPECT_EQ(enc.substr(0, 2), "!!");
  auto back = DecodeSecureBytes(enc);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, all);
  EXPECT_FALSE(DecodeSecureBytes("%").has_value());
  EXPECT_FALSE(DecodeSecureBytes("ab").has_value());
}

}  // namespace
}  // namespace vanta::dispatch::test
