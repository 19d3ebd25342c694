// The connection code against a real IRC server (ngircd) on loopback: registration over both
// families, staying up across the server's PINGs, reconnecting after a restart, and TLS.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "support/real_servers.h"

namespace vanta::sessions {
namespace {

using namespace std::chrono_literals;
using test::Family;
using test::RealServer;
using test::ServerKind;

class RealServerTest : public test::CoreTest {
 protected:
  RealServerTest() { background_ui = true; }
  int Connect(const std::string& host, uint16_t port) {
    int n = MakeServerWindow(host, port, "vantatest");
    StartConnection(n, "", 0);
    return n;
  }
};

TEST_F(RealServerTest, RegistersOverBothFamilies) {
  for (Family family : {Family::V4, Family::V6}) {
    SCOPED_TRACE(family == Family::V4 ? "IPv4" : "IPv6");
    if (family == Family::V6 && !test::loopback_available(Family::V6)) continue;
    RealServer irc(ServerKind::Ngircd, {.family = family});
    VANTA_REQUIRE_SERVER(irc);
    fe->Clear();
    const std::string host = family == Family::V4 ? "127.0.0.1" : "::1";
    int n = Connect(host, irc.port());
    ASSERT_TRUE(WaitShown(" 001 vantatest ", "", 8000)) << AllShown();
    EXPECT_TRUE(WaitShown(" 376 vantatest ", "", 8000)) << AllShown();
    EXPECT_TRUE(WindowTable::Get().Session(n)->connected.load());
    platform::UiLoop::Get().CallSync([&] { WindowTable::Get().Close(n, true); });
    ASSERT_TRUE(PumpUntil([] { return platform::RunningThreads() == 0; }, 5000));
  }
}

TEST_F(RealServerTest, StaysUpAcrossPings) {
  setenv("NGIRCD_PING_TIMEOUT", "2", 1);
  setenv("NGIRCD_PONG_TIMEOUT", "2", 1);
  RealServer irc(ServerKind::Ngircd);
  unsetenv("NGIRCD_PING_TIMEOUT");
  unsetenv("NGIRCD_PONG_TIMEOUT");
  VANTA_REQUIRE_SERVER(irc);
  int n = Connect("127.0.0.1", irc.port());
  ASSERT_TRUE(WaitShown(" 001 vantatest ", "", 8000)) << AllShown();
  // The server pings every couple of seconds and drops a client that does not answer.
  ASSERT_TRUE(PumpUntil([&] { return Shown("PING").size() >= 2; }, 12000)) << AllShown();
  EXPECT_TRUE(Shown("Disconnected").empty()) << AllShown();
  EXPECT_TRUE(WindowTable::Get().Session(n)->connected.load());
}

TEST_F(RealServerTest, ReconnectsAfterRestart) {
  RealServer irc(ServerKind::Ngircd);
  VANTA_REQUIRE_SERVER(irc);
  int n = Connect("127.0.0.1", irc.port());
  WindowTable::Get().Session(n)->reconnect.store(1);
  ASSERT_TRUE(WaitShown(" 001 vantatest ", "", 8000)) << AllShown();
  irc.kill();
  ASSERT_TRUE(WaitShown("Disconnected", "", 8000)) << AllShown();
  ASSERT_TRUE(irc.restart()) << irc.error();
  fe->Clear();
  EXPECT_TRUE(WaitShown(" 001 vantatest ", "", 15000)) << AllShown();
}

class TlsServerTest : public RealServerTest {
 protected:
  // Connects to the TLS port; the certificate is self-signed for "localhost".
  int ConnectTls(const RealServer& irc, bool trusted) {
    int n = MakeServerWindow("localhost", irc.tls_port(), "vantatest");
    auto s = WindowTable::Get().Session(n);
    s->secure.store(1);
    s->accept_untrusted.store(trusted ? 1 : 0);
    StartConnection(n, "", 0);
    return n;
  }
};

TEST_F(TlsServerTest, UntrustedCertificateIsRefusedWithItsReason) {
  RealServer irc(ServerKind::Ngircd, {.tls = true});
  VANTA_REQUIRE_SERVER(irc);
  ConnectTls(irc, false);
  ASSERT_TRUE(WaitShown("self-signed", "", 15000)) << AllShown();
  EXPECT_TRUE(WaitShown("Disconnected", "", 5000)) << AllShown();
  EXPECT_TRUE(Shown(" 001 ").empty());
}

TEST_F(TlsServerTest, TrustedServerRegistersAndShowsItsCertificate) {
  RealServer irc(ServerKind::Ngircd, {.tls = true});
  VANTA_REQUIRE_SERVER(irc);
  SetPref("SSLTrust", "localhost", "1");  // the user accepted this server's certificate
  int n = ConnectTls(irc, false);
  ASSERT_TRUE(WaitShown(" 001 vantatest ", "", 15000)) << AllShown();
  EXPECT_FALSE(Shown("SSL Cipher: ").empty()) << AllShown();
  EXPECT_FALSE(Shown("SSL Subject: ").empty());
  EXPECT_FALSE(Shown("SSL Issuer: ").empty());
  EXPECT_TRUE(WindowTable::Get().Session(n)->secure.load());
}

}  // namespace
}  // namespace vanta::sessions
