// Typed lines and what they become: the lines sent to the server and the lines shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include "commands/command_text.h"
#include "commands/execute_line.h"
#include "commands/pending_pings.h"
#include "commands/run_command.h"
#include "commands/secure_text.h"
#include "commands/stdin_input.h"
#include "commands_fixture.h"
#include "config/options.h"
#include "output/show_text.h"
#include "sessions/window_table.h"

namespace vanta::commands {
namespace {

using sessions::WindowTable;

enum class In { Server, Channel, Query };

struct Case {
  const char* name;
  In window;
  std::string line;
  std::vector<std::string> sent;  // exactly these lines, in order
  std::string shown = {};         // a shown line containing this ("" = not checked)
  bool literally = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TypedLines : public CommandsTest, public ::testing::WithParamInterface<Case> {};

TEST_P(TypedLines, SendAndShow) {
  const Case& c = GetParam();
  const int w = c.window == In::Server ? server : c.window == In::Channel ? channel : query;
  Type(w, c.line, c.literally);
  EXPECT_EQ(Sent(), c.sent) << c.line;
  if (!c.shown.empty()) {
    EXPECT_FALSE(Shown(c.shown).empty()) << "expected shown: " << c.shown << "\n" << AllShown();
  }
}

const Case kCases[] = {
    {"ChannelText", In::Channel, "hello there", {"PRIVMSG #chan :hello there"}, "<me> hello there"},
    {"SayLiterally", In::Channel, "/Join #x", {"PRIVMSG #chan :/Join #x"}, "/Join #x", true},
    {"ServerWindowTextIsRaw", In::Server, "PRIVMSG x :raw", {"PRIVMSG x :raw"}},
    {"QueryText", In::Query, "hi bob", {"PRIVMSG bob :hi bob"}, "<me> hi bob"},
    {"JoinCapitals", In::Channel, "/JOIN #a,#b key", {"JOIN #a,#b key"}},
    {"JoinLongerWord", In::Channel, "/joinnow #a", {"JOIN #a"}},
    {"PartWithArgumentsGoesRaw", In::Channel, "/part #chan bye now", {"part #chan bye now"}},
    {"UnknownCommandRaw", In::Channel, "/frobnicate a  b", {"frobnicate a  b"}},
    {"Msg", In::Server, "/msg bob hi there", {"PRIVMSG bob :hi there"}, " MSG \xae" "bob hi there"},
    {"MsgWithoutText", In::Server, "/msg bob", {"PRIVMSG bob :"}},
    {"MsgWithoutTarget", In::Server, "/msg ", {}, "Usage"},
    {"Notice", In::Server, "/notice bob psst", {"NOTICE bob :psst"}, " NOTICE \xae" "bob psst"},
    {"Note", In::Server, "/note bob psst", {"NOTICE bob :psst"}},
    {"Mme", In::Server, "/mme #chan waves", {"PRIVMSG #chan :\x01" "ACTION waves\x01"}, " ME \xae#chan waves"},
    {"MeInChannel", In::Channel, "/me waves", {"PRIVMSG #chan :\x01" "ACTION waves\x01"}, "me waves"},
    {"ActionInQuery", In::Query, "/action nods", {"PRIVMSG bob :\x01" "ACTION nods\x01"}},
    {"CtcpAsTyped", In::Server, "/ctcp bob version", {"PRIVMSG bob :\x01version\x01"}, " CTCP \xae" "bob version"},
    {"CtcpWithArguments", In::Server, "/ctcp bob ping 123", {"PRIVMSG bob :\x01ping 123\x01"}},
    {"CtcpWithoutCommandGoesRaw", In::Server, "/ctcp bob", {"ctcp bob"}},
    {"CtcpReply", In::Server, "/ctcpreply bob VERSION x 1", {"NOTICE bob :\x01VERSION x 1\x01"}},
    {"CtcpReplyEmptyArguments", In::Server, "/ctcpreply bob PING", {"NOTICE bob :\x01PING \x01"}},
    {"Topic", In::Channel, "/topic #chan a new topic", {"TOPIC #chan :a new topic"}},
    {"TopicCleared", In::Channel, "/topic #chan", {"TOPIC #chan :"}},
    {"Kick", In::Channel, "/kick #chan bob go away", {"KICK #chan bob :go away"}},
    {"KickWithoutVictim", In::Channel, "/kick #chan", {}, "Usage: /kick"},
    {"Whois", In::Server, "/whois bob", {"WHOIS bob"}},
    {"AwayEmpty", In::Server, "/away ", {"AWAY :"}},
    {"Raw", In::Server, "/raw MODE #chan +m", {"MODE #chan +m"}},
    {"Quote", In::Server, "/QUOTE VERSION", {"VERSION"}},
    {"Quit", In::Server, "/quit good night", {"QUIT :good night"}},
    {"SoundNotPlayedLocally", In::Channel, "/sound #chan *bell.wav ding", {"PRIVMSG #chan :\x01SOUND bell.wav ding\x01"},
     "**sound** me (bell.wav) ding"},
    {"SoundNeedsFile", In::Channel, "/sound #chan", {}},
    // Escapes are decoded, but a decoded line break ends the argument: no second line.
    {"EscapedLineBreak", In::Server, "/msg bob a\\x0d\\x0aQUIT :x", {"PRIVMSG bob :a"}},
    {"EscapedByte", In::Server, "/msg bob \\x02bold", {"PRIVMSG bob :\x02" "bold"}},
};

INSTANTIATE_TEST_SUITE_P(Commands, TypedLines, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- ExecuteLine's own steps ---------------------------------------------------------------------

TEST_F(CommandsTest, LoneCrAndNulNeverSplitALine) {
  ExecuteLine("hello\rQUIT :x\r\n", server, channel, false, false);
  ExecuteLine(std::string("ab\0QUIT\r\n", 9), server, channel, false, false);
  ExecuteLine("PING a\nQUIT\r\n", server, server, false, false);
  Settle();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG #chan :hello QUIT :x", "PRIVMSG #chan :ab", "PING a QUIT"}));
}

TEST_F(CommandsTest, SplitInputDropsEmptyLinesAndNul) {
  EXPECT_EQ(SplitInput("\r\n\n"), std::vector<std::string>{});
  EXPECT_EQ(SplitInput(std::string("\r\n\nabc\r\r\nd\0e\n\n", 15)), (std::vector<std::string>{"abc\r\n", "de\r\n"}));
  EXPECT_EQ(SplitInput("one"), (std::vector<std::string>{"one\r\n"}));
}

TEST_F(CommandsTest, PrefixAndMessageTargets) {
  SetPref("MoreOptions", "Prefix", "[tag]");  // the echo's template reads it from the file
  config::SetOptionText(config::OptionIndex("MoreOptions", "Prefix"), "[tag]");
  Type(channel, "hello");
  Type(query, "hi");
  Type(channel, "/target #chan +bob");
  Type(channel, "/target #chan +ann");
  Type(channel, "x");
  Type(channel, "/target #chan -bob");
  Type(channel, "y");
  Type(channel, "/target #chan");
  Type(channel, "z");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG #chan :[tag]hello", "PRIVMSG bob :[tag]hi",
                                              "PRIVMSG #chan bob,ann :[tag]x", "PRIVMSG #chan ann :[tag]y",
                                              "PRIVMSG #chan :[tag]z"}));
  EXPECT_FALSE(Shown("<me> [tag]hello").empty()) << AllShown();
  // "/target" for a channel that is not open is not handled: it goes raw.
  Type(channel, "/target #nowhere +x");
  EXPECT_EQ(Sent().back(), "target #nowhere +x");
}

TEST_F(CommandsTest, TargetStarTakesTheWholeNickList) {
  SetMembers("#chan", {"@op", "+voice", "plain"});
  Type(channel, "/target #chan *");
  EXPECT_EQ(MessageTargets(channel), "op,voice,plain");
}

TEST_F(CommandsTest, PlainTextChannelHasNoEcho) {
  WindowTable::Get().Slot(channel)->mode_text = "+ntf";
  Type(channel, "quiet");
  EXPECT_EQ(Sent(), std::vector<std::string>{"PRIVMSG #chan :quiet"});
  EXPECT_TRUE(Shown("quiet").empty()) << AllShown();
}

TEST_F(CommandsTest, ReturnFromAwaySendsAwayOnce) {
  auto s = WindowTable::Get().Session(server);
  Type(server, "/away lunch");
  EXPECT_TRUE(s->away.load());
  Type(channel, "no key press away");  // setting off: nothing extra
  config::SetOptionInt(config::OptionIndex("General", "KeyPressAway"), 1);
  Type(channel, "back");
  Type(channel, "again");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"AWAY :lunch", "PRIVMSG #chan :no key press away", "AWAY",
                                              "PRIVMSG #chan :back", "PRIVMSG #chan :again"}));
}

