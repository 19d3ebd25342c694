#include "support/real_servers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

extern char** environ;

namespace vanta::test {

namespace fs = std::filesystem;

namespace {

constexpr auto kStopGrace = 3s;

// Argument and environment arrays built before fork, so the child only calls
// async-signal-safe functions before exec.
struct ExecArgs {
  std::vector<std::string> args, env;
  std::vector<char*> argv, envp;
  ExecArgs(const std::vector<std::string>& a, const std::vector<std::string>& extra_env) : args(a) {
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    for (const auto& x : extra_env) env.push_back(x);
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
  }
};

int status_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::string describe_status(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "stopped";
}

// scripts/ngircd-local in the source tree: $VANTA_SOURCE when set, else found from
// this file's own path.
std::string ngircd_script() {
  if (const char* src = std::getenv("VANTA_SOURCE"); src && *src) {
    fs::path p = fs::path(src) / "scripts" / "ngircd-local";
    if (fs::exists(p)) return p.string();
  }
  fs::path p = fs::path(__FILE__).parent_path().parent_path().parent_path() / "scripts" / "ngircd-local";
  return fs::exists(p) ? p.string() : std::string();
}

std::string make_temp_dir(const char* kind) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string tmpl = (base / (std::string("vanta-") + kind + "-XXXXXX")).string();
  if (!::mkdtemp(tmpl.data())) return {};
  return tmpl;
}

}  // namespace

const char* server_kind_name(ServerKind kind) { return kind == ServerKind::Ngircd ? "ngircd" : "inspircd"; }

std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (dir.empty()) continue;
    std::string full = dir + "/" + name;
    struct stat st;
    if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(full.c_str(), X_OK) == 0) return full;
  }
  return {};
}

