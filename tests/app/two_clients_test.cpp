// Two copies of the program with the stdio front end on one real server, driven through their
// standard input the way a user types: join a channel, talk in it, change nick, send a private
// message and quit, each seen from the other side in the right window.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/core_fixture.h"
#include "support/real_servers.h"
#include "support/vanta_process.h"

namespace vanta::test {
namespace {

using namespace std::chrono_literals;

// Both outputs, for the failure message.
std::string Outputs(const VantaProcess& alice, const VantaProcess& bob) {
  return "--- alice ---\n" + alice.output() + "\n--- bob ---\n" + bob.output();
}

// Waits until a line of the window starting at from contains every part, in order. Returns the
// position after that line, or npos.
std::size_t WaitLine(VantaProcess& p, std::size_t from, const std::string& window,
                     const std::vector<std::string>& parts) {
  auto until = std::chrono::steady_clock::now() + 10s;
  const std::string head = window + "\t";
  for (;;) {
    std::size_t pos = from;
    while (pos < p.output().size()) {
      std::size_t eol = p.output().find('\n', pos);
      if (eol == std::string::npos) break;
      std::string_view line(p.output().data() + pos, eol - pos);
      if (line.substr(0, head.size()) == head) {
        std::size_t at = head.size();
        bool all = true;
        for (const auto& part : parts) {
          at = line.find(part, at);
          if (at == std::string_view::npos) {
            all = false;
            break;
          }
          at += part.size();
        }
        if (all) return eol + 1;
      }
      pos = eol + 1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left <= 0ms) return std::string::npos;
    // Read more: wait for the next line end past what has been scanned.
    if (p.WaitOutputFrom(pos, "\n", std::min<std::chrono::milliseconds>(left, 200ms)) == std::string::npos)
      std::this_thread::sleep_for(20ms);  // its output has ended: do not spin
  }
}

TEST(TwoClients, TalkRenameMessageAndQuitThroughOneServer) {
  RealServer srv(ServerKind::Ngircd);
  VANTA_REQUIRE_SERVER(srv);
  const std::string server = "127.0.0.1:" + std::to_string(srv.port());
  TempDir alice_home, bob_home;
  VantaProcess alice({"--ui=stdio", "--connect", server, "--nick", "alice"}, alice_home.path());
  VantaProcess bob({"--ui=stdio", "--connect", server, "--nick", "bob"}, bob_home.path());
  ASSERT_TRUE(alice.started());
  ASSERT_TRUE(bob.started());
  constexpr auto npos = std::string::npos;

  ASSERT_NE(alice.WaitOutputFrom(0, "Welcome"), npos) << Outputs(alice, bob);
  ASSERT_NE(bob.WaitOutputFrom(0, "Welcome"), npos) << Outputs(alice, bob);

  alice.Type("/join #test\n");
  std::size_t a = WaitLine(alice, 0, "#test", {"alice (", "has joined #test"});
  ASSERT_NE(a, npos) << Outputs(alice, bob);
  bob.Type("/join #test\n");
  std::size_t b = WaitLine(bob, 0, "#test", {"bob (", "has joined #test"});
  ASSERT_NE(b, npos) << Outputs(alice, bob);
  // Alice sees bob arrive, so both are in the channel before anyone speaks.
  a = WaitLine(alice, a, "#test", {"bob (", "has joined #test"});
  ASSERT_NE(a, npos) << Outputs(alice, bob);

  alice.Type("hello from alice\n");
  b = WaitLine(bob, b, "#test", {"<alice> hello from alice"});
  ASSERT_NE(b, npos) << Outputs(alice, bob);

  bob.Type("hi alice\n");
  a = WaitLine(alice, a, "#test", {"<bob> hi alice"});
  ASSERT_NE(a, npos) << Outputs(alice, bob);

  alice.Type("/nick alice2\n");
  b = WaitLine(bob, b, "#test", {"alice is now known as alice2"});
  ASSERT_NE(b, npos) << Outputs(alice, bob);

  bob.Type("/msg alice2 private words\n");
  a = WaitLine(alice, a, "bob", {"<bob> private words"});
  ASSERT_NE(a, npos) << Outputs(alice, bob);
  // It opened the query window instead of landing in the channel she has in front of her.
  EXPECT_EQ(alice.output().find("#test\t<bob> private words"), npos) << Outputs(alice, bob);

  alice.Type("/quit bye\n");
  b = WaitLine(bob, b, "#test", {"alice2 has quit", "bye"});
  ASSERT_NE(b, npos) << Outputs(alice, bob);

  alice.CloseInput();
  bob.CloseInput();
  EXPECT_EQ(alice.WaitExit(), 0) << Outputs(alice, bob);
  EXPECT_EQ(bob.WaitExit(), 0) << Outputs(alice, bob);
}

}  // namespace
}  // namespace vanta::test
