#include "sessions/protocol_text.h"

namespace vanta::sessions {

std::string CleanProtocolText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') continue;
    out += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return out;
}

}  // namespace vanta::sessions
