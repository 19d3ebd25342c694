// A running instance and the hand-over of a command line to it.
//
// A running instance listens on a Unix-domain control socket in the program directory and writes its
// path to "Debug"/"Window" of "pref.ini". A new instance reads that key, asks "QUERY" and gets the
// answer "65278" from a live instance; it then writes its argument into "Debug" ("VRCFile",
// "MacroFile", "SKIFile" or "ExecuteCommands"), sends "REQUEST <key>" and ends. The running instance
// answers "OK" and carries the request out on its user-interface thread. Lines end in LF; a line
// longer than 1000 bytes or an unknown request ends the connection.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace vanta::config {

inline constexpr int kInstanceAnswer = 65278;  // 0xFEFE

// What the running instance does with the requests; the subsystems that own the actions install
// them at start-up. Unset: command lines are shown in the first window (or written to "debug.txt"
// when there is none), packages and skins are reported as not available.
struct InstanceHooks {
  std::function<void(std::string_view line)> execute_command_line;  // no target window
  std::function<void(std::string_view file)> install_package;
  std::function<void(std::string_view file)> apply_skin;
};
InstanceHooks& GetInstanceHooks();

// Runs every line of a CR LF separated text through execute_command_line, in order; empty lines are
// skipped.
void RunCommandLines(std::string_view text);

// The control socket of this instance. StartControlServer binds "<program dir>/vanta-<pid>.sock",
// watches it on the user-interface loop and writes its path to "Debug"/"Window". Stop removes the
// socket and the key (when it still names this socket).
bool StartControlServer();
void StopControlServer();
std::string ControlSocketPath();  // "" when not listening

// Carries out a request ("VRCFile", "MacroFile", "SKIFile", "ExecuteCommands") as the running
// instance does: reads its argument from "Debug" and confirms where needed. False for an unknown
// request.
bool HandleInstanceRequest(std::string_view request);

enum class InstanceState { kNone, kRunning, kStale };
// Probes the instance a "Debug"/"Window" value names. kStale: a socket that nobody answers (the
// instance died); it is removed when it lies in the program directory. kNone: no value or no file.
InstanceState ProbeInstance(std::string_view socket_path, int timeout_ms = 2000);
// Sends "REQUEST <request>" and waits for "OK". True on success.
bool SendInstanceRequest(std::string_view socket_path, std::string_view request, int timeout_ms = 2000);

}  // namespace vanta::config
