// The command line, and start-up as a real process: hand-over to a running instance, a stale
// control socket, missing libraries.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/startup.h"
#include "platform/ini.h"
#include "support/core_fixture.h"
#include "support/scripted_server.h"

namespace vanta::config {
namespace {

TEST(CommandLine, Switches) {
  struct Case {
    std::vector<std::string> words;
    std::function<bool(const StartOptions&)> check;
  } cases[] = {
      {{"-e", "/join #a||/join", "#b"}, [](auto& o) { return o.has_commands && o.commands == "/join #a\r\n/join #b"; }},
      {{"-E", "/x||/y||"}, [](auto& o) { return o.commands == "/x\r\n/y\r\n"; }},
      {{"-b", "-e"}, [](auto& o) { return o.headless && o.has_commands && o.commands.empty(); }},
      {{"-s", "pack.vrc", "-K", "my.ski"}, [](auto& o) { return o.script_package == "pack.vrc" && o.skin_file == "my.ski"; }},
      {{"-m"}, [](auto& o) { return !o.error.empty(); }},
      {{"-p", "-l", "-r", "-dd", "-fuu"},
       [](auto& o) { return o.no_plugins && o.no_placements && o.no_update && o.no_register && o.system_error_dialogs && o.text_mode == 2; }},
      {{"-fa", "-rreg", "-x", "-ds"}, [](auto& o) { return o.text_mode == 0 && o.reregister && o.other_flags.size() == 2; }},
      {{"-bogus", "word", "-v"}, [](auto& o) { return o.unknown.size() == 2 && o.show_version && o.error.empty(); }},
      {{"-p", "", "-b"}, [](auto& o) { return o.no_plugins && !o.headless; }},
      {{"/?"}, [](auto& o) { return o.show_help; }},
      {{"-symbol", "-rr"}, [](auto& o) { return o.edit_symbols && o.repair_associations; }},
      {{"--ui=stdio", "--connect", "127.0.0.1:6667"}, [](auto& o) { return o.ui == "stdio" && o.connect.size() == 1; }},
      {{"--ui=gtk"}, [](auto& o) { return !o.error.empty(); }},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (auto& w : c.words) joined += "[" + w + "]";
    EXPECT_TRUE(c.check(ParseCommandLine(c.words))) << joined;
  }
  EXPECT_TRUE(UsesDefaultArguments({}));
  EXPECT_TRUE(UsesDefaultArguments({"-embedding"}));
  EXPECT_FALSE(UsesDefaultArguments({"-Embedding", "-b"}));
  EXPECT_EQ(SplitCommandWords("-p  -b"), (std::vector<std::string>{"-p", "", "-b"}));
  EXPECT_EQ(MissingLibraryMessage({"libvres.so"}),
            "A VantaIRC DLL is missing !\r\nPlease Run U.EXE to get it from Web or reinstall VantaIRC !\r\nlibvres.so\r\n");
}

// Runs the built program as a child in a temporary program directory.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("VANTA_BIN");
    if (!bin) GTEST_SKIP() << "VANTA_BIN not set";
    bin_ = bin;
  }
  struct Child {
    pid_t pid = -1;
    int out = -1;  // read end of its standard output
  };
  Child Start(const std::vector<std::string>& args, const std::string& program = "") {
    int pipe_fds[2];
    EXPECT_EQ(pipe(pipe_fds), 0);
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
      setenv("VANTA_HOME", home_.path().c_str(), 1);
      dup2(pipe_fds[1], 1);
      dup2(pipe_fds[1], 2);
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      std::string exe = program.empty() ? bin_ + "/vanta" : program;
      std::vector<char*> argv{exe.data()};
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(pipe_fds[1]);
    c.out = pipe_fds[0];
    return c;
  }
  // Waits for the child to end (killing it after timeout_ms); returns its exit code and output.
  int Finish(Child& c, std::string* output, int timeout_ms = 10000) {
    int status = 0;
    auto start = std::chrono::steady_clock::now();
    while (waitpid(c.pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeout_ms)) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(c.out, buf, sizeof buf)) > 0) output->append(buf, static_cast<std::size_t>(n));
    close(c.out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Pref(const std::string& key) {
    platform::ini::FlushCache();
    return platform::ini::ReadString(home_.path() + "/USERS/Administrator/pref.ini", "Debug", key);
  }
  bool WaitFor(const std::function<bool()>& pred, int timeout_ms = 10000) {
    auto start = std::chrono::steady_clock::now();
    while (!pred()) {
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeout_ms)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  std::string bin_;
  test::TempDir home_;
};

TEST_F(ProgramTest, HandOverRunsTheLinesInTheRunningInstance) {
  // The running instance is connected to a server played by the test: the handed-over lines show
  // up there as the commands they are.
  test::ScriptedServer srv(test::Family::V4);
  ASSERT_TRUE(srv.ok());
  srv.auto_pong(true);
  Child first = Start({"-b", "--connect", "127.0.0.1:" + std::to_string(srv.port()), "--nick", "first"});
  ASSERT_TRUE(srv.accept(std::chrono::seconds(10)));
  ASSERT_TRUE(srv.register_client());
  ASSERT_TRUE(WaitFor([&] { return !Pref("Window").empty(); }));
  const std::string socket = Pref("Window");
  EXPECT_EQ(Pref("Process"), std::to_string(first.pid));

  Child second = Start({"-e", "/join #one||/join #two"});
  std::string out;
  EXPECT_EQ(Finish(second, &out), 0) << out;
  EXPECT_TRUE(srv.expect_sent("JOIN #one", std::chrono::seconds(10)));
  EXPECT_TRUE(srv.expect_sent("JOIN #two", std::chrono::seconds(10)));
  EXPECT_EQ(srv.accept_count(), 1);  // the second process never connected anywhere
  EXPECT_EQ(Pref("Window"), socket);  // the second one never took over

  kill(first.pid, SIGTERM);
  std::string first_out;
  EXPECT_EQ(Finish(first, &first_out), 0) << first_out;
  EXPECT_EQ(access(socket.c_str(), F_OK), -1);
  EXPECT_EQ(Pref("Window"), "");
  platform::ini::FlushCache();
  EXPECT_EQ(platform::ini::ReadString(home_.path() + "/OCX.INI", "Vairc", "HWND", "gone"), "gone");
}

TEST_F(ProgramTest, StaleSocketDoesNotBlockANewStart) {
  Child first = Start({"-b"});
  ASSERT_TRUE(WaitFor([&] { return !Pref("Window").empty(); }));
  const std::string stale = Pref("Window");
  kill(first.pid, SIGKILL);  // dies without cleaning up
  std::string out;
  Finish(first, &out);
  ASSERT_EQ(access(stale.c_str(), F_OK), 0);

  // The new instance finds nobody behind the socket, runs the lines itself and becomes the instance.
  Child second = Start({"-b", "-e", "/echo alone"});
  EXPECT_TRUE(WaitFor([&] { return !Pref("Window").empty() && Pref("Window") != stale; }));
  EXPECT_EQ(access(stale.c_str(), F_OK), -1);
  kill(second.pid, SIGTERM);
  EXPECT_EQ(Finish(second, &out), 0) << out;
}

TEST_F(ProgramTest, HelpAndRefusedSwitchesEndStartUp) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-?"}, {"-b", "-m", "macro.txt"}, {"-b", "-symbol"},
                                        {"-b", "-s", "pack.vrc"}}) {
    Child c = Start(args);
    std::string out;
    EXPECT_EQ(Finish(c, &out), 0) << args.back() << ": " << out;
    EXPECT_EQ(Pref("Window"), "") << args.back();
  }
}

TEST_F(ProgramTest, MissingLibrariesAreFatal) {
  // A copy of the program in a folder of its own finds neither libvres.so nor langen.so.
  const std::string lonely = home_.path() + "/lonely";
  ASSERT_EQ(mkdir(lonely.c_str(), 0755), 0);
  {
    std::ifstream src(bin_ + "/vanta", std::ios::binary);
    std::ofstream dst(lonely + "/vanta", std::ios::binary);
    dst << src.rdbuf();
  }
  chmod((lonely + "/vanta").c_str(), 0755);
  Child c = Start({"-b"}, lonely + "/vanta");
  std::string out;
  EXPECT_EQ(Finish(c, &out), 0);
  EXPECT_NE(out.find("A VantaIRC DLL is missing !\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("libvres.so\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("langen.so\r\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace vanta::config
