#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vanta::platform::net {
namespace {

thread_local int t_last_error = 0;

struct ErrnoMap {
  int err;
  int wsa;
};

// Linux errno values and their Winsock counterparts. EWOULDBLOCK equals EAGAIN on Linux.
constexpr ErrnoMap kErrnoMap[] = {
    {EINTR, 10004},        {EACCES, 10013},       {EPERM, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},       {ENFILE, 10024},       {EAGAIN, 10035},
    {EINPROGRESS, 10035},  {EALREADY, 10037},     {ENOTSOCK, 10038},     {EBADF, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},     {ENOPROTOOPT, 10042},  {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ENETRESET, 10052},    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},        {ENOBUFS, 10055},      {ENOMEM, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},     {ESHUTDOWN, 10058},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
};

struct WsaNameEntry {
  int wsa;
  const char* name;
};

constexpr WsaNameEntry kNames[] = {
    {10004, "WSAEINTR"},        {10013, "WSAEACCES"},       {10014, "WSAEFAULT"},
    {10022, "WSAEINVAL"},       {10024, "WSAEMFILE"},       {10036, "WSAEINPROGRESS"},
    {10037, "WSAEALREADY"},     {10038, "WSAENOTSOCK"},     {10039, "WSAEDESTADDRREQ"},
    {10040, "WSAEMSGSIZE"},     {10042, "WSAENOPROTOOPT"},  {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"}, {10047, "WSAEAFNOSUPPORT"}, {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"}, {10050, "WSAENETDOWN"},    {10051, "WSAENETUNREACH"},
    {10052, "WSAENETRESET"},    {10053, "WSAECONNABORTED"}, {10054, "WSAECONNRESET"},
    {10055, "WSAENOBUFS"},      {10056, "WSAEISCONN"},      {10057, "WSAENOTCONN"},
    {10061, "WSAECONNREFUSED"}, {10064, "WSAEHOSTDOWN"},    {10065, "WSAEHOSTUNREACH"},
};

void SetErrno(int err) { t_last_error = WsaFromErrno(err); }

// Points /dev/null at descriptor `fd` (which must be free or be replaced).
void NullOnto(int fd) {
  int nul = ::open("/dev/null", O_RDWR);
  if (nul < 0) return;
  if (nul != fd) {
    ::dup2(nul, fd);
    ::close(nul);
  }
}

// A descriptor in 0..2 is moved above them and /dev/null takes its place, so a socket is never 0.
int MoveAboveStdio(int fd) {
  if (fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return fd;
  NullOnto(fd);
  return moved;
}

// An eventfd closed at scope end.
struct EventFd {
  int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ~EventFd() {
    if (fd >= 0) ::close(fd);
  }
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// True when `host` is `domain` or a name below it (a final dot allowed).
bool InDomain(std::string_view host, std::string_view domain) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  if (EqualsNoCase(host, domain)) return true;
  if (host.size() <= domain.size() + 1) return false;
  return host[host.size() - domain.size() - 1] == '.' &&
         EqualsNoCase(host.substr(host.size() - domain.size()), domain);
}

// Names that can be looked up at all: non-empty, no NUL (it would silently cut the name short).
bool UsableName(std::string_view host) {
  return !host.empty() && host.find('\0') == std::string_view::npos;
}

struct AddrInfo {
  addrinfo* list = nullptr;
  ~AddrInfo() {
    if (list) ::freeaddrinfo(list);
  }
};

// getaddrinfo for one family; sets LastError and returns false when nothing is found.
bool Lookup(const std::string& host, const char* service, int family, int flags, AddrInfo* out) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  int rc = ::getaddrinfo(host.c_str(), service, &hints, &out->list);
  if (rc != 0) {
    out->list = nullptr;
    t_last_error = WsaFromGai(rc);
    if (t_last_error == 0) t_last_error = kWsaNoRecovery;
    return false;
  }
  for (addrinfo* ai = out->list; ai; ai = ai->ai_next) {
    if (ai->ai_family == family) return true;
  }
  t_last_error = kWsaNoData;
  return false;
}

