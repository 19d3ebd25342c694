#include "dispatch/numerics.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <strings.h>

#include <array>
#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "config/file_set.h"
#include "config/format.h"
#include "config/ini_store.h"
#include "config/options.h"
#include "dispatch/ban_mask.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/result_views.h"
#include "output/show_text.h"
#include "platform/ini.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"

namespace vanta::dispatch {
namespace {

using sessions::ServerSession;
using sessions::WindowTable;

constexpr int kViewCount = 8;
constexpr std::size_t kNamesCap = 100000;  // bytes of collected nicks per channel
constexpr std::size_t kWhoisField = 500, kWhoisChannels = 5000;

struct ViewState {
  std::atomic<uint8_t> open{0};
  std::atomic<int32_t> rows{0};
};

// What the numeric replies keep per session besides the session record itself.
struct NumericState {
  std::array<ViewState, kViewCount> views;
  std::atomic<uint8_t> whois_for_deny{0};
  std::atomic<uint8_t> motd{0};
  std::mutex mutex;  // guards the members below
  WhoisRecord whois;
  // Names being collected, by channel window id. Kept per session and per channel, so NAMES
  // replies of two servers (or two channels) that arrive interleaved never mix.
  std::unordered_map<uint64_t, std::string> names;
};

struct StateEntry {
  std::weak_ptr<ServerSession> session;
  std::shared_ptr<NumericState> state;
};
std::mutex g_states_mutex;
std::unordered_map<const ServerSession*, StateEntry> g_states;

std::shared_ptr<NumericState> StateOf(const std::shared_ptr<ServerSession>& s) {
  if (!s) return nullptr;
  std::lock_guard lock(g_states_mutex);
  auto it = g_states.find(s.get());
  if (it != g_states.end()) {
    if (it->second.session.lock() == s) return it->second.state;
    g_states.erase(it);  // a new session at the address of a freed one
  }
  if (g_states.size() >= 64) {
    for (auto i = g_states.begin(); i != g_states.end();)
      i = i->second.session.expired() ? g_states.erase(i) : std::next(i);
  }
  auto st = std::make_shared<NumericState>();
  g_states.emplace(s.get(), StateEntry{s, st});
  return st;
}

std::shared_ptr<NumericState> StateOfWindow(int server_window) {
  if (WindowTable::Get().Kind(server_window) != sessions::kServerWindow) return nullptr;
  return StateOf(WindowTable::Get().Session(server_window));
}

ViewState& View(NumericState& st, ResultView v) { return st.views[static_cast<int>(v) % kViewCount]; }

// Runs a front-end operation for the server window on the user-interface thread and waits.
template <typename F>
void FrontEndCall(int server_window, F&& f) {
  ui::WindowInfo info = WindowTable::Get().Info(server_window);
  platform::UiLoop::Get().CallSync([&] { f(ui::Current(), info); });
}

// ---- small text helpers ----
std::string_view StripLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}
std::string_view SkipColon(std::string_view s) {
  if (!s.empty() && s[0] == ':') s.remove_prefix(1);
  return s;
}
// Word i (from 0) of a blank-separated text.
std::string_view Word(std::string_view s, int i) {
  std::size_t p = 0;
  for (int k = 0;; ++k) {
    while (p < s.size() && s[p] == ' ') ++p;
    if (p >= s.size()) return {};
    std::size_t e = s.find(' ', p);
    if (e == std::string_view::npos) e = s.size();
    if (k == i) return s.substr(p, e - p);
    p = e;
  }
}
// The text after word i and its following blanks ("" when none).
std::string_view After(std::string_view s, int i) {
  std::size_t p = 0;
  for (int k = 0; k <= i; ++k) {
    while (p < s.size() && s[p] == ' ') ++p;
    if (p >= s.size()) return {};
    std::size_t e = s.find(' ', p);
    if (e == std::string_view::npos) return {};
    p = e;
  }
  while (p < s.size() && s[p] == ' ') ++p;
  return s.substr(p);
}
std::string Cut(std::string_view s, std::size_t cap) { return std::string(s.substr(0, cap - 1)); }
bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
long ToLong(std::string_view s) {
  long v = 0;
  bool neg = false;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > 0x7fffffffL) return neg ? -0x7fffffffL : 0x7fffffffL;
  }
  return neg ? -v : v;
}
bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}
std::string LocalDateTime(long t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  if (!localtime_r(&tt, &tm)) return std::to_string(t);
  char buf[64];
  if (!std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm)) return std::to_string(t);
  return buf;
}

