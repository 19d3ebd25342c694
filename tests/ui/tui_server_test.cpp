// End to end against a real server: the program with its terminal front end inside tmux, typed to
// as a person would, with a second, scripted user on the same local ngircd. Joining, the nick list,
// a coloured channel line, operator status, a query window with its activity in the window list,
// switching windows, nick completion, a resize and leaving with Ctrl+D are all checked on the
// screen, and what the program sends is checked on the other user's side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/core_fixture.h"
#include "support/ports.h"
#include "support/real_servers.h"
#include "support/tmux_session.h"
#include "support/wait.h"

namespace vanta::test {
namespace {

bool Contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }


// The nick list is the column right of the vertical rule in the text rows; the entries as shown
// (with their status prefix, without padding).
std::vector<std::string> NickColumn(const std::vector<std::string>& lines) {
  static const std::string rule = "\xE2\x94\x82";  // the line-drawing vertical bar as tmux prints it
  std::vector<std::string> nicks;
  for (std::size_t i = 1; i + 2 < lines.size(); ++i) {
    const std::size_t at = lines[i].rfind(rule);
    if (at == std::string::npos) continue;
    std::string e = lines[i].substr(at + rule.size());
    while (!e.empty() && e.back() == ' ') e.pop_back();
    while (!e.empty() && e.front() == ' ') e.erase(0, 1);
    if (!e.empty()) nicks.push_back(e);
  }
  return nicks;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

bool HasNick(const std::vector<std::string>& lines, const std::string& entry) {
  for (const auto& e : NickColumn(lines))
    if (e == entry) return true;
  return false;
}

// The screen row (with escapes) that holds `needle`, or "".
std::string RowWith(const std::string& screen, const std::string& needle) {
  for (const auto& l : Lines(screen))
    if (Contains(l, needle)) return l;
  return {};
}

// The escapes that come right before `needle` on its row (since the previous visible text).
std::string EscapesBefore(const std::string& row, const std::string& needle) {
  const std::size_t at = row.find(needle);
  if (at == std::string::npos) return {};
  std::size_t start = at;
  while (start > 0) {
    // Walk back over whole escape sequences "\x1b[...m" only.
    if (row[start - 1] != 'm') break;
    const std::size_t esc = row.rfind('\x1b', start - 1);
    if (esc == std::string::npos || row.find_first_not_of("0123456789;[", esc + 1) != start - 1) break;
    start = esc;
  }
  return row.substr(start, at - start);
}

TEST(TuiAgainstServer, ChannelQueryCompletionResizeAndQuit) {
  if (system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  const char* bin = getenv("VANTA_BIN");
  if (!bin || access((std::string(bin) + "/vanta").c_str(), X_OK) != 0) GTEST_SKIP() << "VANTA_BIN not set";
  RealServer srv(ServerKind::Ngircd);
  VANTA_REQUIRE_SERVER(srv);

  TempDir home;
  const std::string command = "env VANTA_HOME=" + home.path() + " " + std::string(bin) +
                              "/vanta --ui=tui --connect 127.0.0.1:" + std::to_string(srv.port()) +
                              " --nick alice; echo VANTA-EXIT-$?; sleep 30";
  TmuxSession tmux{"vanta-tuisrv"};
  ASSERT_TRUE(tmux.Start(command, 100, 30));
  ASSERT_TRUE(tmux.WaitFor("Welcome")) << tmux.Screen();

  tmux.Type("/join #test");
  tmux.Keys("Enter");
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && Contains(l[28], "2:#test") && HasNick(l, "@alice");
  })) << tmux.Screen();
  EXPECT_NE(Lines(tmux.Screen())[0].find("#test"), std::string::npos) << "the new channel is the active window";

