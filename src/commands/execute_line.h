// ExecuteLine: the one way a line enters the program, whether typed, run by a script, an alias, a
// timer, the command line or another instance. It decides between a command and text to say:
// commands go to the interpreter (RunCommand), text is sent to the channel, query or DCC chat it
// belongs to (with its echo), and slash lines no command takes go to the alias layer and finally,
// without the slash, to the server.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::commands {

// Runs `line` (normally ending in CR LF; a NUL ends it) with the connection of `server_window`
// (-1: none, a DCC chat) in `target_window` (-1: the active window). `run_on_input` offers the line
// to the "OnInput" event first (typed lines); `as_text` says a leading "/" literally.
// Runs on the calling thread; slash lines no command handles continue on an "AliasFormatInput"
// thread that has its own copy of the line.
void ExecuteLine(std::string_view line, int server_window, int target_window, bool run_on_input, bool as_text);

// The input box's text as lines for ExecuteLine: every run of bytes other than CR and LF is a line
// (NUL bytes dropped, empty lines skipped), each with CR LF appended.
std::vector<std::string> SplitInput(std::string_view text);

// Typed input of a window: the window becomes the active one and each line of the text runs with
// its server window (none for DCC chats), OnInput on.
void TypeInput(int window, std::string_view text, bool say_literally = false);

// A line from the command line ("-e") or from another instance: no target window, the server
// window of the active window (else the first server window, else none).
void ExecuteCommandLine(std::string_view line);

// The input lock ("/locking"): while on, each line asks for the password first.
void SetInputLock(bool on, std::string_view password = {});
bool InputLocked();

// A channel window's message-target list ("/target", "/msgtarget"): when not empty, the channel's
// messages are addressed to it as well. Kept by the window's stable id.
std::string MessageTargets(int window);
void SetMessageTargets(int window, std::string_view targets);

// Points where subsystems built later take part. Installed at start-up before worker threads run.
struct CommandHooks {
  // The "OnInput" special event: runs its script with the line (CR LF included) in the server
  // window's context and returns the lock result (1 halts the line). Unset: no such script.
  std::function<int(std::string_view line, int server_window)> on_input;
  // One round of alias expansion with a server window (-1 for DCC chats); true when the line changed.
  std::function<bool(std::string& line, int server_window)> expand_alias;
  // Opens a user-interface command: "connect", "whois <nick>", "who", "msgtarget", "focus-input"
  // for a window (or -1, the main window). Unset: nothing opens.
  std::function<void(std::string_view command, int window)> ui_command;
  // The entries of a channel window's nick list in list order, status prefix included.
  std::function<std::vector<std::string>(int channel_window)> channel_members;
  // Commands whose subsystem is not part of the interpreter: called with the command word the line
  // matched (as spelled in the order of tests), the decoded line and the server window. Returns
  // handled (1) or not handled (0). Unset: not handled.
  std::function<int(std::string_view word, std::string_view line, int server_window)> more_commands;
};
CommandHooks& GetCommandHooks();

// Installs ExecuteLine where the window table ("/reconnect" after a lost connection) and the
// start-up code ("-e" lines and the hand-over from another instance) run lines.
void InstallCommandHooks();

}  // namespace vanta::commands