void Show(int window, std::string_view text, int server_window, uint32_t colour) {
  output::ShowText(window, text, server_window, colour);
}
void Send(int server_window, const std::string& line) { sessions::SendToServer(line, server_window); }

int RawMode() { return config::PrefInt("Appearance", "RAWSERVER", 0); }

// The channel window of this server named `name`, -1 when none.
int ChannelWindow(int server_window, std::string_view name) {
  if (name.empty()) return -1;
  int w = WindowTable::Get().FindByName(name, server_window);
  return WindowTable::Get().Kind(w) == sessions::kChannelWindow ? w : -1;
}

std::string IPv4Text(uint32_t network_order) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = network_order;
  if (!inet_ntop(AF_INET, &a, buf, sizeof buf)) return "0.0.0.0";
  return buf;
}
// The machine's first IPv4 address (a non-loopback one when there is any).
uint32_t FirstLocalAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return htonl(INADDR_LOOPBACK);
  uint32_t found = 0, loop = 0;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if ((ntohl(a) >> 24) == 127) {
      if (!loop) loop = a;
    } else if (!found) {
      found = a;
    }
  }
  freeifaddrs(list);
  return found ? found : (loop ? loop : htonl(INADDR_LOOPBACK));
}

// ---- result-view feeds ----
// Feeds a view when it is open: runs f on the user-interface thread. True when it was open.
template <typename F>
bool FeedView(int server_window, NumericState& st, ResultView v, F&& f) {
  if (!View(st, v).open.load()) return false;
  FrontEndCall(server_window, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) { f(fe, info); });
  return true;
}
void AddRow(int server_window, NumericState& st, ResultView v, std::vector<std::string> columns) {
  FeedView(server_window, st, v, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
    fe.ResultViewAddRow(info, v, columns);
  });
}
// Titles the view and closes its feed.
bool EndFeed(int server_window, NumericState& st, ResultView v, const std::string& title) {
  bool fed = FeedView(server_window, st, v, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
    fe.ResultViewSetTitle(info, v, title);
    fe.ResultViewEnded(info, v);
  });
  View(st, v).open.store(0);
  return fed;
}

