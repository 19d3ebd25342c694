// Building outgoing protocol lines from text that may come from outside (nicks, messages, script
// values): such text never carries a line break or NUL into the line.
#pragma once
#include <string>
#include <string_view>

namespace vanta::sessions {

// CR and LF become blanks, NUL bytes are dropped.
std::string CleanProtocolText(std::string_view text);

}  // namespace vanta::sessions