TEST_F(CommandsTest, OnInputMayHaltTheLine) {
  std::vector<std::string> seen;
  GetCommandHooks().on_input = [&](std::string_view line, int) {
    seen.emplace_back(line);
    return line.find("secret") != std::string_view::npos ? 1 : 0;
  };
  Type(channel, "secret stuff");
  Type(channel, "public");
  ExecuteLine("from a script\r\n", server, channel, false, false);  // scripts' lines skip OnInput
  Settle();
  EXPECT_EQ(seen, (std::vector<std::string>{"secret stuff\r\n", "public\r\n"}));
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG #chan :public", "PRIVMSG #chan :from a script"}));
}

TEST_F(CommandsTest, AliasStepExpandsOnItsOwnThread) {
  std::vector<int> servers;
  GetCommandHooks().expand_alias = [&](std::string& line, int a) {
    servers.push_back(a);
    if (StartsWithNoCase(line, "/greet")) {
      line = "/hop\r\n";
      return true;
    }
    if (StartsWithNoCase(line, "/hop")) {
      line = "/PRIVMSG bob :hi\r\n";
      return true;
    }
    if (StartsWithNoCase(line, "/textonly")) {
      line = "just text\r\n";
      return true;
    }
    if (StartsWithNoCase(line, "/forever")) return true;  // never settles
    return false;
  };
  Type(channel, "/greet");
  Type(channel, "/textonly");
  Type(channel, "/forever");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG bob :hi", "forever"}));
  EXPECT_EQ(servers.front(), server);
}