// ---- the end of the welcome sequence ----
void EndOfWelcome(int n, ServerSession& s, NumericState& st) {
  if (s.registered.exchange(1) != 0) return;  // only the first 376 of a connection
  st.motd.store(0);
  auto clean = [](const std::string& v) { return sessions::CleanProtocolText(v); };
  if (s.ircx.exchange(0)) Send(n, "IRCX\r\n");
  if (s.oper.exchange(0))
    Send(n, "OPER " + clean(s.Get(&ServerSession::oper_name)) + " " + clean(s.Get(&ServerSession::oper_password)) +
                "\r\n");
  if (s.admin_oper.exchange(0))
    Send(n, "ADMINOPER " + clean(s.Get(&ServerSession::admin_oper_name)) + " " +
                clean(s.Get(&ServerSession::admin_oper_password)) + "\r\n");
  const std::string nick = clean(s.Get(&ServerSession::nick));
  const std::string modes = clean(s.Get(&ServerSession::user_modes));
  Send(n, modes.empty() ? "MODE " + nick + "\r\n" : "MODE " + nick + " " + modes + "\r\n");

  std::string perform = s.Get(&ServerSession::perform);
  if (perform.size() < 2 || perform.compare(perform.size() - 2, 2, "\r\n") != 0) perform += "\r\n";
  for (std::size_t p = 0; p < perform.size();) {
    std::size_t e = perform.find("\r\n", p);
    if (e == std::string::npos) break;
    std::string one = perform.substr(p, e - p);
    p = e + 2;
    if (one.empty()) continue;
    if (auto& h = sessions::GetHooks().execute_line) h(n, one);
  }

  Send(n, "USERHOST " + nick + "\r\n");

  // The notify list: a tick every 15 s from now on, and one at once.
  if (auto slot = WindowTable::Get().Slot(n)) {
    const uint64_t id = slot->id;
    auto tick = [id] {
      int now = WindowTable::Get().FindById(id);
      if (now < 0) return;
      if (auto& h = GetNumericHooks().notify_tick) h(now);
    };
    auto& loop = platform::UiLoop::Get();
    loop.Post([id, tick] {
      platform::UiLoop::Get().SetTimer(id, kNotifyTimer, kNotifyPeriodMs, tick);
      tick();
    });
  }
  PostTitleChanged(n);

  const std::string pref = config::PrefIni();
  std::string temp = config::PrefString("General", "TempStartupChannel");
  std::string startup = config::PrefString("General", "StartupChannel");
  if (!temp.empty()) {
    Send(n, "JOIN " + clean(temp) + "\r\n");
    platform::ini::DeleteKey(pref, "General", "TempStartupChannel");
  }
  if (!startup.empty()) Send(n, "JOIN " + clean(startup) + "\r\n");
  if (temp.empty()) {
    if (config::PrefInt("General", "ShowJoin", 1))
      FrontEndCall(n, [](ui::FrontEnd& fe, const ui::WindowInfo& info) { fe.OpenJoinDialog(info); });
    else if (config::PrefInt("General", "ShowLast", 1))
      FrontEndCall(n, [](ui::FrontEnd& fe, const ui::WindowInfo& info) { fe.OpenRecentChannels(info); });
  }
  if (config::OptionInt("General", "AutoFav", 0)) {
    std::string favs = config::ReadMultiLine(pref, "General", "Favorites");
    std::size_t p = 0;
    while (p <= favs.size()) {
      std::size_t e = favs.find_first_of("\r\n", p);
      if (e == std::string::npos) e = favs.size();
      std::string one = clean(favs.substr(p, e - p));
      while (!one.empty() && one.back() == ' ') one.pop_back();
      if (!one.empty()) Send(n, "JOIN " + one + "\r\n");
      p = e + 1;
    }
  }
}

// ---- channel replies ----
void ChannelModes(int n, ServerSession& s, std::string_view params) {
  int w = ChannelWindow(n, Word(params, 0));
  if (w < 0) return;
  std::string_view rest = StripLineEnd(After(params, 0));
  std::string mode_text(rest.empty() ? rest : rest.substr(1));
  if (auto slot = WindowTable::Get().Slot(w)) {
    {
      std::lock_guard lock(slot->mutex);
      slot->mode_text = mode_text;
    }
    const std::string_view letters = std::string_view(mode_text).substr(0, mode_text.find(' '));
    auto contains = [&](char c) { return letters.find(c) != std::string_view::npos; };
    const bool ignore_f = config::OptionInt("General", "IgnoreF", 0) != 0;
    if (contains('f')) slot->channel_flag1.store(ignore_f ? 0 : 1);
    if (config::OptionInt("General", "WarnExtend", 1) && slot->channel_flag2.exchange(1) == 0) {
      const uint32_t err = output::Colours().error;
      if (s.ircx.load()) {
        if (contains('z')) Show(w, config::Msg(167), n, err);
        if (contains('f')) {
          Show(w, config::Msg(168), n, err);
          if (ignore_f) Show(w, config::Msg(169), n, err);
        }
        if (contains('x')) Show(w, config::Msg(170), n, err);
        if (contains('d')) Show(w, config::Msg(171), n, err);
        if (contains('e')) Show(w, config::Msg(172), n, err);
      }
      if (contains('m')) Show(w, config::Msg(173), n, err);
    }
  }
  PostTitleChanged(w);
  PostNickListChanged(w);
}

