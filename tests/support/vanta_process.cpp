#include "support/vanta_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/dynlib.h"

namespace vanta::test {

using namespace std::chrono_literals;

VantaProcess::VantaProcess(const std::vector<std::string>& args, const std::string& home) {
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  const char* bin = getenv("VANTA_BIN");
  std::string exe = (bin ? std::string(bin) : platform::ExecutableDir()) + "/vanta";
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    setenv("VANTA_HOME", home.c_str(), 1);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid_ < 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  stdin_ = in[1];
  stdout_ = out[0];
  fcntl(stdin_, F_SETFD, FD_CLOEXEC);
  fcntl(stdout_, F_SETFD, FD_CLOEXEC);
  fcntl(stdout_, F_SETFL, O_NONBLOCK);
}

VantaProcess::~VantaProcess() {
  if (stdin_ >= 0) close(stdin_);
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdout_ >= 0) close(stdout_);
}

bool VantaProcess::ReadSome(std::chrono::milliseconds timeout) {
  if (eof_ || stdout_ < 0) return false;
  pollfd p{stdout_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
    char buf[4096];
    ssize_t n = read(stdout_, buf, sizeof buf);
    if (n > 0) {
      output_.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      eof_ = true;
      return false;
    }
  }
  return true;
}

std::size_t VantaProcess::WaitOutputFrom(std::size_t from, const std::string& needle,
                                         std::chrono::milliseconds timeout) {
  auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::size_t at = from <= output_.size() ? output_.find(needle, from) : std::string::npos;
    if (at != std::string::npos) return at;
    if (std::chrono::steady_clock::now() >= until) return std::string::npos;
    if (!ReadSome(50ms)) {
      // Nothing more will come; check once more what was read last.
      return from <= output_.size() ? output_.find(needle, from) : std::string::npos;
    }
  }
}

bool VantaProcess::WaitOutput(const std::string& needle, std::chrono::milliseconds timeout) {
  return WaitOutputFrom(0, needle, timeout) != std::string::npos;
}

void VantaProcess::Type(const std::string& text) {
  if (stdin_ >= 0) (void)!write(stdin_, text.data(), text.size());
}

void VantaProcess::CloseInput() {
  if (stdin_ >= 0) close(stdin_);
  stdin_ = -1;
}

void VantaProcess::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int VantaProcess::WaitExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  auto until = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      // Collect what it wrote before it ended.
      auto drain_until = std::chrono::steady_clock::now() + 200ms;
      while (std::chrono::steady_clock::now() < drain_until && ReadSome(20ms)) {
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ReadSome(20ms);
  }
  return -1;
}

}  // namespace vanta::test