const addrinfo* FirstOf(const AddrInfo& info, int family) {
  for (addrinfo* ai = info.list; ai; ai = ai->ai_next) {
    if (ai->ai_family == family) return ai;
  }
  return nullptr;
}

}  // namespace

void InitProcess() {
  struct sigaction sa{};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGPIPE, &sa, nullptr);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) NullOnto(fd);
  }
}

int LastError() { return t_last_error; }
void SetLastError(int wsa) { t_last_error = wsa; }

int WsaFromErrno(int err) {
  for (const auto& m : kErrnoMap) {
    if (m.err == err) return m.wsa;
  }
  return 0;
}

int WsaFromGai(int eai) {
  switch (eai) {
    case 0: return 0;
    case EAI_NONAME: return kWsaHostNotFound;
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_FAIL: return kWsaNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA: return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kWsaNoData;  // the name exists, but not in this family
#endif
    case EAI_FAMILY: return kWsaEafnosupport;
    case EAI_MEMORY: return kWsaEnobufs;
    case EAI_BADFLAGS: return kWsaEinval;
    case EAI_SERVICE: return 10109;   // WSATYPE_NOT_FOUND
    case EAI_SOCKTYPE: return 10044;  // WSAESOCKTNOSUPPORT
    case EAI_SYSTEM: return WsaFromErrno(errno);
    default: return kWsaNoRecovery;
  }
}

const char* WsaName(int wsa) {
  for (const auto& n : kNames) {
    if (n.wsa == wsa) return n.name;
  }
  return nullptr;
}

std::string ErrorSuffix(int wsa) {
  const char* name = WsaName(wsa);
  if (!name) return {};
  return " (" + std::to_string(wsa) + " - " + name + ")";
}

// ---- Socket ----

std::shared_ptr<Socket> Socket::Create(int family, int type, int protocol) {
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    SetErrno(errno);
    return nullptr;
  }
  return std::shared_ptr<Socket>(new Socket(MoveAboveStdio(fd)));
}

std::shared_ptr<Socket> Socket::Adopt(int fd) {
  if (fd < 0) {
    t_last_error = kWsaEnotsock;
    return nullptr;
  }
  return std::shared_ptr<Socket>(new Socket(MoveAboveStdio(fd)));
}

Socket::~Socket() {
  // No call can be in flight any more: every caller holds a reference.
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ >= 0) {
    if (!closed_) ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
  }
  closed_ = true;
}

int Socket::fd() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fd_;
}

bool Socket::closed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return closed_;
}

int Socket::Enter() {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || fd_ < 0) {
    t_last_error = kWsaEnotsock;
    return -1;
  }
  ++in_flight_;
  return fd_;
}

void Socket::Leave() {
  std::lock_guard<std::mutex> lock(mu_);
  if (--in_flight_ == 0 && closed_ && fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void Socket::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_) return;
  closed_ = true;
  if (fd_ < 0) return;
  // shutdown() wakes a recv() or accept() blocked in another thread; close() alone would not.
  ::shutdown(fd_, SHUT_RDWR);
  if (wake_fd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wake_fd_, &one, sizeof one);
  }
  if (in_flight_ == 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Socket::Use::Use(Socket& s) : s_(s), fd_(s.Enter()) {}
Socket::Use::~Use() {
  if (fd_ >= 0) s_.Leave();
}

namespace {
// The error to report for a failed call: a socket closed meanwhile reports an interrupted call.
void SetCallError(const Socket& s, int err) {
  t_last_error = s.closed() ? kWsaEintr : WsaFromErrno(err);
}
}  // namespace

long Socket::Recv(void* buf, std::size_t len, int flags) {
  int fd = Enter();
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = ::recv(fd, buf, len, flags);
  } while (n < 0 && errno == EINTR && !closed());
  int err = errno;
  Leave();
  if (n < 0) SetCallError(*this, err);
  return static_cast<long>(n);
}

