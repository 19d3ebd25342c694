// The pending CTCP PING table of each server connection: "/ctcp nick PING" records the nick and the
// local time, the PING reply handler takes the record back to compute the lag.
#pragma once
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vanta::sessions {
struct ServerSession;
}

namespace vanta::commands {

inline constexpr int kPendingPingSlots = 1000;
inline constexpr std::size_t kPendingPingName = 500;  // name buffer, terminating NUL included

struct PendingPing {
  std::string name;     // at most 499 bytes
  std::tm sent{};       // local time of the request
  int milliseconds = 0;
};

// Stores a record in the first free slot of the session's table; false when all 1000 are taken.
bool RecordPendingPing(const std::shared_ptr<sessions::ServerSession>& session, std::string_view name);
// Removes and returns the first record whose name equals `name` (ASCII case-insensitive).
std::optional<PendingPing> TakePendingPing(const std::shared_ptr<sessions::ServerSession>& session,
                                           std::string_view name);
// Records in use for the session.
int PendingPingCount(const std::shared_ptr<sessions::ServerSession>& session);

}  // namespace vanta::commands