TEST_F(CommandsTest, InputLockAsksForThePassword) {
  SetInputLock(true, "pw");
  fe->text_answers.push_back(std::string("wrong"));
  Type(channel, "first");
  EXPECT_TRUE(InputLocked());
  fe->text_answers.push_back(std::nullopt);  // cancelled
  Type(channel, "second");
  fe->text_answers.push_back(std::string("pw"));
  Type(channel, "third");
  EXPECT_FALSE(InputLocked());
  Type(channel, "fourth");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG #chan :third", "PRIVMSG #chan :fourth"}));
  EXPECT_FALSE(Shown("Wrong password").empty());
  EXPECT_FALSE(Shown("Input unlocked").empty());
}

TEST_F(CommandsTest, SecureQueryEncryptsPlainTextOnly) {
  auto slot = WindowTable::Get().Slot(query);
  const std::string key(128, '\x5a');
  slot->secure_key = key;
  slot->secure_message.store(1);
  Type(query, "secret words");
  Type(query, "\x01" "VERSION\x01");  // a CTCP goes in clear
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "PRIVMSG bob :" + EncryptQueryText("secret words", key));
  EXPECT_EQ(DecodeSecureText(sent[0].substr(13)), CipherEncrypt("secret words", key));
  EXPECT_EQ(CipherDecrypt(CipherEncrypt("secret words", key), key), "secret words");
  EXPECT_EQ(sent[1], "PRIVMSG bob :\x01VERSION\x01");
  // The key offer itself is not echoed.
  fe->text_answers.clear();
  const std::size_t before = fe->lines().size();
  slot->secure_message.store(0);
  ExecuteLine(std::string(kSecureMessageMarker) + std::string(128, 'k') + "\r\n", server, query, false, false);
  EXPECT_EQ(fe->lines().size(), before);
}

TEST_F(CommandsTest, CipherWithAllZeroKeyChangesNothing) {
  EXPECT_EQ(CipherEncrypt("abc\x01", std::string(128, '\0')), "abc\x01");
  EXPECT_EQ(EncodeSecureText(std::string("\0\r\n\x01z", 5)), "!!\"\"##$$%z");
}

// ---- bad input ------------------------------------------------------------------------------------

// The pieces of a long message, reassembled; every line checked against the limit.
std::string Reassemble(const std::vector<std::string>& sent, const std::string& head) {
  std::string joined;
  for (auto& l : sent) {
    EXPECT_LE(l.size(), kMaxProtocolLine);
    EXPECT_EQ(l.rfind(head, 0), 0u) << l;
    joined += l.substr(head.size());
  }
  return joined;
}

