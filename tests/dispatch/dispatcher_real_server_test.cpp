// The dispatcher against real servers (ngircd and inspircd) with a second user in the channel:
// joins, parts, kicks, topic, member modes and a limit, nick changes, notices, actions, a private
// message opening a query, and a quit, each seen through the client's windows and nick lists.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/dispatcher.h"
#include "output/show_text.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "support/real_servers.h"

namespace vanta::dispatch {
namespace {

using namespace std::chrono_literals;
using sessions::WindowTable;
using test::LineClient;
using test::RealServer;
using test::ServerKind;

class DispatcherRealServer : public test::CoreTest, public ::testing::WithParamInterface<ServerKind> {
 protected:
  DispatcherRealServer() { background_ui = true; }
  void SetUp() override {
    CoreTest::SetUp();
    config::ResetOptionsToDefaults();
    GetDispatcherHooks() = DispatcherHooks{};
    // Every line the server sent, as the event engine would see it.
    GetDispatcherHooks().events = [this](int, std::string line) {
      std::lock_guard lock(mu_);
      received_.push_back(std::move(line));
      return false;
    };
    InstallDispatcher();
  }
  void TearDown() override {
    CoreTest::TearDown();
    GetDispatcherHooks() = DispatcherHooks{};
  }

  bool Received(const std::string& pattern, int timeout_ms = 5000) {
    return PumpUntil(
        [&] {
          std::lock_guard lock(mu_);
          for (auto& l : received_)
            if (test::line_matches(pattern, std::string(StripEnd(l)))) return true;
          return false;
        },
        timeout_ms);
  }
  void ForgetReceived() {
    std::lock_guard lock(mu_);
    received_.clear();
  }
  static std::string_view StripEnd(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
  }
  std::string ReceivedText() {
    std::lock_guard lock(mu_);
    std::string out;
    for (auto& l : received_) out += l;
    return out;
  }

  bool ShownIn(const std::string& window, const std::string& needle, int timeout_ms = 5000) {
    return WaitShown(needle, window, timeout_ms);
  }
  void Send(const std::string& line) { sessions::SendToServer(line + "\r\n", server_); }
  int Find(const std::string& name) { return WindowTable::Get().FindByName(name, server_); }
  bool EntryIs(const std::string& nick, const std::string& entry) {
    return PumpUntil([&] { return NickListFind(Find("#vt"), nick) == entry; }, 5000);
  }
  uint32_t ColourOf(const std::string& window, const std::string& needle) {
    for (auto& l : fe->lines())
      if (l.window_name == window && l.text.find(needle) != std::string::npos) return l.colour;
    return 0xFFFFFFFF;
  }

  int server_ = -1;