long Socket::Send(const void* buf, std::size_t len) {
  int fd = Enter();
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = ::send(fd, buf, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR && !closed());
  int err = errno;
  Leave();
  if (n < 0) SetCallError(*this, err);
  return static_cast<long>(n);
}

bool Socket::SendAll(const void* buf, std::size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    long n = Send(p, len);
    if (n <= 0) {
      if (n == 0) t_last_error = kWsaEconnreset;
      return false;
    }
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

// Waits until a connect in progress on `fd` finishes, the time runs out or Close() signals wake_fd_.
// Returns 0 when connected, else -1 with LastError set.
int Socket::WaitConnected(int fd, int timeout_ms) {
  int wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    wake = wake_fd_;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (closed()) {
      t_last_error = kWsaEintr;
      return -1;
    }
    int wait = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) left = 0;
      wait = static_cast<int>(left);
    }
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
    int rc = ::poll(fds, wake >= 0 ? 2 : 1, wait);
    if (rc < 0) {
      if (errno == EINTR) continue;
      SetCallError(*this, errno);
      return -1;
    }
    if (closed() || (wake >= 0 && (fds[1].revents & POLLIN))) {
      t_last_error = kWsaEintr;
      return -1;
    }
    if (rc == 0) {
      t_last_error = kWsaEtimedout;
      return -1;
    }
    if (fds[0].revents) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
      if (err != 0) {
        SetCallError(*this, err);
        return -1;
      }
      return 0;
    }
  }
}

int Socket::Connect(const sockaddr* sa, socklen_t len) {
  int flags;
  {
    Use use(*this);
    if (!use) return -1;
    flags = ::fcntl(use.fd(), F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) {
      // A non-blocking socket connects in the background, as the caller asked.
      if (::connect(use.fd(), sa, len) == 0) return 0;
      SetCallError(*this, errno);
      return -1;
    }
  }
  // Blocking: waits the same way as ConnectTimeout, so Close() from another thread ends the wait.
  return ConnectTimeout(sa, len, -1);
}

int Socket::ConnectTimeout(const sockaddr* sa, socklen_t len, int timeout_ms) {
  int fd = Enter();
  if (fd < 0) return -1;
  EventFd wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    wake_fd_ = wake.fd;
  }
  int rc = -1;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    SetCallError(*this, errno);
  } else {
    rc = ::connect(fd, sa, len);
    if (rc < 0) {
      int err = errno;
      if (err == EINPROGRESS || err == EINTR || err == EAGAIN) {
        rc = WaitConnected(fd, timeout_ms);
      } else {
        SetCallError(*this, err);
      }
    }
    ::fcntl(fd, F_SETFL, flags);
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    wake_fd_ = -1;
  }
  Leave();
  return rc < 0 ? -1 : 0;
}

int Socket::Bind(const sockaddr* sa, socklen_t len) {
  int fd = Enter();
  if (fd < 0) return -1;
  int rc = ::bind(fd, sa, len);
  int err = errno;
  Leave();
  if (rc < 0) SetCallError(*this, err);
  return rc < 0 ? -1 : 0;
}

int Socket::Listen(int backlog) {
  int fd = Enter();
  if (fd < 0) return -1;
  int rc = ::listen(fd, backlog);
  int err = errno;
  Leave();
  if (rc < 0) SetCallError(*this, err);
  return rc < 0 ? -1 : 0;
}

std::shared_ptr<Socket> Socket::Accept(sockaddr_storage* peer) {
  int fd = Enter();
  if (fd < 0) return nullptr;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  int conn;
  do {
    conn = ::accept4(fd, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_CLOEXEC);
  } while (conn < 0 && (errno == EINTR || errno == ECONNABORTED) && !closed());
  int err = errno;
  Leave();
  if (conn < 0) {
    SetCallError(*this, err);
    return nullptr;
  }
  if (closed()) {  // closed while the connection arrived: do not hand it out
    ::close(conn);
    t_last_error = kWsaEintr;
    return nullptr;
  }
  if (peer) *peer = ss;
  return Adopt(conn);
}

