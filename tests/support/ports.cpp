#include "support/ports.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vanta::test {

namespace {

socklen_t make_addr(Family family, uint16_t port, sockaddr_storage& ss) {
  std::memset(&ss, 0, sizeof ss);
  if (family == Family::V4) {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof(sockaddr_in);
  }
  auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
  a->sin6_family = AF_INET6;
  a->sin6_port = htons(port);
  a->sin6_addr = in6addr_loopback;
  return sizeof(sockaddr_in6);
}

int new_socket(Family family) {
  int fd = ::socket(family_af(family), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && family == Family::V6) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  }
  return fd;
}

}  // namespace

const char* loopback_host(Family family) { return family == Family::V4 ? "127.0.0.1" : "::1"; }
int family_af(Family family) { return family == Family::V4 ? AF_INET : AF_INET6; }
const char* family_name(Family family) { return family == Family::V4 ? "V4" : "V6"; }

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool loopback_available(Family family) {
  UniqueFd fd(new_socket(family));
  if (!fd.valid()) return false;
  sockaddr_storage ss;
  socklen_t len = make_addr(family, 0, ss);
  return ::bind(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) == 0;
}

uint16_t FreePort(Family family) {
  UniqueFd fd(new_socket(family));
  if (!fd.valid()) return 0;
  sockaddr_storage ss;
  socklen_t len = make_addr(family, 0, ss);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) != 0) return 0;
  len = sizeof ss;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  return family == Family::V4 ? ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port)
                              : ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
}

uint16_t retry_with_free_port(Family family, const std::function<bool(uint16_t)>& start, int attempts) {
  for (int i = 0; i < attempts; ++i) {
    uint16_t port = FreePort(family);
    if (port != 0 && start(port)) return port;
  }
  return 0;
}

int try_connect_once(Family family, uint16_t port, Ms timeout) {
  UniqueFd fd(new_socket(family));
  if (!fd.valid()) return errno;
  int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  sockaddr_storage ss;
  socklen_t len = make_addr(family, port, ss);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd p{fd.get(), POLLOUT, 0};
  int n = ::poll(&p, 1, static_cast<int>(timeout.count()));
  if (n <= 0) return ETIMEDOUT;
  int err = 0;
  socklen_t elen = sizeof err;
  ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &elen);
  return err;
}

UniqueFd connect_loopback(Family family, uint16_t port, Ms timeout, std::string* error) {
  const auto deadline = Clock::now() + timeout;
  int last = 0;
  for (;;) {
    UniqueFd fd(new_socket(family));
    if (!fd.valid()) {
      last = errno;
      break;
    }
    int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
    sockaddr_storage ss;
    socklen_t len = make_addr(family, port, ss);
    int rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&ss), len);
    last = rc == 0 ? 0 : errno;
    if (rc != 0 && last == EINPROGRESS) {
      pollfd p{fd.get(), POLLOUT, 0};
      int n = ::poll(&p, 1, std::max(1, remaining_ms(deadline)));
      if (n <= 0) {
        last = ETIMEDOUT;
      } else {
        socklen_t elen = sizeof last;
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &last, &elen);
      }
    }
    if (last == 0) {
      ::fcntl(fd.get(), F_SETFL, flags);
      return fd;
    }
    if (Clock::now() >= deadline || (last != ECONNREFUSED && last != EAGAIN)) break;
    std::this_thread::sleep_for(10ms);
  }
  if (error) {
    *error = std::string("connect to ") + loopback_host(family) + " port " + std::to_string(port) +
             " failed: " + std::strerror(last);
  }
  return UniqueFd();
}

bool port_accepts(Family family, uint16_t port, Ms timeout) {
  return connect_loopback(family, port, timeout).valid();
}

// ---- LineClient ----

