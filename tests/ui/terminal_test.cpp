// The terminal front end on a pseudo terminal: keys in, lines to the input handler, scrolling,
// dialogs, and the terminal restored after a crash.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "output/show_text.h"
#include "platform/clock.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"
#include "ui/terminal.h"

namespace vanta::ui {
namespace {

// A pseudo terminal whose output side is drained (and kept) by a thread.
class Pty {
 public:
  Pty() {
    winsize ws{};
    ws.ws_row = 30;
    ws.ws_col = 100;
    if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) master_ = slave_ = -1;
    if (master_ >= 0) reader_ = std::thread([this] { Drain(); });
  }
  ~Pty() {
    if (slave_ >= 0) close(slave_);
    if (reader_.joinable()) reader_.join();
    if (master_ >= 0) close(master_);
  }
  int slave() const { return slave_; }
  std::string output() {
    std::lock_guard lock(mutex_);
    return out_;
  }

 private:
  void Drain() {
    char buf[4096];
    for (;;) {
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) return;  // EIO once the slave side is closed
      std::lock_guard lock(mutex_);
      if (out_.size() < (8u << 20)) out_.append(buf, static_cast<std::size_t>(n));
    }
  }
  int master_ = -1, slave_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::string out_;
};

struct Typed {
  int window;
  std::string line;
  bool literally;
};

class TerminalTest : public test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    server = MakeServerWindow("127.0.0.1", 1, "me");
    channel = MakeWindow("#chan", sessions::kChannelWindow, server);
    sessions::WindowTable::Get().Activate(channel);
    SetInputHandler([this](int w, std::string_view line, bool literally) {
      typed.push_back({w, std::string(line), literally});
    });
    TerminalOptions o;
    o.in_fd = o.out_fd = pty.slave();
    o.term = "xterm-256color";
    o.signals = false;
    auto t = std::make_unique<Terminal>(o);
    ASSERT_TRUE(t->ok());
    term = t.get();
    Install(std::move(t));
  }
  void TearDown() override {
    Install(nullptr);  // restores the terminal
    SetInputHandler(nullptr);
    CoreTest::TearDown();
  }

  Pty pty;
  Terminal* term = nullptr;
  int server = -1, channel = -1;
  std::vector<Typed> typed;
};

TEST_F(TerminalTest, EnterRunsTheLineAndAltEnterSaysItLiterally) {
  term->Feed("hello");
  term->Feed("\r");
  term->Feed("/join #x\x1b\r");
  ASSERT_EQ(typed.size(), 2u);
  EXPECT_EQ(typed[0].window, channel);
  EXPECT_EQ(typed[0].line, "hello");
  EXPECT_FALSE(typed[0].literally);
  EXPECT_EQ(typed[1].line, "/join #x");
  EXPECT_TRUE(typed[1].literally);
  term->Feed("\r");  // an empty line runs nothing
  EXPECT_EQ(typed.size(), 2u);
}

TEST_F(TerminalTest, EditingKeysAndHistoryPerWindow) {
  term->Feed("hello wrld\x1b[D\x1b[D\x1b[D");  // three to the left
  term->Feed("o");
  term->Feed("\x05 again\r");                   // Ctrl+E, then more
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].line, "hello world again");
  term->Feed("one two\x17\x17x\r");             // Ctrl+W twice
  EXPECT_EQ(typed.back().line, "x");
  term->Feed("\x1b[A\x1b[A\r");                 // Up twice: the older line again
  EXPECT_EQ(typed.back().line, "hello world again");
  // Another window has its own history.
  term->Feed("\x1b" "1");
  EXPECT_EQ(sessions::WindowTable::Get().Active(), server);
  term->Feed("\x1b[A\r");
  EXPECT_EQ(typed.back().line, "hello world again");  // unchanged: nothing to recall there
  EXPECT_EQ(typed.size(), 3u);
}

TEST_F(TerminalTest, WindowSwitchingKeys) {
  auto& t = sessions::WindowTable::Get();
  const int query = MakeWindow("bob", sessions::kQueryWindow, server);
  term->Feed("\x1b" "3");
  EXPECT_EQ(t.Active(), query);
  term->Feed("\x0e");  // Ctrl+N wraps to the first
  EXPECT_EQ(t.Active(), server);
  term->Feed("\x10");  // Ctrl+P
  EXPECT_EQ(t.Active(), query);
  term->Feed("\x1b[1;3D");  // Alt+Left
  EXPECT_EQ(t.Active(), channel);
  term->Feed("\x1b" "9");  // no ninth window: nothing happens
  EXPECT_EQ(t.Active(), channel);
}

TEST_F(TerminalTest, TextTypedInOneWindowStaysThere) {
  term->Feed("draft");
  term->Feed("\x1b" "1");
  EXPECT_FALSE(term->InputLineHasText({server, sessions::WindowTable::Get().Slot(server)->id, 1, ""}));
  EXPECT_TRUE(term->InputLineHasText({channel, sessions::WindowTable::Get().Slot(channel)->id, 2, ""}));
  term->Feed("\x1b" "2\r");
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].line, "draft");
}

TEST_F(TerminalTest, MultiLinePasteRunsEachLine) {
  term->Feed("say: ");
  term->Feed("\x1b[200~one\r\ntwo\n\nthree\x1b[201~");
  ASSERT_EQ(typed.size(), 2u);
  EXPECT_EQ(typed[0].line, "say: one");
  EXPECT_EQ(typed[1].line, "two");
  // The unfinished last line waits in the input line.
  term->Feed("!\r");
  ASSERT_EQ(typed.size(), 3u);
  EXPECT_EQ(typed[2].line, "three!");
  // A paste of one line is just typed.
  term->Feed("\x1b[200~just text\x1b[201~");
  EXPECT_EQ(typed.size(), 3u);
}

