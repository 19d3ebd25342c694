// Driving a terminal program inside tmux, as a person at a terminal would.
#pragma once
#include <string>
#include <vector>

#include "support/wait.h"

namespace vanta::test {

// Runs a shell command and returns its standard output.
std::string Shell(const std::string& command);
// Text split at line ends.
std::vector<std::string> Lines(const std::string& text);

// A tmux server of its own (its own socket), killed with the object.
class TmuxSession {
 public:
  explicit TmuxSession(const std::string& name);
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  std::string Tmux(const std::string& args) const { return "tmux -L " + socket_ + " " + args; }
  bool Start(const std::string& command, int cols, int rows);
  void Keys(const std::string& args);
  void Type(const std::string& text);  // literal text
  std::string Screen();
  // The screen with its colours and attributes as escape sequences.
  std::string ScreenWithEscapes();
  bool WaitFor(const std::string& needle, Ms timeout = Ms(10000));
  template <class Pred>
  bool WaitScreen(Pred&& pred, Ms timeout = Ms(10000)) {
    return wait_until([&] { return pred(Lines(Screen())); }, timeout, Ms(50));
  }

 private:
  std::string socket_;
};

}  // namespace vanta::test
