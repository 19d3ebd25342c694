#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace vanta::test {

namespace {

constexpr size_t kMaxRaw = 16u << 20;        // bytes kept by received_bytes()
constexpr size_t kMaxPartial = 1u << 20;     // an unterminated line longer than this is recorded as is
constexpr auto kCommandTimeout = 3s;

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// First parameter of an IRC command's argument text ("x y :z" -> "x", ":a b" -> "a b").
std::string first_param(std::string_view rest) {
  if (!rest.empty() && rest[0] == ':') return std::string(rest.substr(1));
  return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace

// One accepted connection. fd is written only by the I/O thread, under wmu, so a
// writer holding wmu never uses a descriptor that is being closed.
struct ScriptedServer::Conn {
  int index = 0;
  int fd = -1;
  std::mutex wmu;
  std::string partial;        // I/O thread only
  bool client_closed = false;  // guarded by the server's mu_
  bool server_closed = false;  // guarded by the server's mu_
};

ScriptedServer::ScriptedServer(Family family, uint16_t port) : family_(family) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  wake_rd_ = p[0];
  wake_wr_ = p[1];
  if (!open_listener(port)) return;
  io_ = std::thread([this] { io_loop(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  wake();
  if (io_.joinable()) io_.join();
  for (auto& c : conns_) {
    if (c->fd >= 0) ::close(c->fd);
  }
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (wake_rd_ >= 0) ::close(wake_rd_);
  if (wake_wr_ >= 0) ::close(wake_wr_);
}

bool ScriptedServer::open_listener(uint16_t port) {
  int fd = ::socket(family_af(family_), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    std::lock_guard lk(mu_);
    error_ = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage ss{};
  socklen_t len;
  if (family_ == Family::V4) {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  } else {
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 16) != 0) {
    std::lock_guard lk(mu_);
    error_ = std::string("listen on ") + loopback_host(family_) + " port " + std::to_string(port) + ": " +
             std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (port_ != 0) {
    // Listening again on the port this server already has.
  } else if (port == 0) {
    len = sizeof ss;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    port = family_ == Family::V4 ? ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port)
                                 : ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  }
  if (port_ == 0) port_ = port;
  listen_fd_ = fd;
  return true;
}

std::string ScriptedServer::error() const {
  std::lock_guard lk(mu_);
  return error_;
}

void ScriptedServer::wake() {
  if (wake_wr_ >= 0) {
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_wr_, &b, 1);
  }
}

// ---- the I/O thread: accepts, reads, and carries out every close ----

void ScriptedServer::io_loop() {
  std::vector<pollfd> fds;
  std::vector<Conn*> owners;
  while (!stopping_) {
    fds.clear();
    owners.clear();
    fds.push_back({wake_rd_, POLLIN, 0});
    owners.push_back(nullptr);
    if (listen_fd_ >= 0) {
      fds.push_back({listen_fd_, POLLIN, 0});
      owners.push_back(nullptr);
    }
    {
      std::lock_guard lk(mu_);
      for (auto& c : conns_) {
        if (c->fd >= 0 && !c->client_closed) {
          fds.push_back({c->fd, POLLIN, 0});
          owners.push_back(c.get());
        }
      }
    }
    int timeout = 200;
    if (listen_fd_ < 0 && relisten_at_ != Clock::time_point{}) timeout = std::min(timeout, remaining_ms(relisten_at_));
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) break;

    if (fds[0].revents & POLLIN) {
      char buf[64];
      while (::read(wake_rd_, buf, sizeof buf) > 0) {
      }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      if (owners[i] == nullptr) {
        if (fds[i].fd == listen_fd_) accept_one();
      } else {
        read_from(*owners[i]);
      }
    }
    if (listen_fd_ < 0 && relisten_at_ != Clock::time_point{} && Clock::now() >= relisten_at_) {
      relisten_at_ = {};
      open_listener(port_);
    }

    // Commands run here, between polls, so no descriptor is closed while it is polled.
    std::deque<PendingCmd> todo;
    {
      std::lock_guard lk(mu_);
      todo.swap(cmds_);
    }
    for (const auto& pc : todo) {
      bool ok = true;
      switch (pc.cmd) {
        case Cmd::Drop:
        case Cmd::Reset: {
          Conn* c = nullptr;
          {
            std::lock_guard lk(mu_);
            if (pc.conn >= 1 && pc.conn <= static_cast<int>(conns_.size())) c = conns_[pc.conn - 1].get();
          }
          if (c && c->fd >= 0) {
            close_conn(*c, pc.cmd == Cmd::Reset);
          } else {
            ok = false;
          }
          break;
        }
        case Cmd::StopListening:
          if (listen_fd_ >= 0) ::close(listen_fd_);
          listen_fd_ = -1;
          relisten_at_ = pc.refuse.count() > 0 ? Clock::now() + pc.refuse : Clock::time_point{};
          break;
        case Cmd::ResumeListening:
          relisten_at_ = {};
          ok = listen_fd_ >= 0 || open_listener(port_);
          break;
      }
      std::lock_guard lk(mu_);
      cmd_results_.emplace_back(pc.seq, ok);
      cmd_done_ = pc.seq;
      cv_.notify_all();
    }
  }
}

void ScriptedServer::accept_one() {
  for (;;) {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: nothing more waiting
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    std::lock_guard lk(mu_);
    c->index = static_cast<int>(conns_.size()) + 1;
    conns_.push_back(std::move(c));
    cv_.notify_all();
  }
}

void ScriptedServer::read_from(Conn& c) {
  char buf[16384];
  ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    std::lock_guard lk(mu_);
    c.client_closed = true;
    cv_.notify_all();
    return;
  }
  {
    std::lock_guard lk(mu_);
    if (raw_.size() < kMaxRaw) raw_.append(buf, std::min(static_cast<size_t>(n), kMaxRaw - raw_.size()));
  }
  c.partial.append(buf, static_cast<size_t>(n));
  size_t start = 0;
  for (;;) {
    size_t nl = c.partial.find('\n', start);
    if (nl == std::string::npos) break;
    size_t end = nl > start && c.partial[nl - 1] == '\r' ? nl - 1 : nl;
    on_line(c, c.partial.substr(start, end - start));
    start = nl + 1;
  }
  c.partial.erase(0, start);
  if (c.partial.size() > kMaxPartial) {
    on_line(c, std::move(c.partial));
    c.partial.clear();
  }
}

void ScriptedServer::on_line(Conn& c, std::string line) {
  std::string_view rest;
  bool ping = iequals(command_of(line, &rest), "PING");
  std::string token = ping ? first_param(rest) : std::string();
  {
    std::lock_guard lk(mu_);
    lines_.push_back({SentLine{line, Clock::now(), c.index}, false});
    cv_.notify_all();
  }
  if (ping && auto_pong_ && !silent_) {
    write_to(&c, std::string(":") + name + " PONG " + name + " :" + token + "\r\n");
  }
}

void ScriptedServer::close_conn(Conn& c, bool rst) {
  {
    std::lock_guard wl(c.wmu);
    if (rst) {
      linger lg{1, 0};
      ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
      ::close(c.fd);
      c.fd = -1;
    } else {
      // Read what is already queued, so closing sends a FIN rather than a reset, then
      // half-close. The descriptor itself is closed once the client closes its side.
      read_from(c);
      ::shutdown(c.fd, SHUT_WR);
    }
  }
  std::lock_guard lk(mu_);
  c.server_closed = true;
  if (rst) c.client_closed = true;
  cv_.notify_all();
}

bool ScriptedServer::run_command(Cmd cmd, int conn_index) {
  if (!io_.joinable()) return false;
  uint64_t seq;
  std::unique_lock lk(mu_);
  seq = ++cmd_seq_;
  cmds_.push_back({cmd, conn_index, seq, Ms(0)});
  lk.unlock();
  wake();
  lk.lock();
  if (!cv_.wait_for(lk, kCommandTimeout, [&] { return cmd_done_ >= seq; })) return false;
  for (auto it = cmd_results_.begin(); it != cmd_results_.end(); ++it) {
    if (it->first == seq) {
      bool ok = it->second;
      cmd_results_.erase(it);
      return ok;
    }
  }
  return false;
}

// ---- connections ----

ScriptedServer::Conn* ScriptedServer::current() const {
  return conns_.empty() ? nullptr : conns_.back().get();
}

bool ScriptedServer::accept(Ms timeout) {
  std::unique_lock lk(mu_);
  if (!cv_.wait_for(lk, timeout, [&] { return static_cast<int>(conns_.size()) > taken_; })) return false;
  taken_ = static_cast<int>(conns_.size());
  return true;
}

int ScriptedServer::accept_count() const {
  std::lock_guard lk(mu_);
  return static_cast<int>(conns_.size());
}

bool ScriptedServer::connected() const {
  std::lock_guard lk(mu_);
  Conn* c = current();
  return c && !c->client_closed && !c->server_closed;
}

bool ScriptedServer::wait_client_closed(Ms timeout) {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, timeout, [&] {
    Conn* c = current();
    return c && c->client_closed;
  });
}