std::string LongText(std::size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "word" + std::to_string(i) + " \xc3\xa9 ";
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TEST_F(CommandsTest, LongTextIsSplitIntoLinesThatFit) {
  const std::string text = LongText(8000);
  Type(channel, text);
  auto sent = Sent();
  EXPECT_GT(sent.size(), 15u);
  EXPECT_EQ(Reassemble(sent, "PRIVMSG #chan :"), text);
  EXPECT_TRUE(Shown("send queue is full").empty());
}

TEST_F(CommandsTest, TextBeyondTheSendQueueIsReported) {
  // 20 KB at once is more than the flood queue holds: what fits is sent, the user is told the rest.
  const std::string text = LongText(20000);
  Type(channel, text);
  const std::string joined = Reassemble(Sent(), "PRIVMSG #chan :");
  EXPECT_GT(joined.size(), 5000u);
  EXPECT_EQ(text.rfind(joined, 0), 0u) << "pieces arrive in order, none lost in between";
  EXPECT_EQ(Shown("send queue is full").size(), 1u) << AllShown();
}

TEST_F(CommandsTest, OverlongRawLineIsRefusedWithAMessage) {
  Type(server, std::string(20000, 'x'));
  Type(server, "/raw " + std::string(600, 'y'));
  Type(channel, "/frob" + std::string(600, 'z'));
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(Shown("too long for the server").size(), 3u) << AllShown();
}

TEST_F(CommandsTest, JoinOfManyChannelsIsSplitAtCommas) {
  std::string list;
  for (int i = 0; i < 500; ++i) list += (i ? ",#channel" : "#channel") + std::to_string(i);
  Type(channel, "/join " + list);
  auto sent = Sent();
  ASSERT_GT(sent.size(), 1u);
  std::string joined;
  for (auto& l : sent) {
    EXPECT_LE(l.size(), kMaxProtocolLine);
    ASSERT_EQ(l.rfind("JOIN #", 0), 0u) << l;
    joined += (joined.empty() ? "" : ",") + l.substr(5);
  }
  EXPECT_EQ(joined, list);
}

TEST_F(CommandsTest, ServerPortMustBeANumberInRange) {
  const int before = WindowTable::Get().Count();
  Type(server, "/server 127.0.0.1 99999");
  Type(server, "/server 127.0.0.1 66a");
  Type(server, "/server 127.0.0.1:0");
  Type(server, "/reconnect 127.0.0.1 -5");
  EXPECT_EQ(WindowTable::Get().Count(), before);
  EXPECT_FALSE(Shown("Bad port \"99999\"").empty()) << AllShown();
  EXPECT_FALSE(Shown("Bad port \"66a\"").empty());
  EXPECT_FALSE(Shown("Bad port \"0\"").empty());
  EXPECT_FALSE(Shown("Bad port \"-5\"").empty());
}

TEST_F(CommandsTest, OddBytesInUnknownCommands) {
  Type(channel, "/\x01\xff\x7f odd \x02");
  Type(channel, "/");
  Type(channel, "/ ");
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "\x01\xff\x7f odd \x02");
  EXPECT_EQ(sent[1], " ");
}

// ---- window commands -------------------------------------------------------------------------------

TEST_F(CommandsTest, PartClosesTheWindow) {
  Type(channel, "/PART");
  EXPECT_EQ(WindowTable::Get().FindByName("#chan", server), -1);
  EXPECT_EQ(Sent(), std::vector<std::string>{"PART #chan"});
}

TEST_F(CommandsTest, QueryOpensOrReusesAWindowAndSaysTheText) {
  Type(server, "/query carol hello carol");
  const int carol = WindowTable::Get().FindByName("carol", server);
  ASSERT_GE(carol, 0);
  EXPECT_EQ(WindowTable::Get().Kind(carol), sessions::kQueryWindow);
  EXPECT_EQ(WindowTable::Get().Active(), carol);
  Type(server, "/query carol again");
  EXPECT_EQ(WindowTable::Get().FindByName("carol", server), carol);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG carol :hello carol", "PRIVMSG carol :again"}));
  Type(server, "/fquery dave");
  const int dave = WindowTable::Get().FindByName("dave", server);
  ASSERT_GE(dave, 0);
  EXPECT_TRUE(WindowTable::Get().Slot(dave)->alternate_font);
}

