// The built-in stage the dispatcher offers every line to before the user's event scripts:
// registration replies (001, 004, 432/433, 451, 376), the secure-message key acknowledgement and
// address learning from 311 and 302.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/ban_mask.h"
#include "dispatch/parsed_line.h"

namespace vanta::dispatch {

// Offers the line (`line.raw[0]` holds it as received, CR LF kept) to the built-in handlers.
// Returns true when a handler consumed it: the dispatcher then stops. The line may arrive before
// ParseLine filled the other fields; only the raw copy is relied on.
bool RegistrationStage(int server_window, ParsedLine& line);

// The user's bypass of the built-in handlers: with "DefaultEvents"/"IsUnlocking" 1 (read once per
// run), a line matching one of the masks "DefaultEvents"/"1", "2", ... (up to the first missing or
// empty key) skips every built-in handler, the CTCP replies included. RegistrationStage already
// obeys it; the dispatcher asks it before its CTCP handlers.
bool BuiltInBypassed(std::string_view line);
// Forgets the cached "IsUnlocking" so it is read again (tests, "/reloadoptions").
void ReloadRegistrationSettings();

// Learning user addresses from whois (311) and userhost (302) replies.
struct RegistrationHooks {
  // The user address book: stores (nick, user, host), updating a known nick (connection thread).
  std::function<void(int server_window, const UserAddress& who)> learn_address;
};
RegistrationHooks& GetRegistrationHooks();

// The entries of a 302 reply line (line end allowed): from the fourth token on, each
// "nick[*]=<+|->user@host"; the list ends at an empty entry or a lone ":". Entries without a sign
// followed by "@" are skipped; a trailing "*" (operator mark) is removed from the nick.
std::vector<UserAddress> ParseUserhostReply(std::string_view line);

// A key the user offered in a query window, kept until the peer acknowledges it; the
// acknowledgement makes it the window's key and sets its secure flag.
void SetPendingSecureKey(int window, std::string key);
std::string PendingSecureKey(int window);

// The nick-collision prompt: shown while registering when a random nick was chosen; it closes by
// itself after this long.
inline constexpr int kNickPromptTimeoutMs = 60000;
// The process-wide alternate-nick toggle (tests).
void ResetAlternateNickToggle();

}  // namespace vanta::dispatch
