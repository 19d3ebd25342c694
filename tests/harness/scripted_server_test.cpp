// The scripted server against a plain socket client.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>

#include "support/ports.h"
#include "support/scripted_server.h"

namespace vanta::test {
namespace {

class ScriptedServerTest : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override {
    if (!loopback_available(GetParam())) GTEST_SKIP() << "no " << loopback_host(GetParam()) << " here";
  }
  // A server with one connected plain client.
  struct Pair {
    ScriptedServer srv;
    LineClient client;
    explicit Pair(Family f) : srv(f) {
      EXPECT_TRUE(srv.ok()) << srv.error();
      EXPECT_TRUE(client.connect(f, srv.port())) << client.error();
      EXPECT_TRUE(srv.accept(2s));
    }
  };
};

TEST_P(ScriptedServerTest, CollectsLinesSplitAcrossWritesAndLineEnds) {
  Pair p(GetParam());
  // Pieces that cut a line, its CR LF pair and a bare LF line.
  for (const char* piece : {"NI", "CK alice\r", "\nUSER a 0 * :Real Name\r\nPRIVMSG #c :x", "y\nQUIT\r\n"}) {
    ASSERT_TRUE(p.client.send_raw(piece));
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(p.srv.wait_lines(4, 2s));
  EXPECT_EQ(p.srv.sent_lines(),
            (std::vector<std::string>{"NICK alice", "USER a 0 * :Real Name", "PRIVMSG #c :xy", "QUIT"}));
  EXPECT_EQ(p.srv.received_bytes(), "NICK alice\r\nUSER a 0 * :Real Name\r\nPRIVMSG #c :xy\nQUIT\r\n");
  // An unterminated tail is not a line.
  ASSERT_TRUE(p.client.send_raw("JOIN #half"));
  EXPECT_FALSE(p.srv.wait_lines(5, 100ms));
}

TEST_P(ScriptedServerTest, SendsLinesRawBytesAndSeparateParts) {
  Pair p(GetParam());
  ASSERT_TRUE(p.srv.recv("PING :one"));
  ASSERT_TRUE(p.srv.recv("KEEP\n"));
  ASSERT_TRUE(p.srv.send_raw(std::string("A\0B", 3)));
  std::string got;
  wait_until([&] { got += p.client.read_some(50ms); return got.size() >= 19; }, 2s);
  EXPECT_EQ(got, std::string("PING :one\r\nKEEP\nA\0B", 19));

  // Separate writes with a pause arrive in separate reads.
  std::thread sender([&] { p.srv.send_raw_parts({"PRIVMSG me :hel", "lo\r\n"}, 150ms); });
  std::string first = p.client.read_some(2s);
  std::string second = p.client.read_some(2s);
  sender.join();
  EXPECT_EQ(first, "PRIVMSG me :hel");
  EXPECT_EQ(second, "lo\r\n");
}

TEST_P(ScriptedServerTest, ExpectSentUsesEachLineOnceInAnyOrder) {
  Pair p(GetParam());
  ASSERT_TRUE(p.client.send_line("USER u 0 * :r"));
  ASSERT_TRUE(p.client.send_line("PONG :a"));
  ASSERT_TRUE(p.client.send_line("PONG :a"));
  ASSERT_TRUE(p.client.send_line("NICK n"));
  EXPECT_TRUE(p.srv.expect_sent("NICK n"));
  EXPECT_TRUE(p.srv.expect_sent("USER u *"));
  EXPECT_TRUE(p.srv.expect_sent("PONG *"));
  EXPECT_TRUE(p.srv.expect_sent("PONG :a"));
  EXPECT_FALSE(p.srv.expect_sent("PONG *", 50ms));
  EXPECT_TRUE(p.srv.expect_not_sent("NICK *", 50ms));  // the one NICK is used up
}

TEST_P(ScriptedServerTest, ExpectSentFailureListsWhatWasSent) {
  Pair p(GetParam());
  ASSERT_TRUE(p.client.send_line("NICK bob"));
  ASSERT_TRUE(p.client.send_line("JOIN #other"));
  ASSERT_TRUE(p.srv.wait_lines(2, 2s));
  auto r = p.srv.expect_sent("JOIN #wanted", 100ms);
  ASSERT_FALSE(r);
  std::string msg = r.message();
  EXPECT_NE(msg.find("JOIN #wanted"), std::string::npos) << msg;
  EXPECT_NE(msg.find("NICK bob"), std::string::npos) << msg;
  EXPECT_NE(msg.find("JOIN #other"), std::string::npos) << msg;

  auto n = p.srv.expect_not_sent("JOIN #o*", 50ms);
  ASSERT_FALSE(n);
  EXPECT_NE(std::string(n.message()).find("JOIN #other"), std::string::npos);
}

TEST_P(ScriptedServerTest, RegisterClientWelcomesAndAutoPongAnswers) {
  Pair p(GetParam());
  p.srv.auto_pong(true);
  ASSERT_TRUE(p.client.send_line("NICK wanted"));
  ASSERT_TRUE(p.client.send_line("USER usr 0 * :Real"));
  ASSERT_TRUE(p.srv.register_client());
  EXPECT_EQ(p.srv.nick(), "wanted");
  std::vector<std::string> numerics;
  while (auto line = p.client.read_line(1s)) {
    numerics.push_back(line->substr(line->find(' ') + 1, 3));
    if (numerics.back() == "376") break;
  }
  EXPECT_EQ(numerics, (std::vector<std::string>{"001", "002", "003", "004", "005", "375", "372", "376"}));
  EXPECT_TRUE(line_matches("* 001 wanted :* wanted!usr@*", p.client.received().front())) << p.client.received().front();

  ASSERT_TRUE(p.client.send_line("PING :tok 1"));
  EXPECT_TRUE(p.client.expect_line(std::string(":") + ScriptedServer::name + " PONG * :tok 1", 2s));
  p.srv.auto_pong(false);
  ASSERT_TRUE(p.client.send_line("PING :tok2"));
  EXPECT_FALSE(p.client.read_line(150ms));
}

TEST_P(ScriptedServerTest, RegisterClientFailsWithoutUser) {
  Pair p(GetParam());
  ASSERT_TRUE(p.client.send_line("NICK only"));
  auto r = p.srv.register_client({}, 150ms);
  ASSERT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("no USER"), std::string::npos) << r.message();
  EXPECT_EQ(p.client.read_some(50ms), "");
}

TEST_P(ScriptedServerTest, SilentServerWritesNothing) {
  Pair p(GetParam());
  p.srv.silent();
  p.srv.auto_pong(true);
  EXPECT_FALSE(p.srv.recv("NOTICE * :hello"));
  ASSERT_TRUE(p.client.send_line("NICK a"));
  ASSERT_TRUE(p.client.send_line("USER a 0 * :a"));
  ASSERT_TRUE(p.client.send_line("PING :x"));
  EXPECT_TRUE(p.srv.register_client());
  EXPECT_EQ(p.client.read_some(200ms), "");
  EXPECT_TRUE(p.srv.expect_sent("PING :x"));  // still recorded
}

TEST_P(ScriptedServerTest, DropEndsTheStreamAndResetIsSeenAsReset) {
  const Family f = GetParam();
  ScriptedServer srv(f);
  LineClient a(f, srv.port());
  ASSERT_TRUE(srv.accept(2s));
  ASSERT_TRUE(a.send_line("NICK a"));
  srv.drop();
  EXPECT_TRUE(a.wait_closed(2s));
  EXPECT_EQ(a.close_errno(), 0);
  EXPECT_TRUE(srv.expect_sent("NICK a"));  // read before the close, not lost
  EXPECT_FALSE(srv.connected());
  EXPECT_FALSE(srv.recv("late"));

  LineClient b(f, srv.port());
  ASSERT_TRUE(srv.accept(2s));
  EXPECT_EQ(srv.accept_count(), 2);
  EXPECT_TRUE(srv.connected());
  srv.reset();
  EXPECT_TRUE(b.wait_closed(2s));
  EXPECT_EQ(b.close_errno(), ECONNRESET);
}

TEST_P(ScriptedServerTest, NoticesWhenTheClientCloses) {
  Pair p(GetParam());
  ASSERT_TRUE(p.client.send_line("QUIT :bye"));
  p.client.close();
  EXPECT_TRUE(p.srv.wait_client_closed(2s));
  EXPECT_FALSE(p.srv.connected());
  EXPECT_TRUE(p.srv.expect_sent("QUIT :bye"));
}

TEST_P(ScriptedServerTest, StopListeningRefusesUntilResumed) {
  const Family f = GetParam();
  ScriptedServer srv(f);
  const uint16_t port = srv.port();
  srv.stop_listening();
  EXPECT_EQ(try_connect_once(f, port), ECONNREFUSED);
  ASSERT_TRUE(srv.resume_listening());
  EXPECT_EQ(srv.port(), port);
  LineClient c(f, port, 1s);
  EXPECT_TRUE(c.connected()) << c.error();
  EXPECT_TRUE(srv.accept(2s));

  srv.refuse_for(300ms);
  EXPECT_EQ(try_connect_once(f, port), ECONNREFUSED);
  EXPECT_TRUE(port_accepts(f, port, 2s));  // listening again by itself
  EXPECT_TRUE(srv.accept(2s));
  EXPECT_EQ(srv.accept_count(), 2);
}

TEST_P(ScriptedServerTest, AcceptTimesOutWithoutClientAndCountsReconnects) {
  const Family f = GetParam();
  ScriptedServer srv(f);
  EXPECT_FALSE(srv.accept(50ms));
  EXPECT_FALSE(srv.recv("nobody there"));
  for (int i = 1; i <= 3; ++i) {
    LineClient c(f, srv.port());
    ASSERT_TRUE(srv.accept(2s)) << "connection " << i;
    ASSERT_TRUE(c.send_line("NICK n" + std::to_string(i)));
    ASSERT_TRUE(srv.wait_lines(i, 2s));
  }
  EXPECT_EQ(srv.accept_count(), 3);
  auto lines = srv.sent_with_times();
  ASSERT_EQ(lines.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[i].connection, i + 1);
}

TEST_P(ScriptedServerTest, TimestampsShowTheSpacingOfLines) {
  Pair p(GetParam());
  for (int i = 0; i < 3; ++i) {
    if (i) std::this_thread::sleep_for(80ms);
    ASSERT_TRUE(p.client.send_line("PRIVMSG #c :" + std::to_string(i)));
  }
  ASSERT_TRUE(p.srv.wait_lines(3, 2s));
  auto lines = p.srv.sent_with_times();
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i].at - lines[i - 1].at, 60ms) << "line " << i;
  }
}

TEST_P(ScriptedServerTest, OversizedLineWithoutEndIsRecordedNotHoarded) {
  Pair p(GetParam());
  std::string big(3u << 20, 'x');
  std::thread sender([&] { p.client.send_raw(big); });
  EXPECT_TRUE(p.srv.wait_lines(2, 5s));
  sender.join();
  for (const auto& l : p.srv.sent_lines()) EXPECT_LE(l.size(), (1u << 20) + 16384);
}

TEST_P(ScriptedServerTest, ClientThatStopsReadingDoesNotHangTheServer) {
  Pair p(GetParam());
  p.srv.set_write_timeout(200ms);
  std::string chunk(1 << 20, 'z');
  bool ok = true;
  // The client never reads: writes fail after the bounded write time-out.
  for (int i = 0; i < 64 && ok; ++i) ok = p.srv.send_raw(chunk);
  EXPECT_FALSE(ok);
}

INSTANTIATE_TEST_SUITE_P(Families, ScriptedServerTest, ::testing::Values(Family::V4, Family::V6),
                         [](const auto& info) { return std::string(family_name(info.param)); });

}  // namespace
}  // namespace vanta::test
