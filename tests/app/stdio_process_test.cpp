// The program as a process with the stdio front end: it connects, prints what every window shows
// as "window<TAB>text", and ends cleanly at the end of its input or on a signal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/dynlib.h"
#include "support/core_fixture.h"
#include "support/scripted_server.h"

namespace vanta::test {
namespace {

using namespace std::chrono_literals;

// A vanta child process with pipes on its standard input and output.
class VantaProcess {
 public:
  explicit VantaProcess(const std::vector<std::string>& args, const std::string& home) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    const char* bin = getenv("VANTA_BIN");
    std::string exe = (bin ? std::string(bin) : platform::ExecutableDir()) + "/vanta";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(in[1]);
      close(out[0]);
      setenv("VANTA_HOME", home.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(exe.c_str())};
      for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    fcntl(stdout_, F_SETFL, O_NONBLOCK);
  }
  ~VantaProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }
  // Reads output until it contains needle or the time is up.
  bool WaitOutput(const std::string& needle, std::chrono::milliseconds timeout = 10s) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (output_.find(needle) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until) return false;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[4096];
        ssize_t n = read(stdout_, buf, sizeof buf);
        if (n > 0) output_.append(buf, static_cast<std::size_t>(n));
        else if (n == 0) return output_.find(needle) != std::string::npos;
      }
    }
    return true;
  }
  void Type(const std::string& line) { (void)!write(stdin_, line.data(), line.size()); }
  void CloseInput() {
    close(stdin_);
    stdin_ = -1;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Exit status, or -1 when the process did not end in time.
  int WaitExit(std::chrono::milliseconds timeout = 10s) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        WaitOutput("\x01never", 200ms);  // what it wrote before it ended
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      WaitOutput("\x01never", 20ms);
    }
    return -1;
  }
  const std::string& output() const { return output_; }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  bool reaped_ = false;
  std::string output_;
};

TEST(StdioProcess, ConnectsShowsLinesAndEndsAtEndOfInput) {
  TempDir home;
  ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok());
  srv.auto_pong(true);
  VantaProcess vanta({"--ui=stdio", "--connect", "127.0.0.1:" + std::to_string(srv.port()), "--nick", "procnick"},
                     home.path());
  ASSERT_TRUE(vanta.started());
  ASSERT_TRUE(srv.accept(10s));
  ASSERT_TRUE(srv.register_client());
  EXPECT_TRUE(vanta.WaitOutput("127.0.0.1\tConnected to 127.0.0.1")) << vanta.output();
  EXPECT_TRUE(vanta.WaitOutput("Welcome to the ScriptedNet IRC Network procnick")) << vanta.output();
  vanta.CloseInput();
  EXPECT_EQ(vanta.WaitExit(), 0) << vanta.output();
  EXPECT_TRUE(srv.expect_sent("QUIT :*", 5s));
}

TEST(StdioProcess, EndsOnSignal) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TempDir home;
    ScriptedServer srv(Family::V4);
    srv.silent();  // the server never answers: the connection thread sits in its read
    VantaProcess vanta({"--ui=stdio", "--connect", "127.0.0.1:" + std::to_string(srv.port())}, home.path());
    ASSERT_TRUE(srv.accept(10s));
    ASSERT_TRUE(vanta.WaitOutput("Connected to")) << vanta.output();
    vanta.Signal(sig);
    EXPECT_EQ(vanta.WaitExit(5s), 0) << vanta.output();
  }
}

TEST(StdioProcess, BadCommandLineIsReported) {
  TempDir home;
  VantaProcess vanta({"--ui=bogus"}, home.path());
  EXPECT_NE(vanta.WaitExit(), 0);
  EXPECT_NE(vanta.output().find("bogus"), std::string::npos) << vanta.output();
}

}  // namespace
}  // namespace vanta::test
