// The server line dispatcher: every complete line a server sends goes through Dispatch on that
// server's connection thread. A fixed pipeline of early consumers (address book, plug-ins, the
// built-in registration and CTCP handlers, the user's event scripts) may take the line first; then it
// is parsed into a ParsedLine and numeric replies go to HandleNumeric, commands (JOIN, PART, MODE,
// PRIVMSG ...) update windows and nick lists and show formatted text, and the few prefix-less lines
// (PING, ERROR, IRCX notices) are answered or shown.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "dispatch/parsed_line.h"

namespace vanta::dispatch {

// The consumers that later subsystems own, at their places in the pipeline. Every hook may be left
// empty: an empty hook consumes nothing, finds nobody ignored and locks nothing. Installed at
// start-up before any connection thread runs, never changed afterwards (tests excepted).
struct DispatcherHooks {
  // Pipeline: the user address book is fed every line (raw, line end included).
  std::function<void(int server_window, std::string_view line)> feed_address_book;
  // Pipeline: the plug-in libraries; true consumes the line.
  std::function<bool(int server_window, std::string_view line)> plugins;
  // Pipeline, right after the registration stage: CTCP replies and DCC offers; true consumes.
  std::function<bool(int server_window, std::string_view line)> ctcp;
  // Pipeline: the event engine, given its own copy of the line; true stops the line there.
  std::function<bool(int server_window, std::string line)> events;

  // JOIN: blacklist, auto-op and auto-voice checks for the joining user (line without line end).
  std::function<void(int server_window, std::string_view line)> join_checks;
  // PRIVMSG and NOTICE: the ignore list; true ends the handling silently.
  std::function<bool(int server_window, std::string_view line)> is_ignored;
  // PRIVMSG and NOTICE: the not-talk alert.
  std::function<void(int server_window, std::string_view line)> talk_alert;
  // PRIVMSG and NOTICE when "General"/"CheckBLMsg" is 1: the blacklist check.
  std::function<void(int server_window, std::string_view line)> blacklist_message;
  // A CTCP PING reply (a NOTICE): the lag measurement.
  std::function<void(int server_window, const ParsedLine& line)> ping_reply;

  // Special events whose lock result matters ("IncomingPrivates", "OnSecureKey"): 1 locks.
  std::function<int(std::string_view event, std::string_view arg, int window)> locking_event;
  // The query-opening mode of the current user status (0: the private-message beeps apply).
  std::function<int()> status_query_mode;
  // The secure-message cipher over raw bytes with a window's key; nullopt when it cannot run.
  std::function<std::optional<std::string>(std::string_view key, std::string_view data, bool decrypt)> cipher;
};
DispatcherHooks& GetDispatcherHooks();

// Dispatches one server line (line end included) received by `server_window`. Returns true when a
// stage consumed or handled the line, false when the window is not valid.
bool Dispatch(int server_window, std::string_view line);

// Makes Dispatch the connection threads' line handler and installs the nick-list access the
// formatter uses. Called once at start-up.
void InstallDispatcher();

// ---- secure messages ----
// The 16-byte marker that starts a key offer and its acknowledgement.
inline constexpr std::string_view kSecureKeyMarker = "\x03-SECUREMSGKEY-\x03";
inline constexpr std::size_t kSecureKeySize = 128;
// The two-character form of cipher output that travels in a message: "!!" for 00, two double
// quotes for CR, "##" for LF, "$$" for 01, "%" and the byte itself for any other byte.
std::string EncodeSecureBytes(std::string_view bytes);
// The reverse; nullopt when the text is not in that form.
std::optional<std::string> DecodeSecureBytes(std::string_view text);
// Encrypts a message text for a secured window with its key (the own side of a secured query);
// nullopt without the cipher.
std::optional<std::string> EncryptSecureMessage(std::string_view key, std::string_view text);
// Writes a window's key to "DYN/<window name>-HH-MM-SS.KEY" in the program directory (the name made
// safe for a file name). Returns the path, "" when it could not be written.
std::string SaveSecureKey(std::string_view window_name, std::string_view key);

}  // namespace vanta::dispatch