void TopicReply(int n, std::string_view params, bool none) {
  int w = ChannelWindow(n, Word(params, 0));
  if (w < 0) return;
  std::string topic = none ? std::string() : std::string(SkipColon(After(params, 0)));
  SetTopic(w, topic);
  PostTitleChanged(w);
  if (TakeTopicPending(w)) {
    std::string sym = config::PrefString("General", "TSymbol", "\xb7");
    Show(w, "\x12" + sym + "\x12 " + std::string(Word(params, 0)) + " TOPIC: " + std::string(Topic(w)), n,
         output::Colours().text);
  }
}

void Names(int n, NumericState& st, std::string_view params) {
  // "= #channel :nick @nick +nick": the channel follows the channel-type character.
  std::string_view channel = Word(params, 1);
  if (!channel.empty() && channel[0] == ':') channel = {};
  int w = ChannelWindow(n, channel);
  if (w < 0) return;
  auto slot = WindowTable::Get().Slot(w);
  if (!slot) return;
  std::size_t colon = params.find(" :");
  std::string_view nicks = colon == std::string_view::npos ? After(params, 1) : params.substr(colon + 2);
  std::lock_guard lock(st.mutex);
  if (st.names.size() >= 32) {
    // Collections of windows closed before their end of names.
    for (auto i = st.names.begin(); i != st.names.end();)
      i = WindowTable::Get().FindById(i->first) < 0 ? st.names.erase(i) : std::next(i);
  }
  std::string& acc = st.names[slot->id];
  for (std::string_view word; !(word = Word(nicks, 0)).empty(); nicks = After(nicks, 0)) {
    if (acc.size() + word.size() + 1 > kNamesCap) break;
    if (!acc.empty()) acc += ' ';
    acc += word;
  }
}

bool EndOfNames(int n, NumericState& st, std::string_view params) {
  int w = ChannelWindow(n, Word(params, 0));
  if (w < 0) return false;
  auto slot = WindowTable::Get().Slot(w);
  if (!slot) return false;
  std::string acc;
  {
    std::lock_guard lock(st.mutex);
    auto it = st.names.find(slot->id);
    if (it == st.names.end()) return false;
    acc = std::move(it->second);
    st.names.erase(it);
  }
  std::vector<std::string> entries;
  for (std::string_view rest = acc, word; !(word = Word(rest, 0)).empty(); rest = After(rest, 0))
    entries.emplace_back(word);
  NickListReplace(w, entries);
  PostNickListChanged(w);
  PostTitleChanged(w);
  return true;
}

// ---- whois ----
void FinishWhois(int n, NumericState& st) {
  WhoisRecord r;
  {
    std::lock_guard lock(st.mutex);
    r = st.whois;
    st.whois.pending = false;
  }
  ViewState& v = View(st, ResultView::Whois);
  if (v.open.load()) {
    ui::FrontEnd::WhoisFields f;
    f.fields = {r.nick,
                r.user,
                r.host,
                r.full_name,
                r.server,
                std::to_string(r.idle_seconds),
                LocalDateTime(r.signon_time) + " (GMT)",
                r.is_operator ? r.operator_text : "<No Operator>",
                r.is_away ? r.away_text : "<No Away>",
                r.channels};
    if (st.whois_for_deny.load()) {
      for (auto& m : AllBanMasks(UserAddress{r.nick, r.user, r.host})) {
        f.deny_lines.push_back("ADD DENY " + m + " 0 ");
        f.ban_masks.push_back(std::move(m));
      }
    }
    FrontEndCall(n, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) { fe.ResultViewWhois(info, f); });
  } else {
    Show(n, "\x02\x12\xac\x12 End of WHOIS list \x12\xae\x12", n, output::Colours().info);
  }
  v.open.store(0);
}

}  // namespace

NumericHooks& GetNumericHooks() {
  static NumericHooks hooks;
  return hooks;
}

bool ChannelPlainText(int window) {
  auto slot = WindowTable::Get().Slot(window);
  return slot && slot->kind == sessions::kChannelWindow && slot->channel_flag1.load();
}

WhoisRecord CurrentWhois(int server_window) {
  auto st = StateOfWindow(server_window);
  if (!st) return {};
  std::lock_guard lock(st->mutex);
  return st->whois;
}

bool MotdInProgress(int server_window) {
  auto st = StateOfWindow(server_window);
  return st && st->motd.load();
}

