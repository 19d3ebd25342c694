// The built-in stage the dispatcher offers every line to before the user's event scripts:
// registration replies (001, 004, 432/433, 451, 376), the secure-message key acknowledgement and
// address learning from 311 and 302.
#pragma once

#include "dispatch/parsed_line.h"

namespace vanta::dispatch {

// Offers the line (`line.raw[0]` holds it as received, CR LF kept) to the built-in handlers.
// Returns true when a handler consumed it: the dispatcher then stops. The line may arrive before
// ParseLine filled the other fields; only the raw copy is relied on.
bool RegistrationStage(int server_window, ParsedLine& line);

}  // namespace vanta::dispatch