TEST_F(TerminalTest, TabCompletesFromTheNickList) {
  dispatch::NickListReplace(channel, {"@alice", "+bob", "carol"});
  term->Feed("al\t\r");
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].line, "alice ");
  // A query completes its partner; "QuickCompleteS" follows a nick that starts the line.
  const int qs = config::OptionIndex("General", "QuickCompleteS");
  ASSERT_GE(qs, 0);
  config::SetOptionText(qs, ": ");
  const int query = MakeWindow("dave", sessions::kQueryWindow, server);
  sessions::WindowTable::Get().Activate(query);
  term->Feed("da\t\r");
  EXPECT_EQ(typed.back().line, "dave: ");
  term->Feed("hi d\t\r");
  EXPECT_EQ(typed.back().line, "hi dave ");
  config::SetOptionText(qs, "");
}

TEST_F(TerminalTest, PageUpScrollsAndNewTextDoesNotMoveThePage) {
  for (int i = 0; i < 200; ++i) output::ShowText(channel, "line " + std::to_string(i), -1, 0);
  term->Render(false);
  EXPECT_EQ(term->ScrolledBack(), 0u);
  term->Feed("\x1b[5~");
  term->Render(false);
  const std::size_t back = term->ScrolledBack();
  EXPECT_GT(back, 10u);
  auto out = output::OutputOf(channel);
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->view.ScrolledAway());
  EXPECT_TRUE(term->SmartScroll());
  output::ShowText(channel, "a new line", -1, 0);
  term->Render(false);
  EXPECT_EQ(term->ScrolledBack(), back + 1);  // the page stays where the user put it
  term->Feed("\x1b[6~\x1b[6~\x1b[6~");
  term->Render(false);
  EXPECT_EQ(term->ScrolledBack(), 0u);
  EXPECT_FALSE(out->view.ScrolledAway());
}

TEST_F(TerminalTest, YesNoAndTextDialogsAnswerFromTheKeyboard) {
  auto& loop = platform::UiLoop::Get();
  loop.Post([this] { term->Feed("y"); });
  EXPECT_TRUE(term->AskYesNo("VantaIRC", "Really?", false));
  loop.Post([this] { term->Feed("\x1b"); });
  EXPECT_FALSE(term->AskYesNo("VantaIRC", "Really?", true));
  loop.Post([this] { term->Feed("\r"); });
  EXPECT_TRUE(term->AskYesNo("VantaIRC", "Default yes", true));
  loop.Post([this] { term->Feed("\x15new value\r"); });  // Ctrl+U clears the pre-filled text
  EXPECT_EQ(term->AskText("Nick", "New nick:", "old", false), std::optional<std::string>("new value"));
  loop.Post([this] { term->Feed("secret\r"); });
  EXPECT_EQ(term->AskText("Login", "Password:", "", true), std::optional<std::string>("secret"));
  EXPECT_EQ(pty.output().find("secret"), std::string::npos);  // masked
  loop.Post([this] { term->Feed("\x1b"); });
  EXPECT_EQ(term->AskText("Nick", "New nick:", "old", false), std::nullopt);
  EXPECT_EQ(term->AskTextTimed("Nick", "New nick:", "old", 50), std::nullopt);  // nobody answers
  // Typing after the dialogs goes to the input line again.
  term->Feed("after\r");
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].line, "after");
}

TEST_F(TerminalTest, ResultViewsAreOverlaysThatEscapeCloses) {
  auto slot = sessions::WindowTable::Get().Slot(server);
  WindowInfo info{server, slot->id, 1, slot->Name()};
  EXPECT_TRUE(term->OpenResultView(info, FrontEnd::ResultView::ChannelList));
  term->ResultViewAddRow(info, FrontEnd::ResultView::ChannelList, {"#one", "5", "first topic"});
  term->Render(false);
  term->Feed("typed");  // the view has the keyboard while it is open
  term->Feed("\x1b");
  // The lone ESC is flushed by a short timer.
  auto& loop = platform::UiLoop::Get();
  const uint32_t start = platform::Ticks();
  while (static_cast<int32_t>(platform::Ticks() - start) < 100) loop.RunOnce(10);
  term->Feed("x\r");
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].line, "x");
}

// A crash signal restores the terminal before the process dies of it.
TEST(TerminalCrash, AbortRestoresTheTerminal) {
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_row = 24;
  ws.ws_col = 80;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TerminalOptions o;
    o.in_fd = o.out_fd = slave;
    o.term = "xterm-256color";
    Terminal t(o);
    if (!t.ok()) _exit(3);
    t.Render(true);
    abort();
  }
  std::string out;
  char buf[4096];
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    if (waitpid(pid, &status, WNOHANG) == pid) break;
  }
  for (;;) {  // what is still buffered
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) break;
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  const std::size_t on = out.find("\x1b[?2004h"), off = out.rfind("\x1b[?2004l");
  ASSERT_NE(on, std::string::npos);
  ASSERT_NE(off, std::string::npos);
  EXPECT_LT(on, off);
  EXPECT_NE(out.find("\x1b[?1049l", off), std::string::npos);  // left the alternate screen
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
  close(slave);
  close(master);
}

}  // namespace
}  // namespace vanta::ui
