#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace net = vanta::platform::net;
using namespace std::chrono_literals;

namespace {

const sockaddr* Sa(const sockaddr_storage& ss) { return reinterpret_cast<const sockaddr*>(&ss); }

// A listener on the loopback address of `family`, or nullptr when the machine has none.
std::shared_ptr<net::Socket> LoopbackListener(int family, sockaddr_storage* where, int backlog = 5) {
  auto l = net::CreateListener(family, family == AF_INET ? "127.0.0.1" : "::1", 0, backlog);
  if (l) {
    EXPECT_TRUE(l->LocalAddress(where));
  }
  return l;
}

// A connected pair over IPv4 loopback: {client, server side}.
std::pair<std::shared_ptr<net::Socket>, std::shared_ptr<net::Socket>> ConnectedPair() {
  sockaddr_storage where{};
  auto l = LoopbackListener(AF_INET, &where);
  if (!l) return {};
  auto c = net::Socket::Create(AF_INET);
  if (!c || c->Connect(Sa(where), net::AddressLength(where)) != 0) return {};
  auto s = l->Accept();
  return {c, s};
}

bool DescriptorOpen(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) >= 0; }

}  // namespace

// ---- error codes ----

TEST(NetErrors, EveryErrnoHasItsWinsockCode) {
  const std::pair<int, int> cases[] = {
      {EINTR, 10004},        {EACCES, 10013},       {EPERM, 10013},         {EFAULT, 10014},
      {EINVAL, 10022},       {EMFILE, 10024},       {ENFILE, 10024},        {EAGAIN, 10035},
      {EWOULDBLOCK, 10035},  {EINPROGRESS, 10035},  {EALREADY, 10037},      {ENOTSOCK, 10038},
      {EBADF, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},      {ENOPROTOOPT, 10042},
      {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},  {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},    {ENETUNREACH, 10051},   {ENETRESET, 10052},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {EPIPE, 10054},         {ENOBUFS, 10055},
      {ENOMEM, 10055},       {EISCONN, 10056},      {ENOTCONN, 10057},      {ESHUTDOWN, 10058},
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},     {EHOSTUNREACH, 10065},
      // errno values without a counterpart
      {0, 0},                {ENOENT, 0},           {EEXIST, 0},            {-1, 0},
  };
  for (auto [err, wsa] : cases) EXPECT_EQ(net::WsaFromErrno(err), wsa) << "errno " << err;
}

TEST(NetErrors, SuffixOnlyForTheNamedCodes) {
  const std::pair<int, const char*> named[] = {
      {10004, "WSAEINTR"},        {10013, "WSAEACCES"},        {10014, "WSAEFAULT"},
      {10022, "WSAEINVAL"},       {10024, "WSAEMFILE"},        {10036, "WSAEINPROGRESS"},
      {10037, "WSAEALREADY"},     {10038, "WSAENOTSOCK"},      {10039, "WSAEDESTADDRREQ"},
      {10040, "WSAEMSGSIZE"},     {10042, "WSAENOPROTOOPT"},   {10045, "WSAEOPNOTSUPP"},
      {10046, "WSAEPFNOSUPPORT"}, {10047, "WSAEAFNOSUPPORT"},  {10048, "WSAEADDRINUSE"},
      {10049, "WSAEADDRNOTAVAIL"}, {10050, "WSAENETDOWN"},     {10051, "WSAENETUNREACH"},
      {10052, "WSAENETRESET"},    {10053, "WSAECONNABORTED"},  {10054, "WSAECONNRESET"},
      {10055, "WSAENOBUFS"},      {10056, "WSAEISCONN"},       {10057, "WSAENOTCONN"},
      {10061, "WSAECONNREFUSED"}, {10064, "WSAEHOSTDOWN"},     {10065, "WSAEHOSTUNREACH"},
  };
  for (auto [code, name] : named) {
    ASSERT_NE(net::WsaName(code), nullptr) << code;
    EXPECT_STREQ(net::WsaName(code), name);
    EXPECT_EQ(net::ErrorSuffix(code), " (" + std::to_string(code) + " - " + name + ")");
  }
  EXPECT_EQ(net::ErrorSuffix(10061), " (10061 - WSAECONNREFUSED)");
  for (int code : {0, -1, 10035, 10058, 10060, 11001, 11002, 11003, 11004, 10062, 99999}) {
    EXPECT_EQ(net::WsaName(code), nullptr) << code;
    EXPECT_EQ(net::ErrorSuffix(code), "") << code;
  }
}