bool Socket::SetNonBlocking(bool on) {
  int fd = Enter();
  if (fd < 0) return false;
  int flags = ::fcntl(fd, F_GETFL);
  bool ok = flags >= 0 && ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
  int err = errno;
  Leave();
  if (!ok) SetCallError(*this, err);
  return ok;
}

bool Socket::LocalAddress(sockaddr_storage* out) const {
  Socket& self = const_cast<Socket&>(*this);
  int fd = self.Enter();
  if (fd < 0) return false;
  socklen_t len = sizeof *out;
  *out = {};
  int rc = ::getsockname(fd, reinterpret_cast<sockaddr*>(out), &len);
  int err = errno;
  self.Leave();
  if (rc < 0) SetCallError(*this, err);
  return rc == 0;
}

bool Socket::PeerAddress(sockaddr_storage* out) const {
  Socket& self = const_cast<Socket&>(*this);
  int fd = self.Enter();
  if (fd < 0) return false;
  socklen_t len = sizeof *out;
  *out = {};
  int rc = ::getpeername(fd, reinterpret_cast<sockaddr*>(out), &len);
  int err = errno;
  self.Leave();
  if (rc < 0) SetCallError(*this, err);
  return rc == 0;
}

// ---- Listener ----

std::shared_ptr<Socket> CreateListener(int family, std::string_view address, uint16_t port, int backlog) {
  if (family != AF_INET && family != AF_INET6) {
    t_last_error = kWsaEafnosupport;
    return nullptr;
  }
  sockaddr_storage sa{};
  socklen_t len = 0;
  if (address.empty()) {
    len = MakeAddress(family, family == AF_INET ? "0.0.0.0" : "::", port, &sa);
  } else {
    len = MakeAddress(family, address, port, &sa);
    if (len == 0 && family == AF_INET) {
      in_addr a{};
      if (!ResolveIPv4(address, &a)) return nullptr;
      len = MakeAddress(AF_INET, DottedText(a), port, &sa);
    } else if (len == 0) {
      sockaddr_in6 a6{};
      if (ResolveIPv6(address, "0", &a6) == 0) return nullptr;
      a6.sin6_port = htons(port);
      std::memcpy(&sa, &a6, sizeof a6);
      len = sizeof a6;
    }
  }
  if (len == 0) {
    t_last_error = kWsaEaddrnotavail;
    return nullptr;
  }
  auto s = Socket::Create(family);
  if (!s) return nullptr;
  int err = 0;
  {
    Socket::Use use(*s);
    int one = 1;
    if (::setsockopt(use.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) err = errno;
    if (!err && family == AF_INET6 &&
        ::setsockopt(use.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) < 0) {
      err = errno;
    }
  }
  if (err) {
    SetErrno(err);
    return nullptr;
  }
  if (s->Bind(reinterpret_cast<sockaddr*>(&sa), len) < 0 || s->Listen(backlog) < 0) return nullptr;
  return s;
}

// ---- Names and addresses ----

bool IsDottedAddress(std::string_view text) {
  if (!UsableName(text) || text.size() > 15) return false;
  in_addr a{};
  return ::inet_pton(AF_INET, std::string(text).c_str(), &a) == 1;
}

bool ResolveIPv4(std::string_view host, in_addr* out) {
  if (IsDottedAddress(host)) {
    ::inet_pton(AF_INET, std::string(host).c_str(), out);
    return true;
  }
  if (!UsableName(host) || InDomain(host, "invalid")) {
    t_last_error = kWsaHostNotFound;
    return false;
  }
  if (InDomain(host, "localhost")) {
    out->s_addr = htonl(INADDR_LOOPBACK);
    return true;
  }
  AddrInfo info;
  if (!Lookup(std::string(host), nullptr, AF_INET, 0, &info)) return false;
  *out = reinterpret_cast<const sockaddr_in*>(FirstOf(info, AF_INET)->ai_addr)->sin_addr;
  return true;
}

socklen_t ResolveIPv6(std::string_view host, std::string_view service, sockaddr_in6* out) {
  if (!UsableName(host) || InDomain(host, "invalid") || service.find('\0') != std::string_view::npos) {
    t_last_error = kWsaHostNotFound;
    return 0;
  }
  if (IsDottedAddress(host)) {  // an IPv4 address has no IPv6 form here
    t_last_error = kWsaNoData;
    return 0;
  }
  bool local = InDomain(host, "localhost");
  std::string name = local ? std::string("::1") : std::string(host);
  std::string serv(service);
  AddrInfo info;
  if (!Lookup(name, serv.empty() ? nullptr : serv.c_str(), AF_INET6, local ? AI_NUMERICHOST : 0, &info)) {
    return 0;
  }
  const addrinfo* ai = FirstOf(info, AF_INET6);
  if (ai->ai_addrlen > sizeof *out) {
    t_last_error = kWsaNoRecovery;
    return 0;
  }
  *out = {};
  std::memcpy(out, ai->ai_addr, ai->ai_addrlen);
  return ai->ai_addrlen;
}

std::string IPv6NumericText(std::string_view host) {
  sockaddr_in6 a6{};
  socklen_t len = ResolveIPv6(host, "110", &a6);
  if (len == 0) return {};
  char text[100];
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&a6), len, text, sizeof text, nullptr, 0,
                         NI_NUMERICHOST | NI_NUMERICSERV);
  if (rc != 0) {
    t_last_error = WsaFromGai(rc);
    return {};
  }
  return text;
}

