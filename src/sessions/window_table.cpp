#include "sessions/window_table.h"

#include <strings.h>

#include <vector>

#include "config/format.h"
#include "config/file_set.h"
#include "output/show_text.h"
#include "platform/codec.h"
#include "platform/ini.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/secure_transport.h"
#include "sessions/send_queue.h"
#include "ui/frontend.h"

namespace vanta::sessions {

// ---- WindowSlot ----------------------------------------------------------------------------------

std::string WindowSlot::Name() const {
  std::lock_guard lock(mutex);
  return name;
}

void WindowSlot::SetName(std::string_view text) {
  if (text.size() > kNameCap - 1) text = text.substr(0, kNameCap - 1);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  std::u16string wide = platform::Utf8ToUtf16(text);
  if (wide.size() > kNameCap - 1) wide.resize(kNameCap - 1);
  std::lock_guard lock(mutex);
  name.assign(text);
  wide_name = std::move(wide);
}

std::shared_ptr<ServerSession> WindowSlot::Session() const {
  std::lock_guard lock(mutex);
  return session;
}

std::shared_ptr<platform::net::Socket> WindowSlot::DccSocket() const {
  std::lock_guard lock(mutex);
  return dcc_socket;
}

std::shared_ptr<platform::net::Socket> WindowSlot::ExchangeDccSocket(std::shared_ptr<platform::net::Socket> s) {
  std::lock_guard lock(mutex);
  dcc_socket_number.store(s ? s->fd() : 0);
  std::swap(dcc_socket, s);
  return s;
}

std::shared_ptr<platform::net::Socket> ServerSession::ExchangeSocket(std::shared_ptr<platform::net::Socket> s) {
  std::lock_guard lock(mutex);
  socket_number.store(s ? s->fd() : 0);
  std::swap(socket, s);
  return s;
}

Hooks& GetHooks() {
  static Hooks hooks;
  return hooks;
}

// ---- lookups -------------------------------------------------------------------------------------

namespace {
bool SlotUsable(const WindowSlot& s) {
  if (!s.alive.load(std::memory_order_acquire)) return false;
  if (!s.has_window.load(std::memory_order_acquire) && !ui::Headless()) return false;
  if (s.kind == kServerWindow && !s.Session()) return false;
  return true;
}

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// True when `name` holds `element` as one element of a comma-separated list: the element starts the
// name or follows a comma, and is followed by the end, a blank, CR, LF or a comma.
bool HasListElement(std::string_view name, std::string_view element) {
  if (element.empty() || element.size() > name.size()) return false;
  for (std::size_t pos = 0; pos + element.size() <= name.size(); ++pos) {
    if (pos > 0 && name[pos - 1] != ',') continue;
    if (strncasecmp(name.data() + pos, element.data(), element.size()) != 0) continue;
    std::size_t end = pos + element.size();
    if (end == name.size()) return true;
    char c = name[end];
    if (c == ' ' || c == '\r' || c == '\n' || c == ',') return true;
  }
  return false;
}

std::string QuitMessage() {
  return config::PrefString("General", "QuitMsg", "[=- VantaIRC -=] Bye");
}

void Event(std::string_view name, std::string_view arg, int context) {
  if (auto& h = GetHooks().special_event) h(name, arg, context);
}

void CallHook(const std::function<void(int)>& h, int n) {
  if (h) h(n);
}

void BeepOnDisconnect() {
  if (!config::PrefInt("General", "BeepDisconnect", 0)) return;
  std::string file = config::PrefString("General", "BeepDisConnectFile", "");
  if (auto& h = GetHooks().play_sound) {
    h(file);
  } else {
    platform::UiLoop::Get().Post([] { ui::Current().Beep(); });
  }
}

// The recent-channels list: "Ch0" is the newest, "Ch9" the oldest.
void RememberChannel(const std::string& channel) {
  const std::string pref = config::PrefIni();
  char key[8];
  for (int i = 0; i < 10; ++i) {
    snprintf(key, sizeof key, "Ch%d", i);
    if (IEquals(platform::ini::ReadString(pref, "LastChannels", key, ""), channel)) return;
  }
  for (int i = 9; i > 0; --i) {
    char from[8];
    snprintf(from, sizeof from, "Ch%d", i - 1);
    snprintf(key, sizeof key, "Ch%d", i);
    std::string v = platform::ini::ReadString(pref, "LastChannels", from, "");
    if (v.empty())
      platform::ini::DeleteKey(pref, "LastChannels", key);
    else
      platform::ini::WriteString(pref, "LastChannels", key, v);
  }
  platform::ini::WriteString(pref, "LastChannels", "Ch0", channel);
}
}  // namespace

WindowTable& WindowTable::Get() {
  static WindowTable* table = new WindowTable();  // lives for the whole process
  return *table;
}

bool WindowTable::Valid(int n) const { return Slot(n) != nullptr; }

std::shared_ptr<WindowSlot> WindowTable::Slot(int n) const {
  std::shared_ptr<WindowSlot> s;
  {
    std::lock_guard lock(mutex_);
    if (n == -1 || static_cast<unsigned>(n) >= static_cast<unsigned>(count_)) return nullptr;
    s = slots_[static_cast<std::size_t>(n)];
  }
  if (!s || !SlotUsable(*s)) return nullptr;
  return s;
}

std::shared_ptr<ServerSession> WindowTable::Session(int n) const {
  auto s = Slot(n);
  if (!s || s->kind != kServerWindow) return nullptr;
  return s->Session();
}

int WindowTable::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

int WindowTable::Kind(int n) const {
  auto s = Slot(n);
  return s ? s->kind : 0;
}

int WindowTable::OwningServer(int n) const {
  auto s = Slot(n);
  if (!s || s->kind == kDccWindow) return -1;
  return s->owning_server.load();
}

namespace {
// A consistent copy of the used part of the table, so scans never hold the table lock while they
// look into slots.
std::vector<std::shared_ptr<WindowSlot>> Snapshot(std::mutex& m, const std::array<std::shared_ptr<WindowSlot>, WindowTable::kCapacity>& slots, const int& count) {
  std::lock_guard lock(m);
  return std::vector<std::shared_ptr<WindowSlot>>(slots.begin(), slots.begin() + count);
}
}  // namespace

int WindowTable::FindByName(std::string_view name, int owning_server) const {
  auto all = Snapshot(mutex_, slots_, count_);
  int server_match = -1;
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto& s = all[i];
    if (!s || !SlotUsable(*s) || s->owning_server.load() != owning_server) continue;
    if (!IEquals(s->Name(), name)) continue;
    if (s->kind != kServerWindow) return static_cast<int>(i);
    server_match = static_cast<int>(i);
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto& s = all[i];
    if (!s || !SlotUsable(*s) || s->owning_server.load() != owning_server) continue;
    if (HasListElement(s->Name(), name)) return static_cast<int>(i);
  }
  return server_match;
}

