// Registration end to end: a connection thread reading from a scripted server and from real
// servers (ngircd, inspircd), with its lines going through the built-in stage and the numeric
// handler in the dispatcher's order.
#include <gtest/gtest.h>

#include "dispatch/dispatcher.h"
#include "dispatch/numerics.h"
#include "dispatch/parsed_line.h"
#include "dispatch/registration.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/hooks.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace vanta::dispatch {
namespace {

using namespace std::chrono_literals;
using sessions::ServerSession;
using sessions::WindowTable;
using test::Family;

class RegistrationServerTest : public test::CoreTest {
 protected:
  RegistrationServerTest() { background_ui = true; }
  void SetUp() override {
    CoreTest::SetUp();
    SetPref("MoreOptions", "FloodDelay", "0");
    SetPref("General", "ShowJoin", "0");
    SetPref("General", "ShowLast", "0");
    ResetAlternateNickToggle();
    ReloadRegistrationSettings();
    // The dispatcher's order for the stages built here: the built-in stage first, then the
    // numeric path; everything else as the connection's default handling.
    sessions::GetHooks().dispatch_line = [](int n, std::string_view line) {
      ParsedLine pl;
      pl.raw[0] = pl.raw[1] = pl.raw[2] = std::string(line);
      if (RegistrationStage(n, pl)) return;
      if (ParseLine(line, &pl) == 1 && pl.kind == ParsedLine::kNumeric) {
        if (auto s = WindowTable::Get().Session(n)) s->numeric_pending.store(s->show_numerics.load());
        HandleNumeric(n, pl);
        return;
      }
      sessions::DefaultDispatch(n, line);
    };
    sessions::GetHooks().special_event = [this](std::string_view e, std::string_view, int) {
      if (e == "OnLogin") logins.fetch_add(1);
    };
  }
  int Connect(const std::string& host, uint16_t port, const std::string& nick) {
    int n = MakeServerWindow(host, port, nick);
    sessions::StartConnection(n, "", 0);
    return n;
  }
  std::shared_ptr<ServerSession> SessionOf(int n) { return WindowTable::Get().Session(n); }
  bool WaitRegistered(int n, int ms = 10000) {
    return PumpUntil([&] { auto s = SessionOf(n); return s && s->registered.load() == 1; }, ms);
  }
  void CloseAll(int n) {
    platform::UiLoop::Get().CallSync([&] { WindowTable::Get().Close(n, true); });
    PumpUntil([] { return platform::RunningThreads() == 0; }, 5000);
  }
  std::atomic<int> logins{0};
};

TEST_F(RegistrationServerTest, WelcomeSequenceCompletesRegistration) {
  test::ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok()) << srv.error();
  int n = Connect("127.0.0.1", srv.port(), "tester");
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.register_client());
  ASSERT_TRUE(WaitRegistered(n)) << AllShown();
  EXPECT_TRUE(srv.expect_sent("MODE tester", 5s));
  EXPECT_TRUE(srv.expect_sent("USERHOST tester", 5s));
  EXPECT_EQ(logins.load(), 1);
  // The server information renamed the window after the server.
  EXPECT_TRUE(PumpUntil([&] { return WindowTable::Get().Slot(n)->Name() == test::ScriptedServer::name; }));
  CloseAll(n);
}

TEST_F(RegistrationServerTest, TakenNickWhileRegisteringTriesTheAlternate) {
  SetPref("General", "AlternateNick", "tester_alt");
  test::ScriptedServer srv(Family::V4);
  int n = Connect("127.0.0.1", srv.port(), "tester");
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  srv.recv(std::string(":") + test::ScriptedServer::name + " 433 * tester :Nickname is already in use");
  ASSERT_TRUE(srv.expect_sent("NICK tester_alt", 5s));
  // After registration a taken nick is the user's business.
  const std::string me = std::string(":") + test::ScriptedServer::name;
  srv.recv(me + " 001 tester_alt :Welcome");
  srv.recv(me + " 376 tester_alt :End of /MOTD command.");
  ASSERT_TRUE(WaitRegistered(n));
  srv.recv(std::string(":") + test::ScriptedServer::name + " 433 tester_alt other :Nickname is already in use");
  EXPECT_TRUE(srv.expect_not_sent("NICK *", 500ms));
  CloseAll(n);
}

TEST_F(RegistrationServerTest, WelcomeThroughTheInstalledDispatcher) {
  InstallDispatcher();
  SetPref("General", "AlternateNick", "tester_alt");
  test::ScriptedServer srv(Family::V4);
  int n = Connect("127.0.0.1", srv.port(), "tester");
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.expect_sent("NICK tester", 5s));
  const std::string me = std::string(":") + test::ScriptedServer::name;
  srv.recv(me + " 433 * tester :Nickname is already in use");
  ASSERT_TRUE(srv.expect_sent("NICK tester_alt", 5s));
  srv.recv(me + " 001 tester_alt :Welcome");
  srv.recv(me + " 004 tester_alt " + test::ScriptedServer::name + " v1 iow bklmnt");
  srv.recv(me + " 372 tester_alt :- hello");
  srv.recv(me + " 376 tester_alt :End of /MOTD command.");
  ASSERT_TRUE(WaitRegistered(n)) << AllShown();
  EXPECT_TRUE(srv.expect_sent("USERHOST tester_alt", 5s));
  EXPECT_EQ(SessionOf(n)->Get(&ServerSession::nick), "tester_alt");
  EXPECT_TRUE(WaitShown("- hello")) << AllShown();
  EXPECT_EQ(logins.load(), 1);
  CloseAll(n);
}

class RealRegistrationTest : public RegistrationServerTest, public ::testing::WithParamInterface<test::ServerKind> {};

TEST_P(RealRegistrationTest, TakenNickThenRegistered) {
  test::RealServer irc(GetParam());
  VANTA_REQUIRE_SERVER(irc);
  test::LineClient holder(irc.family(), irc.port());
  ASSERT_TRUE(holder.register_as("vantanum")) << "the nick is taken first";
  SetPref("General", "AlternateNick", "vantanum2");
  int n = Connect("127.0.0.1", irc.port(), "vantanum");
  ASSERT_TRUE(WaitRegistered(n, 15000)) << AllShown();
  EXPECT_EQ(SessionOf(n)->Get(&ServerSession::nick), "vantanum2") << AllShown();
  EXPECT_TRUE(WaitShown("Server name : ", "", 5000)) << AllShown();
  EXPECT_EQ(logins.load(), 1);
  CloseAll(n);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealRegistrationTest,
                         ::testing::Values(test::ServerKind::Ngircd, test::ServerKind::Inspircd),
                         [](const auto& info) { return std::string(test::server_kind_name(info.param)); });

}  // namespace
}  // namespace vanta::dispatch
