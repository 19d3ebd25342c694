// Free ports, the line client and the wildcard patterns.
#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

#include "support/ports.h"
#include "support/wait.h"

namespace vanta::test {
namespace {

TEST(LineMatches, Patterns) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"NICK a", "NICK a", true},
      {"NICK a", "NICK ab", false},
      {"NICK a", "NICK", false},
      {"", "", true},
      {"", "x", false},
      {"*", "", true},
      {"*", "anything at all", true},
      {"PRIVMSG #c :*", "PRIVMSG #c :hello", true},
      {"PRIVMSG #c :*", "PRIVMSG #d :hello", false},
      {"*:hi", "PRIVMSG #c :hi", true},
      {"*:hi", "PRIVMSG #c :hi!", false},
      {"U*R * :*", "USER u 0 * :real name", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYcZ", false},
      {"**x", "x", true},
      {"?", "?", true},  // only "*" is special
      {"?", "a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(line_matches(c.pattern, c.text), c.match) << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
  }
}

TEST(FreePort, IsBindableOnEachFamily) {
  for (Family f : {Family::V4, Family::V6}) {
    if (!loopback_available(f)) continue;
    uint16_t port = FreePort(f);
    ASSERT_NE(port, 0) << family_name(f);
    EXPECT_EQ(try_connect_once(f, port), ECONNREFUSED) << "nothing listens on a free port";
  }
}

TEST(FreePort, RetryHelperMovesOnAfterConflicts) {
  std::vector<uint16_t> tried;
  uint16_t got = retry_with_free_port(Family::V4, [&](uint16_t p) {
    tried.push_back(p);
    return tried.size() == 3;
  });
  ASSERT_EQ(tried.size(), 3u);
  EXPECT_EQ(got, tried.back());
  EXPECT_EQ(retry_with_free_port(Family::V4, [](uint16_t) { return false; }, 2), 0);
}

TEST(ConnectLoopback, ReportsRefusedWithinTheBound) {
  uint16_t port = FreePort(Family::V4);
  std::string err;
  auto start = Clock::now();
  UniqueFd fd = connect_loopback(Family::V4, port, 100ms, &err);
  EXPECT_FALSE(fd.valid());
  EXPECT_NE(err.find("refused"), std::string::npos) << err;
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST(LineClient, FailsCleanlyWhenNotConnected) {
  LineClient c;
  EXPECT_FALSE(c.send_line("NICK x"));
  EXPECT_FALSE(c.read_line(10ms));
  EXPECT_FALSE(c.wait_closed(10ms));
  auto r = c.expect_line("*", 10ms);
  EXPECT_FALSE(r);
}

}  // namespace
}  // namespace vanta::test