ProgramResult run_program(const std::vector<std::string>& argv, const std::string& input, Ms timeout) {
  ProgramResult result;
  if (argv.empty()) return result;
  std::string exe = find_program(argv[0]);
  if (exe.empty()) {
    result.output = argv[0] + ": not found";
    return result;
  }
  std::vector<std::string> args = argv;
  args[0] = exe;
  ExecArgs ex(args, {});
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return result;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::execve(ex.argv[0], ex.argv.data(), ex.envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (pid < 0) {
    ::close(in[1]);
    ::close(out[0]);
    return result;
  }
  result.started = true;
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  int in_fd = in[1];
  if (input.empty()) {
    ::close(in_fd);
    in_fd = -1;
  }
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pollfd p[2] = {{out[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    int n = ::poll(p, in_fd >= 0 ? 2 : 1, remaining_ms(deadline));
    if (n == 0) {
      result.timed_out = true;
      break;
    }
    if (n < 0 && errno != EINTR) break;
    if (p[0].revents) {
      char buf[4096];
      ssize_t got = ::read(out[0], buf, sizeof buf);
      if (got <= 0) break;
      result.output.append(buf, static_cast<size_t>(got));
    }
    if (in_fd >= 0 && p[1].revents) {
      ssize_t w = ::write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 && errno != EAGAIN && errno != EINTR) written = input.size();
      if (written >= input.size()) {
        ::close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) ::close(in_fd);
  ::close(out[0]);
  if (result.timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = status_code(status);
  return result;
}

bool ngircd_has_tls() {
  static std::once_flag once;
  static bool has = false;
  std::call_once(once, [] {
    std::string bin = find_program("ngircd");
    if (bin.empty()) return;
    ProgramResult r = run_program({bin, "-V"}, {}, 5s);
    has = r.output.find("+SSL") != std::string::npos;
  });
  return has;
}

// ---- RealServer ----

RealServer::RealServer(ServerKind kind, RealServerOptions options) : kind_(kind), options_(options) {
  const char* kname = server_kind_name(kind);
  binary_ = find_program(kname);
  if (binary_.empty()) {
    skip_reason_ = std::string(kname) + " is not installed (apt-get install " + kname + ")";
    return;
  }
  if ((options_.family == Family::V6 || options_.dual_stack) && !loopback_available(Family::V6)) {
    skip_reason_ = "IPv6 loopback (::1) is not available here";
    return;
  }
  if (options_.tls) {
    if (kind != ServerKind::Ngircd) {
      skip_reason_ = "the TLS variant is provided for ngircd only";
      return;
    }
    if (!ngircd_has_tls()) {
      skip_reason_ = "this ngircd was built without TLS support";
      return;
    }
    if (find_program("openssl").empty()) {
      skip_reason_ = "openssl is not installed (needed for the test certificate)";
      return;
    }
  }
  if (kind == ServerKind::Ngircd) {
    script_ = ngircd_script();
    if (script_.empty()) {
      error_ = "scripts/ngircd-local not found (set VANTA_SOURCE to the source tree)";
      return;
    }
    server_name_ = "irc.vanta.test";
  } else {
    server_name_ = "irc.inspircd.test";
  }
  dir_ = make_temp_dir(kname);
  if (dir_.empty()) {
    error_ = std::string("cannot create a temporary directory: ") + std::strerror(errno);
    return;
  }
  if (options_.tls && !make_certificate()) return;
  start(true);
}

RealServer::~RealServer() {
  stop();
  const char* keep = std::getenv("VANTA_KEEP_SERVER_DIRS");
  if (!dir_.empty() && !(keep && *keep && std::strcmp(keep, "0") != 0)) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

bool RealServer::make_certificate() {
  ProgramResult r = run_program({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                 "/CN=localhost", "-keyout", dir_ + "/key.pem", "-out", dir_ + "/cert.pem"},
                                {}, 30s);
  if (r.exit_status != 0) {
    error_ = "openssl could not make the test certificate: " + r.output;
    return false;
  }
  return true;
}

bool RealServer::write_inspircd_config() {
  std::ofstream f(dir_ + "/inspircd.conf", std::ios::trunc);
  std::ofstream(dir_ + "/motd.txt", std::ios::trunc) << "Welcome to the VantaIRC test server\n";
  std::vector<const char*> addrs;
  if (options_.family == Family::V4 || options_.dual_stack) addrs.push_back("127.0.0.1");
  if (options_.family == Family::V6 || options_.dual_stack) addrs.push_back("::1");
  f << "<server name=\"" << server_name_ << "\" description=\"VantaIRC test server\" network=\"VantaTest\">\n"
    << "<admin name=\"VantaIRC tests\" nick=\"admin\" email=\"nobody@localhost\">\n";
  for (const char* a : addrs) f << "<bind address=\"" << a << "\" port=\"" << port_ << "\" type=\"clients\">\n";
  // One class for every test client: no host or ident lookups, no fake lag, limits far
  // above what a test sends, so nothing but the test decides when a client is cut off.
  f << "<connect name=\"tests\" allow=\"*\" timeout=\"20\" pingfreq=\"120\" hardsendq=\"1048576\""
       " softsendq=\"65536\" recvq=\"65536\" threshold=\"1000\" commandrate=\"1000000\" fakelag=\"no\""
       " localmax=\"1000\" globalmax=\"1000\" maxconnwarn=\"no\" resolvehostnames=\"no\" useident=\"no\">\n"
    << "<dns server=\"127.0.0.1\" timeout=\"1\">\n"
    << "<pid file=\"" << dir_ << "/inspircd.pid\">\n"
    << "<files motd=\"" << dir_ << "/motd.txt\">\n"
    << "<log method=\"file\" type=\"* -USERINPUT -USEROUTPUT\" level=\"default\" target=\"" << dir_
    << "/inspircd.log\">\n"
    << "<options prefixquit=\"Quit: \" syntaxhints=\"no\" announcets=\"yes\">\n"
    << "<security hideserver=\"\" userstats=\"Pu\" maxtargets=\"20\">\n"
    << "<performance softlimit=\"1024\" somaxconn=\"128\" netbuffersize=\"10240\">\n"
    << "<class name=\"Everything\" commands=\"*\" privs=\"*\" usermodes=\"*\" chanmodes=\"*\">\n"
    << "<type name=\"NetAdmin\" classes=\"Everything\">\n"
    << "<oper name=\"oper\" password=\"operpass\" host=\"*@*\" type=\"NetAdmin\">\n";
  f.close();
  if (!f) {
    error_ = "cannot write " + dir_ + "/inspircd.conf";
    return false;
  }
  return true;
}

bool RealServer::spawn() {
  std::vector<std::string> args;
  std::vector<std::string> extra_env;
  if (kind_ == ServerKind::Ngircd) {
    args = {"/bin/bash", script_};
    if (options_.dual_stack) args.push_back("--ipv6");
    else if (options_.family == Family::V6) args.push_back("--ipv6-only");
    if (tls_port_ != 0) {
      args.insert(args.end(), {"--ssl-port", std::to_string(tls_port_), "--cert", dir_ + "/cert.pem", "--key",
                               dir_ + "/key.pem"});
    }
    args.push_back(std::to_string(port_));
    args.push_back(dir_);
    extra_env.push_back("NGIRCD=" + binary_);
  } else {
    if (!write_inspircd_config()) return false;
    args = {binary_, "--nofork", "--config=" + dir_ + "/inspircd.conf"};
    if (::geteuid() == 0) args.push_back("--runasroot");
  }
  ExecArgs ex(args, extra_env);
  const std::string log_path = dir_ + "/server.log";
  {
    std::ofstream(log_path, std::ios::app) << "---- starting on port " << port_ << " ----\n";
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // Die with the thread that started us, so no server outlives a crashed test.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    ::setpgid(0, 0);
    int devnull = ::open("/dev/null", O_RDONLY);
    int log = ::open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (devnull >= 0) ::dup2(devnull, 0);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    ::execve(ex.argv[0], ex.argv.data(), ex.envp.data());
    ::_exit(127);
  }
  if (pid < 0) {
    error_ = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  pid_ = pid;
  return true;
}

bool RealServer::wait_ready() {
  const auto deadline = Clock::now() + options_.start_timeout;
  std::vector<std::pair<Family, uint16_t>> probes = {{options_.family, port_}};
  if (options_.dual_stack) probes.push_back({options_.family == Family::V4 ? Family::V6 : Family::V4, port_});
  if (tls_port_ != 0) probes.push_back({options_.family, tls_port_});
  size_t ready = 0;
  while (ready < probes.size()) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = std::string(server_kind_name(kind_)) + " " + describe_status(status) + " while starting; output:\n" +
               log();
      return false;
    }
    if (try_connect_once(probes[ready].first, probes[ready].second, 200ms) == 0) {
      ++ready;
      continue;
    }
    if (Clock::now() >= deadline) {
      error_ = std::string(server_kind_name(kind_)) + " did not accept connections on port " +
               std::to_string(probes[ready].second) + " within " + std::to_string(options_.start_timeout.count()) +
               " ms; output:\n" + log();
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  // A port that answered while our child died was somebody else's.
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    error_ = std::string(server_kind_name(kind_)) + " " + describe_status(status) + "; output:\n" + log();
    return false;
  }
  return true;
}

bool RealServer::start(bool pick_ports) {
  const int attempts = pick_ports ? 3 : 1;
  for (int i = 0; i < attempts; ++i) {
    if (pick_ports) {
      port_ = FreePort(options_.family);
      tls_port_ = 0;
      if (options_.tls) {
        do tls_port_ = FreePort(options_.family);
        while (tls_port_ == port_);
      }
      if (port_ == 0) {
        error_ = "no free loopback port";
        return false;
      }
    }
    error_.clear();
    if (!spawn()) return false;
    if (wait_ready()) return true;
    reap(SIGKILL, 0ms);
  }
  return false;
}

bool RealServer::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    error_ = std::string(server_kind_name(kind_)) + " " + describe_status(status) + "; output:\n" + log();
    return false;
  }
  return true;
}

void RealServer::reap(int signal, Ms grace) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  const auto deadline = Clock::now() + grace;
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
      pid_ = -1;
      return;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

bool RealServer::stop() {
  if (pid_ <= 0) return false;
  reap(SIGTERM, kStopGrace);
  return true;
}

bool RealServer::kill() {
  if (pid_ <= 0) return false;
  reap(SIGKILL, 0ms);
  return true;
}

bool RealServer::restart() {
  if (!available() || dir_.empty()) return false;
  stop();
  return start(port_ == 0);
}

std::string RealServer::log() const {
  if (dir_.empty()) return {};
  std::ifstream f(dir_ + "/server.log");
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace vanta::test
