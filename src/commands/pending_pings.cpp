#include "commands/pending_pings.h"

#include <sys/time.h>

#include <map>
#include <mutex>
#include <vector>

#include "commands/command_text.h"

namespace vanta::commands {
namespace {

struct Table {
  std::weak_ptr<sessions::ServerSession> owner;
  std::vector<std::optional<PendingPing>> slots = std::vector<std::optional<PendingPing>>(kPendingPingSlots);
};

// Tables by session; a table whose session is gone is dropped at the next insertion.
std::mutex g_mutex;
std::map<const sessions::ServerSession*, Table>& Tables() {
  static std::map<const sessions::ServerSession*, Table> tables;
  return tables;
}

Table* Find(const std::shared_ptr<sessions::ServerSession>& s) {
  auto& t = Tables();
  auto it = t.find(s.get());
  if (it == t.end()) return nullptr;
  if (it->second.owner.lock() != s) {  // an old session's address reused
    t.erase(it);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

bool RecordPendingPing(const std::shared_ptr<sessions::ServerSession>& session, std::string_view name) {
  if (!session) return false;
  PendingPing p;
  p.name = std::string(name.substr(0, kPendingPingName - 1));
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &p.sent);
  p.milliseconds = static_cast<int>(tv.tv_usec / 1000);

  std::lock_guard lock(g_mutex);
  auto& tables = Tables();
  for (auto it = tables.begin(); it != tables.end();) {
    if (it->second.owner.expired()) it = tables.erase(it);
    else ++it;
  }
  Table* t = Find(session);
  if (!t) {
    t = &tables[session.get()];
    t->owner = session;
  }
  for (auto& slot : t->slots) {
    if (!slot) {
      slot = std::move(p);
      return true;
    }
  }
  return false;
}

std::optional<PendingPing> TakePendingPing(const std::shared_ptr<sessions::ServerSession>& session,
                                           std::string_view name) {
  if (!session) return std::nullopt;
  std::lock_guard lock(g_mutex);
  Table* t = Find(session);
  if (!t) return std::nullopt;
  for (auto& slot : t->slots) {
    if (slot && EqualNoCase(slot->name, name)) {
      std::optional<PendingPing> out = std::move(slot);
      slot.reset();
      return out;
    }
  }
  return std::nullopt;
}

int PendingPingCount(const std::shared_ptr<sessions::ServerSession>& session) {
  if (!session) return 0;
  std::lock_guard lock(g_mutex);
  Table* t = Find(session);
  if (!t) return 0;
  int n = 0;
  for (auto& slot : t->slots) n += slot ? 1 : 0;
  return n;
}

}  // namespace vanta::commands
