#include "support/tmux_session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vanta::test {

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TmuxSession::TmuxSession(const std::string& name) : socket_(name + "-" + std::to_string(getpid())) {}

TmuxSession::~TmuxSession() { Shell(Tmux("kill-server") + " 2>/dev/null"); }

bool TmuxSession::Start(const std::string& command, int cols, int rows) {
  return system((Tmux("new-session -d -x " + std::to_string(cols) + " -y " + std::to_string(rows) + " '" + command +
                      "'")).c_str()) == 0;
}

void TmuxSession::Keys(const std::string& args) { Shell(Tmux("send-keys " + args)); }
void TmuxSession::Type(const std::string& text) { Keys("-l '" + text + "'"); }
std::string TmuxSession::Screen() { return Shell(Tmux("capture-pane -p")); }
std::string TmuxSession::ScreenWithEscapes() { return Shell(Tmux("capture-pane -p -e")); }

bool TmuxSession::WaitFor(const std::string& needle, Ms timeout) {
  return wait_until([&] { return Screen().find(needle) != std::string::npos; }, timeout, Ms(50));
}

}  // namespace vanta::test