TEST(NetErrors, ResolverResults) {
  const std::pair<int, int> cases[] = {
      {0, 0}, {EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_FAIL, 11003}, {EAI_NODATA, 11004},
      {EAI_FAMILY, 10047},
  };
  for (auto [eai, wsa] : cases) EXPECT_EQ(net::WsaFromGai(eai), wsa) << "eai " << eai;
  errno = ECONNREFUSED;
  EXPECT_EQ(net::WsaFromGai(EAI_SYSTEM), 10061);
}

TEST(NetErrors, LastErrorIsPerThread) {
  net::SetLastError(10061);
  int other = -1;
  std::thread([&] {
    other = net::LastError();
    net::SetLastError(10054);
  }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(net::LastError(), 10061);
}

// ---- connecting ----

TEST(NetConnect, RefusedOverLoopback) {
  // A bound but not listening socket holds the port, so nobody else can answer on it.
  auto holder = net::Socket::Create(AF_INET);
  ASSERT_TRUE(holder);
  sockaddr_storage where{};
  ASSERT_GT(net::MakeAddress(AF_INET, "127.0.0.1", 0, &where), 0u);
  ASSERT_EQ(holder->Bind(Sa(where), net::AddressLength(where)), 0);
  ASSERT_TRUE(holder->LocalAddress(&where));

  auto c = net::Socket::Create(AF_INET);
  ASSERT_TRUE(c);
  net::SetLastError(0);
  EXPECT_EQ(c->Connect(Sa(where), net::AddressLength(where)), -1);
  EXPECT_EQ(net::LastError(), 10061);
  EXPECT_EQ(net::ErrorSuffix(net::LastError()), " (10061 - WSAECONNREFUSED)");

  auto c2 = net::Socket::Create(AF_INET);
  ASSERT_TRUE(c2);
  net::SetLastError(0);
  EXPECT_EQ(c2->ConnectTimeout(Sa(where), net::AddressLength(where), 5000), -1);
  EXPECT_EQ(net::LastError(), 10061);
}

class NetEcho : public ::testing::TestWithParam<int> {};

TEST_P(NetEcho, ConnectAndEcho) {
  const int family = GetParam();
  sockaddr_storage where{};
  auto l = LoopbackListener(family, &where);
  if (!l && family == AF_INET6) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(l) << net::LastError();

  std::thread server([&] {
    sockaddr_storage peer{};
    auto s = l->Accept(&peer);
    if (!s) return;
    char buf[256];
    for (;;) {
      long n = s->Recv(buf, sizeof buf);
      if (n <= 0 || !s->SendAll(buf, static_cast<std::size_t>(n))) break;
    }
  });

  auto c = net::Socket::Create(family);
  ASSERT_TRUE(c);
  EXPECT_GT(c->fd(), 2);
  bool use_timeout = family == AF_INET6;  // both connect paths get exercised
  int rc = use_timeout ? c->ConnectTimeout(Sa(where), net::AddressLength(where), 5000)
                       : c->Connect(Sa(where), net::AddressLength(where));
  ASSERT_EQ(rc, 0) << net::LastError();

  sockaddr_storage local{}, peer{};
  ASSERT_TRUE(c->LocalAddress(&local));
  ASSERT_TRUE(c->PeerAddress(&peer));
  EXPECT_EQ(net::AddressText(peer), family == AF_INET ? "127.0.0.1" : "::1");
  EXPECT_EQ(net::Port(peer), net::Port(where));
  EXPECT_NE(net::Port(local), 0);

  const std::string msg = "PING :hello\r\n";
  ASSERT_TRUE(c->SendAll(msg.data(), msg.size()));
  std::string got;
  char buf[64];
  while (got.size() < msg.size()) {
    long n = c->Recv(buf, sizeof buf);
    ASSERT_GT(n, 0);
    got.append(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, msg);
  c->Close();
  server.join();
}

INSTANTIATE_TEST_SUITE_P(Net, NetEcho, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "IPv4" : "IPv6"; });

TEST(NetConnect, SendAllWritesLargeBuffersCompletely) {
  auto [c, s] = ConnectedPair();
  ASSERT_TRUE(c && s);
  std::string data(4 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
  std::string got;
  std::thread reader([&, s = s] {
    char buf[65536];
    for (;;) {
      long n = s->Recv(buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
  });
  EXPECT_TRUE(c->SendAll(data.data(), data.size()));
  c->Close();
  reader.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size();
}

TEST(NetConnect, CallsOnAClosedSocketFailCleanly) {
  auto [c, s] = ConnectedPair();
  ASSERT_TRUE(c && s);
  c->Close();
  c->Close();  // twice is harmless
  EXPECT_TRUE(c->closed());
  EXPECT_EQ(c->fd(), -1);
  char buf[8] = {};
  net::SetLastError(0);
  EXPECT_EQ(c->Recv(buf, sizeof buf), -1);
  EXPECT_EQ(net::LastError(), 10038);
  EXPECT_EQ(c->Send(buf, sizeof buf), -1);
  EXPECT_FALSE(c->SendAll(buf, sizeof buf));
  sockaddr_storage ss{};
  EXPECT_FALSE(c->LocalAddress(&ss));
  EXPECT_EQ(c->Connect(Sa(ss), sizeof(sockaddr_in)), -1);
  EXPECT_EQ(c->Accept(), nullptr);
  EXPECT_FALSE(net::Socket::Use(*c));
  EXPECT_EQ(net::Socket::Adopt(-1), nullptr);
  // The other side sees the end of the connection.
  EXPECT_EQ(s->Recv(buf, sizeof buf), 0);
}

// ---- closing from another thread ----

TEST(NetClose, WakesABlockedRecv) {
  auto [c, s] = ConnectedPair();
  ASSERT_TRUE(c && s);
  std::atomic<bool> entered{false};
  auto result = std::async(std::launch::async, [&, c = c] {
    char buf[16];
    entered = true;
    return c->Recv(buf, sizeof buf);
  });
  while (!entered) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);  // let the reader block inside recv
  c->Close();
  bool woke = result.wait_for(10s) == std::future_status::ready;
  if (!woke) s->Close();  // unblock the reader so the test ends either way
  EXPECT_TRUE(woke);
  EXPECT_LE(result.get(), 0);
  EXPECT_EQ(c->fd(), -1);
}

TEST(NetClose, WakesABlockedAccept) {
  sockaddr_storage where{};
  auto l = LoopbackListener(AF_INET, &where);
  ASSERT_TRUE(l);
  std::atomic<bool> entered{false};
  auto result = std::async(std::launch::async, [&] {
    entered = true;
    return l->Accept();
  });
  while (!entered) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);
  l->Close();
  bool woke = result.wait_for(10s) == std::future_status::ready;
  if (!woke) {  // unblock by connecting, so the test ends either way
    auto c = net::Socket::Create(AF_INET);
    if (c) c->Connect(Sa(where), net::AddressLength(where));
  }
  EXPECT_TRUE(woke);
  EXPECT_EQ(result.get(), nullptr);
  EXPECT_EQ(l->fd(), -1);
}

TEST(NetClose, DescriptorStaysOpenWhileInUse) {
  auto [c, s] = ConnectedPair();
  ASSERT_TRUE(c && s);
  const int fd = c->fd();
  struct stat before{}, during{};
  ASSERT_EQ(::fstat(fd, &before), 0);
  {
    net::Socket::Use use(*c);
    ASSERT_TRUE(use);
    EXPECT_EQ(use.fd(), fd);
    c->Close();
    EXPECT_TRUE(c->closed());
    // Shut down but not released: the number still names the same socket.
    EXPECT_EQ(c->fd(), fd);
    ASSERT_EQ(::fstat(fd, &during), 0);
    EXPECT_EQ(during.st_ino, before.st_ino);
    char buf[4];
    EXPECT_EQ(::recv(fd, buf, sizeof buf, 0), 0);  // the shutdown is visible to the user
  }
  EXPECT_EQ(c->fd(), -1);
}

TEST(NetClose, ReaderInsideRecvKeepsTheDescriptor) {
  // Two readers block in Recv; Close wakes both and the number is released only after the last one left.
  auto [c, s] = ConnectedPair();
  ASSERT_TRUE(c && s);
  const int fd = c->fd();
  std::atomic<int> inside{0};
  std::vector<std::thread> readers;
  std::vector<long> results(2, 99);
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&, i, c = c] {
      char buf[8];
      inside++;
      results[i] = c->Recv(buf, sizeof buf);
    });
  }
  while (inside < 2) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);
  {
    net::Socket::Use use(*c);  // stands for a third user that has not returned yet
    ASSERT_TRUE(use);
    c->Close();
    for (auto& t : readers) t.join();
    EXPECT_TRUE(DescriptorOpen(fd));
    EXPECT_EQ(c->fd(), fd);
  }
  EXPECT_EQ(c->fd(), -1);
  for (long r : results) EXPECT_LE(r, 0);
}

