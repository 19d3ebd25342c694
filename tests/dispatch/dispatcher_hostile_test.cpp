// Hostile server lines through the whole dispatcher: nothing crashes, and nothing the client sends
// back ever carries a line break or NUL inside a protocol line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatcher_support.h"

namespace vanta::dispatch::test {
namespace {

using sessions::WindowTable;

// Every protocol line the client wrote ends in CR LF and holds no other CR, LF or NUL.
::testing::AssertionResult CleanProtocol(const std::string& bytes) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) return ::testing::AssertionFailure() << "unterminated: " << bytes.substr(start);
    const std::string line = bytes.substr(start, end - start);
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      return ::testing::AssertionFailure() << "line break or NUL inside: " << ::testing::PrintToString(line);
    start = end + 2;
  }
  return ::testing::AssertionSuccess();
}

class HostileLines : public DispatchTest {
 protected:
  void SetUp() override {
    DispatchTest::SetUp();
    // Settings that make the dispatcher answer as much as it can.
    config::SetOptionInt(config::OptionIndex("General", "OnKickRejoin"), 1);
    config::SetOptionInt(config::OptionIndex("Appearance", "HidePP"), 0);
    Channel("#c", {"@me", "bob"});
    Query("bob");
  }
};

TEST_F(HostileLines, NeverCrashNeverBreakALine) {
  const std::string nul_line = std::string(":bob!b@h PRIVMSG #c :before\0after", 33);
  std::string many_params = ":bob!b@h MODE #c +";
  std::string args;
  for (int i = 0; i < 500; ++i) {
    many_params += (i % 2) ? 'o' : 'v';
    args += " bob";
  }
  many_params += args;
  std::string many_words = ":bob!b@h PRIVMSG #c :";
  for (int i = 0; i < 500; ++i) many_words += "w ";
  const std::string big_nick(10 * 1024, 'n');

  const std::vector<std::string> lines = {
      "",
      ":",
      "::",
      ": ",
      ":x",
      ":x ",
      ":x  JOIN",
      ":x JOIN",
      ":x JOIN :",
      ":x JOIN ::",
      ":me JOIN :",
      ":me!m@h JOIN",
      ":bob!b@h KICK",
      ":bob!b@h KICK #c",
      ":bob!b@h KICK #c :",
      ":bob!b@h KICK #c me",
      ":bob!b@h MODE",
      ":bob!b@h MODE #c",
      ":bob!b@h MODE #c +o",
      ":bob!b@h MODE #c -o-o-o-o",
      ":bob!b@h MODE #c +l",
      ":bob!b@h NICK",
      ":bob!b@h NICK :",
      ":bob!b@h NICK :,",
      ":bob!b@h QUIT",
      ":bob!b@h PRIVMSG",
      ":bob!b@h PRIVMSG me",
      ":bob!b@h PRIVMSG me :",
      ":bob!b@h PRIVMSG me :\x01",
      ":bob!b@h PRIVMSG me :\x01\x01",
      ":bob!b@h PRIVMSG me :\x01" "ACTION",
      ":bob!b@h PRIVMSG me :\x03-SECUREMSGKEY-\x03",
      ":bob!b@h PRIVMSG me :\x03-SECUREMSGKEY-\x03short",
      ":bob!b@h NOTICE me :\x01",
      ":bob!b@h NOTICE me :\x01PING",
      ":bob!b@h NOTICE @#c :-CHANOPS- ",
      ":bob!b@h NOTICE me :[\x02WallOp\x02:\x02",
      ":bob!b@h NOTICE me :VantaIRC wALLO(",
      ":bob!b@h NOTICE me :VantaIRC wALLEXV(#c",
      ":bob!b@h KNOCK #c 47",
      ":bob!b@h TOPIC #c",
      "PING",
      "PING ",
      "PING :a\rb",
      "PING :a\nb",
      std::string("PING :a\0b", 9),
      "CLONE",
      "CLONE #x\ry",
      "CREATE",
      "ERROR",
      ":irc 001",
      ":irc 0",
      ":irc 4294967296 me :x",
      ":irc 00001 me :x",
      "\x01\x02\x03",
      ":bob!b@h PRIVMSG #c :a\rJOIN #evil",
      ":bob!b@h PRIVMSG #c :a\nJOIN #evil",
      nul_line,
      many_params,
      many_words,
      ":" + big_nick + "!u@h PRIVMSG #c :hi",
      ":" + big_nick + "!u@h PRIVMSG me :hi",
      ":" + big_nick + "!u@h JOIN #c",
      ":bob!b@h NICK :" + big_nick,
      ":" + big_nick + " " + big_nick + " " + big_nick,
      ":bob!b@h KICK #c " + big_nick + " :" + big_nick,
      ":me!m@h JOIN :#ctl\x01\x02\x07\x1b[31m",
      ":me!m@h JOIN :#" + std::string(400, 'L'),
      ":bob!b@h KICK #ctl\x01\x02\x07\x1b[31m me :x",
      "CLONE #clone\x01\x07",
      ":bob!b@h PROP #c MEMBERKEY",
      ":bob!b@h PROP #c TOPIC",
      ":bob!b@h INVITE me :" + std::string(3000, 'i'),
  };
  for (const auto& l : lines) {
    SCOPED_TRACE(::testing::PrintToString(l.substr(0, 80)));
    Dispatch(server, l + "\r\n");
    Dispatch(server, l);  // also without a line end
  }
  // Raw bytes 0..255 as lines of their own.
  for (int b = 0; b < 256; ++b) Dispatch(server, std::string(":bob!b@h PRIVMSG #c :") + static_cast<char>(b) + "\r\n");
  EXPECT_TRUE(CleanProtocol(Bytes()));
  // The client is still in a sane state: the windows it had are there and still work.
  const int c = Find("#c");
  ASSERT_GE(c, 0);
  fe->Clear();
  Feed(":carol!c@h JOIN #c");
  EXPECT_EQ(In("#c", "carol (c@h) has joined #c").size(), 1u) << AllShown();
  // The control-byte channel was opened by the own JOIN; its name keeps the bytes, the protocol
  // line that asked for its modes stayed one line.
  EXPECT_GE(Find("#ctl\x01\x02\x07\x1b[31m"), 0);
  EXPECT_NE(Bytes().find("MODE #ctl\x01\x02\x07\x1b[31m\r\n"), std::string::npos);
  EXPECT_NE(Bytes().find("JOIN #ctl\x01\x02\x07\x1b[31m\r\n"), std::string::npos);  // the rejoin after the kick
}

TEST_F(HostileLines, InvitationIsCutToItsBuffer) {
  Feed(":bob!b@h INVITE me :" + std::string(3000, 'i'));
  EXPECT_EQ(Session()->Get(&sessions::ServerSession::last_invitation).size(), 499u);
}

TEST_F(HostileLines, PrefixCharactersInAJoiningNickDoNotForgeStatus) {
  const int c = Find("#c");
  Feed(":@evil!e@h JOIN #c");
  EXPECT_EQ(NickStanding(c, "evil"), -1);
  EXPECT_EQ(NickListEntries(c), (std::vector<std::string>{"@me", "bob"}));
}

TEST_F(HostileLines, ManyChannelsAndWindowsDoNotLeakState) {
  // Joining and leaving many channels leaves no stale entries that a new window could inherit.
  for (int i = 0; i < 50; ++i) {
    const std::string ch = "#t" + std::to_string(i);
    Feed(":me!m@h JOIN " + ch);
    Feed(":bob!b@h JOIN " + ch);
    Feed(":me!m@h PART " + ch);
  }
  Feed(":me!m@h JOIN #t0");
  EXPECT_TRUE(NickListEntries(Find("#t0")).empty());
}

}  // namespace
}  // namespace vanta::dispatch::test