socklen_t MakeAddress(int family, std::string_view numeric, uint16_t port, sockaddr_storage* out) {
  *out = {};
  if (!UsableName(numeric) || numeric.size() > 100) return 0;
  std::string text(numeric);
  if (family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(out);
    if (::inet_pton(AF_INET, text.c_str(), &a->sin_addr) != 1) return 0;
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    return sizeof(sockaddr_in);
  }
  if (family == AF_INET6) {
    // getaddrinfo with a numeric host also understands scope suffixes ("fe80::1%lo").
    AddrInfo info;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &info.list) != 0) {
      info.list = nullptr;
      return 0;
    }
    const addrinfo* ai = FirstOf(info, AF_INET6);
    if (!ai || ai->ai_addrlen > sizeof(sockaddr_in6)) return 0;
    std::memcpy(out, ai->ai_addr, ai->ai_addrlen);
    reinterpret_cast<sockaddr_in6*>(out)->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
  }
  return 0;
}

socklen_t AddressLength(const sockaddr_storage& sa) {
  if (sa.ss_family == AF_INET) return sizeof(sockaddr_in);
  if (sa.ss_family == AF_INET6) return sizeof(sockaddr_in6);
  return 0;
}

std::string DottedText(in_addr a) {
  char text[INET_ADDRSTRLEN];
  if (!::inet_ntop(AF_INET, &a, text, sizeof text)) return {};
  return text;
}

std::string AddressText(const sockaddr_storage& sa) {
  socklen_t len = AddressLength(sa);
  if (len == 0) return {};
  char text[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), len, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return {};
  }
  return text;
}

uint16_t Port(const sockaddr_storage& sa) {
  if (sa.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(sa).sin_port);
  if (sa.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(sa).sin6_port);
  return 0;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    SetErrno(errno);
    return {};
  }
  return name;
}

bool FirstAddressOfHostName(in_addr* out) {
  std::string name = HostName();
  if (name.empty()) {
    t_last_error = kWsaHostNotFound;
    return false;
  }
  return ResolveIPv4(name, out);
}

}  // namespace vanta::platform::net
