// Typed lines travelling to a server: a scripted one, and a real ngircd with a second user.
#include <gtest/gtest.h>

#include "commands/execute_line.h"
#include "config/instance.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace vanta::commands {
namespace {

using namespace std::chrono_literals;
using sessions::WindowTable;
using test::Family;

class EndToEnd : public test::CoreTest {
 protected:
  EndToEnd() { background_ui = true; }
  void SetUp() override {
    CoreTest::SetUp();
    SetPref("MoreOptions", "FloodDelay", "0");
    GetCommandHooks() = CommandHooks{};
    InstallCommandHooks();
  }
  void TearDown() override {
    CoreTest::TearDown();
    GetCommandHooks() = CommandHooks{};
    config::GetInstanceHooks() = config::InstanceHooks{};
  }
  // Typed into a window, on the user-interface thread like the input box.
  void TypeIn(int window, const std::string& line) {
    platform::UiLoop::Get().CallSync([&] { TypeInput(window, line); });
  }
  int ServerWindow() const {
    auto& t = WindowTable::Get();
    for (int n = 0; n < t.Count(); ++n)
      if (t.Kind(n) == sessions::kServerWindow) return n;
    return -1;
  }
};

TEST_F(EndToEnd, ScriptedServerSeesTypedLines) {
  test::ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok()) << srv.error();
  // The command line's "-e" lines and the hand-over from another instance arrive here.
  platform::UiLoop::Get().CallSync(
      [&] { config::RunCommandLines("/server 127.0.0.1 " + std::to_string(srv.port()) + " alice"); });
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.register_client("alice"));
  const int n = ServerWindow();
  ASSERT_GE(n, 0);
  TypeIn(n, "/join #test");
  EXPECT_TRUE(srv.expect_sent("JOIN #test"));
  const int ch = MakeWindow("#test", sessions::kChannelWindow, n);
  TypeIn(ch, "hello all");
  EXPECT_TRUE(srv.expect_sent("PRIVMSG #test :hello all"));
  TypeIn(ch, "/msg bob psst");
  EXPECT_TRUE(srv.expect_sent("PRIVMSG bob :psst"));
  TypeIn(ch, "/frobnicate x y");
  EXPECT_TRUE(srv.expect_sent("frobnicate x y"));
  TypeIn(ch, "/quit bye now");
  EXPECT_TRUE(srv.expect_sent("QUIT :bye now"));
  EXPECT_TRUE(srv.expect_not_sent("*\r*"));
}

TEST_F(EndToEnd, LostConnectionReconnectsThroughTheCommand) {
  test::ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok()) << srv.error();
  platform::UiLoop::Get().CallSync(
      [&] { ExecuteCommandLine("/server 127.0.0.1:" + std::to_string(srv.port()) + " alice"); });
  ASSERT_TRUE(srv.accept(5s));
  ASSERT_TRUE(srv.register_client("alice"));
  const int n = ServerWindow();
  ASSERT_GE(n, 0);
  WindowTable::Get().Session(n)->reconnect.store(1);
  // The user is looking at a DCC chat meanwhile: the reconnect must not depend on that.
  sessions::CreateRequest dcc;
  dcc.name = "peer";
  dcc.kind = sessions::kDccWindow;
  const int chat = WindowTable::Get().Create(dcc);
  ASSERT_GE(chat, 0);
  platform::UiLoop::Get().CallSync([&] { WindowTable::Get().Activate(chat); });
  srv.drop();
  // The window table runs "/reconnect <host>" in the server window, which connects again.
  ASSERT_TRUE(srv.accept(15s)) << AllShown();
  EXPECT_TRUE(srv.expect_sent("NICK alice", 5s));
  WindowTable::Get().Session(n)->reconnect.store(0);
}

TEST_F(EndToEnd, RealServerRoundTrips) {
  test::RealServer srv(test::ServerKind::Ngircd);
  VANTA_REQUIRE_SERVER(srv);
  test::LineClient bob(srv.family(), srv.port());
  ASSERT_TRUE(bob.register_as("bob"));
  ASSERT_TRUE(bob.send_line("JOIN #room"));
  ASSERT_TRUE(bob.expect_line("*366*#room*"));

  platform::UiLoop::Get().CallSync(
      [&] { ExecuteCommandLine("/server 127.0.0.1 " + std::to_string(srv.port()) + " alice"); });
  ASSERT_TRUE(WaitShown(" 001 alice", "", 10000)) << AllShown();
  const int n = ServerWindow();
  ASSERT_GE(n, 0);

  TypeIn(n, "/join #room");
  EXPECT_TRUE(bob.expect_line(":alice!*JOIN*#room*"));
  const int ch = MakeWindow("#room", sessions::kChannelWindow, n);
  TypeIn(ch, "hello bob");
  EXPECT_TRUE(bob.expect_line(":alice!* PRIVMSG #room :hello bob"));
  TypeIn(ch, "/msg bob just for you");
  EXPECT_TRUE(bob.expect_line(":alice!* PRIVMSG bob :just for you"));
  TypeIn(ch, "/me waves");
  EXPECT_TRUE(bob.expect_line(":alice!* PRIVMSG #room :\x01" "ACTION waves\x01"));
  bob.send_line("PRIVMSG #room :hi alice");
  EXPECT_TRUE(WaitShown("PRIVMSG #room :hi alice")) << AllShown();
  TypeIn(ch, "/part");
  EXPECT_TRUE(bob.expect_line(":alice!* PART #room*"));
  TypeIn(n, "/join #room");
  EXPECT_TRUE(bob.expect_line(":alice!*JOIN*#room*"));
  TypeIn(n, "/quit see you");
  EXPECT_TRUE(bob.expect_line(":alice!* QUIT :*see you*"));
}

}  // namespace
}  // namespace vanta::commands
