// Real servers from Debian: start, register a raw client, restart on the same port, stop.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "support/ports.h"
#include "support/real_servers.h"

namespace vanta::test {
namespace {

bool process_gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

class RealServerTest : public ::testing::TestWithParam<ServerKind> {};

TEST_P(RealServerTest, RegistersAClientAndRestartsOnTheSamePort) {
  RealServer srv(GetParam());
  VANTA_REQUIRE_SERVER(srv);
  const uint16_t port = srv.port();
  ASSERT_NE(port, 0);

  LineClient alice(srv.family(), port);
  ASSERT_TRUE(alice.connected()) << alice.error();
  ASSERT_TRUE(alice.register_as("alice")) << "server output:\n" << srv.log();
  EXPECT_TRUE(line_matches(":" + srv.server_name() + " 001 alice *", alice.received().front()))
      << alice.received().front();

  // A second user on the same server sees messages from the first.
  LineClient bob(srv.family(), port);
  ASSERT_TRUE(bob.register_as("bob"));
  ASSERT_TRUE(alice.send_line("PRIVMSG bob :hello there"));
  EXPECT_TRUE(bob.expect_line(":alice!*@* PRIVMSG bob :hello there"));

  const pid_t old_pid = srv.pid();
  ASSERT_TRUE(srv.restart()) << srv.error();
  EXPECT_EQ(srv.port(), port);
  EXPECT_NE(srv.pid(), old_pid);
  EXPECT_TRUE(process_gone(old_pid));
  EXPECT_TRUE(alice.wait_closed(3s));

  LineClient again(srv.family(), port);
  ASSERT_TRUE(again.register_as("alice")) << "server output:\n" << srv.log();
}

TEST_P(RealServerTest, KillCutsClientsOffAndStopReleasesThePort) {
  RealServer srv(GetParam());
  VANTA_REQUIRE_SERVER(srv);
  LineClient c(srv.family(), srv.port());
  ASSERT_TRUE(c.register_as("victim"));

  pid_t pid = srv.pid();
  ASSERT_TRUE(srv.kill());
  EXPECT_TRUE(process_gone(pid));
  EXPECT_TRUE(c.wait_closed(3s));
  EXPECT_FALSE(srv.running());
  EXPECT_EQ(try_connect_once(srv.family(), srv.port()), ECONNREFUSED);

  ASSERT_TRUE(srv.restart()) << srv.error();
  pid = srv.pid();
  ASSERT_TRUE(srv.stop());
  EXPECT_TRUE(process_gone(pid)) << "stopped server not reaped";
  EXPECT_EQ(try_connect_once(srv.family(), srv.port()), ECONNREFUSED);
  EXPECT_FALSE(srv.stop());  // nothing left to stop
}

TEST_P(RealServerTest, ListensOnIPv6LoopbackWhenAsked) {
  RealServerOptions opts;
  opts.family = Family::V6;
  opts.dual_stack = true;
  RealServer srv(GetParam(), opts);
  VANTA_REQUIRE_SERVER(srv);
  LineClient v6(Family::V6, srv.port());
  ASSERT_TRUE(v6.register_as("six"));
  LineClient v4(Family::V4, srv.port());
  ASSERT_TRUE(v4.register_as("four"));
}

TEST_P(RealServerTest, DestructorStopsTheServerAndRemovesItsDirectory) {
  pid_t pid;
  std::string dir;
  {
    RealServer srv(GetParam());
    VANTA_REQUIRE_SERVER(srv);
    pid = srv.pid();
    dir = srv.dir();
    ASSERT_TRUE(std::filesystem::exists(dir));
  }
  EXPECT_TRUE(process_gone(pid));
  EXPECT_FALSE(std::filesystem::exists(dir));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTest, ::testing::Values(ServerKind::Ngircd, ServerKind::Inspircd),
                         [](const auto& info) { return std::string(server_kind_name(info.param)); });

TEST(RealServerTls, NgircdAnswersOverTls) {
  RealServerOptions opts;
  opts.tls = true;
  RealServer srv(ServerKind::Ngircd, opts);
  VANTA_REQUIRE_SERVER(srv);
  ASSERT_NE(srv.tls_port(), 0);
  ASSERT_NE(srv.tls_port(), srv.port());
  if (find_program("openssl").empty()) GTEST_SKIP() << "no openssl";
  // The openssl tool is a complete TLS client: register through it and quit.
  ProgramResult r = run_program({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(srv.tls_port()),
                                 "-CAfile", srv.cert_file(), "-verify_return_error", "-ign_eof", "-quiet"},
                                "NICK tls\r\nUSER tls 0 * :tls\r\nQUIT\r\n", 10s);
  EXPECT_FALSE(r.timed_out);
  EXPECT_NE(r.output.find(" 001 tls "), std::string::npos) << r.output;
}

TEST(RealServerTls, OnlyNgircdHasATlsVariant) {
  RealServerOptions opts;
  opts.tls = true;
  RealServer srv(ServerKind::Inspircd, opts);
  EXPECT_FALSE(srv.available());
  EXPECT_FALSE(srv.skip_reason().empty());
}

TEST(RunProgram, ReportsStatusOutputAndTimeOut) {
  ProgramResult ok = run_program({"sh", "-c", "read x; echo got $x; exit 3"}, "line\n", 5s);
  EXPECT_TRUE(ok.started);
  EXPECT_EQ(ok.exit_status, 3);
  EXPECT_EQ(ok.output, "got line\n");

  ProgramResult slow = run_program({"sleep", "30"}, {}, 100ms);
  EXPECT_TRUE(slow.timed_out);

  ProgramResult missing = run_program({"no-such-program-vanta"}, {}, 1s);
  EXPECT_FALSE(missing.started);
}

}  // namespace
}  // namespace vanta::test