 private:
  std::mutex mu_;
  std::vector<std::string> received_;
};

TEST_P(DispatcherRealServer, ChannelLifeWithASecondUser) {
  RealServer irc(GetParam());
  VANTA_REQUIRE_SERVER(irc);
  server_ = MakeServerWindow("127.0.0.1", irc.port(), "vantatest");
  ASSERT_GE(server_, 0);
  sessions::StartConnection(server_, "", 0);
  ASSERT_TRUE(Received(":* 376 vantatest *", 10000) || Received(":* 422 vantatest *", 100)) << ReceivedText();

  // Own join opens the channel window.
  Send("JOIN #vt");
  ASSERT_TRUE(ShownIn("#vt", "vantatest (")) << AllShown();
  const auto ok = output::Colours().ok;
  EXPECT_EQ(ColourOf("#vt", "has joined #vt"), ok);

  // The second user joins.
  LineClient bob(irc.family(), irc.port());
  ASSERT_TRUE(bob.register_as("bob"));
  ASSERT_TRUE(bob.send_line("JOIN #vt"));
  ASSERT_TRUE(bob.expect_line(":bob!* JOIN *#vt"));
  ASSERT_TRUE(ShownIn("#vt", "bob (")) << AllShown();
  ASSERT_TRUE(EntryIs("bob", "bob"));

  // Member modes and a limit, set by the channel's creator.
  Send("MODE #vt +o bob");
  EXPECT_TRUE(EntryIs("bob", "@bob"));
  Send("MODE #vt -o bob");
  EXPECT_TRUE(EntryIs("bob", "bob"));
  Send("MODE #vt +v bob");
  EXPECT_TRUE(EntryIs("bob", "+bob"));
  ForgetReceived();
  Send("MODE #vt +l 10");
  ASSERT_TRUE(ShownIn("#vt", "sets mode +l")) << AllShown();
  // The limit made the client ask for the channel's modes again.
  EXPECT_TRUE(Received(":* 324 vantatest #vt *l*")) << ReceivedText();
  Send("MODE #vt +o bob");
  EXPECT_TRUE(EntryIs("bob", "@bob"));

  // Topic set by the other user.
  ASSERT_TRUE(bob.send_line("TOPIC #vt :integration topic"));
  ASSERT_TRUE(ShownIn("#vt", "bob changes the topic of #vt to: integration topic")) << AllShown();
  EXPECT_TRUE(PumpUntil([&] { return Topic(Find("#vt")) == "integration topic"; }));

  // Kicked with "OnKickRejoin" on: the client joins again at once.
  config::SetOptionInt(config::OptionIndex("General", "OnKickRejoin"), 1);
  ASSERT_TRUE(bob.send_line("KICK #vt vantatest :first"));
  ASSERT_TRUE(ShownIn("#vt", "vantatest was kicked from #vt by bob (first)")) << AllShown();
  EXPECT_TRUE(bob.expect_line(":vantatest!* JOIN *#vt"));
  EXPECT_TRUE(PumpUntil([&] { return Shown("vantatest (").size() >= 2; }));
  EXPECT_EQ(WindowTable::Get().Slot(Find("#vt"))->active.load(), 1);

  // Kicked with it off: the window stays, not joined, and nothing is sent.
  config::SetOptionInt(config::OptionIndex("General", "OnKickRejoin"), 0);
  ASSERT_TRUE(bob.send_line("KICK #vt vantatest :second"));
  ASSERT_TRUE(ShownIn("#vt", "vantatest was kicked from #vt by bob (second)")) << AllShown();
  EXPECT_FALSE(bob.expect_line(":vantatest!* JOIN *#vt", 1500ms));
  ASSERT_GE(Find("#vt"), 0);
  EXPECT_EQ(WindowTable::Get().Slot(Find("#vt"))->active.load(), 0);
  Send("JOIN #vt");
  ASSERT_TRUE(bob.expect_line(":vantatest!* JOIN *#vt"));
  EXPECT_TRUE(PumpUntil([&] { return WindowTable::Get().Slot(Find("#vt"))->active.load() == 1; }));

  // The other user is kicked by the client.
  ASSERT_TRUE(bob.send_line("MODE #vt +o vantatest"));
  ASSERT_TRUE(ShownIn("#vt", "bob sets mode +o")) << AllShown();
  Send("KICK #vt bob :your turn");
  ASSERT_TRUE(ShownIn("#vt", "bob was kicked from #vt by vantatest (your turn)")) << AllShown();
  EXPECT_EQ(ColourOf("#vt", "bob was kicked"), output::Colours().error);
  EXPECT_TRUE(EntryIs("bob", ""));
  ASSERT_TRUE(bob.send_line("JOIN #vt"));
  EXPECT_TRUE(EntryIs("bob", "bob"));

  // Part and join of the other user.
  ASSERT_TRUE(bob.send_line("PART #vt :brb"));
  ASSERT_TRUE(ShownIn("#vt", "bob has left #vt")) << AllShown();
  EXPECT_TRUE(EntryIs("bob", ""));
  ASSERT_TRUE(bob.send_line("JOIN #vt"));
  EXPECT_TRUE(EntryIs("bob", "bob"));

  // Nick changes: the other user, then the client itself.
  ASSERT_TRUE(bob.send_line("NICK bobby"));
  ASSERT_TRUE(ShownIn("#vt", "bob is now known as bobby")) << AllShown();
  EXPECT_TRUE(EntryIs("bobby", "bobby"));
  Send("NICK vantatest2");
  ASSERT_TRUE(ShownIn("#vt", "vantatest is now known as vantatest2")) << AllShown();
  auto session = WindowTable::Get().Session(server_);
  EXPECT_TRUE(PumpUntil([&] { return session->Get(&sessions::ServerSession::nick) == "vantatest2"; }));

  // Notice, action and a private message that opens a query window.
  ASSERT_TRUE(bob.send_line("NOTICE #vt :hello channel"));
  ASSERT_TRUE(ShownIn("#vt", "bobby =|= hello channel")) << AllShown();
  EXPECT_EQ(ColourOf("#vt", "hello channel"), output::Colours().error);
  ASSERT_TRUE(bob.send_line("PRIVMSG #vt :\x01" "ACTION waves\x01"));
  ASSERT_TRUE(ShownIn("#vt", "*bobby waves")) << AllShown();
  ASSERT_TRUE(bob.send_line("PRIVMSG vantatest2 :hi there"));
  ASSERT_TRUE(ShownIn("bobby", "<bobby> hi there")) << AllShown();
  EXPECT_EQ(WindowTable::Get().Kind(Find("bobby")), sessions::kQueryWindow);

  // The other user quits: shown in the channel and in the query.
  ASSERT_TRUE(bob.send_line("QUIT :gone now"));
  ASSERT_TRUE(ShownIn("#vt", "bobby has quit IRC")) << AllShown();
  EXPECT_TRUE(ShownIn("bobby", "bobby has quit IRC")) << AllShown();
  EXPECT_TRUE(EntryIs("bobby", ""));

  // The client leaves: the window closes.
  Send("PART #vt");
  EXPECT_TRUE(PumpUntil([&] { return Find("#vt") < 0; })) << AllShown();
}

INSTANTIATE_TEST_SUITE_P(Servers, DispatcherRealServer, ::testing::Values(ServerKind::Ngircd, ServerKind::Inspircd),
                         [](const auto& info) { return std::string(test::server_kind_name(info.param)); });

}  // namespace
}  // namespace vanta::dispatch