int WindowTable::FindServerBySocket(int fd) const {
  if (fd <= 0) return -1;
  auto all = Snapshot(mutex_, slots_, count_);
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto& s = all[i];
    if (!s || s->kind != kServerWindow || !SlotUsable(*s)) continue;
    auto session = s->Session();
    if (session && session->socket_number.load() == fd) return static_cast<int>(i);
  }
  return -1;
}

int WindowTable::FindDccBySocket(int fd) const {
  if (fd <= 0) return -1;
  auto all = Snapshot(mutex_, slots_, count_);
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto& s = all[i];
    if (s && s->kind == kDccWindow && SlotUsable(*s) && s->dcc_socket_number.load() == fd)
      return static_cast<int>(i);
  }
  return -1;
}

int WindowTable::FindById(uint64_t id) const {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count_; ++i)
    if (slots_[static_cast<std::size_t>(i)] && slots_[static_cast<std::size_t>(i)]->id == id) return i;
  return -1;
}

ui::WindowInfo WindowTable::Info(int n) const {
  auto s = Slot(n);
  return s ? s->Info(n) : ui::WindowInfo{};
}

void WindowTable::Activate(int n) {
  auto s = Slot(n);
  if (!s) return;
  active_.store(n, std::memory_order_release);
  if (!ui::Headless()) ui::Current().ActivateWindow(s->Info(n));
}

void WindowTable::Broadcast(int n, std::string_view text, uint32_t colour) {
  if (ui::Headless()) return;
  auto all = Snapshot(mutex_, slots_, count_);
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto& s = all[i];
    if (s && SlotUsable(*s) && s->kind != kDccWindow && s->owning_server.load() == n)
      output::ShowText(static_cast<int>(i), text, -1, colour);
  }
}

// ---- creation ------------------------------------------------------------------------------------

int WindowTable::Create(const CreateRequest& req) {
  int result = -1;
  if (!platform::UiLoop::Get().CallSync([&] { result = CreateOnUiThread(req); })) return -1;
  return result;
}

