// An IRC server played by the test itself, inside the test process, on a free loopback
// port. It accepts every connection in the background and records each line a client
// sends; the test decides what the client receives.
//
//   ScriptedServer srv(Family::V4);
//   // ... point the client at srv.host(), srv.port() ...
//   ASSERT_TRUE(srv.accept(2s));
//   ASSERT_TRUE(srv.register_client());          // waits for NICK/USER, sends 001..005 and a MOTD
//   srv.recv(":bob!b@h PRIVMSG me :hello");      // the client receives this line
//   EXPECT_TRUE(srv.expect_sent("PRIVMSG bob :*"));
//
// Lines are recorded without their line end. expect_sent matches a line only once: each
// successful expectation uses up the line it matched, so expecting "PONG *" twice needs
// two PONGs, and lines may be expected in any order.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/ports.h"
#include "support/wait.h"

namespace vanta::test {

// One line a client sent, with its arrival time and the connection it came on
// (1 for the first accepted connection, 2 for the second, ...).
struct SentLine {
  std::string text;
  Clock::time_point at;
  int connection = 0;
};

class ScriptedServer {
 public:
  // Listens on the family's loopback address; `port` 0 picks a free one.
  explicit ScriptedServer(Family family = Family::V4, uint16_t port = 0);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // False when the listener could not be set up; error() says why.
  bool ok() const { return port_ != 0; }
  std::string error() const;
  uint16_t port() const { return port_; }
  Family family() const { return family_; }
  const char* host() const { return loopback_host(family_); }
  // The server name used as prefix of everything the server itself sends.
  static constexpr const char* name = "irc.scripted.test";

  // ---- connections ----
  // Waits until a connection arrives that no earlier accept() returned for, and makes
  // the newest connection the current one. Connections are accepted in the background
  // whether or not the test calls this.
  bool accept(Ms timeout = 5s);
  // Connections accepted so far.
  int accept_count() const;
  // The current connection is open on both sides.
  bool connected() const;
  // Waits until the client has closed (or reset) the current connection.
  bool wait_client_closed(Ms timeout = 3s);

  // ---- what the client receives (all on the current connection) ----
  // Sends `line`, adding "\r\n" unless it already ends in "\n".
  bool recv(std::string_view line);
  // Sends exactly these bytes (NULs, half lines, no line end).
  bool send_raw(std::string_view bytes);
  // Sends each part in its own write, pausing `gap` between them, so the client sees
  // them in separate reads.
  bool send_raw_parts(const std::vector<std::string>& parts, Ms gap = 30ms);
  // While on, nothing at all is written to any client: the send functions return
  // false, PINGs go unanswered and register_client sends no welcome.
  void silent(bool on = true) { silent_ = on; }
  // How long one send may wait for a client that does not read (default 5 s); the
  // send fails after that instead of hanging the test.
  void set_write_timeout(Ms timeout) { write_timeout_ms_ = timeout.count(); }
  // While on, every "PING x" from the client is answered with ":<name> PONG <name> :x".
  void auto_pong(bool on = true) { auto_pong_ = on; }

  // ---- what the client sent ----
  // Waits until an unused line matches `pattern` (exact text, "*" matches any run of
  // bytes). The failure message lists everything the client sent.
  ::testing::AssertionResult expect_sent(std::string_view pattern, Ms timeout = 3s);
  // Succeeds when no unused line matches `pattern` during the whole of `during`.
  ::testing::AssertionResult expect_not_sent(std::string_view pattern, Ms during = 200ms);
  std::vector<std::string> sent_lines() const;
  std::vector<SentLine> sent_with_times() const;
  // Every byte received, on all connections, exactly as sent (up to 16 MiB).
  std::string received_bytes() const;
  // Waits until at least `n` lines have arrived in total.
  bool wait_lines(size_t n, Ms timeout = 3s);
  // Forgets every line and byte received so far.
  void clear_sent();

  // Waits for the client's NICK and USER on the current connection and answers with
  // a welcome: 001 to 005, then 375/372/376. An empty `nick` welcomes the nick the
  // client asked for.
  ::testing::AssertionResult register_client(std::string_view nick = {}, Ms timeout = 3s);
  // The nick welcomed by the last register_client.
  std::string nick() const;

  // ---- faults ----
  // Closes the current connection in an orderly way (the client reads end of stream).
  void drop();
  // Resets the current connection (SO_LINGER 0: the client sees ECONNRESET).
  void reset();
  // Closes the listener: every connect is refused until resume_listening().
  void stop_listening();
  // Listens again on the same port. False when that port is no longer free.
  bool resume_listening();
  // Refuses connects for `duration`, then listens again on the same port by itself.
  void refuse_for(Ms duration);

 private:
  struct Conn;
  struct Rec {
    SentLine line;
    bool used = false;
  };
  enum class Cmd { Drop, Reset, StopListening, ResumeListening };

  bool open_listener(uint16_t port);  // I/O thread or constructor only
  void io_loop();
  void accept_one();
  void read_from(Conn& c);
  void on_line(Conn& c, std::string line);
  void close_conn(Conn& c, bool rst);
  bool run_command(Cmd cmd, int conn_index = -1);
  void wake();
  bool write_to(Conn* c, std::string_view bytes);
  Conn* current() const;  // caller holds mu_

  const Family family_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;   // owned by the I/O thread once it runs
  int wake_rd_ = -1, wake_wr_ = -1;
  Clock::time_point relisten_at_{};  // I/O thread only; refuse_for deadline

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<Conn>> conns_;  // appended by the I/O thread under mu_
  int taken_ = 0;                             // connections handed out by accept()
  std::vector<Rec> lines_;
  std::string raw_;
  std::string nick_;
  std::string error_;
  struct PendingCmd {
    Cmd cmd;
    int conn;
    uint64_t seq;
    Ms refuse{0};
  };
  std::deque<PendingCmd> cmds_;
  uint64_t cmd_seq_ = 0, cmd_done_ = 0;
  std::vector<std::pair<uint64_t, bool>> cmd_results_;

  std::atomic<long long> write_timeout_ms_{5000};
  std::atomic<bool> silent_{false};
  std::atomic<bool> auto_pong_{false};
  std::atomic<bool> stopping_{false};
  std::thread io_;
};

}  // namespace vanta::test
