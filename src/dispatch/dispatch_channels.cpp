#include "dispatch/dispatch_channels.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "output/appearance.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::dispatch {

namespace {

using sessions::WindowTable;

struct ChannelData {
  std::vector<NickEntry> nicks;  // sorted by EntryLess
  std::string topic;
  bool topic_pending = false;
  std::atomic<bool> nick_post_pending{false};
  // The entry texts as last handed out, shared by readers until the list changes (nullptr: stale).
  std::shared_ptr<const std::vector<std::string>> snapshot;
};

std::mutex g_mutex;  // guards g_channels and every ChannelData's fields but the atomic
std::unordered_map<uint64_t, std::shared_ptr<ChannelData>>& Channels() {
  static auto* m = new std::unordered_map<uint64_t, std::shared_ptr<ChannelData>>();
  return *m;
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(Fold(a[i])), y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsPrefixChar(char c) { return c == '.' || c == '@' || c == '%' || c == '+'; }

bool EntryLess(const NickEntry& a, const NickEntry& b) {
  const int sa = EntryStanding(a.text), sb = EntryStanding(b.text);
  if (sa != sb) return sa > sb;
  return CompareNoCase(EntryNick(a.text), EntryNick(b.text)) < 0;
}

// The data of a valid channel window; made on first use when `create` is set.
std::shared_ptr<ChannelData> DataOf(int window, bool create) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot || slot->kind != sessions::kChannelWindow) return nullptr;
  std::lock_guard lock(g_mutex);
  auto& m = Channels();
  auto it = m.find(slot->id);
  if (it != m.end()) return it->second;
  if (!create) return nullptr;
  // Forget the data of windows that are gone before adding a new one, so the map stays as large as
  // the set of channel windows ever open at once.
  for (auto i = m.begin(); i != m.end();) {
    if (WindowTable::Get().FindById(i->first) < 0) i = m.erase(i);
    else ++i;
  }
  auto d = std::make_shared<ChannelData>();
  m.emplace(slot->id, d);
  return d;
}

std::vector<NickEntry>::iterator FindNick(std::vector<NickEntry>& v, std::string_view nick) {
  return std::find_if(v.begin(), v.end(), [&](const NickEntry& e) { return EqualsNoCase(EntryNick(e.text), nick); });
}

void InsertSorted(std::vector<NickEntry>& v, NickEntry e) {
  auto at = std::lower_bound(v.begin(), v.end(), e, EntryLess);
  v.insert(at, std::move(e));
}

// Runs `fn` on the user-interface thread with the window's current info, if it still exists.
void PostToFrontEnd(int window, void (*fn)(const ui::WindowInfo&)) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot || ui::Headless()) return;
  const uint64_t id = slot->id;
  platform::UiLoop::Get().Post([id, fn] {
    const int now = WindowTable::Get().FindById(id);
    auto s = WindowTable::Get().Slot(now);
    if (!s || s->id != id) return;
    fn(s->Info(now));
  });
}

}  // namespace

char EntryPrefix(std::string_view entry) { return !entry.empty() && IsPrefixChar(entry[0]) ? entry[0] : '\0'; }

std::string_view EntryNick(std::string_view entry) { return EntryPrefix(entry) ? entry.substr(1) : entry; }

int EntryStanding(std::string_view entry) {
  switch (EntryPrefix(entry)) {
    case '.': return 4;
    case '@': return 3;
    case '%': return 2;
    case '+': return 1;
    default: return 0;
  }
}

namespace {
// The shared texts of a list, rebuilt only after a change.
std::shared_ptr<const std::vector<std::string>> Snapshot(int window) {
  auto d = DataOf(window, false);
  if (!d) return nullptr;
  std::lock_guard lock(g_mutex);
  if (!d->snapshot) {
    auto texts = std::make_shared<std::vector<std::string>>();
    texts->reserve(d->nicks.size());
    for (auto& e : d->nicks) texts->push_back(e.text);
    d->snapshot = std::move(texts);
  }
  return d->snapshot;
}
}  // namespace

std::vector<std::string> NickListEntries(int window) {
  auto snap = Snapshot(window);
  return snap ? *snap : std::vector<std::string>();
}

std::vector<NickEntry> NickListRows(int window) {
  auto d = DataOf(window, false);
  if (!d) return {};
  std::lock_guard lock(g_mutex);
  return d->nicks;
}

std::string NickListFind(int window, std::string_view nick) {
  auto d = DataOf(window, false);
  if (!d || nick.empty()) return "";
  std::lock_guard lock(g_mutex);
  auto it = FindNick(d->nicks, nick);
  return it == d->nicks.end() ? std::string() : it->text;
}

bool NickListHas(int window, std::string_view entry) {
  auto d = DataOf(window, false);
  if (!d) return false;
  std::lock_guard lock(g_mutex);
  for (auto& e : d->nicks)
    if (EqualsNoCase(e.text, entry)) return true;
  return false;
}

int NickStanding(int window, std::string_view nick) {
  auto d = DataOf(window, false);
  if (!d || nick.empty()) return -1;
  std::lock_guard lock(g_mutex);
  auto it = FindNick(d->nicks, nick);
  return it == d->nicks.end() ? -1 : EntryStanding(it->text);
}

bool NickListInsert(int window, std::string_view entry) {
  if (EntryNick(entry).empty()) return false;
  auto d = DataOf(window, true);
  if (!d) return false;
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  NickEntry e{std::string(entry), {}, {}};
  auto it = FindNick(d->nicks, EntryNick(entry));
  if (it != d->nicks.end()) {
    e.user = std::move(it->user);
    e.host = std::move(it->host);
    d->nicks.erase(it);
  }
  InsertSorted(d->nicks, std::move(e));
  return true;
}