// A connect that hangs: the listener's accept queue is full, so loopback SYNs are dropped.
class NetConnectTimeout : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = LoopbackListener(AF_INET, &where_, 0);
    ASSERT_TRUE(listener_);
    // Fill the queue until one connect hangs; that proves the next ones hang as well.
    for (int i = 0; i < 6; ++i) {
      auto f = net::Socket::Create(AF_INET);
      ASSERT_TRUE(f);
      fillers_.push_back(f);
      if (f->ConnectTimeout(Sa(where_), net::AddressLength(where_), 100) != 0 &&
          net::LastError() == net::kWsaEtimedout) {
        return;
      }
    }
    GTEST_SKIP() << "connects to a full accept queue do not hang on this machine";
  }
  sockaddr_storage where_{};
  std::shared_ptr<net::Socket> listener_;
  std::vector<std::shared_ptr<net::Socket>> fillers_;
};

TEST_F(NetConnectTimeout, TimesOutWithWsaETimedOut) {
  auto c = net::Socket::Create(AF_INET);
  ASSERT_TRUE(c);
  net::SetLastError(0);
  EXPECT_EQ(c->ConnectTimeout(Sa(where_), net::AddressLength(where_), 100), -1);
  EXPECT_EQ(net::LastError(), net::kWsaEtimedout);
  EXPECT_EQ(net::ErrorSuffix(net::LastError()), "");
  // The socket is back in blocking mode.
  {
    net::Socket::Use use(*c);
    ASSERT_TRUE(use);
    EXPECT_EQ(::fcntl(use.fd(), F_GETFL) & O_NONBLOCK, 0);
  }
}