std::string PendingNames(int server_window, int channel_window) {
  auto st = StateOfWindow(server_window);
  auto slot = WindowTable::Get().Slot(channel_window);
  if (!st || !slot) return {};
  std::lock_guard lock(st->mutex);
  auto it = st->names.find(slot->id);
  return it == st->names.end() ? std::string() : it->second;
}

bool OpenView(int server_window, ResultView view, bool for_deny) {
  auto st = StateOfWindow(server_window);
  if (!st) return false;
  bool opened = false;
  FrontEndCall(server_window, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
    opened = fe.OpenResultView(info, view);
  });
  if (!opened) return false;
  View(*st, view).rows.store(0);
  if (view == ResultView::Whois) st->whois_for_deny.store(for_deny ? 1 : 0);
  View(*st, view).open.store(1);
  return true;
}

void CloseView(int server_window, ResultView view) {
  if (auto st = StateOfWindow(server_window)) View(*st, view).open.store(0);
}

bool ViewOpen(int server_window, ResultView view) {
  auto st = StateOfWindow(server_window);
  return st && View(*st, view).open.load();
}

int ViewRows(int server_window, ResultView view) {
  auto st = StateOfWindow(server_window);
  return st ? View(*st, view).rows.load() : 0;
}

bool HandleNumeric(int n, ParsedLine& line) {
  auto& table = WindowTable::Get();
  if (table.Kind(n) != sessions::kServerWindow) return false;
  auto session = table.Session(n);
  auto state = StateOf(session);
  if (!session || !state) return false;
  ServerSession& s = *session;
  NumericState& st = *state;
  const auto& colours = output::Colours();
  const std::string_view p = StripLineEnd(line.parameters);
  auto consume = [&] { s.numeric_pending.store(0); };
  auto whois_open = [&] { return View(st, ResultView::Whois).open.load() != 0; };
  auto info_line = [&](const std::string& text) { Show(n, text, n, colours.info); };
  bool handled = true;

  switch (line.numeric) {
    case 221:
      s.Set(&ServerSession::own_user_mode_text, Cut(p.empty() ? p : p.substr(1), 20));
      PostTitleChanged(n);
      break;
    case 271:
      if (View(st, ResultView::Silence).open.load()) {
        AddRow(n, st, ResultView::Silence, {std::string(SkipColon(After(p, 0)))});
        consume();
      }
      break;
    case 272:
      if (EndFeed(n, st, ResultView::Silence, config::Msg(159))) consume();
      break;
    case 293:
      s.admin_oper.store(1);
      PostTitleChanged(n);
      break;
    case 301: {
      std::string away(SkipColon(After(p, 0)));
      {
        std::lock_guard lock(st.mutex);
        st.whois.away_text = Cut("Yes : " + away, kWhoisField);
        st.whois.is_away = true;
      }
      if (!whois_open()) Show(n, std::string(Word(p, 0)) + " is away: " + away, n, colours.info);
      consume();
      break;
    }
    case 302: {
      std::string_view first = SkipColon(Word(p, 0));
      first = first.substr(0, first.find('='));
      if (!first.empty() && first.back() == '*') first.remove_suffix(1);
      if (first.empty() || !SameText(first, s.Get(&ServerSession::nick))) {
        handled = false;
        break;
      }
      uint32_t bind = sessions::OwnBindAddress(n);
      if (bind == 0) bind = FirstLocalAddress();
      info_line("\x02\x12\xac\x12 IP Information \x02(\x18{Config,/ipconfig} Config \x18)\x02\x12\xae\x12");
      info_line("\x12\xb7\x12 Local IP4: " + IPv4Text(bind));
      info_line("\x12\xb7\x12 Remote IP4: " + IPv4Text(sessions::OwnNotifyAddress(n)));
      info_line("\x12\xb7\x12 Local IP6: " + sessions::OwnIPv6BindAddress(n));
      info_line("\x12\xb7\x12 Remote IP6: " + sessions::OwnIPv6NotifyAddress(n));
      consume();
      break;
    }
    case 303: {
      if (auto& h = GetNumericHooks().ison_reply) h(n, line);
      if (s.startup_done.exchange(1) == 0) {
        if (auto& h = sessions::GetHooks().special_event) h("OnStartup", "", n);
        if (config::OptionInt("General", "ReconnectJoin", 1)) {
          for (int w = 0; w < table.Count(); ++w) {
            if (table.Kind(w) != sessions::kChannelWindow || table.OwningServer(w) != n) continue;
            auto slot = table.Slot(w);
            if (slot) Send(n, "JOIN " + sessions::CleanProtocolText(slot->Name()) + "\r\n");
          }
        }
      }
      consume();
      break;
    }
    case 305:
      s.away.store(0);
      break;
    case 306:
      if (whois_open()) {
        std::lock_guard lock(st.mutex);
        st.whois.is_away = true;
        consume();
      }
      break;
    case 311: {
      WhoisRecord r;
      r.nick = Cut(Word(p, 0), kWhoisField);
      r.user = Cut(Word(p, 1), kWhoisField);
      r.host = Cut(Word(p, 2), kWhoisField);
      r.full_name = Cut(SkipColon(After(p, 3)), kWhoisField);
      r.pending = true;
      {
        std::lock_guard lock(st.mutex);
        st.whois = r;
      }
      if (!whois_open()) {
        info_line("\x02\x12\xac\x12 WHOIS " + r.nick + "? \x12\xae\x12");
        info_line(r.nick + "!" + r.user + "@" + r.host + " - " + r.full_name);
      }
      consume();
      break;
    }
    case 312: {
      std::string server(Word(p, 1));
      {
        std::lock_guard lock(st.mutex);
        st.whois.server = Cut(server, kWhoisField);
      }
      if (!whois_open()) info_line(std::string(Word(p, 0)) + " @ " + server);
      consume();
      break;
    }
    case 313: {
      std::string text(SkipColon(After(p, 0)));
      {
        std::lock_guard lock(st.mutex);
        st.whois.operator_text = Cut("Yes : " + text, kWhoisField);
        st.whois.is_operator = true;
      }
      if (!whois_open()) info_line(std::string(Word(p, 0)) + " " + text);
      consume();
      break;
    }
    case 315: {
      auto& v = View(st, ResultView::Who);
      if (v.open.load()) {
        EndFeed(n, st, ResultView::Who, config::Msg(163, {v.rows.load()}));
        v.rows.store(0);
        consume();
      }
      break;
    }
    case 317: {
      long idle = ToLong(Word(p, 1)), signon = ToLong(Word(p, 2));
      {
        std::lock_guard lock(st.mutex);
        st.whois.idle_seconds = static_cast<int32_t>(idle);
        st.whois.signon_time = static_cast<int32_t>(signon);
      }
      if (!whois_open()) info_line(std::string(Word(p, 0)) + " signed in @ " + LocalDateTime(signon));
      consume();
      break;
    }
    case 318:
      FinishWhois(n, st);
      consume();
      break;
    case 319: {
      std::string chans(SkipColon(After(p, 0)));
      {
        std::lock_guard lock(st.mutex);
        st.whois.channels = Cut(chans, kWhoisChannels);
      }
      if (!whois_open()) info_line(std::string(Word(p, 0)) + " in " + chans);
      consume();
      break;
    }
    case 322:
    case 812:
    case 813: {
      auto& v = View(st, ResultView::ChannelList);
      if (!v.open.load()) {
        // The first entry opens the view.
        bool opened = false;
        FrontEndCall(n, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
          opened = fe.OpenResultView(info, ResultView::ChannelList);
          if (opened) fe.ResultViewClear(info, ResultView::ChannelList);
        });
        if (!opened) {
          handled = false;
          break;
        }
        v.rows.store(0);
        v.open.store(1);
      }
      if (line.numeric == 813) {
        FeedView(n, st, ResultView::ChannelList, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
          fe.ResultViewSetLastRow(info, ResultView::ChannelList, 3, SkipColon(After(p, 0)));
        });
      } else {
        std::vector<std::string> row{std::string(Word(p, 0)), std::string(Word(p, 1))};
        if (line.numeric == 812) {
          // IRCX: channel, users, then its extra columns up to the topic.
          row.emplace_back(SkipColon(After(p, 1)));
        } else {
          row.emplace_back(SkipColon(After(p, 1)));
        }
        int rows = v.rows.fetch_add(1) + 1;
        const std::string title = config::Msg(160, {rows});
        FeedView(n, st, ResultView::ChannelList, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
          fe.ResultViewAddRow(info, ResultView::ChannelList, row);
          fe.ResultViewSetTitle(info, ResultView::ChannelList, title);
        });
      }
      consume();
      break;
    }
    case 323:
    case 816:
    case 817: {
      auto& v = View(st, ResultView::ChannelList);
      if (v.open.load()) {
        EndFeed(n, st, ResultView::ChannelList, config::Msg(161, {v.rows.load()}));
        consume();
      }
      break;
    }
    case 324:
      ChannelModes(n, s, p);
      if (ChannelWindow(n, Word(p, 0)) >= 0) consume();
      break;
    case 329: {
      int w = ChannelWindow(n, Word(p, 0));
      Show(w >= 0 ? w : n, "\x12\xb7\x12 " + std::string(Word(p, 0)) + " : " + LocalDateTime(ToLong(Word(p, 1))), n,
           colours.info);
      consume();
      break;
    }
    case 331:
    case 332:
      if (ChannelWindow(n, Word(p, 0)) >= 0) {
        TopicReply(n, p, line.numeric == 331);
        consume();
      }
      break;
    case 333: {
      int w = ChannelWindow(n, Word(p, 0));
      std::string_view when = Word(p, 2);
      std::string time = AllDigits(when) ? LocalDateTime(ToLong(when)) : std::string(when);
      Show(w >= 0 ? w : n, "\x12\xb7\x12 TOPIC: " + std::string(Word(p, 1)) + " (" + time + ")", n, colours.info);
      consume();
      break;
    }
    case 341:
      info_line(std::string(Word(p, 0)) + " has been invited to " + std::string(Word(p, 1)));
      consume();
      break;
    case 348:
    case 367: {
      if (View(st, ResultView::Ban).open.load()) {
        std::string_view when = Word(p, 3);
        std::string time = (AllDigits(when) && ToLong(when) != 0) ? LocalDateTime(ToLong(when)) : std::string();
        AddRow(n, st, ResultView::Ban, {std::string(Word(p, 1)), std::string(Word(p, 2)), time});
        consume();
      }
      break;
    }
    case 349:
    case 368:
      if (EndFeed(n, st, ResultView::Ban, config::Msg(159) + (line.numeric == 349 ? " - [EXCEPTIONLIST]" : "")))
        consume();
      break;
    case 352: {
      std::string nick(Word(p, 4)), user(Word(p, 1)), host(Word(p, 2)), server(Word(p, 3));
      std::string_view flags = Word(p, 5);
      auto& v = View(st, ResultView::Who);
      if (v.open.load()) {
        std::string full(After(SkipColon(After(p, 5)), 0));
        std::string status = flags.find('*') != std::string_view::npos   ? "o"
                             : flags.find('a') != std::string_view::npos ? "a"
                                                                         : "-";
        std::string away = flags.find('G') != std::string_view::npos ? "+" : "-";
        int rows = v.rows.fetch_add(1) + 1;
        const std::string title = config::Msg(162, {rows});
        std::vector<std::string> row{nick, user, host, server, full, status, away};
        FeedView(n, st, ResultView::Who, [&](ui::FrontEnd& fe, const ui::WindowInfo& info) {
          fe.ResultViewAddRow(info, ResultView::Who, row);
          fe.ResultViewSetTitle(info, ResultView::Who, title);
        });
      } else {
        std::string rest(flags.empty() ? std::string_view() : p.substr(flags.data() - p.data()));
        info_line(nick + "!" + user + "@" + host + " (" + std::string(Word(p, 0)) + ") " + server + " " + rest);
      }
      consume();
      break;
    }
    case 353:
      Names(n, st, p);
      if (ChannelWindow(n, Word(p, 1)) >= 0) consume();
      break;
    case 366:
      if (EndOfNames(n, st, p)) consume();
      break;
    case 364:
      if (View(st, ResultView::Links).open.load()) {
        AddRow(n, st, ResultView::Links, {std::string(p)});
        consume();
      }
      break;
    case 365:
      if (EndFeed(n, st, ResultView::Links, config::Msg(159))) consume();
      break;
    case 372:
      st.motd.store(1);
      break;
    case 376:
      EndOfWelcome(n, s, st);
      break;
    case 381:
      s.oper.store(1);
      PostTitleChanged(n);
      break;
    case 401:
      if (whois_open()) {
        {
          std::lock_guard lock(st.mutex);
          st.whois.not_found = true;
        }
        if (!st.whois_for_deny.load())
          FeedView(n, st, ResultView::Whois, [](ui::FrontEnd& fe, const ui::WindowInfo& info) {
            fe.ResultViewSetTitle(info, ResultView::Whois, "User not found on IRC");
          });
        consume();
      }
      break;
    case 421:
      for (ResultView v : {ResultView::ChannelList, ResultView::Access, ResultView::Property})
        EndFeed(n, st, v, config::Msg(164));
      break;
    case 471:
    case 473:
    case 474:
    case 475: {
      const char* mark = line.numeric == 471 ? "+l" : line.numeric == 473 ? "+i" : line.numeric == 474 ? "+b" : "+k";
      std::string text(SkipColon(p));
      if (text.find(mark) == std::string::npos) text += std::string(" (") + mark + ")";
      info_line(text);
      consume();
      break;
    }
    case 482:
      if (EndFeed(n, st, ResultView::Ban, config::Msg(166))) consume();
      break;
    case 800: {
      s.ircx.store(1);
      info_line("\x02\x12\xac\x12 IRCX Status \x12\xae\x12");
      info_line("Version #: " + std::to_string(static_cast<uint32_t>(ToLong(Word(p, 1)))));
      info_line("Packages : " + std::string(Word(p, 2)));
      info_line("MsgSize : " + std::to_string(static_cast<uint32_t>(ToLong(Word(p, 3)))));
      info_line("\x02\x12\xac\x12 End of IRCX Status \x12\xae\x12");
      consume();
      break;
    }
    case 801:
    case 802:
    case 820: {
      std::string_view channel = Word(p, 0);
      std::string text(SkipColon(After(p, 0)));
      int w = ChannelWindow(n, channel);
      std::string shown = line.numeric == 801   ? "\x12\xb7\x12 Access + :\x02" + text
                          : line.numeric == 802 ? "\x12\xb7\x12 Access - :\x02" + text
                                                : config::Msg(165, {text});
      Show(w >= 0 ? w : n, shown, n, colours.error);
      consume();
      break;
    }
    case 803:
      if (View(st, ResultView::Access).open.load()) consume();
      break;
    case 804:
      if (View(st, ResultView::Access).open.load())
        AddRow(n, st, ResultView::Access, {std::string(SkipColon(After(p, 0)))});
      consume();  // without the view it shows nothing at all
      break;
    case 805:
      if (EndFeed(n, st, ResultView::Access, config::Msg(159))) consume();
      break;
    case 811:
      if (View(st, ResultView::ChannelList).open.load()) consume();
      break;
    case 818:
      if (View(st, ResultView::Property).open.load()) {
        AddRow(n, st, ResultView::Property, {std::string(SkipColon(After(p, 0)))});
        consume();
      }
      break;
    case 819:
      if (EndFeed(n, st, ResultView::Property, config::Msg(159))) consume();
      break;
    case 913:
      if (EndFeed(n, st, ResultView::Access, config::Msg(166))) consume();
      break;
    default:
      handled = false;
      break;
  }

  // Default display.
  const int raw_mode = RawMode();
  if (raw_mode == 2 || s.numeric_pending.load()) {
    const bool raw = raw_mode == 2 || (raw_mode == 1 && !handled);
    std::string_view text = raw ? StripLineEnd(line.raw[1]) : SkipColon(p);
    Show(n, text, n, colours.text);
    s.numeric_pending.store(0);
  }
  return handled;
}

}  // namespace vanta::dispatch