bool LineClient::connect(Family family, uint16_t port, Ms timeout) {
  buf_.clear();
  closed_ = false;
  close_errno_ = 0;
  error_.clear();
  fd_ = connect_loopback(family, port, timeout, &error_);
  return fd_.valid();
}

bool LineClient::send_raw(std::string_view bytes) {
  if (!fd_.valid()) {
    error_ = "send on a closed client";
    return false;
  }
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = std::string("send failed: ") + std::strerror(errno);
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool LineClient::send_line(std::string_view line) {
  std::string out(line);
  if (out.empty() || out.back() != '\n') out += "\r\n";
  return send_raw(out);
}

bool LineClient::fill(Ms timeout) {
  if (!fd_.valid() || closed_) return false;
  pollfd p{fd_.get(), POLLIN, 0};
  int n = ::poll(&p, 1, static_cast<int>(timeout.count()));
  if (n <= 0) return false;
  char chunk[8192];
  ssize_t got = ::recv(fd_.get(), chunk, sizeof chunk, 0);
  if (got <= 0) {
    closed_ = true;
    close_errno_ = got < 0 ? errno : 0;
    return false;
  }
  buf_.append(chunk, static_cast<size_t>(got));
  return true;
}

std::optional<std::string> LineClient::read_line(Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    size_t nl = buf_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buf_.substr(0, nl);
      buf_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      received_.push_back(line);
      std::string_view rest;
      if (auto_pong_ && command_of(line, &rest) == "PING") {
        send_line("PONG " + std::string(rest));
        continue;
      }
      return line;
    }
    if (!fill(Ms(remaining_ms(deadline)))) {
      if (closed_ || Clock::now() >= deadline) return std::nullopt;
    }
  }
}

std::string LineClient::read_some(Ms timeout) {
  std::string out;
  if (buf_.empty()) fill(timeout);
  out.swap(buf_);
  return out;
}

::testing::AssertionResult LineClient::expect_line(std::string_view pattern, Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  std::vector<std::string> seen;
  while (auto line = read_line(Ms(remaining_ms(deadline)))) {
    if (line_matches(pattern, *line)) return ::testing::AssertionSuccess();
    seen.push_back(*line);
  }
  auto result = ::testing::AssertionFailure();
  result << "no line matching \"" << pattern << "\" within " << timeout.count() << " ms"
         << (closed_ ? " (connection closed)" : "") << "; read " << seen.size() << " other line(s):";
  for (const auto& s : seen) result << "\n  " << s;
  return result;
}

::testing::AssertionResult LineClient::register_as(std::string_view nick, Ms timeout) {
  std::string n(nick);
  if (!send_line("NICK " + n) || !send_line("USER " + n + " 0 * :VantaIRC test user " + n)) {
    return ::testing::AssertionFailure() << error_;
  }
  const auto deadline = Clock::now() + timeout;
  std::vector<std::string> seen;
  bool welcomed = false;
  while (auto line = read_line(Ms(remaining_ms(deadline)))) {
    seen.push_back(*line);
    std::string_view rest;
    std::string_view cmd = command_of(*line, &rest);
    if (cmd == "001") welcomed = true;
    if (welcomed && (cmd == "376" || cmd == "422")) return ::testing::AssertionSuccess();
    if (!welcomed && cmd.size() == 3 && cmd[0] == '4') break;
  }
  auto result = ::testing::AssertionFailure();
  result << "registration as " << n << " did not complete (" << (welcomed ? "no end of MOTD" : "no 001")
         << (closed_ ? ", connection closed" : "") << "); lines read:";
  for (const auto& s : seen) result << "\n  " << s;
  return result;
}

bool LineClient::wait_closed(Ms timeout) {
  if (!fd_.valid()) return closed_;
  const auto deadline = Clock::now() + timeout;
  while (!closed_) {
    buf_.clear();
    if (!fill(Ms(remaining_ms(deadline))) && !closed_ && Clock::now() >= deadline) break;
  }
  return closed_;
}

}  // namespace vanta::test