TEST_F(NetConnectTimeout, CloseFromAnotherThreadEndsTheWait) {
  for (bool with_limit : {true, false}) {
    SCOPED_TRACE(with_limit ? "ConnectTimeout" : "Connect");
    auto c = net::Socket::Create(AF_INET);
    ASSERT_TRUE(c);
    std::atomic<bool> entered{false};
    auto result = std::async(std::launch::async, [&] {
      entered = true;
      int rc = with_limit ? c->ConnectTimeout(Sa(where_), net::AddressLength(where_), 60000)
                          : c->Connect(Sa(where_), net::AddressLength(where_));
      return std::make_pair(rc, net::LastError());
    });
    while (!entered) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    c->Close();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    auto [rc, err] = result.get();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(err, net::kWsaEintr);
    EXPECT_EQ(c->fd(), -1);
  }
}

TEST_F(NetConnectTimeout, NonBlockingConnectReturnsAtOnce) {
  auto c = net::Socket::Create(AF_INET);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->SetNonBlocking(true));
  net::SetLastError(0);
  EXPECT_EQ(c->Connect(Sa(where_), net::AddressLength(where_)), -1);
  EXPECT_EQ(net::LastError(), net::kWsaEwouldblock);
}

// ---- process hygiene (in child processes, which may die without harming the test run) ----

// Child-process bodies: exit status 0 when all is well.
void SendToClosedPeerChild() {
  ::signal(SIGPIPE, SIG_DFL);  // even without InitProcess
  auto pair = ConnectedPair();
  if (!pair.first || !pair.second) _exit(2);
  pair.second->Close();
  std::this_thread::sleep_for(50ms);
  std::string line(1000, 'x');
  bool failed = false;
  for (int i = 0; i < 200 && !failed; ++i) failed = !pair.first->SendAll(line.data(), line.size());
  _exit(failed && net::LastError() == 10054 ? 0 : 3);
}

