// Numeric replies from a server: session state (registration complete, IRCX, operator, own user
// modes), channel topics, modes and nick lists, and the result views fed by replies.
#pragma once

#include "dispatch/parsed_line.h"

namespace vanta::dispatch {

// Handles one numeric reply of the server window `server_window`; `line` is filled by ParseLine
// (kind numeric). Runs on that server's connection thread. Returns true when a handler acted on
// the reply; the default display (parameters shown in the server window) runs either way while
// the session's numeric-still-to-show flag is set.
bool HandleNumeric(int server_window, ParsedLine& line);

}  // namespace vanta::dispatch
