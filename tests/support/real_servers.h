// Real IRC servers from Debian for integration tests, each a child process on a free
// loopback port with a fresh throw-away configuration in its own temporary directory.
//
//   RealServer srv(ServerKind::Ngircd);
//   VANTA_REQUIRE_SERVER(srv);                 // skips when ngircd is not installed
//   LineClient bob(srv.family(), srv.port());
//   ASSERT_TRUE(bob.register_as("bob"));
//   srv.restart();                             // same port; connected clients are cut off
//
// What each server needs:
//  - ngircd (package ngircd): configuration and start-up live in scripts/ngircd-local,
//    which this helper runs (it writes the configuration and execs ngircd in the
//    foreground). See that script for the settings and why.
//  - inspircd (package inspircd, binary /usr/sbin/inspircd): <server>, a <bind> per
//    loopback address, one <connect> class with limits high enough for tests and
//    without host name or ident lookups, <dns> pointed at loopback so nothing leaves
//    the machine, pid file, MOTD and log inside the temporary directory. It refuses to
//    run as root unless given --runasroot; --nofork keeps it in the foreground.
//    It completes a registration on its once-a-second tick, so each client takes up
//    to a second to receive 001 there; ngircd answers at once.
//
// The child gets SIGKILL when the thread that started it exits (PR_SET_PDEATHSIG), so a
// crashed test leaves no server behind; start servers on the test's own thread.
// Set VANTA_KEEP_SERVER_DIRS=1 to keep the temporary directories for inspection.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/ports.h"
#include "support/wait.h"

namespace vanta::test {

enum class ServerKind { Ngircd, Inspircd };

const char* server_kind_name(ServerKind kind);

struct RealServerOptions {
  Family family = Family::V4;  // the address port() is reached on
  bool dual_stack = false;     // listen on both 127.0.0.1 and ::1
  bool tls = false;            // ngircd only: also a TLS port with a self-signed certificate
  Ms start_timeout = 8s;       // bound for the port to start accepting
};

class RealServer {
 public:
  explicit RealServer(ServerKind kind, RealServerOptions options = {});
  ~RealServer();
  RealServer(const RealServer&) = delete;
  RealServer& operator=(const RealServer&) = delete;

  // False when the server cannot be run here at all (binary missing, TLS not built in,
  // IPv6 loopback unavailable); skip_reason() says why. Tests skip in that case.
  bool available() const { return skip_reason_.empty(); }
  const std::string& skip_reason() const { return skip_reason_; }
  // The child is alive and its port accepted a connection. When a start fails,
  // error() says why and includes the server's output.
  bool running();
  const std::string& error() const { return error_; }

  ServerKind kind() const { return kind_; }
  Family family() const { return options_.family; }
  const char* host() const { return loopback_host(options_.family); }
  uint16_t port() const { return port_; }
  uint16_t tls_port() const { return tls_port_; }  // 0 without TLS
  const std::string& server_name() const { return server_name_; }
  const std::string& dir() const { return dir_; }
  std::string cert_file() const { return dir_ + "/cert.pem"; }  // TLS only
  pid_t pid() const { return pid_; }
  // Everything the server wrote to its standard output and error so far.
  std::string log() const;

  // SIGTERM, then SIGKILL when it has not exited within a bound; reaps the child.
  bool stop();
  // SIGKILL at once (connected clients see the connection end); reaps the child.
  bool kill();
  // Stops the server if it runs and starts it again on the same port(s).
  bool restart();

 private:
  bool start(bool pick_ports);
  bool spawn();
  bool wait_ready();
  bool write_inspircd_config();
  bool make_certificate();
  void reap(int signal, Ms grace);

  ServerKind kind_;
  RealServerOptions options_;
  std::string binary_;
  std::string script_;  // ngircd: scripts/ngircd-local
  std::string skip_reason_;
  std::string error_;
  std::string dir_;
  std::string server_name_;
  uint16_t port_ = 0;
  uint16_t tls_port_ = 0;
  pid_t pid_ = -1;
};

// Skips the current test when the server cannot run here, and fails it when the
// server should run but did not start.
#define VANTA_REQUIRE_SERVER(srv)                                               \
  do {                                                                          \
    if (!(srv).available()) GTEST_SKIP() << (srv).skip_reason();                \
    ASSERT_TRUE((srv).running()) << server_kind_name((srv).kind()) << ": " << (srv).error(); \
  } while (0)

// Result of run_program.
struct ProgramResult {
  bool started = false;
  bool timed_out = false;  // killed after the time-out
  int exit_status = -1;    // exit code, or 128 + signal number
  std::string output;      // standard output and error together
};

// Runs a program with an argument vector (no shell), feeding `input` on its standard
// input, bounded by `timeout` (SIGKILL after it). argv[0] is searched in PATH when it
// has no "/".
ProgramResult run_program(const std::vector<std::string>& argv, const std::string& input = {}, Ms timeout = 10s);

// Absolute path of a program found in PATH or in /usr/sbin and /sbin; empty when missing.
std::string find_program(const std::string& name);

// True when the installed ngircd was built with TLS ("+SSL" in `ngircd -V`).
bool ngircd_has_tls();

}  // namespace vanta::test