bool NickListRemove(int window, std::string_view nick) {
  auto d = DataOf(window, false);
  if (!d || nick.empty()) return false;
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  auto it = FindNick(d->nicks, nick);
  if (it == d->nicks.end()) return false;
  d->nicks.erase(it);
  return true;
}

bool NickListRename(int window, std::string_view old_nick, std::string_view new_nick) {
  auto d = DataOf(window, false);
  if (!d || old_nick.empty() || new_nick.empty()) return false;
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  auto it = FindNick(d->nicks, old_nick);
  if (it == d->nicks.end()) return false;
  NickEntry e = std::move(*it);
  d->nicks.erase(it);
  const char p = EntryPrefix(e.text);
  e.text = p ? std::string(1, p) : std::string();
  e.text += new_nick;
  // A second entry for the new nick (a stale one) gives way to the renamed entry.
  auto dup = FindNick(d->nicks, new_nick);
  if (dup != d->nicks.end()) d->nicks.erase(dup);
  InsertSorted(d->nicks, std::move(e));
  return true;
}

bool NickListSetPrefix(int window, std::string_view nick, char prefix) {
  auto d = DataOf(window, false);
  if (!d || nick.empty()) return false;
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  auto it = FindNick(d->nicks, nick);
  if (it == d->nicks.end() || EntryPrefix(it->text) == prefix) return false;
  NickEntry e = std::move(*it);
  d->nicks.erase(it);
  std::string text = prefix ? std::string(1, prefix) : std::string();
  text += EntryNick(e.text);
  e.text = std::move(text);
  InsertSorted(d->nicks, std::move(e));
  return true;
}

bool NickListSetAddress(int window, std::string_view nick, std::string_view user, std::string_view host) {
  auto d = DataOf(window, false);
  if (!d) return false;
  std::lock_guard lock(g_mutex);
  auto it = FindNick(d->nicks, nick);
  if (it == d->nicks.end()) return false;
  it->user.assign(user);
  it->host.assign(host);
  return true;
}

void NickListReplace(int window, const std::vector<std::string>& entries) {
  auto d = DataOf(window, true);
  if (!d) return;
  std::vector<NickEntry> fresh;
  fresh.reserve(entries.size());
  for (auto& t : entries) {
    if (EntryNick(t).empty()) continue;
    auto it = FindNick(fresh, EntryNick(t));
    if (it != fresh.end()) fresh.erase(it);
    fresh.push_back(NickEntry{t, {}, {}});
  }
  std::sort(fresh.begin(), fresh.end(), EntryLess);
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  // Keep the address columns of nicks that stay.
  for (auto& e : fresh) {
    auto old = FindNick(d->nicks, EntryNick(e.text));
    if (old != d->nicks.end()) {
      e.user = old->user;
      e.host = old->host;
    }
  }
  d->nicks = std::move(fresh);
}

void NickListClear(int window) {
  auto d = DataOf(window, false);
  if (!d) return;
  std::lock_guard lock(g_mutex);
  d->snapshot.reset();
  d->nicks.clear();
}

std::string Topic(int window) {
  auto d = DataOf(window, false);
  if (!d) return "";
  std::lock_guard lock(g_mutex);
  return d->topic;
}

void SetTopic(int window, std::string_view topic) {
  auto d = DataOf(window, true);
  if (!d) return;
  if (topic.size() >= kTopicSize) topic = topic.substr(0, kTopicStored);
  std::lock_guard lock(g_mutex);
  d->topic.assign(topic);
}

void SetTopicPending(int window, bool on) {
  auto d = DataOf(window, true);
  if (!d) return;
  std::lock_guard lock(g_mutex);
  d->topic_pending = on;
}

bool TakeTopicPending(int window) {
  auto d = DataOf(window, false);
  if (!d) return false;
  std::lock_guard lock(g_mutex);
  return std::exchange(d->topic_pending, false);
}

void PostNickListChanged(int window) {
  auto d = DataOf(window, false);
  auto slot = WindowTable::Get().Slot(window);
  if (!d || !slot || ui::Headless()) return;
  if (d->nick_post_pending.exchange(true)) return;  // one request already on its way
  const uint64_t id = slot->id;
  std::weak_ptr<ChannelData> weak = d;
  platform::UiLoop::Get().Post([id, weak] {
    if (auto data = weak.lock()) data->nick_post_pending.store(false);
    const int now = WindowTable::Get().FindById(id);
    auto s = WindowTable::Get().Slot(now);
    if (!s || s->id != id) return;
    ui::Current().NickListChanged(s->Info(now));
  });
}

void PostTitleChanged(int window) {
  PostToFrontEnd(window, [](const ui::WindowInfo& w) { ui::Current().TitleChanged(w); });
}

void PostRenamed(int window) {
  PostToFrontEnd(window, [](const ui::WindowInfo& w) {
    ui::Current().RenameWindow(w);
    ui::Current().WindowListChanged();
  });
}

void InstallChannelViewAccess() {
  auto access = std::make_shared<output::ChannelViewAccess>();
  access->has_entry = [](int window, std::string_view entry) { return NickListHas(window, entry); };
  access->for_each_entry = [](int window, const std::function<void(std::string_view)>& visit) {
    // The visitor runs without the lock, over texts that no later change touches.
    if (auto snap = Snapshot(window))
      for (auto& e : *snap) visit(e);
  };
  output::SetChannelViewAccess(std::move(access));
}

}  // namespace vanta::dispatch
