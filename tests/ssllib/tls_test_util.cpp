#include "tls_test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace ssltest {

namespace {

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> v;
  for (const std::string& a : args) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  return v;
}

// Spawns with stdin and stderr on /dev/null, stdout on `out_fd` (or /dev/null when -1).
pid_t Spawn(const std::vector<std::string>& args, int out_fd) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0)
    posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  else
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = Argv(args);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

// Waits up to timeout_ms for the child; kills it when it is still running then.
int Reap(pid_t pid, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vanta-ssl-XXXXXX";
  if (mkdtemp(templ.data())) path_ = templ;
}

TempDir::~TempDir() {
  if (!path_.empty()) nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

int Run(const std::vector<std::string>& argv, int timeout_ms) {
  pid_t pid = Spawn(argv, -1);
  return pid < 0 ? -1 : Reap(pid, timeout_ms);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool MakeCerts(const std::string& dir, Certs* c) {
  c->ca_cert = dir + "/ca.pem";
  c->self_cert = dir + "/self.pem";
  c->self_key = dir + "/self.key";
  c->leaf_cert = dir + "/leaf.pem";
  c->leaf_key = dir + "/leaf.key";
  const std::string ca_key = dir + "/ca.key", csr = dir + "/leaf.csr", ext = dir + "/leaf.ext";
  const std::string san = "subjectAltName=DNS:localhost,IP:127.0.0.1";
  WriteFile(ext, san + "\nbasicConstraints=CA:FALSE\n");
  const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
  auto req = [&](std::vector<std::string> head, std::vector<std::string> tail) {
    head.insert(head.end(), ec.begin(), ec.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return Run(head) == 0;
  };
  return req({"openssl", "req", "-x509"}, {"-keyout", c->self_key, "-out", c->self_cert, "-subj", "/CN=localhost",
                                           "-days", "2", "-addext", san}) &&
         req({"openssl", "req", "-x509"},
             {"-keyout", ca_key, "-out", c->ca_cert, "-subj", "/CN=Vanta Test CA", "-days", "2", "-addext",
              "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
         req({"openssl", "req", "-new"}, {"-keyout", c->leaf_key, "-out", csr, "-subj", "/CN=localhost"}) &&
         Run({"openssl", "x509", "-req", "-in", csr, "-CA", c->ca_cert, "-CAkey", ca_key, "-set_serial", "2",
              "-days", "2", "-extfile", ext, "-out", c->leaf_cert}) == 0;
}

bool SServer::Start(const std::string& cert, const std::string& key, const std::vector<std::string>& extra) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = {"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = Spawn(args, p[1]);
  close(p[1]);
  out_ = p[0];
  if (pid_ < 0) return false;
  // The server announces "ACCEPT 127.0.0.1:<port>" once it listens.
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd pf{out_, POLLIN, 0};
    if (poll(&pf, 1, 100) <= 0) continue;
    char buf[512];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;  // exited
    text.append(buf, static_cast<std::size_t>(n));
    auto at = text.find("ACCEPT 127.0.0.1:");
    auto eol = at == std::string::npos ? std::string::npos : text.find('\n', at);
    if (eol != std::string::npos) {
      port_ = std::atoi(text.c_str() + at + std::strlen("ACCEPT 127.0.0.1:"));
      return port_ > 0;
    }
  }
  return false;
}

SServer::~SServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    Reap(pid_, 5000);
  }
  if (out_ >= 0) close(out_);
}

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SocketPair(int fds[2]) { return socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0; }

}  // namespace ssltest
