// End to end: the program with its terminal front end inside tmux. The screen shows the title, the
// window list and what is typed, follows a resize, and the terminal is back to normal after Ctrl+D
// and after SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/core_fixture.h"
#include "support/ports.h"
#include "support/tmux_session.h"
#include "support/wait.h"

namespace vanta::test {
namespace {


class TuiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    const char* bin = getenv("VANTA_BIN");
    if (!bin || access((std::string(bin) + "/vanta").c_str(), X_OK) != 0) GTEST_SKIP() << "VANTA_BIN not set";
    vanta = std::string(bin) + "/vanta";
    port = FreePort(Family::V4);  // nobody listens there: the server window stays
    ASSERT_NE(port, 0);
  }
  // The program, then its exit code and the terminal modes once it has ended.
  std::string Command() const {
    return "sh -c \"echo \\$\\$ > " + home.path() + "/vanta.pid; exec env VANTA_HOME=" + home.path() + " " + vanta +
           " --ui=tui --connect 127.0.0.1:" + std::to_string(port) + "\"; echo VANTA-EXIT-$?; stty -a | tr \" \" \"\\n\" | grep -x -e -icanon -e icanon "
           "-e -echo -e echo | tr \"\\n\" \" \"; echo; sleep 30";
  }

  TempDir home;
  std::string vanta;
  uint16_t port = 0;
};

TEST_F(TuiEndToEnd, ScreenResizeAndCtrlD) {
  TmuxSession tmux{"vanta-tui"};
  ASSERT_TRUE(tmux.Start(Command(), 100, 30));
  ASSERT_TRUE(tmux.WaitFor("1:127.0.0.1")) << tmux.Screen();
  auto lines = Lines(tmux.Screen());
  ASSERT_EQ(lines.size(), 30u) << tmux.Screen();
  EXPECT_NE(lines[0].find("127.0.0.1"), std::string::npos) << "title: " << lines[0];
  EXPECT_EQ(lines[28].rfind("1:127.0.0.1", 0), 0u) << "window list: " << lines[28];
  ASSERT_TRUE(tmux.WaitFor("Cannot connect")) << tmux.Screen();

  tmux.Keys("-l 'hello \xE6\x97\xA5\xE6\x9C\xAC wide'");
  ASSERT_TRUE(tmux.WaitFor("[127.0.0.1] hello \xE6\x97\xA5\xE6\x9C\xAC wide")) << tmux.Screen();
  EXPECT_EQ(Lines(tmux.Screen()).back().rfind("[127.0.0.1] hello", 0), 0u);

  // Smaller: every region moves, nothing is left over from the bigger screen.
  Shell(tmux.Tmux("resize-window -x 60 -y 20"));
  ASSERT_TRUE(wait_until([&] { return Lines(tmux.Screen()).size() == 20u; }, Ms(10000), Ms(50)));
  ASSERT_TRUE(wait_until([&] {
    auto l = Lines(tmux.Screen());
    return l.size() == 20u && l[18].rfind("1:127.0.0.1", 0) == 0 && l[19].rfind("[127.0.0.1] hello", 0) == 0;
  }, Ms(10000), Ms(50))) << tmux.Screen();
  lines = Lines(tmux.Screen());
  EXPECT_NE(lines[0].find("127.0.0.1"), std::string::npos);
  // Larger again.
  Shell(tmux.Tmux("resize-window -x 120 -y 40"));
  ASSERT_TRUE(wait_until([&] {
    auto l = Lines(tmux.Screen());
    return l.size() == 40u && l[38].rfind("1:127.0.0.1", 0) == 0 && l[39].rfind("[127.0.0.1] hello", 0) == 0;
  }, Ms(10000), Ms(50))) << tmux.Screen();

  // Ctrl+D deletes while the line has text, and ends the program on an empty line.
  tmux.Keys("C-a");
  tmux.Keys("C-d");
  ASSERT_TRUE(tmux.WaitFor("[127.0.0.1] ello")) << tmux.Screen();
  tmux.Keys("C-k");
  tmux.Keys("C-d");
  ASSERT_TRUE(tmux.WaitFor("VANTA-EXIT-0")) << tmux.Screen();
  ASSERT_TRUE(tmux.WaitFor("icanon")) << tmux.Screen();
  const std::string screen = tmux.Screen();
  EXPECT_NE(screen.find("icanon echo"), std::string::npos) << screen;  // line editing and echo are back
  // The program's screen is gone (the alternate screen was left).
  EXPECT_EQ(screen.find("[127.0.0.1]"), std::string::npos) << screen;
}

TEST_F(TuiEndToEnd, SigtermRestoresTheTerminal) {
  TmuxSession tmux{"vanta-tui"};
  ASSERT_TRUE(tmux.Start(Command(), 80, 24));
  ASSERT_TRUE(tmux.WaitFor("1:127.0.0.1")) << tmux.Screen();
  FILE* f = fopen((home.path() + "/vanta.pid").c_str(), "r");
  ASSERT_NE(f, nullptr);
  int pid = 0;
  ASSERT_EQ(fscanf(f, "%d", &pid), 1);
  fclose(f);
  ASSERT_GT(pid, 1);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_TRUE(tmux.WaitFor("VANTA-EXIT-0")) << tmux.Screen();
  ASSERT_TRUE(tmux.WaitFor("icanon")) << tmux.Screen();
  EXPECT_NE(tmux.Screen().find("icanon echo"), std::string::npos) << tmux.Screen();
  EXPECT_EQ(tmux.Screen().find("1:127.0.0.1"), std::string::npos) << tmux.Screen();
}

}  // namespace
}  // namespace vanta::test