int WindowTable::CreateOnUiThread(const CreateRequest& req) {
  const bool headless = ui::Headless();
  const int kind = req.kind;
  if (kind < kServerWindow || kind > kDccWindow) return -1;
  if (kind == kServerWindow && !req.session) return -1;

  auto slot = std::make_shared<WindowSlot>(next_id_.fetch_add(1), kind, req.transfer, req.alternate_font);
  slot->SetName(req.name);
  int n;
  {
    std::lock_guard lock(mutex_);
    if (count_ >= kCapacity) return -1;  // a full table refuses new windows
    n = count_++;
    slots_[static_cast<std::size_t>(n)] = slot;
  }
  slot->creating.store(1);
  switch (kind) {
    case kServerWindow: {
      slot->owning_server.store(n);
      std::lock_guard lock(slot->mutex);
      slot->session = req.session;
      break;
    }
    case kChannelWindow:
      slot->owning_server.store(req.owning_server);
      break;
    case kQueryWindow:
      slot->owning_server.store(req.owning_server);
      slot->active.store(1);
      break;
    case kDccWindow: {
      std::string own = "-Me-";
      int from = -1;
      if (auto s = Session(req.owning_server)) {
        own = s->Get(&ServerSession::nick);
        from = req.owning_server;
      }
      std::lock_guard lock(slot->mutex);
      slot->dcc_peer_name = slot->name;
      slot->dcc_own_nick = own;
      slot->dcc_started_from.store(from);
      slot->owning_server.store(-1);
      slot->active.store(0);
      break;
    }
  }
  slot->alive.store(1, std::memory_order_release);

  if (!headless) {
    if (!ui::Current().CreateWindow(slot->Info(n))) {
      // The window could not be made: take the slot out again instead of leaving it counted.
      slot->creating.store(0);
      Remove(n);
      return -1;
    }
    slot->has_window.store(1, std::memory_order_release);
  }
  slot->creating.store(0);
  slot->save_placement.store(1);
  if (kind == kServerWindow) Activate(n);

  static const char* const kAutoLog[] = {"", "AutoLogServer", "AutoLogChannel", "AutoLogQuery", "AutoLogDCC"};
  if (config::PrefInt("MoreOptions", kAutoLog[kind], 0)) CallHook(GetHooks().start_auto_logging, n);

  const int context = kind == kDccWindow ? slot->dcc_started_from.load() : slot->owning_server.load();
  Event("OnWindowCreate", std::to_string(n) + " " + std::to_string(kind), context);

  const std::string name = slot->Name();
  if (kind == kServerWindow) {
    Event("BeforeConnect", name, n);
    CallHook(GetHooks().load_patches, n);
  } else if (kind == kChannelWindow) {
    RememberChannel(name);
    Activate(n);
    SendToServer("MODE " + name + "\r\n", slot->owning_server.load());
    slot->active.store(req.joined ? 1 : 0);
  }
  if (!headless) ui::Current().WindowListChanged();
  if (kind != kQueryWindow && kind != kChannelWindow && kind != kServerWindow) Activate(n);
  return n;
}

// ---- closing -------------------------------------------------------------------------------------

void WindowTable::Close(int n, bool destroy) {
  if (!destroy || platform::UiLoop::Get().OnUiThread()) {
    CloseOnUiThread(n, destroy);
    return;
  }
  // Removal belongs to the user-interface thread; remember the window by id so renumbering on the
  // way cannot redirect the request to another window.
  auto s = Slot(n);
  if (!s) return;
  const uint64_t id = s->id;
  platform::UiLoop::Get().Post([this, id] {
    int now = FindById(id);
    if (now >= 0) CloseOnUiThread(now, true);
  });
}