  LineClient bob(srv.family(), srv.port());
  ASSERT_TRUE(bob.register_as("bob"));
  ASSERT_TRUE(bob.send_line("JOIN #test"));
  ASSERT_TRUE(bob.expect_line("*366 bob #test*"));
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) { return HasNick(l, "bob"); }))
      << tmux.Screen();
  // The join itself is shown in the channel's text.
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    for (std::size_t i = 1; i + 2 < l.size(); ++i)
      if (Contains(l[i], "bob") && (Contains(l[i], "join") || Contains(l[i], "Join"))) return true;
    return false;
  })) << tmux.Screen();

  // A channel line from bob, drawn with colour (the nick or the line that mentions alice).
  ASSERT_TRUE(bob.send_line("PRIVMSG #test :hello alice"));
  ASSERT_TRUE(tmux.WaitFor("hello alice")) << tmux.Screen();
  {
    const std::string row = RowWith(tmux.ScreenWithEscapes(), "hello alice");
    // A line that names alice stands out: an attribute or colour is set before bob's nick.
    ASSERT_TRUE(Contains(row, "bob")) << row;
    EXPECT_LT(row.find("\x1b["), row.find("bob")) << "the line is drawn plain: " << row;
  }

  // Operator status for bob, given by the typed command; the nick list follows.
  tmux.Type("/mode #test +o bob");
  tmux.Keys("Enter");
  ASSERT_TRUE(bob.expect_line(":alice!*MODE #test +o bob*"));
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) { return HasNick(l, "@bob"); }))
      << tmux.Screen();
  EXPECT_FALSE(HasNick(Lines(tmux.Screen()), "bob")) << tmux.Screen();

  // A private message opens a query window; it shows in the window list with its activity colour
  // while the channel stays the active window.
  ASSERT_TRUE(bob.send_line("PRIVMSG alice :psst, over here"));
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && Contains(l[28], "3:bob");
  })) << tmux.Screen();
  {
    const auto lines = Lines(tmux.Screen());
    EXPECT_NE(lines[0].find("#test"), std::string::npos) << "the query did not take the focus: " << lines[0];
    EXPECT_FALSE(Contains(tmux.Screen(), "psst")) << tmux.Screen();
    const std::string list = RowWith(tmux.ScreenWithEscapes(), "3:bob");
    EXPECT_NE(EscapesBefore(list, "3:bob"), "") << "no activity marker on the query: " << list;
  }

  // Alt+3 shows the query, Alt+2 goes back to the channel.
  tmux.Keys("M-3");
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && Contains(l[0], "bob") && Contains(Joined(l), "psst, over here");
  })) << tmux.Screen();
  EXPECT_EQ(Lines(tmux.Screen())[29].rfind("[bob]", 0), 0u) << tmux.Screen();
  tmux.Keys("M-2");
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && Contains(l[0], "#test") && l[29].rfind("[#test]", 0) == 0;
  })) << tmux.Screen();
  {
    // Looking at the query cleared its activity: its entry is drawn like the others now.
    const std::string list = RowWith(tmux.ScreenWithEscapes(), "3:bob");
    EXPECT_EQ(EscapesBefore(list, "3:bob"), "") << list;
  }

  // Tab completes the nick in the channel; the completed line reaches bob.
  tmux.Type("bo");
  tmux.Keys("Tab");
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && l[29].rfind("[#test] bob", 0) == 0;
  })) << tmux.Screen();
  tmux.Type("welcome");
  tmux.Keys("Enter");
  ASSERT_TRUE(bob.expect_line(":alice!*PRIVMSG #test :bob*welcome"));

  // Smaller: every region moves to its new place.
  Shell(tmux.Tmux("resize-window -x 80 -y 24"));
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 24u && Contains(l[0], "#test") && l[22].rfind("1:", 0) == 0 && Contains(l[22], "3:bob") &&
           l[23].rfind("[#test]", 0) == 0 && HasNick(l, "@bob") && HasNick(l, "@alice");
  })) << tmux.Screen();
  // Larger again: the regions move back and nothing of the small layout is left over.
  Shell(tmux.Tmux("resize-window -x 100 -y 30"));
  ASSERT_TRUE(tmux.WaitScreen([](const std::vector<std::string>& l) {
    return l.size() == 30u && Contains(l[0], "#test") && l[28].rfind("1:", 0) == 0 && Contains(l[28], "3:bob") &&
           l[29].rfind("[#test]", 0) == 0 && HasNick(l, "@bob");
  })) << tmux.Screen();
  {
    const auto lines = Lines(tmux.Screen());
    EXPECT_FALSE(Contains(lines[22], "1:irc") || Contains(lines[23], "[#test]")) << tmux.Screen();
    for (std::size_t i = 1; i < 28; ++i) {
      const std::string& l = lines[i];
      const std::size_t rule = l.find("\xE2\x94\x82");
      EXPECT_TRUE(rule != std::string::npos && l.find("\xE2\x94\x82", rule + 1) == std::string::npos)
          << "row " << i << " should have one nick list rule: " << l;
    }
    EXPECT_TRUE(Contains(Joined(lines), "hello alice")) << tmux.Screen();
  }

  // Ctrl+D on the empty line ends the program: the server sees alice leave, and the pane's shell
  // runs on with the program's screen gone.
  tmux.Keys("C-d");
  ASSERT_TRUE(tmux.WaitFor("VANTA-EXIT-0")) << tmux.Screen();
  EXPECT_TRUE(wait_until([&] {
    if (!bob.send_line("ISON alice")) return false;
    auto reply = bob.expect_line("* 303 bob *");
    return reply && !Contains(bob.received().back(), "alice");
  }, Ms(10000), Ms(100))) << "alice is still on the server";
  EXPECT_FALSE(Contains(tmux.Screen(), "[#test]")) << tmux.Screen();
}

}  // namespace
}  // namespace vanta::test
