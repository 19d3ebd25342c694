// The connection thread against a server played by the test: connect, register, read lines,
// report failures and retry.
#include <gtest/gtest.h>

#include <thread>

#include "platform/net.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "support/scripted_server.h"

namespace vanta::sessions {
namespace {

using namespace std::chrono_literals;
using test::Family;
using test::ScriptedServer;

class ConnectionTest : public test::CoreTest {
 protected:
  ConnectionTest() { background_ui = true; }
  void SetUp() override {
    CoreTest::SetUp();
    SetPref("MoreOptions", "FloodDelay", "0");
  }
  // A server window for host:port and its connection started.
  int Connect(const std::string& host, uint16_t port, const std::string& password = "") {
    int n = MakeServerWindow(host, port, "tester");
    if (n < 0) return n;
    WindowTable::Get().Session(n)->Set(&ServerSession::password, password);
    StartConnection(n, "", 0);
    return n;
  }
  std::shared_ptr<ServerSession> SessionOf(int n) { return WindowTable::Get().Session(n); }
};

TEST_F(ConnectionTest, RegistersOverIPv4) {
  ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok()) << srv.error();
  int n = Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("USER tester *", 5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  auto lines = srv.sent_lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("USER ", 0), 0u) << "USER precedes NICK and no PASS is sent without a password";
  EXPECT_TRUE(WaitShown("Connecting to 127.0.0.1", "127.0.0.1"));
  EXPECT_TRUE(WaitShown("Connected to 127.0.0.1"));
  EXPECT_TRUE(Shown("Resolving").empty()) << "a dotted address needs no resolving";
  auto s = SessionOf(n);
  EXPECT_TRUE(s->connected.load());
  EXPECT_TRUE(WindowTable::Get().Slot(n)->active.load());
  // Server lines are shown and PING is answered.
  srv.recv(":irc.test 001 tester :Welcome");
  srv.recv("PING :abc");
  EXPECT_TRUE(srv.expect_sent("PONG :abc", 5s));
  EXPECT_TRUE(WaitShown(":irc.test 001 tester :Welcome"));
}

TEST_F(ConnectionTest, SendsPasswordFirst) {
  ScriptedServer srv(Family::V4);
  Connect("127.0.0.1", srv.port(), "sekrit");
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.wait_lines(3, 5s));
  auto lines = srv.sent_lines();
  EXPECT_EQ(lines[0], "PASS sekrit");
  EXPECT_EQ(lines[1].rfind("USER tester \"", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "NICK tester");
}

TEST_F(ConnectionTest, RegistersOverIPv6Literal) {
  if (!test::loopback_available(Family::V6)) GTEST_SKIP() << "no IPv6 loopback";
  ScriptedServer srv(Family::V6);
  ASSERT_TRUE(srv.ok()) << srv.error();
  int n = Connect("::1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  EXPECT_TRUE(SessionOf(n)->ipv6.load());
  EXPECT_TRUE(WaitShown("Connected to ::1"));
  EXPECT_TRUE(Shown("Resolving").empty());
}

TEST_F(ConnectionTest, NameIsResolvedFirst) {
  ScriptedServer srv(Family::V4);
  int n = Connect("localhost", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  EXPECT_TRUE(WaitShown("Resolving localhost"));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  EXPECT_EQ(SessionOf(n)->Get(&ServerSession::current_host), "127.0.0.1");
  EXPECT_EQ(WindowTable::Get().Slot(n)->Name(), "127.0.0.1");  // the window takes the host's address
}

TEST_F(ConnectionTest, SplitPingIsDispatchedOnce) {
  ScriptedServer srv(Family::V4);
  Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  srv.send_raw_parts({"PI", "NG :split\r", "\n"}, 50ms);
  EXPECT_TRUE(srv.expect_sent("PONG :split", 5s));
  EXPECT_TRUE(srv.expect_not_sent("PONG*", 300ms));
}

TEST_F(ConnectionTest, HostileChunksDoNotBreakTheConnection) {
  ScriptedServer srv(Family::V4);
  Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  srv.send_raw(std::string(25000, 'x'));  // far past the line buffer, no line end
  srv.send_raw(std::string("tail\r\nPING :a\0b\r\nPING :after\r\n", 30));
  EXPECT_TRUE(srv.expect_sent("PONG :ab", 5s));  // the NUL is dropped, the line kept
  EXPECT_TRUE(srv.expect_sent("PONG :after", 5s));
  auto cut = Shown("xxxx");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_LT(cut[0].text.size(), 10000u);
}

TEST_F(ConnectionTest, RefusedWithoutReconnectReportsOnce) {
  uint16_t port = test::FreePort(Family::V4);
  int n = Connect("127.0.0.1", port);
  ASSERT_TRUE(WaitShown("(10061 - WSAECONNREFUSED)"));
  ASSERT_TRUE(PumpUntil([] { return platform::RunningThreads() == 0; }, 5000));
  EXPECT_EQ(Shown("WSAECONNREFUSED").size(), 1u) << AllShown();
  EXPECT_FALSE(SessionOf(n)->connected.load());
  EXPECT_TRUE(WindowTable::Get().Valid(n));
}

TEST_F(ConnectionTest, RefusedWithReconnectRetriesExactly) {
  SetPref("MoreOptions", "MaxReconnect", "3");
  ResetRetryCounter();
  uint16_t port = test::FreePort(Family::V4);
  int n = MakeServerWindow("127.0.0.1", port);
  SessionOf(n)->reconnect.store(1);
  StartConnection(n, "", 0);
  ASSERT_TRUE(PumpUntil([] { return platform::RunningThreads() == 0; }, 15000));
  EXPECT_EQ(Shown("WSAECONNREFUSED").size(), 3u) << AllShown();
  EXPECT_EQ(Shown("Connecting to").size(), 3u);
  EXPECT_EQ(RetryCounter(), 3);
}

TEST_F(ConnectionTest, LostConnectionReportsAndReconnects) {
  ScriptedServer srv(Family::V4);
  int n = Connect("127.0.0.1", srv.port());
  SessionOf(n)->reconnect.store(1);
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  srv.drop();
  EXPECT_TRUE(WaitShown("Disconnected"));
  // The reconnect starts a new attempt on the same window.
  EXPECT_TRUE(test::wait_until([&] { return srv.accept_count() >= 2; }, 8s));
  EXPECT_TRUE(srv.expect_sent("NICK tester", 5s));
  EXPECT_TRUE(WindowTable::Get().Valid(n));
}

TEST_F(ConnectionTest, DisconnectSendsQuitAndReports) {
  SetPref("General", "QuitMsg", "bye now");
  ScriptedServer srv(Family::V4);
  int n = Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  Disconnect(n);
  EXPECT_TRUE(srv.expect_sent("QUIT :bye now", 5s));
  EXPECT_TRUE(WaitShown("Disconnected"));
  EXPECT_TRUE(srv.wait_client_closed(5s));
  EXPECT_FALSE(SessionOf(n)->connected.load());
}

TEST_F(ConnectionTest, ClosingTheWindowEndsABlockedThread) {
  ScriptedServer srv(Family::V4);
  srv.silent();
  int n = Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(test::wait_until([&] { return !srv.sent_lines().empty(); }, 5s));
  platform::UiLoop::Get().CallSync([&] { WindowTable::Get().Close(n, true); });
  EXPECT_TRUE(test::wait_until([] { return platform::RunningThreads() == 0; }, 5s));
  EXPECT_EQ(WindowTable::Get().Count(), 0);
}

TEST_F(ConnectionTest, FloodDelaySpacesLinesOnTheWire) {
  SetPref("MoreOptions", "FloodDelay", "200");
  ScriptedServer srv(Family::V4);
  int n = Connect("127.0.0.1", srv.port());
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  std::this_thread::sleep_for(300ms);
  SendToServer("PRIVMSG #a :1\r\nPRIVMSG #a :2\r\nPRIVMSG #a :3\r\n", n);
  ASSERT_TRUE(srv.expect_sent("PRIVMSG #a :3", 5s));
  auto timed = srv.sent_with_times();
  std::vector<test::Clock::time_point> at;
  for (auto& l : timed)
    if (l.text.rfind("PRIVMSG #a", 0) == 0) at.push_back(l.at);
  ASSERT_EQ(at.size(), 3u);
  EXPECT_GE(at[1] - at[0], 180ms);
  EXPECT_GE(at[2] - at[1], 180ms);
}

}  // namespace
}  // namespace vanta::sessions