void SocketWithStdinClosedChild() {
  ::close(0);
  auto s = net::Socket::Create(AF_INET);
  _exit(s && s->fd() > 2 && DescriptorOpen(0) ? 0 : 1);
}

void InitProcessChild() {
  ::close(0);
  ::close(2);
  net::InitProcess();
  net::InitProcess();
  struct sigaction sa {};
  ::sigaction(SIGPIPE, nullptr, &sa);
  auto s = net::Socket::Create(AF_INET);
  _exit(DescriptorOpen(0) && DescriptorOpen(2) && sa.sa_handler == SIG_IGN && s && s->fd() > 2 ? 0 : 1);
}

TEST(NetProcessDeathTest, SendToAClosedPeerNeverRaisesSigpipe) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SendToClosedPeerChild(), ::testing::ExitedWithCode(0), "");
}

TEST(NetProcessDeathTest, NoSocketTakesAStandardDescriptor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Without InitProcess a socket created while 0 is free is moved above 2, and 0 stays taken.
  EXPECT_EXIT(SocketWithStdinClosedChild(), ::testing::ExitedWithCode(0), "");
  // InitProcess reopens missing standard descriptors and ignores SIGPIPE; calling it twice is harmless.
  EXPECT_EXIT(InitProcessChild(), ::testing::ExitedWithCode(0), "");
}

// ---- listeners ----

TEST(NetListener, OptionsAndAddresses) {
  sockaddr_storage where{};
  auto l4 = LoopbackListener(AF_INET, &where);
  ASSERT_TRUE(l4);
  EXPECT_EQ(net::AddressText(where), "127.0.0.1");
  EXPECT_NE(net::Port(where), 0);
  {
    net::Socket::Use use(*l4);
    int on = 0;
    socklen_t len = sizeof on;
    ASSERT_EQ(::getsockopt(use.fd(), SOL_SOCKET, SO_REUSEADDR, &on, &len), 0);
    EXPECT_EQ(on, 1);
  }

  auto l6 = net::CreateListener(AF_INET6, "", 0);
  if (!l6) GTEST_SKIP() << "no IPv6 here";
  net::Socket::Use use(*l6);
  ASSERT_TRUE(use);
  int v6only = 0;
  socklen_t len = sizeof v6only;
  ASSERT_EQ(::getsockopt(use.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &len), 0);
  EXPECT_EQ(v6only, 1);
}

TEST(NetListener, RefusesBadAddresses) {
  net::SetLastError(0);
  EXPECT_EQ(net::CreateListener(AF_INET, "no-such-host.invalid", 0), nullptr);
  EXPECT_EQ(net::LastError(), 11001);
  EXPECT_EQ(net::CreateListener(AF_UNIX, "", 0), nullptr);
  EXPECT_EQ(net::LastError(), 10047);
  // A port already taken without SO_REUSEADDR sharing (a listener holds it).
  sockaddr_storage where{};
  auto l = LoopbackListener(AF_INET, &where);
  ASSERT_TRUE(l);
  EXPECT_EQ(net::CreateListener(AF_INET, "127.0.0.1", net::Port(where)), nullptr);
  EXPECT_EQ(net::LastError(), 10048);
}

// ---- names ----

