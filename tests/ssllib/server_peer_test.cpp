// The client side against `openssl s_server`: verification, trust override, connection details,
// traffic, and the protocol floor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "sessions/secure_transport.h"
#include "tls_test_util.h"

namespace tls = vanta::sessions::tls;

namespace {

// Sets an environment variable for the life of the object (tests run one at a time).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

struct Connection {
  int fd = -1;
  int32_t h = 0;
  std::string reason;
  ~Connection() {
    if (h) tls::Shutdown(h);
    if (fd >= 0) close(fd);
    if (h) tls::Close(h);
  }
};

std::unique_ptr<Connection> Connect(int port, const std::string& host, bool accept_untrusted) {
  auto c = std::make_unique<Connection>();
  c->fd = ssltest::ConnectLoopback(port);
  if (c->fd >= 0) c->h = tls::InitClient(c->fd, 1, host, accept_untrusted, &c->reason);
  return c;
}

// Reads until `want` bytes arrived or the connection ends.
std::string ReadBytes(int32_t h, std::size_t want) {
  std::string got;
  char buf[1000];
  while (got.size() < want) {
    int32_t n = tls::Read(h, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

class ServerPeer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ssltest::TempDir();
    made_ = ssltest::MakeCerts(dir_->path(), &certs_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(made_) << "openssl could not make the test certificates";
    ASSERT_TRUE(tls::LibraryAvailable());
  }

  static ssltest::TempDir* dir_;
  static ssltest::Certs certs_;
  static bool made_;
};
ssltest::TempDir* ServerPeer::dir_ = nullptr;
ssltest::Certs ServerPeer::certs_;
bool ServerPeer::made_ = false;

TEST_F(ServerPeer, VerificationOutcomes) {
  struct Case {
    const char* what;
    bool ca_signed;       // the server shows the CA-signed certificate (else the self-signed one)
    bool trust_ca;        // the test CA is in the trust store
    std::string host;
    bool accept_untrusted;
    bool connects;
    std::string reason;   // expected part of the reason ("" = the reason is empty)
  };
  const Case cases[] = {
      {"self-signed refused", false, false, "localhost", false, false, "certificate verify failed: self-signed certificate"},
      {"self-signed accepted by override", false, false, "localhost", true, true, "self-signed certificate"},
      {"trusted CA, matching name", true, true, "localhost", false, true, ""},
      {"trusted CA, matching name with trailing dot", true, true, "localhost.", false, true, ""},
      {"trusted CA, matching IP address", true, true, "127.0.0.1", false, true, ""},
      {"trusted CA, other name", true, true, "irc.example.test", false, false, "host name mismatch"},
      {"trusted CA, other IP address", true, true, "::1", false, false, "host name mismatch"},
      {"trusted CA, other name accepted by override", true, true, "irc.example.test", true, true, "host name mismatch"},
      {"unknown CA refused", true, false, "localhost", false, false, "certificate verify failed: unable to get local issuer"},
      {"no host: not verified", false, false, "", false, true, ""},
  };
  ssltest::SServer self_server, ca_server;
  ASSERT_TRUE(self_server.Start(certs_.self_cert, certs_.self_key, {"-rev"}));
  ASSERT_TRUE(ca_server.Start(certs_.leaf_cert, certs_.leaf_key, {"-rev"}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An empty file stands for a trust store without the test CA.
    std::unique_ptr<ScopedEnv> env;
    std::string empty = dir_->File("empty.pem");
    ssltest::WriteFile(empty, "");
    env = std::make_unique<ScopedEnv>("SSL_CERT_FILE", c.trust_ca ? certs_.ca_cert : empty);
    auto conn = Connect(c.ca_signed ? ca_server.port() : self_server.port(), c.host, c.accept_untrusted);
    ASSERT_GE(conn->fd, 0);
    EXPECT_EQ(conn->h != 0, c.connects) << conn->reason;
    if (c.reason.empty())
      EXPECT_EQ(conn->reason, "");
    else
      EXPECT_NE(conn->reason.find(c.reason), std::string::npos) << conn->reason;
  }
}

TEST_F(ServerPeer, RefusedHandshakeLeavesSocketToCaller) {
  ssltest::SServer server;
  ASSERT_TRUE(server.Start(certs_.self_cert, certs_.self_key, {"-rev"}));
  auto conn = Connect(server.port(), "localhost", false);
  ASSERT_EQ(conn->h, 0);
  // The socket is still open and blocking: the caller closes it.
  int flags = fcntl(conn->fd, F_GETFL);
  ASSERT_NE(flags, -1);
  EXPECT_EQ(flags & O_NONBLOCK, 0);
}

TEST_F(ServerPeer, InfoDescribesCipherAndCertificate) {
  ScopedEnv env("SSL_CERT_FILE", certs_.ca_cert);
  ssltest::SServer ca_server, self_server;
  ASSERT_TRUE(ca_server.Start(certs_.leaf_cert, certs_.leaf_key, {"-rev"}));
  ASSERT_TRUE(self_server.Start(certs_.self_cert, certs_.self_key, {"-rev"}));

  auto conn = Connect(ca_server.port(), "localhost", false);
  ASSERT_NE(conn->h, 0) << conn->reason;
  std::string cipher, subject, issuer;
  ASSERT_TRUE(tls::Info(conn->h, &cipher, &subject, &issuer));
  EXPECT_NE(cipher.find("TLSv1."), std::string::npos) << cipher;
  EXPECT_NE(cipher.find("bits"), std::string::npos) << cipher;
  EXPECT_EQ(subject, "CN = localhost");
  EXPECT_EQ(issuer, "CN = Vanta Test CA");

  auto self = Connect(self_server.port(), "localhost", true);
  ASSERT_NE(self->h, 0) << self->reason;
  ASSERT_TRUE(tls::Info(self->h, &cipher, &subject, &issuer));
  EXPECT_EQ(subject, "CN = localhost");
  EXPECT_EQ(issuer, subject);
}

TEST_F(ServerPeer, EchoRoundTrip) {
  ssltest::SServer server;
  ASSERT_TRUE(server.Start(certs_.self_cert, certs_.self_key, {"-rev"}));
  auto conn = Connect(server.port(), "localhost", true);
  ASSERT_NE(conn->h, 0) << conn->reason;
  const std::string line = "PRIVMSG #vanta :hello over tls\n";
  ASSERT_EQ(tls::Write(conn->h, line.data(), static_cast<int32_t>(line.size())), static_cast<int32_t>(line.size()));
  std::string want(line.rbegin() + 1, line.rend());
  EXPECT_EQ(ReadBytes(conn->h, want.size() + 1), want + "\n");
  // Byte-at-a-time reads (the proxy reply path) see the same stream.
  const std::string second = "abc\n";
  ASSERT_EQ(tls::Write(conn->h, second.data(), 4), 4);
  std::string got;
  char c;
  while (got.size() < 4 && tls::Read(conn->h, &c, 1) == 1) got += c;
  EXPECT_EQ(got, "cba\n");
}

TEST_F(ServerPeer, OldProtocolRefused) {
  ssltest::SServer server;
  if (!server.Start(certs_.self_cert, certs_.self_key, {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0", "-rev"}))
    GTEST_SKIP() << "this openssl build cannot serve TLS 1.1";
  auto conn = Connect(server.port(), "", false);
  EXPECT_EQ(conn->h, 0);
  EXPECT_EQ(conn->reason.rfind("handshake failed: ", 0), 0u) << conn->reason;
}

TEST_F(ServerPeer, PeerClosingMidStreamEndsReads) {
  ssltest::SServer server;
  // -naccept 1: the server exits after the first connection ends; "CLOSE" makes it end.
  ASSERT_TRUE(server.Start(certs_.self_cert, certs_.self_key, {"-rev", "-naccept", "1"}));
  auto conn = Connect(server.port(), "", false);
  ASSERT_NE(conn->h, 0) << conn->reason;
  ASSERT_EQ(tls::Write(conn->h, "CLOSE\n", 6), 6);
  char buf[1000];
  int32_t n = 1;
  for (int i = 0; i < 100 && n > 0; ++i) n = tls::Read(conn->h, buf, sizeof buf);
  EXPECT_LE(n, 0);
}

}  // namespace
