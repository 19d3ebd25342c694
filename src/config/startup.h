// Start-up, the user-interface thread's loop and shutdown of the program.
#pragma once
#include <string>
#include <vector>

namespace vanta::config {

struct StartOptions {
  std::string ui = "auto";         // "auto", "stdio", "tui", "headless"
  bool headless = false;           // "-b"
  std::vector<std::string> connect;  // "--connect host[:port]" (repeatable)
  std::string nick;                // "--nick"
  bool show_version = false;       // "-v"
  bool show_help = false;          // "-?", "/?", "--help"
  std::string error;               // a command-line problem to report
};

// Parses the command line; unknown switches are ignored, bad values reported in `error`.
StartOptions ParseCommandLine(const std::vector<std::string>& args);

// The program directory: $VANTA_HOME, else ${XDG_DATA_HOME:-$HOME/.local/share}/vanta.
std::string DefaultProgramDir();

// Splits "host[:port]", "[v6addr]:port" or a bare IPv6 address; port 0 when none or invalid.
bool SplitHostPort(const std::string& text, std::string* host, unsigned* port);

int Main(int argc, char** argv);

}  // namespace vanta::config