TEST(NetNames, ResolutionOfLoopbackAndInvalidNames) {
  struct Case {
    const char* host;
    bool dotted;
    const char* v4;  // nullptr: no IPv4 address
    const char* v6;  // "": no IPv6 address
  };
  const Case cases[] = {
      {"127.0.0.1", true, "127.0.0.1", ""},
      {"::1", false, nullptr, "::1"},
      {"localhost", false, "127.0.0.1", "::1"},
      {"LocalHost.", false, "127.0.0.1", "::1"},
      {"irc.localhost", false, "127.0.0.1", "::1"},
      {"no-such-host.invalid", false, nullptr, ""},
      {"INVALID", false, nullptr, ""},
      {"", false, nullptr, ""},
      {"256.1.1.1.invalid", false, nullptr, ""},
      {"127.0.0.1 ", false, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(net::IsDottedAddress(c.host), c.dotted);
    in_addr a{};
    net::SetLastError(0);
    bool ok = net::ResolveIPv4(c.host, &a);
    EXPECT_EQ(ok, c.v4 != nullptr);
    if (ok) {
      EXPECT_EQ(net::DottedText(a), c.v4);
    } else {
      EXPECT_NE(net::LastError(), 0);
    }
    EXPECT_EQ(net::IPv6NumericText(c.host), c.v6);
  }
  in_addr a{};
  net::SetLastError(0);
  EXPECT_FALSE(net::ResolveIPv4("no-such-host.invalid", &a));
  EXPECT_EQ(net::LastError(), 11001);
  EXPECT_FALSE(net::ResolveIPv4(std::string_view("127.0.0.1\0x", 11), &a));  // an embedded NUL is no name
  EXPECT_FALSE(net::IsDottedAddress("1.2.3"));
  EXPECT_FALSE(net::IsDottedAddress("1.2.3.4.5"));
}

TEST(NetNames, ResolveIPv6FillsTheAddressAndPort) {
  sockaddr_in6 a6{};
  ASSERT_EQ(net::ResolveIPv6("::1", "6667", &a6), sizeof(sockaddr_in6));
  EXPECT_EQ(a6.sin6_family, AF_INET6);
  EXPECT_EQ(ntohs(a6.sin6_port), 6667);
  EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&a6.sin6_addr));
  ASSERT_EQ(net::ResolveIPv6("localhost", "0", &a6), sizeof(sockaddr_in6));
  EXPECT_EQ(ntohs(a6.sin6_port), 0);
  EXPECT_EQ(net::ResolveIPv6("no-such-host.invalid", "6667", &a6), 0u);
  EXPECT_EQ(net::ResolveIPv6("127.0.0.1", "6667", &a6), 0u);
  EXPECT_EQ(net::ResolveIPv6("::1", "not-a-port-name-at-all", &a6), 0u);
}

TEST(NetNames, AddressTextAndPorts) {
  struct Case {
    int family;
    const char* text;
    uint16_t port;
    const char* shown;  // nullptr: refused
  };
  const Case cases[] = {
      {AF_INET, "10.1.2.3", 6667, "10.1.2.3"},
      {AF_INET6, "::1", 113, "::1"},
      {AF_INET6, "2001:DB8::0:1", 65535, "2001:db8::1"},
      {AF_INET6, "::ffff:1.2.3.4", 1, "::ffff:1.2.3.4"},
      {AF_INET, "::1", 1, nullptr},
      {AF_INET6, "1.2.3.4", 1, nullptr},
      {AF_INET, "localhost", 1, nullptr},  // numeric text only
      {AF_UNIX, "1.2.3.4", 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sockaddr_storage ss{};
    socklen_t len = net::MakeAddress(c.family, c.text, c.port, &ss);
    if (!c.shown) {
      EXPECT_EQ(len, 0u);
      EXPECT_EQ(net::AddressText(ss), "");
      EXPECT_EQ(net::Port(ss), 0);
      continue;
    }
    EXPECT_EQ(len, net::AddressLength(ss));
    EXPECT_EQ(net::AddressText(ss), c.shown);
    EXPECT_EQ(net::Port(ss), c.port);
  }
  in_addr a{};
  a.s_addr = htonl(0xC0A80001);
  EXPECT_EQ(net::DottedText(a), "192.168.0.1");
}

TEST(NetNames, OwnHostName) {
  std::string name = net::HostName();
  ASSERT_FALSE(name.empty());
  // Resolving the own name must not reach a name server: only try when the hosts file knows it.
  std::ifstream hosts("/etc/hosts");
  std::string line;
  bool listed = false;
  while (std::getline(hosts, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string addr, word;
    words >> addr;
    if (addr.find(':') != std::string::npos) continue;
    while (words >> word) listed = listed || word == name;
  }
  if (!listed) GTEST_SKIP() << "the host name is not in /etc/hosts";
  in_addr a{};
  EXPECT_TRUE(net::FirstAddressOfHostName(&a));
}
