// Loopback sockets for tests: free ports, connecting, and a plain line-oriented client
// that plays a second IRC user or probes a server. Plain POSIX sockets only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/wait.h"

namespace vanta::test {

enum class Family { V4, V6 };

// "127.0.0.1" or "::1".
const char* loopback_host(Family family);
// AF_INET or AF_INET6.
int family_af(Family family);
// "V4" / "V6", for test names and messages.
const char* family_name(Family family);
// True when a socket can be bound on the family's loopback address (IPv6 may be
// disabled in a container).
bool loopback_available(Family family);

// Owns one file descriptor; closes it on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A port that was free on the family's loopback address a moment ago (bind to port 0,
// read the port, close). 0 when no socket could be bound. Another process may take it
// before the caller binds it: use retry_with_free_port where that matters.
uint16_t FreePort(Family family);

// Calls `start(port)` with fresh free ports until it returns true, at most `attempts`
// times. Returns the port that worked, or 0.
uint16_t retry_with_free_port(Family family, const std::function<bool(uint16_t)>& start, int attempts = 5);

// Connects a blocking TCP socket to the family's loopback address. Retries refused
// connects until `timeout` (a server that is still starting). Invalid fd on failure,
// with the reason in *error when given.
UniqueFd connect_loopback(Family family, uint16_t port, Ms timeout = 2s, std::string* error = nullptr);

// Makes one connection attempt (no retry). Returns 0 when it connected, else the errno
// (ECONNREFUSED for a closed port, ETIMEDOUT when it did not complete within `timeout`).
int try_connect_once(Family family, uint16_t port, Ms timeout = 1s);

// True once the port accepts a connection (retried until `timeout`).
bool port_accepts(Family family, uint16_t port, Ms timeout);

// A line-oriented client over a blocking socket. Every wait is bounded. Answers server
// PINGs on its own (set_auto_pong(false) to see them).
class LineClient {
 public:
  LineClient() = default;
  LineClient(Family family, uint16_t port, Ms timeout = 3s) { connect(family, port, timeout); }

  bool connect(Family family, uint16_t port, Ms timeout = 3s);
  bool connected() const { return fd_.valid(); }
  const std::string& error() const { return error_; }
  int fd() const { return fd_.get(); }
  void close() { fd_.reset(); }

  // Sends `line`, adding "\r\n" unless it already ends in "\n".
  bool send_line(std::string_view line);
  bool send_raw(std::string_view bytes);

  // The next complete line, without its "\r\n" or "\n". nullopt on time-out, end of
  // stream or error (closed() tells which).
  std::optional<std::string> read_line(Ms timeout = 3s);
  // Whatever bytes arrive within `timeout` (at most one read after the first byte).
  std::string read_some(Ms timeout = 1s);
  // Reads lines until one matches the pattern ("*" wildcards); the failure message
  // lists every line read while waiting.
  ::testing::AssertionResult expect_line(std::string_view pattern, Ms timeout = 3s);
  // Sends NICK and USER and reads through the welcome up to the end of the MOTD
  // (376 or 422). Fails on a 4xx reply to NICK (e.g. 433 nick in use).
  ::testing::AssertionResult register_as(std::string_view nick, Ms timeout = 5s);
  // True once the peer has closed the connection (end of stream or reset) within `timeout`.
  bool wait_closed(Ms timeout = 3s);
  bool closed() const { return closed_; }
  // errno of the read that ended the stream (ECONNRESET for a reset), 0 for a clean end.
  int close_errno() const { return close_errno_; }

  // Every line read so far, in order (PINGs answered automatically included).
  const std::vector<std::string>& received() const { return received_; }
  void set_auto_pong(bool on) { auto_pong_ = on; }

 private:
  bool fill(Ms timeout);  // one read into buf_; false on time-out or end of stream

  UniqueFd fd_;
  std::string buf_;
  std::string error_;
  std::vector<std::string> received_;
  bool auto_pong_ = true;
  bool closed_ = false;
  int close_errno_ = 0;
};

}  // namespace vanta::test
