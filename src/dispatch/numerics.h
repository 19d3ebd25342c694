// Numeric replies from a server: session state (registration complete, IRCX, operator, own user
// modes), channel topics, modes and nick lists, and the result views fed by replies
// (dispatch/result_views.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dispatch/parsed_line.h"

namespace vanta::dispatch {

// Handles one numeric reply of the server window `server_window`; `line` is filled by ParseLine
// (kind numeric). Runs on that server's connection thread, after the dispatcher copied the
// session's show-numerics flag into its numeric-still-to-show flag. Returns true when a handler
// acted on the reply. Afterwards the default display runs: with "Appearance"/"RAWSERVER" 2 the raw
// line is shown, else, while numeric-still-to-show is set (handlers that showed the reply their
// own way clear it), the raw line (mode 1) or the parameters without a leading ":" are shown in
// the server window.
bool HandleNumeric(int server_window, ParsedLine& line);

// The server window's notify timer, started at the end of the welcome sequence.
inline constexpr int kNotifyTimer = 101;
inline constexpr uint32_t kNotifyPeriodMs = 15000;

// Work the numeric replies hand to subsystems built later (watch lists). Empty hooks do nothing.
// Installed at start-up before any connection thread runs.
struct NumericHooks {
  // One tick of the notify timer of a server window (user-interface thread).
  std::function<void(int server_window)> notify_tick;
  // An ISON reply (303) for the notify list (connection thread).
  std::function<void(int server_window, const ParsedLine& line)> ison_reply;
};
NumericHooks& GetNumericHooks();

// The plain-text flag of a channel window (mode "f" seen in a 324 reply): its messages are shown
// unformatted. Kept in the slot's first channel flag.
bool ChannelPlainText(int window);

// The whois record of a server window's session, as far as the replies filled it.
struct WhoisRecord {
  std::string nick, user, host, full_name, server;
  std::string operator_text, away_text, channels;
  bool is_operator = false, is_away = false;
  int32_t idle_seconds = 0, signon_time = 0;
  bool pending = false;    // a whois is being collected (311 seen, 318 not yet)
  bool not_found = false;  // 401 while the whois view was open
};
WhoisRecord CurrentWhois(int server_window);

// The MOTD-in-progress flag (set by 372, cleared by the end of the welcome sequence).
bool MotdInProgress(int server_window);

// Nicks collected for a channel window from 353 replies not yet ended by 366 (tests, fuzzing).
std::string PendingNames(int server_window, int channel_window);

}  // namespace vanta::dispatch