void WindowTable::CloseOnUiThread(int n, bool destroy) {
  auto slot = Slot(n);
  if (!slot) return;
  auto& hooks = GetHooks();
  const int kind = slot->kind;
  if (destroy) slot->closing.store(1);  // the connection thread must neither report nor retry now

  if (kind == kServerWindow) {
    auto s = slot->Session();
    // The QUIT goes out directly: queued behind other lines it would be lost when the socket closes.
    std::string quit = "QUIT :" + CleanProtocolText(QuitMessage()) + "\r\n";
    SendImmediately(quit, n);
    if (auto sock = s->ExchangeSocket(nullptr)) {
      if (s->secure.exchange(0)) {
        const int32_t h = s->secure_handle.exchange(0);
        tls::Shutdown(h);
        sock->Close();
        tls::Close(h);
      } else {
        sock->Close();
      }
    }
    CallHook(hooks.clear_notify_list, n);
    if (slot->log_open.load()) CallHook(hooks.log_closed, n);
    BeepOnDisconnect();
    if (!destroy) Event("OnDisconnect", "", n);
    s->connected.store(0);
    output::ShowText(n, config::Msg(351) + platform::net::ErrorSuffix(platform::net::LastError()), -1,
                     output::Colours().error);
    CallHook(hooks.delete_address_book, n);
    if (!destroy && s->reconnect.load()) {
      std::string host = s->Get(&ServerSession::current_host);
      if (hooks.execute_line)
        hooks.execute_line(n, "/reconnect " + host);
      else
        StartConnection(n, host, 0);
      return;
    }
  } else if (kind == kChannelWindow) {
    // Only a channel still joined is left: after our own PART or a kick the server would just
    // answer that we are not on it.
    if (slot->active.load()) SendToServer("PART " + slot->Name() + "\r\n", slot->owning_server.load());
    if (slot->log_open.load()) CallHook(hooks.log_closed, n);
  } else if (kind == kQueryWindow) {
    if (slot->log_open.load()) CallHook(hooks.log_closed, n);
  } else if (kind == kDccWindow) {
    if (slot->file_server.load()) CallHook(hooks.end_file_server, n);
    if (slot->log_open.load()) CallHook(hooks.log_closed, n);
    CallHook(hooks.unlink_dcc, n);
  }

  if (!destroy) {
    if (auto sock = slot->ExchangeDccSocket(nullptr)) sock->Close();
    return;
  }
  if (!platform::UiLoop::Get().OnUiThread()) return;  // removal only ever happens on the UI thread

  const int context = kind == kDccWindow ? slot->dcc_started_from.load() : slot->owning_server.load();
  Event("OnWindowDestroy", std::to_string(n) + " " + std::to_string(kind), context);
  // The event may have closed windows itself: find ours again.
  n = FindById(slot->id);
  if (n < 0) return;
  if (slot->save_placement.load() && config::PrefInt("Appearance", "AUTOSAVEPOS", 1))
    CallHook(hooks.save_placement, n);
  const bool headless = ui::Headless();
  if (!headless && slot->has_window.exchange(0)) ui::Current().DestroyWindow(slot->Info(n));

  // Neighbour activation: only while the main frame is visible.
  int active = active_.load();
  int new_active = active;
  if (!headless && ui::Current().MainFrameVisible()) {
    if (active == n) new_active = n - 1;
    else if (n < active) new_active = active - 1;
  } else if (n < active) {
    new_active = active - 1;
  } else if (active == n) {
    new_active = -1;
  }
  Remove(n);
  if (active == n) {
    if (new_active >= 0 && Valid(new_active)) {
      Activate(new_active);
    } else if (Valid(0)) {
      Activate(0);
    } else {
      active_.store(-1);
      if (!headless) ui::Current().BringMainFrameForward();
    }
  } else {
    active_.store(new_active);
  }
  if (Count() == 0) {
    active_.store(-1);
    if (!headless) ui::Current().BringMainFrameForward();
  }
  if (auto sock = slot->ExchangeDccSocket(nullptr)) sock->Close();
  if (!headless) ui::Current().WindowListChanged();
}

void WindowTable::Remove(int n) {
  std::shared_ptr<WindowSlot> removed;
  std::vector<std::shared_ptr<WindowSlot>> rest;
  {
    std::lock_guard lock(mutex_);
    if (n < 0 || n >= count_) return;
    removed = std::move(slots_[static_cast<std::size_t>(n)]);
    for (int i = n; i + 1 < count_; ++i)
      slots_[static_cast<std::size_t>(i)] = std::move(slots_[static_cast<std::size_t>(i + 1)]);
    --count_;
    slots_[static_cast<std::size_t>(count_)].reset();
    rest.assign(slots_.begin(), slots_.begin() + count_);
  }
  if (removed) {
    removed->alive.store(0, std::memory_order_release);
    platform::UiLoop::Get().KillTimers(removed->id);
  }
  if (auto& h = GetHooks().window_removed) h(n);
  for (auto& s : rest) {
    if (!s) continue;
    // Windows that belonged to the removed window lose their owner instead of pointing at whatever
    // window moves into its number.
    auto shift = [n](std::atomic<int32_t>& v) {
      int32_t cur = v.load();
      if (cur == n) v.store(-1);
      else if (cur > n) v.store(cur - 1);
    };
    if (s->kind == kDccWindow) shift(s->dcc_started_from);
    else shift(s->owning_server);
    if (s->kind == kServerWindow) {
      if (auto session = s->Session()) {
        std::lock_guard lock(session->send_mutex);
        session->send_queue_active = false;
      }
    }
  }
}

void WindowTable::ResetForTests() {
  std::vector<std::shared_ptr<WindowSlot>> all;
  {
    std::lock_guard lock(mutex_);
    all.assign(slots_.begin(), slots_.begin() + count_);
    for (auto& s : slots_) s.reset();
    count_ = 0;
  }
  for (auto& s : all) {
    if (!s) continue;
    s->alive.store(0);
    platform::UiLoop::Get().KillTimers(s->id);
    if (auto session = s->Session())
      if (auto sock = session->ExchangeSocket(nullptr)) sock->Close();
    if (auto sock = s->ExchangeDccSocket(nullptr)) sock->Close();
  }
  active_.store(-1);
}

}  // namespace vanta::sessions