TEST_F(CommandsTest, MultiQueryAddsAndRemovesNicks) {
  Type(query, "/mquery bob +carol");
  EXPECT_EQ(WindowTable::Get().Slot(query)->Name(), "bob,carol");
  Type(query, "/mquery bob,carol dave");
  EXPECT_EQ(WindowTable::Get().Slot(query)->Name(), "bob,carol,dave");
  Type(query, "/mquery bob,carol,dave -carol");
  EXPECT_EQ(WindowTable::Get().Slot(query)->Name(), "bob,dave");
  Type(query, "/mquery bob,dave +bob");  // already a member: nothing changes
  EXPECT_EQ(WindowTable::Get().Slot(query)->Name(), "bob,dave");
  Type(query, "to both");
  EXPECT_EQ(Sent(), std::vector<std::string>{"PRIVMSG bob,dave :to both"});
}

TEST_F(CommandsTest, WallNoticesFollowTheLevels) {
  SetMembers("#chan", {".owner", "@op1", "@me", "@op2", "+voice", "plain"});
  Type(channel, "/wallo #chan meeting");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"NOTICE owner :VantaIRC wALLO(#chan) : meeting",
                                              "NOTICE op1 :VantaIRC wALLO(#chan) : meeting",
                                              "NOTICE op2 :VantaIRC wALLO(#chan) : meeting"}));
  EXPECT_FALSE(Shown("=wALLO=").empty()) << AllShown();
  Type(channel, "/wallexv #chan v");
  EXPECT_EQ(Sent().back(), "NOTICE voice :VantaIRC wALLEXV(#chan) : v");
  Type(channel, "/pops #chan ops");
  EXPECT_EQ(Sent().back(), "NOTICE op2 :-CHANOPS- #chan:ops");
  const std::size_t count = Sent().size();
  Type(channel, "/opnotice #chan only shown");
  EXPECT_EQ(Sent().size(), count);
  Type(channel, "/wallv #nowhere x");
  EXPECT_EQ(Sent().size(), count);
}

TEST_F(CommandsTest, ResetKicksEveryoneButMe) {
  SetMembers("#chan", {"@me", "@op", "user"});
  WindowTable::Get().Session(server)->ircx.store(1);
  Type(channel, "/reset #chan");
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        "MODE #chan +b *!*@*", "ACCESS #chan CLEAR", "ACCESS #chan ADD DENY *!*@* 5 :Channel Reset",
                        "PROP #chan MEMBERKEY :", "PROP #chan HOSTKEY :", "PROP #chan OWNERKEY :VantaIRC",
                        "KICK #chan op :Channel Reset", "KICK #chan user :Channel Reset"}));
}

TEST_F(CommandsTest, CtcpPingIsRemembered) {
  auto s = WindowTable::Get().Session(server);
  Type(server, "/ctcp Bob PING");
  EXPECT_EQ(PendingPingCount(s), 1);
  EXPECT_TRUE(TakePendingPing(s, "bob").has_value());
  EXPECT_FALSE(TakePendingPing(s, "bob").has_value());
  Type(server, "/ctcp bob VERSION");
  EXPECT_EQ(PendingPingCount(s), 0);
}

TEST_F(CommandsTest, QuitClearsTheReconnectFlag) {
  auto s = WindowTable::Get().Session(server);
  s->reconnect.store(1);
  Type(server, "/quit bye");
  EXPECT_FALSE(s->reconnect.load());
}

TEST_F(CommandsTest, JoinAndQuitAskWhenEmpty) {
  fe->text_answers.push_back(std::string("#asked"));
  Type(channel, "/join");
  Type(channel, "/join");  // cancelled
  fe->text_answers.push_back(std::string("typed reason"));
  Type(channel, "/quit");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"JOIN #asked", "QUIT :typed reason"}));
}

TEST_F(CommandsTest, NamesInAChannelGoesToTheServer) {
  Type(channel, "/names");
  Type(channel, "/names #other");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"names #chan", "names #other"}));
}

