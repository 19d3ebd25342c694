// RunCommand: the built-in command interpreter. A line is recognised by its leading command word,
// tested in a fixed order (the first match wins); the command runs and reports whether it handled
// the line. Lines it does not handle go on to the alias layer and the server (ExecuteLine).
#pragma once
#include <functional>
#include <string_view>

namespace vanta::commands {

// Runs a command line (normally ending in CR LF) with server window `server_window` (-1: none).
// Returns 1 when the line was handled, 0 when not.
int RunCommand(std::string_view line, int server_window);

// Runs fn with `window` as the context window of the commands it runs on this thread, instead of
// the active window: for lines run in a particular window on the program's own behalf (the
// reconnect after a lost connection), which must not depend on what the user looks at.
void WithContextWindow(int window, const std::function<void()>& fn);

// The command word of the order of tests that a line matches, as spelled there ("/msg ",
// "/part\r\n", "/join"), or "" when none does. The "\x" escapes are decoded first.
std::string_view MatchCommand(std::string_view line);

}  // namespace vanta::commands