// ---- sending ----

bool ScriptedServer::write_to(Conn* c, std::string_view bytes) {
  if (!c || silent_) return false;
  std::lock_guard wl(c->wmu);
  if (c->fd < 0) return false;
  const auto deadline = Clock::now() + Ms(write_timeout_ms_.load());
  while (!bytes.empty()) {
    ssize_t n = ::send(c->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{c->fd, POLLOUT, 0};
      if (::poll(&p, 1, remaining_ms(deadline)) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool ScriptedServer::send_raw(std::string_view bytes) {
  Conn* c;
  {
    std::lock_guard lk(mu_);
    c = current();
    if (c && c->server_closed) return false;
  }
  return write_to(c, bytes);
}

bool ScriptedServer::recv(std::string_view line) {
  std::string out(line);
  if (out.empty() || out.back() != '\n') out += "\r\n";
  return send_raw(out);
}

bool ScriptedServer::send_raw_parts(const std::vector<std::string>& parts, Ms gap) {
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(gap);
    if (!send_raw(parts[i])) return false;
  }
  return true;
}

// ---- what the client sent ----

::testing::AssertionResult ScriptedServer::expect_sent(std::string_view pattern, Ms timeout) {
  std::unique_lock lk(mu_);
  size_t scanned = 0;
  bool found = cv_.wait_for(lk, timeout, [&] {
    for (; scanned < lines_.size(); ++scanned) {
      // Lines already used by an earlier expectation are skipped but stay in place.
      Rec& r = lines_[scanned];
      if (!r.used && line_matches(pattern, r.line.text)) {
        r.used = true;
        return true;
      }
    }
    return false;
  });
  if (found) return ::testing::AssertionSuccess();
  auto result = ::testing::AssertionFailure();
  result << "the client sent no line matching \"" << pattern << "\" within " << timeout.count() << " ms; it sent "
         << lines_.size() << " line(s):";
  for (const auto& r : lines_) result << "\n  " << (r.used ? "(used) " : "") << r.line.text;
  return result;
}

::testing::AssertionResult ScriptedServer::expect_not_sent(std::string_view pattern, Ms during) {
  std::unique_lock lk(mu_);
  std::string hit;
  bool found = cv_.wait_for(lk, during, [&] {
    for (const auto& r : lines_) {
      if (!r.used && line_matches(pattern, r.line.text)) {
        hit = r.line.text;
        return true;
      }
    }
    return false;
  });
  if (!found) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the client sent \"" << hit << "\", which matches \"" << pattern << "\"";
}

std::vector<std::string> ScriptedServer::sent_lines() const {
  std::lock_guard lk(mu_);
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const auto& r : lines_) out.push_back(r.line.text);
  return out;
}

std::vector<SentLine> ScriptedServer::sent_with_times() const {
  std::lock_guard lk(mu_);
  std::vector<SentLine> out;
  out.reserve(lines_.size());
  for (const auto& r : lines_) out.push_back(r.line);
  return out;
}

std::string ScriptedServer::received_bytes() const {
  std::lock_guard lk(mu_);
  return raw_;
}

bool ScriptedServer::wait_lines(size_t n, Ms timeout) {
  std::unique_lock lk(mu_);
  return cv_.wait_for(lk, timeout, [&] { return lines_.size() >= n; });
}

void ScriptedServer::clear_sent() {
  std::lock_guard lk(mu_);
  lines_.clear();
  raw_.clear();
}

::testing::AssertionResult ScriptedServer::register_client(std::string_view nick, Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string asked, user;
  int conn = 0;
  {
    std::unique_lock lk(mu_);
    if (!cv_.wait_until(lk, deadline, [&] { return current() != nullptr; })) {
      return ::testing::AssertionFailure() << "register_client: no client connected within " << timeout.count()
                                           << " ms";
    }
    conn = current()->index;
    // Indexes, not pointers: lines_ may grow (and move) while the lock is released.
    size_t nick_at = SIZE_MAX, user_at = SIZE_MAX;
    cv_.wait_until(lk, deadline, [&] {
      nick_at = user_at = SIZE_MAX;
      for (size_t i = 0; i < lines_.size(); ++i) {
        const Rec& r = lines_[i];
        if (r.used || r.line.connection != conn) continue;
        std::string_view cmd = command_of(r.line.text, nullptr);
        if (nick_at == SIZE_MAX && iequals(cmd, "NICK")) nick_at = i;
        if (user_at == SIZE_MAX && iequals(cmd, "USER")) user_at = i;
      }
      return nick_at != SIZE_MAX && user_at != SIZE_MAX;
    });
    if (nick_at == SIZE_MAX || user_at == SIZE_MAX) {
      auto result = ::testing::AssertionFailure();
      result << "register_client: the client sent no " << (nick_at != SIZE_MAX ? "USER" : "NICK") << " within "
             << timeout.count() << " ms; it sent:";
      for (const auto& r : lines_) result << "\n  [" << r.line.connection << "] " << r.line.text;
      return result;
    }
    lines_[nick_at].used = lines_[user_at].used = true;
    std::string_view rest;
    command_of(lines_[nick_at].line.text, &rest);
    asked = first_param(rest);
    command_of(lines_[user_at].line.text, &rest);
    user = first_param(rest);
    nick_ = nick.empty() ? asked : std::string(nick);
  }
  const std::string n = nick.empty() ? asked : std::string(nick);
  const std::string p = std::string(":") + name + " ";
  std::string w;
  w += p + "001 " + n + " :Welcome to the ScriptedNet IRC Network " + n + "!" + user + "@" + host() + "\r\n";
  w += p + "002 " + n + " :Your host is " + name + ", running version scripted-1.0\r\n";
  w += p + "003 " + n + " :This server was created for this test\r\n";
  w += p + "004 " + n + " " + name + " scripted-1.0 iosw biklmnopstv bklov\r\n";
  w += p + "005 " + n +
       " CHANTYPES=# PREFIX=(ov)@+ CHANMODES=b,k,l,imnpst NICKLEN=30 CHANNELLEN=50 TOPICLEN=307"
       " NETWORK=ScriptedNet CASEMAPPING=rfc1459 :are supported by this server\r\n";
  w += p + "375 " + n + " :- " + name + " Message of the Day -\r\n";
  w += p + "372 " + n + " :- Welcome to the scripted test server\r\n";
  w += p + "376 " + n + " :End of /MOTD command.\r\n";
  if (silent_) return ::testing::AssertionSuccess();
  if (!send_raw(w)) return ::testing::AssertionFailure() << "register_client: sending the welcome failed";
  return ::testing::AssertionSuccess();
}

std::string ScriptedServer::nick() const {
  std::lock_guard lk(mu_);
  return nick_;
}

// ---- faults ----

void ScriptedServer::drop() {
  int idx = accept_count();
  if (idx > 0) run_command(Cmd::Drop, idx);
}

void ScriptedServer::reset() {
  int idx = accept_count();
  if (idx > 0) run_command(Cmd::Reset, idx);
}

void ScriptedServer::stop_listening() { run_command(Cmd::StopListening); }

bool ScriptedServer::resume_listening() { return run_command(Cmd::ResumeListening); }

void ScriptedServer::refuse_for(Ms duration) {
  if (!io_.joinable()) return;
  std::unique_lock lk(mu_);
  uint64_t seq = ++cmd_seq_;
  cmds_.push_back({Cmd::StopListening, -1, seq, duration});
  lk.unlock();
  wake();
  lk.lock();
  cv_.wait_for(lk, kCommandTimeout, [&] { return cmd_done_ >= seq; });
  std::erase_if(cmd_results_, [&](const auto& r) { return r.first == seq; });
}

}  // namespace vanta::test