TEST_F(CommandsTest, DisplaySaysTheTextInEachSelectedWindow) {
  MakeWindow("#two", sessions::kChannelWindow, server);
  Settle();
  ASSERT_EQ(Sent(), std::vector<std::string>{"MODE #two"});
  Type(query, "/display # hi %s");
  auto sent = Sent();
  EXPECT_EQ(sent, (std::vector<std::string>{"MODE #two", "PRIVMSG #chan :hi #chan", "PRIVMSG #two :hi #two"}));
  EXPECT_EQ(WindowTable::Get().Active(), query) << "the active window is restored";
}

TEST_F(CommandsTest, NestedDisplayLinesAreBounded) {
  std::string line;
  for (int i = 0; i < 30; ++i) line += "/display * ";
  Type(channel, line + "deep");
  // Each level fans out over the two windows; the nesting stops before that multiplies for ever.
  EXPECT_LT(Sent().size(), 100u);
}

TEST_F(CommandsTest, DccChatTextAndLinks) {
  sessions::CreateRequest r;
  r.name = "peer";
  r.kind = sessions::kDccWindow;
  r.owning_server = server;
  const int dcc = WindowTable::Get().Create(r);
  r.name = "other";
  const int other = WindowTable::Get().Create(r);
  ASSERT_GE(other, 0);
  const int fd = AttachDcc(dcc), fd_other = AttachDcc(other);
  auto read_all = [](int f) {
    char buf[4096];
    ssize_t n = read(f, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  };
  Type(dcc, "hello peer");
  EXPECT_EQ(read_all(fd), "hello peer\r\n");
  EXPECT_FALSE(Shown("<me> hello peer").empty()) << AllShown();
  WindowTable::Get().Slot(other)->linked.store(1);
  Type(dcc, "to all");
  EXPECT_EQ(read_all(fd_other), "<me> to all\r\n");
  EXPECT_EQ(read_all(fd), "<me> to all\r\n");
  WindowTable::Get().Slot(other)->linked.store(0);
  Type(dcc, "/me waves");
  EXPECT_EQ(read_all(fd), "\x01" "ACTION waves\x01\r\n");
  // A secure chat: one frame, 2-byte length first.
  auto slot = WindowTable::Get().Slot(dcc);
  slot->secure_key = std::string(128, '\x11');
  slot->secure_message.store(1);
  Type(dcc, "hush");
  const std::string frame = read_all(fd);
  const std::string cipher = CipherEncrypt("hush", std::string(128, '\x11'));
  EXPECT_EQ(frame, std::string("\x04\x00", 2) + cipher);
  EXPECT_TRUE(Sent().empty()) << "nothing of a DCC chat goes to the server";
}

TEST_F(CommandsTest, LaterSubsystemsGetTheirWords) {
  std::vector<std::string> words;
  GetCommandHooks().more_commands = [&](std::string_view word, std::string_view, int) {
    words.emplace_back(word);
    return word == "/clear" ? 1 : 0;
  };
  Type(channel, "/clear");
  Type(channel, "/dcc chat bob");
  EXPECT_EQ(words, (std::vector<std::string>{"/clear", "/dcc "}));
  EXPECT_EQ(Sent(), std::vector<std::string>{"dcc chat bob"});
}

TEST_F(CommandsTest, FloodDelayQueuesLines) {
  SetPref("MoreOptions", "FloodDelay", "60000");
  TypeInput(channel, "/msg bob one");
  TypeInput(channel, "/msg bob two");
  TypeInput(channel, "/msg bob three");
  EXPECT_EQ(Sent(), std::vector<std::string>{"PRIVMSG bob :one"});
  auto s = WindowTable::Get().Session(server);
  std::lock_guard lock(s->send_mutex);
  EXPECT_EQ(s->send_queue, "PRIVMSG bob :two\r\nPRIVMSG bob :three\r\n");
}

}  // namespace
}  // namespace vanta::commands

namespace vanta::commands {
namespace {

TEST_F(CommandsTest, TypedInputReaderTypesCompleteLinesInTheActiveWindow) {
  WindowTable::Get().Activate(channel);
  TypedInput reader(-1);
  reader.Feed("hello\r\nwor");
  Settle();
  EXPECT_EQ(Sent(), std::vector<std::string>{"PRIVMSG #chan :hello"});
  reader.Feed("ld\n/msg bob x\n");
  Settle();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"PRIVMSG #chan :hello", "PRIVMSG #chan :world", "PRIVMSG bob :x"}));
}

}  // namespace
}  // namespace vanta::commands
