#include "sessions/send_queue.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/file_set.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/ui_loop.h"
#include "sessions/hooks.h"
#include "sessions/secure_transport.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::sessions {

std::atomic<int> g_script_flood_delay{-1};

namespace {
std::atomic<int> g_overflows{0};

void ArmFloodTimer(const WindowSlot& slot, uint32_t delay) {
  const uint64_t id = slot.id;
  platform::UiLoop::Get().SetTimer(id, kFloodTimer, delay, [id] {
    int n = WindowTable::Get().FindById(id);
    if (n < 0) {
      platform::UiLoop::Get().KillTimer(id, kFloodTimer);
      return;
    }
    FloodTimerFired(n);
  });
}

// Appends to the queue unless it would pass its size; false = refused (nothing queued).
bool Enqueue(ServerSession& s, std::string_view text) {
  if (s.send_queue.size() + text.size() >= ServerSession::kQueue) {
    g_overflows.fetch_add(1);
    return false;
  }
  s.send_queue.append(text);
  return true;
}

// Writes all of `line` to the session's connection. Returns bytes written, 0 on failure.
int WriteLine(ServerSession& s, std::string_view line) {
  if (line.empty()) return 0;
  std::size_t done = 0;
  if (s.secure.load()) {
    const int32_t h = s.secure_handle.load();
    while (done < line.size()) {
      int32_t w = tls::Write(h, line.data() + done, static_cast<int32_t>(line.size() - done));
      if (w <= 0) return 0;
      done += static_cast<std::size_t>(w);
    }
    return static_cast<int>(done);
  }
  auto sock = s.Socket();
  if (!sock) return 0;
  while (done < line.size()) {
    long w = sock->Send(line.data() + done, line.size() - done);
    if (w <= 0) return 0;
    done += static_cast<std::size_t>(w);
  }
  return static_cast<int>(done);
}

// Send to server with the session's send lock held.
int SendLocked(const WindowSlot& slot, ServerSession& s, std::string_view text) {
  if (s.send_queue_active) return Enqueue(s, text) ? -1 : 0;
  if (!ui::Headless()) {
    const uint32_t delay = static_cast<uint32_t>(CurrentFloodDelay());
    const uint32_t now = platform::Ticks();
    if (s.last_send_time + delay >= now) {
      if (!Enqueue(s, text)) return 0;
      s.send_queue_active = true;
      ArmFloodTimer(slot, delay);
      return -1;
    }
    s.last_send_time = now;
    s.send_queue_active = false;
    if (!s.send_queue.empty()) {
      if (!Enqueue(s, text)) return 0;
      ArmFloodTimer(slot, delay);
      return -1;
    }
  }
  const std::size_t crlf = text.find("\r\n");
  const bool has_end = crlf != std::string_view::npos;
  const std::string_view line = has_end ? text.substr(0, crlf + 2) : text;
  const int written = WriteLine(s, line);
  if (written == 0) {
    // A failed write (or the empty text the timer sends once the queue ran dry) discards the queue and
    // makes the next text leave at once.
    s.send_queue.clear();
    s.last_send_time = 0;
    platform::UiLoop::Get().KillTimer(slot.id, kFloodTimer);
    return 0;
  }
  if (has_end) return written + SendLocked(slot, s, text.substr(crlf + 2));
  return written;
}
}  // namespace

int CurrentFloodDelay() {
  int script = g_script_flood_delay.load();
  if (script >= 0) return script;
  std::string text = config::PrefString("MoreOptions", "FloodDelay", "100");
  return std::atoi(text.c_str());
}

int QueueOverflows() { return g_overflows.load(); }

int SendToServer(std::string_view text, int n) {
  auto slot = WindowTable::Get().Slot(n);
  if (!slot) return -1;
  auto s = slot->Session();
  if (!s) return -1;
  std::lock_guard lock(s->send_mutex);
  return SendLocked(*slot, *s, text);
}

int SendImmediately(std::string_view text, int n) {
  auto s = WindowTable::Get().Session(n);
  if (!s) return 0;
  std::lock_guard lock(s->send_mutex);
  return WriteLine(*s, text);
}

void FloodTimerFired(int n) {
  auto slot = WindowTable::Get().Slot(n);
  if (!slot || slot->kind == kDccWindow) return;
  auto s = slot->Session();
  if (!s) return;
  std::lock_guard lock(s->send_mutex);
  s->send_queue_active = false;
  platform::UiLoop::Get().KillTimer(slot->id, kFloodTimer);
  std::string work;
  work.swap(s->send_queue);
  SendLocked(*slot, *s, work);
}

long SendToDcc(int m, const char* data, std::size_t length) {
  auto slot = WindowTable::Get().Slot(m);
  if (!slot || slot->kind != kDccWindow || !data) return 0;
  if (!slot->raw_mode.load() && !slot->secure_message.load()) length = strnlen(data, length);
  std::size_t done = 0;
  bool failed = false;
  while (done < length) {
    long w;
    if (slot->dcc_secure.load()) {
      w = tls::Write(slot->dcc_secure_handle.load(), data + done, static_cast<int32_t>(length - done));
    } else {
      auto sock = slot->DccSocket();
      w = sock ? sock->Send(data + done, length - done) : -1;
    }
    if (w <= 0) {  // no progress counts as an error: a loop that cannot write must end
      failed = true;
      break;
    }
    done += static_cast<std::size_t>(w);
  }
  if (!failed) return static_cast<long>(done);
  if (auto sock = slot->ExchangeDccSocket(nullptr)) sock->Close();
  slot->active.store(0);
  if (slot->file_server.load() && GetHooks().end_file_server) GetHooks().end_file_server(m);
  return 0;
}

}  // namespace vanta::sessions
