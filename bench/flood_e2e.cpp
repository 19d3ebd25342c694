// End-to-end channel flood: the real `vanta` binary against a tiny loopback
// server played by this program.
//
// The bench starts vanta as a child (--ui=stdio, a fresh VANTA_HOME, stdout
// to /dev/null, stdin a pipe held open), registers it, joins it to #flood and
// then streams N channel lines as fast as the socket takes them, followed by
// "PING :done-N". The figure is the time from the first flood line written to
// the client's "PONG :done-N". After that the child's stdin is closed so it
// quits; its CPU time and peak RSS come from wait4.
//
// Usage: bench_flood_e2e [N ...]      (default: 100000 1000000)
// The client binary is $VANTA_BIN, else `vanta` next to this executable.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRunTimeout = std::chrono::seconds(120);
constexpr auto kExitGrace = std::chrono::seconds(10);

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Removes the temporary home directory when the run ends.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vanta-flood-XXXXXX").string();
    if (char* p = mkdtemp(tmpl.data())) path_ = p;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Small deterministic generator so every run floods the same text.
struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

std::string MakeNick(Rng& r) {
  static constexpr std::string_view kFirst = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ[]\\`_^{|}";
  static constexpr std::string_view kRest = "abcdefghijklmnopqrstuvwxyz0123456789-_[]";
  std::size_t len = 3 + r.Below(13);  // 3..15
  std::string n;
  n += kFirst[r.Below(kFirst.size())];
  while (n.size() < len) n += kRest[r.Below(kRest.size())];
  return n;
}

std::string MakeText(Rng& r, std::size_t target) {
  static const char* kWords[] = {"the",    "build",   "server", "is",     "down",  "again",  "lol",
                                 "anyone", "seen",    "that",   "patch",  "merge", "request", "works",
                                 "for",    "me",      "ok",     "brb",    "coffee", "netsplit", "ping",
                                 "latency", "channel", "topic", "really", "nice",  "thanks", "https://example.invalid/x"};
  constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
  bool colours = r.Below(3) == 0;
  std::string t;
  while (t.size() < target) {
    if (!t.empty()) t += ' ';
    uint32_t roll = r.Below(20);
    if (colours && roll < 4) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\x03%02u", r.Below(16));
      t += buf;
      if (r.Below(2) == 0) {
        std::snprintf(buf, sizeof buf, ",%02u", r.Below(16));
        t += buf;
      }
    } else if (roll == 5) {
      t += '\x02';
    } else if (roll == 6) {
      t += '\x1F';
    }
    t += kWords[r.Below(kWordCount)];
    if (roll == 7) t += '\x0F';
  }
  return t;
}

// A pool of distinct lines cycled through while flooding; building them up
// front keeps the bench's own work out of the measured stream.
std::vector<std::string> MakePool(std::size_t count) {
  Rng r;
  std::vector<std::string> pool;
  pool.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string nick = MakeNick(r);
    std::string prefix = ":" + nick + "!" + nick.substr(0, 8) + "@host-" + std::to_string(r.Below(1000)) + ".bench";
    uint32_t kind = r.Below(100);
    std::size_t head = prefix.size() + 20;
    std::size_t want = head < 130 ? 130 - head : 20;
    want = want * (70 + r.Below(61)) / 100;  // spread around the mean
    std::string line;
    if (kind < 4) {
      line = prefix + " NOTICE #flood :" + MakeText(r, want);
    } else if (kind < 12) {
      line = prefix + " PRIVMSG #flood :\x01" "ACTION " + MakeText(r, want) + "\x01";
    } else {
      line = prefix + " PRIVMSG #flood :" + MakeText(r, want);
    }
    line += "\r\n";
    pool.push_back(std::move(line));
  }
  return pool;
}

std::string ClientBinary() {
  if (const char* b = std::getenv("VANTA_BIN"); b && *b) return b;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "vanta";
  return (self.parent_path() / "vanta").string();
}

struct Result {
  std::size_t n = 0;
  bool ok = false;
  std::string failure;
  double seconds = 0;
  double cpu = 0;
  long max_rss_kb = 0;
  uint64_t bytes = 0;
};

// The server side of the one client connection.
class Peer {
 public:
  explicit Peer(Fd fd) : fd_(std::move(fd)) {}

  void Queue(std::string_view s) { out_.append(s); }
  std::size_t Pending() const { return out_.size() - out_pos_; }
  bool closed() const { return closed_; }

  // One poll round of at most `timeout_ms`: writes what the socket takes,
  // reads what arrived, answers PINGs and hands every other line to `on_line`.
  template <class F>
  bool Pump(int timeout_ms, F&& on_line) {
    if (closed_) return false;
    pollfd p{fd_.get(), POLLIN, 0};
    if (Pending() > 0) p.events |= POLLOUT;
    int rc = ::poll(&p, 1, timeout_ms);
    if (rc < 0) return errno == EINTR;
    if (rc == 0) return true;
    if (p.revents & POLLOUT) {
      ssize_t w = ::send(fd_.get(), out_.data() + out_pos_, Pending(), MSG_NOSIGNAL);
      if (w > 0) {
        out_pos_ += static_cast<std::size_t>(w);
        written_ += static_cast<uint64_t>(w);
        if (out_pos_ == out_.size()) {
          out_.clear();
          out_pos_ = 0;
        } else if (out_pos_ > (1u << 20)) {
          out_.erase(0, out_pos_);
          out_pos_ = 0;
        }
      } else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closed_ = true;
        return false;
      }
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[16384];
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        closed_ = true;
        return false;
      }
      if (n > 0) in_.append(buf, static_cast<std::size_t>(n));
      std::size_t start = 0;
      for (;;) {
        std::size_t nl = in_.find('\n', start);
        if (nl == std::string::npos) break;
        std::string line = in_.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = nl + 1;
        if (line.rfind("PING ", 0) == 0) {
          Queue("PONG " + line.substr(5) + "\r\n");
        } else {
          on_line(line);
        }
      }
      in_.erase(0, start);
      if (in_.size() > (1u << 20)) in_.clear();  // a runaway line without an end
    }
    return true;
  }

  uint64_t written() const { return written_; }

 private:
  Fd fd_;
  std::string out_;
  std::size_t out_pos_ = 0;
  std::string in_;
  bool closed_ = false;
  uint64_t written_ = 0;
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 100 ? 100 : static_cast<int>(left);
}

// Waits for the child, escalating to SIGTERM and then SIGKILL; fills CPU and RSS.
void Reap(pid_t pid, Peer* peer, bool kill_now, Result* res) {
  rusage ru{};
  int status = 0;
  if (kill_now) ::kill(pid, SIGKILL);
  auto term_at = Clock::now() + kExitGrace;
  auto kill_at = term_at + std::chrono::seconds(5);
  bool termed = false;
  for (;;) {
    pid_t r = ::wait4(pid, &status, WNOHANG, &ru);
    if (r == pid || (r < 0 && errno != EINTR)) break;
    auto now = Clock::now();
    if (!termed && now >= term_at) {
      ::kill(pid, SIGTERM);
      termed = true;
    } else if (termed && now >= kill_at) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &ru);
      break;
    }
    // Keep draining the socket so a quitting client never blocks on a send.
    if (peer && !peer->closed()) peer->Pump(20, [](const std::string&) {});
    else ::usleep(20000);
  }
  res->cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
             static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  res->max_rss_kb = ru.ru_maxrss;
}

Result RunOnce(std::size_t n, const std::vector<std::string>& pool, const std::string& binary) {
  Result res;
  res.n = n;
  auto deadline = Clock::now() + kRunTimeout;

  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener.valid()) {
    res.failure = "socket failed";
    return res;
  }
  int one = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.get(), 1) != 0) {
    res.failure = "bind/listen failed";
    return res;
  }
  socklen_t alen = sizeof addr;
  ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &alen);
  int port = ntohs(addr.sin_port);

  TempDir home;
  if (home.path().empty()) {
    res.failure = "mkdtemp failed";
    return res;
  }

  int in_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
    res.failure = "pipe failed";
    return res;
  }
  Fd stdin_read(in_pipe[0]);
  Fd stdin_write(in_pipe[1]);

  std::string connect = "127.0.0.1:" + std::to_string(port);
  pid_t pid = ::fork();
  if (pid < 0) {
    res.failure = "fork failed";
    return res;
  }
  if (pid == 0) {
    int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull < 0 || ::dup2(stdin_read.get(), 0) < 0 || ::dup2(devnull, 1) < 0) _exit(127);
    ::setenv("VANTA_HOME", home.path().c_str(), 1);
    std::vector<std::string> args = {binary, "--ui=stdio", "--connect", connect, "--nick", "bench"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    _exit(127);
  }
  stdin_read.Reset();

  // Accept the client.
  Fd conn;
  while (!conn.valid()) {
    int wait_ms = RemainingMs(deadline);
    if (wait_ms == 0) {
      res.failure = "timeout";
      Reap(pid, nullptr, true, &res);
      return res;
    }
    pollfd p{listener.get(), POLLIN, 0};
    if (::poll(&p, 1, wait_ms) > 0) conn = Fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    int status = 0;
    if (!conn.valid() && ::waitpid(pid, &status, WNOHANG) == pid) {
      res.failure = "client exited before connecting";
      return res;
    }
  }
  ::fcntl(conn.get(), F_SETFL, ::fcntl(conn.get(), F_GETFL) | O_NONBLOCK);
  ::setsockopt(conn.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Peer peer(std::move(conn));

  auto fail = [&](const char* why) {
    res.failure = why;
    Reap(pid, &peer, true, &res);
    return res;
  };

  // Registration: wait for NICK and USER, then welcome and join.
  bool got_nick = false, got_user = false;
  while (!(got_nick && got_user)) {
    if (RemainingMs(deadline) == 0) return fail("timeout");
    if (!peer.Pump(RemainingMs(deadline), [&](const std::string& l) {
          if (l.rfind("NICK ", 0) == 0) got_nick = true;
          if (l.rfind("USER ", 0) == 0) got_user = true;
        }))
      return fail("connection lost during registration");
  }
  peer.Queue(
      ":irc.bench 001 bench :Welcome to the bench network bench!b@h\r\n"
      ":irc.bench 002 bench :Your host is irc.bench\r\n"
      ":irc.bench 003 bench :This server was created today\r\n"
      ":irc.bench 004 bench irc.bench x o o\r\n"
      ":irc.bench 005 bench CHANTYPES=# PREFIX=(ov)@+ NETWORK=Bench :are supported by this server\r\n"
      ":irc.bench 375 bench :- irc.bench Message of the day -\r\n"
      ":irc.bench 372 bench :- flood ahead\r\n"
      ":irc.bench 376 bench :End of MOTD\r\n"
      ":bench!b@h JOIN :#flood\r\n"
      ":irc.bench 353 bench = #flood :bench alice bob\r\n"
      ":irc.bench 366 bench #flood :End of NAMES list\r\n");
  auto settle_until = Clock::now() + std::chrono::milliseconds(300);
  while (Clock::now() < settle_until) {
    if (RemainingMs(deadline) == 0) return fail("timeout");
    if (!peer.Pump(RemainingMs(settle_until) + 1, [](const std::string&) {}))
      return fail("connection lost after registration");
  }

  // Flood, keeping about 256 KiB queued so the socket never waits on us.
  const std::string done = "done-" + std::to_string(n);
  std::size_t sent = 0;
  std::size_t next = 0;
  bool ping_queued = false;
  bool ponged = false;
  auto fill = [&] {
    while (sent < n && peer.Pending() < (256u << 10)) {
      peer.Queue(pool[next]);
      if (++next == pool.size()) next = 0;
      ++sent;
    }
    if (sent == n && !ping_queued) {
      peer.Queue("PING :" + done + "\r\n");
      ping_queued = true;
    }
  };
  auto on_line = [&](const std::string& l) {
    if (l.rfind("PONG ", 0) == 0 && l.find(done) != std::string::npos) ponged = true;
  };
  fill();
  uint64_t before = peer.written();
  auto start = Clock::now();
  while (!ponged) {
    if (RemainingMs(deadline) == 0) return fail("timeout");
    if (!peer.Pump(RemainingMs(deadline), on_line)) return fail("connection lost during flood");
    fill();
  }
  auto end = Clock::now();
  res.seconds = std::chrono::duration<double>(end - start).count();
  res.bytes = peer.written() - before;
  res.ok = true;

  // Closing stdin asks the stdio front end to quit.
  stdin_write.Reset();
  Reap(pid, &peer, false, &res);
  return res;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(argv[i], &end, 10);
    if (!end || *end || v == 0 || v > 100000000ull) {
      std::fprintf(stderr, "usage: %s [N ...]   (line counts, 1..100000000)\n", argv[0]);
      return 2;
    }
    sizes.push_back(static_cast<std::size_t>(v));
  }
  if (sizes.empty()) sizes = {100000, 1000000};

  ::signal(SIGPIPE, SIG_IGN);
  std::string binary = ClientBinary();
  if (::access(binary.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "client binary not found: %s (set VANTA_BIN)\n", binary.c_str());
    return 2;
  }
  auto pool = MakePool(4096);
  std::size_t pool_bytes = 0;
  for (auto& l : pool) pool_bytes += l.size();

  std::printf("flood_e2e: %s, mean line %.1f bytes\n", binary.c_str(),
              static_cast<double>(pool_bytes) / static_cast<double>(pool.size()));
  std::printf("%10s %10s %12s %10s %12s %12s\n", "lines", "seconds", "lines/s", "MB/s", "child CPU s",
              "peak RSS MB");
  int rc = 0;
  for (std::size_t n : sizes) {
    Result r = RunOnce(n, pool, binary);
    if (!r.ok) {
      std::printf("%10zu %10s %12s %10s %12.2f %12.1f   (%s)\n", n, "-", r.failure.c_str(), "-", r.cpu,
                  static_cast<double>(r.max_rss_kb) / 1024.0, r.failure.c_str());
      rc = 1;
    } else {
      std::printf("%10zu %10.3f %12.0f %10.1f %12.2f %12.1f\n", n, r.seconds,
                  static_cast<double>(n) / r.seconds, static_cast<double>(r.bytes) / r.seconds / 1e6, r.cpu,
                  static_cast<double>(r.max_rss_kb) / 1024.0);
    }
    std::fflush(stdout);
  }
  return rc;
}
