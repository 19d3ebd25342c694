// Start-up, the user-interface thread's loop and shutdown of the program.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::config {

struct StartOptions {
  std::string ui = "auto";           // "--ui=auto|stdio|tui|headless"
  bool headless = false;             // "-b"
  std::vector<std::string> connect;  // "--connect host[:port]" (repeatable)
  std::string nick;                  // "--nick"
  bool show_version = false;         // "-v"
  bool show_help = false;            // "-?", "/?", "--help"
  std::string script_package;        // "-s <file>"
  std::string macro_file;            // "-m <file>"
  std::string skin_file;             // "-k <file>"
  bool has_commands = false;         // "-e": everything after it, "||" made a line break (CR LF)
  std::string commands;
  bool edit_symbols = false;         // "-symbol"
  bool repair_associations = false;  // "-rr"
  bool reregister = false;           // "-rreg"
  int text_mode = -1;                // "-fa" 0, "-fu" 1, "-fuu" 2; -1 = from "UnicodeApproach"
  bool no_plugins = false;           // "-p"
  bool no_update = false;            // "-u" (and "-l")
  bool no_placements = false;        // "-l"
  bool no_register = false;          // "-r"
  bool system_error_dialogs = false; // "-dd"
  std::vector<std::string> other_flags;  // "-a", "-o", "-d", "-ds", "-ddd", "-c", "-w", "-x": accepted
  std::vector<std::string> unknown;      // words that are no switch (ignored)
  std::string error;                     // a command-line problem to report
};

// Parses the words of a command line (compared case-insensitively). Processing stops at the first
// empty word; unknown words are collected and otherwise ignored; a switch without its value sets
// `error`.
StartOptions ParseCommandLine(const std::vector<std::string>& args);
// Splits a stored command line at single spaces (two spaces give an empty word).
std::vector<std::string> SplitCommandWords(std::string_view text);
// True for an empty command line or the single word "-Embedding": the default arguments
// ("MoreOptions"/"DefaultArgs") are used instead.
bool UsesDefaultArguments(const std::vector<std::string>& args);

// The program directory: $VANTA_HOME, else ${XDG_DATA_HOME:-$HOME/.local/share}/vanta.
std::string DefaultProgramDir();

// Splits "host[:port]", "[v6addr]:port" or a bare IPv6 address; port 0 when none or invalid.
bool SplitHostPort(const std::string& text, std::string* host, unsigned* port);

// The "A VantaIRC DLL is missing" text for the given library names.
std::string MissingLibraryMessage(const std::vector<std::string>& names);

// Hands the work of a command line to the running instance behind socket_path: writes the argument
// into "Debug" and sends the request. True when a request was handed over (start-up then ends);
// false when the command line has nothing to hand over.
bool HandOver(const StartOptions& o, const std::string& socket_path);

// Start-up steps owned by subsystems that install them before Main runs them; unset steps do
// nothing.
struct StartupHooks {
  std::function<void()> reset_appearance;   // language defaults for the templates (first run, "LangInstall")
  std::function<void()> load_plugins;       // unless "-p"
  std::function<void()> main_window_created;
  std::function<void()> whats_new_or_tip;   // "LastWN" / "ShowT"
  std::function<void()> register_hot_keys;  // "HotKeys"
  std::function<void()> unload_plugins;
  std::function<void()> save_layout;        // unless "-l"
};
StartupHooks& GetStartupHooks();

int Main(int argc, char** argv);

}  // namespace vanta::config
