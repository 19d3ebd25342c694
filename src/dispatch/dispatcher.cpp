#include "dispatch/dispatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "config/file_set.h"
#include "config/format.h"
#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/numerics.h"
#include "dispatch/registration.h"
#include "output/appearance.h"
#include "output/show_text.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/send_queue.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::dispatch {

namespace {

using output::Colours;
using sessions::ServerSession;
using sessions::WindowSlot;
using sessions::WindowTable;

constexpr uint32_t kPartColour = 14787751;
constexpr std::size_t kInvitationSize = 500;

// ---- small helpers ---------------------------------------------------------------------------------

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IEq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool IStartsWith(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && IEq(text.substr(0, start.size()), start);
}

std::string_view StripLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::string_view UpToNul(std::string_view s) {
  const std::size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

// The first space-separated word of `s` and the rest after the spaces that follow it.
std::string_view FirstWord(std::string_view s) {
  const std::size_t sp = s.find(' ');
  return sp == std::string_view::npos ? s : s.substr(0, sp);
}
std::string_view AfterFirstWord(std::string_view s) {
  const std::size_t sp = s.find(' ');
  if (sp == std::string_view::npos) return {};
  s.remove_prefix(sp);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

bool IsChannelName(std::string_view name) {
  return !name.empty() && (name[0] == '#' || name[0] == '%' || name[0] == '&' || name[0] == '+');
}

void Show(int window, std::string_view text, int server, uint32_t colour) {
  output::ShowText(window, text, server, colour);
}

std::string Format(int window, int kind, const ParsedLine& line, std::string_view victim = {},
                   std::string_view kick_message = {}, std::string_view knock_message = {},
                   std::string_view notice_tag = {}, int alignment = 0) {
  std::string out;
  output::FormatAppearance(window, kind, out, line, victim, kick_message, knock_message, notice_tag, alignment);
  return out;
}

int Send(int server, std::string_view text) { return sessions::SendToServer(text, server); }

// "<word> <argument>\r\n" with the argument made safe for a protocol line.
void SendCommand(int server, std::string_view word, std::string_view argument) {
  std::string line(word);
  line += ' ';
  line += sessions::CleanProtocolText(argument);
  line += "\r\n";
  Send(server, line);
}

int OptInt(std::string_view section, std::string_view key, int def) { return config::OptionInt(section, key, def); }

void PlaySound(std::string_view file) {
  if (auto& h = sessions::GetHooks().play_sound) {
    h(file);
    return;
  }
  platform::UiLoop::Get().Post([] { ui::Current().Beep(); });
}

// Plays the sound file a "General" setting names, or the default beep when it names none.
void BeepSetting(std::string_view file_key) { PlaySound(config::OptionText("General", file_key, "")); }

int StatusQueryMode() {
  auto& h = GetDispatcherHooks().status_query_mode;
  return h ? h() : 0;
}

int LockingEvent(std::string_view event, std::string_view arg, int window) {
  auto& h = GetDispatcherHooks().locking_event;
  return h ? h(event, arg, window) : 0;
}

// Every window owned by `server` (the server window itself, its channels and queries), in order.
std::vector<int> WindowsOf(int server) {
  std::vector<int> out;
  auto& table = WindowTable::Get();
  const int count = table.Count();
  for (int i = 0; i < count; ++i) {
    auto s = table.Slot(i);
    if (s && s->kind != sessions::kDccWindow && s->owning_server.load() == server) out.push_back(i);
  }
  return out;
}

int FindOfKind(int server, std::string_view name, int kind) {
  if (name.empty()) return -1;
  const int n = WindowTable::Get().FindByName(name, server);
  return WindowTable::Get().Kind(n) == kind ? n : -1;
}

int ChannelWindow(int server, std::string_view name) { return FindOfKind(server, name, sessions::kChannelWindow); }

// The query window of `server` named exactly `nick` (no list element match).
int QueryNamed(int server, std::string_view nick) {
  if (nick.empty()) return -1;
  auto& table = WindowTable::Get();
  const int count = table.Count();
  for (int i = 0; i < count; ++i) {
    auto s = table.Slot(i);
    if (s && s->kind == sessions::kQueryWindow && s->owning_server.load() == server && IEq(s->Name(), nick)) return i;
  }
  return -1;
}

// Any window of `server` the name finds (channel, query, or the server window by its name).
int NamedWindow(int server, std::string_view name) {
  if (name.empty()) return -1;
  return WindowTable::Get().FindByName(name, server);
}

struct Ctx {
  int server = -1;
  std::shared_ptr<ServerSession> session;
  ParsedLine& line;
  std::string_view text;  // the line without its line end
  std::string own_nick;
  bool IsOwn(std::string_view nick) const { return !nick.empty() && IEq(nick, own_nick); }
};

// ---- nick modes -------------------------------------------------------------------------------------

// Channel mode letters that take an argument besides the member statuses: lists (b, e, I), the key
// (k) and, when set, the limit (l).
bool TakesArgument(char letter, bool plus) {
  switch (letter) {
    case 'h': case 'o': case 'q': case 'v': case 'a':
    case 'b': case 'e': case 'I': case 'k':
      return true;
    case 'l':
      return plus;
    default:
      return false;
  }
}

// Applies the member-status changes of a MODE line's parameters to the channel's nick list.
// Returns true when an entry changed.
bool ApplyNickModes(int window, std::string_view params) {
  const std::size_t end = params.find_first_of(" \r\n");
  const std::string_view modes = params.substr(0, end);
  std::string_view args = end == std::string_view::npos ? std::string_view() : params.substr(end);
  auto next_arg = [&args]() -> std::string_view {
    while (!args.empty() && args.front() == ' ') args.remove_prefix(1);
    if (!args.empty() && args.front() == ':') args.remove_prefix(1);  // a trailing argument
    std::string_view a = FirstWord(args);
    args.remove_prefix(a.size());
    return a;
  };
  bool plus = true, changed = false;
  for (char m : modes) {
    if (m == '+' || m == '-') {
      plus = m == '+';
      continue;
    }
    if (!TakesArgument(m, plus)) continue;
    const std::string_view nick = next_arg();
    if (m != 'h' && m != 'o' && m != 'q' && m != 'v') continue;
    if (nick.empty()) continue;
    const int standing = NickStanding(window, nick);
    if (standing < 0) continue;
    char to = '\0';
    bool apply = false;
    switch (m) {
      case 'o':  // plain, voiced or half-operator entries become operators
        if (plus) apply = standing <= 2, to = '@';
        else apply = standing == 3, to = '\0';
        break;
      case 'h':
        if (plus) apply = standing <= 1, to = '%';
        else apply = standing == 2, to = '\0';
        break;
      case 'q':
        if (plus) apply = standing <= 3, to = '.';
        else apply = standing == 4, to = '\0';
        break;
      case 'v':
        if (plus) apply = standing == 0, to = '+';
        else apply = standing == 1, to = '\0';
        break;
    }
    if (apply && NickListSetPrefix(window, nick, to)) changed = true;
  }
  return changed;
}

// ---- command handlers ------------------------------------------------------------------------------

void OnJoin(Ctx& c) {
  if (auto& h = GetDispatcherHooks().join_checks) h(c.server, c.text);
  const std::string& channel = c.line.target;
  if (channel.empty()) return;
  int w = ChannelWindow(c.server, channel);
  if (c.IsOwn(c.line.nick)) {
    if (w < 0) {
      sessions::CreateRequest r;
      r.name = channel;
      r.kind = sessions::kChannelWindow;
      r.joined = true;
      r.owning_server = c.server;
      w = WindowTable::Get().Create(r);
    }
    if (auto slot = WindowTable::Get().Slot(w)) {
      slot->active.store(1);
      SetTopicPending(w, true);
      NickListClear(w);  // the names reply that follows fills it afresh
    }
    Show(w, Format(w, output::kAppearJoin, c.line), c.server, Colours().ok);
    return;
  }
  if (w < 0) return;
  Show(w, Format(w, output::kAppearJoin, c.line), c.server, Colours().ok);
  const std::string_view nick = c.line.nick;
  if (!nick.empty() && !EntryPrefix(nick) && NickListInsert(w, nick)) PostNickListChanged(w);
}

void OnMode(Ctx& c) {
  const int w = NamedWindow(c.server, c.line.target);
  Show(w, Format(w, output::kAppearMode, c.line), c.server, Colours().ok);
  if (WindowTable::Get().Kind(w) != sessions::kChannelWindow) return;
  const std::string& p = c.line.parameters;
  const std::size_t sp = p.find(' ');
  bool channel_only = sp == std::string::npos;
  if (!channel_only) {
    std::size_t at = sp + 1;
    while (at < p.size() && p[at] == ' ') ++at;
    if (at < p.size() && p[at] == ':') ++at;  // a limit sent as a trailing argument
    channel_only = at < p.size() && p[at] >= '0' && p[at] <= '9';
  }
  if (channel_only) {
    SendCommand(c.server, "MODE", c.line.target);
  } else if (ApplyNickModes(w, p)) {
    PostNickListChanged(w);
  }
  PostTitleChanged(w);
}

void OnPart(Ctx& c) {
  const int w = ChannelWindow(c.server, c.line.target);
  Show(w, Format(w, output::kAppearPart, c.line), c.server, kPartColour);
  if (w < 0) return;
  if (NickListRemove(w, c.line.nick)) PostNickListChanged(w);
  if (c.IsOwn(c.line.nick)) {
    if (auto slot = WindowTable::Get().Slot(w)) slot->active.store(0);
    if (!ui::Headless()) WindowTable::Get().Close(w, true);
  }
}

void OnTopic(Ctx& c) {
  const int w = ChannelWindow(c.server, c.line.target);
  Show(w, Format(w, output::kAppearTopic, c.line), c.server, Colours().ok);
  if (w < 0) return;
  SetTopic(w, c.line.parameters);
  PostTitleChanged(w);
}

void OnKick(Ctx& c) {
  const std::string_view params = c.line.parameters;
  const std::string_view victim = FirstWord(params);
  std::string_view reason = AfterFirstWord(params);
  if (!reason.empty() && reason.front() == ':') reason.remove_prefix(1);
  const int w = ChannelWindow(c.server, c.line.target);
  const std::string text = Format(w, output::kAppearKick, c.line, victim, reason);
  if (!c.IsOwn(victim)) {
    Show(w, text, c.server, Colours().error);
    if (w >= 0 && NickListRemove(w, victim)) PostNickListChanged(w);
    return;
  }
  Show(w, text, c.server, Colours().text);
  if (w >= 0) {
    if (NickListRemove(w, victim)) PostNickListChanged(w);
    if (auto slot = WindowTable::Get().Slot(w)) slot->active.store(0);  // no longer joined
  }
  if (OptInt("General", "OnKickDestroy", 0) && w >= 0) {
    Show(c.server, text, c.server, Colours().error);
    WindowTable::Get().Close(w, true);  // posted from a connection thread
  }
  if (OptInt("General", "OnKickRejoin", 0)) SendCommand(c.server, "JOIN", c.line.target);
}

// QUIT and KILL: shown wherever the nick was, and taken out of every nick list of the server.
void LeaveEverywhere(Ctx& c, std::string_view nick, int kind) {
  if (nick.empty()) return;
  for (int w : WindowsOf(c.server)) {
    const int k = WindowTable::Get().Kind(w);
    bool present = false;
    if (k == sessions::kChannelWindow) present = NickStanding(w, nick) >= 0;
    else if (k == sessions::kQueryWindow) present = WindowTable::Get().Slot(w) && IEq(WindowTable::Get().Slot(w)->Name(), nick);
    if (!present) continue;
    Show(w, Format(w, kind, c.line), c.server, Colours().text);
    if (k == sessions::kChannelWindow && NickListRemove(w, nick)) PostNickListChanged(w);
  }
}

void OnQuit(Ctx& c) { LeaveEverywhere(c, c.line.nick, output::kAppearQuit); }
void OnKill(Ctx& c) { LeaveEverywhere(c, c.line.target, output::kAppearKill); }

// Replaces the element `old_nick` of a comma-separated window name; true when it was there.
bool ReplaceListElement(std::string& name, std::string_view old_nick, std::string_view new_nick) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find(',', start);
    if (end == std::string::npos) end = name.size();
    if (IEq(std::string_view(name).substr(start, end - start), old_nick)) {
      name.replace(start, end - start, new_nick);
      return true;
    }
    start = end + 1;
  }
  return false;
}

void OnNick(Ctx& c) {
  const std::string_view old_nick = c.line.nick;
  const std::string new_nick(FirstWord(c.line.parameters));
  auto& table = WindowTable::Get();
  const std::vector<int> windows = WindowsOf(c.server);
  for (int w : windows) {
    const int k = table.Kind(w);
    bool show = false;
    if (k == sessions::kChannelWindow) show = NickStanding(w, old_nick) >= 0;
    else if (k == sessions::kQueryWindow) show = w == QueryNamed(c.server, old_nick);
    if (show) Show(w, Format(w, output::kAppearNick, c.line), c.server, Colours().ok);
  }
  if (new_nick.empty() || old_nick.empty()) return;
  if (c.IsOwn(old_nick)) {
    c.session->Set(&ServerSession::nick, new_nick.substr(0, ServerSession::kName - 1));
    c.own_nick = new_nick;
    PostTitleChanged(c.server);
  }
  for (int w : windows) {
    auto slot = table.Slot(w);
    if (!slot) continue;
    if (slot->kind == sessions::kChannelWindow) {
      if (NickListRename(w, old_nick, new_nick)) PostNickListChanged(w);
    } else if (slot->kind == sessions::kQueryWindow) {
      std::string name = slot->Name();
      if (IEq(name, old_nick)) {
        slot->SetName(new_nick);
        PostRenamed(w);
      } else if (name.find(',') != std::string::npos && ReplaceListElement(name, old_nick, new_nick)) {
        slot->SetName(name);
        PostRenamed(w);
      }
    }
  }
  // DCC windows started from this server.
  const int count = table.Count();
  const std::string old_caption = "DCC - " + std::string(old_nick);
  for (int i = 0; i < count; ++i) {
    auto slot = table.Slot(i);
    if (!slot || slot->kind != sessions::kDccWindow || slot->dcc_started_from.load() != c.server) continue;
    const std::string name = slot->Name();
    bool renamed = false;
    if (IEq(name, old_nick)) {
      slot->SetName(new_nick);
      renamed = true;
    } else if (IEq(name, old_caption)) {
      slot->SetName("DCC - " + new_nick);
      renamed = true;
    }
    {
      std::lock_guard lock(slot->mutex);
      if (IEq(slot->dcc_own_nick, old_nick)) slot->dcc_own_nick = new_nick;
      if (IEq(slot->dcc_peer_name, old_nick)) slot->dcc_peer_name = new_nick;
    }
    if (renamed) PostRenamed(i);
  }
}

void OnInvite(Ctx& c) {
  int w = WindowTable::Get().Active();
  if (!WindowTable::Get().Valid(w)) w = c.server;
  Show(w, Format(w, output::kAppearInvite, c.line), c.server, Colours().text);
  c.session->Set(&ServerSession::last_invitation, c.line.parameters.substr(0, kInvitationSize - 1));
}

void OnProp(Ctx& c) {
  const int w = NamedWindow(c.server, c.line.target);
  Show(w, Format(w, output::kAppearProp, c.line), c.server, Colours().ok);
  if (IStartsWith(c.line.parameters, "MEMBERKEY")) SendCommand(c.server, "MODE", c.line.target);
  else if (IStartsWith(c.line.parameters, "TOPIC")) SendCommand(c.server, "TOPIC", c.line.target);
}

void ShowInServer(Ctx& c, int kind, uint32_t colour) {
  Show(c.server, Format(c.server, kind, c.line), c.server, colour);
}

void ShowInTarget(Ctx& c, int kind) {
  const int w = NamedWindow(c.server, c.line.target);
  Show(w, Format(w, kind, c.line), c.server, Colours().error);
}

void OnKnock(Ctx& c) {
  static constexpr struct {
    const char* code;
    const char* form;
  } kReasons[] = {{"471", " (+l)"}, {"473", " (+i)"}, {"474", " (+b)"}, {"475", " (+k)"}};
  std::string reason;
  for (auto& r : kReasons)
    if (c.line.parameters.compare(0, 3, r.code) == 0) reason = c.line.parameters + r.form;
  const int w = ChannelWindow(c.server, c.line.target);
  Show(w, Format(w, output::kAppearKnock, c.line, {}, {}, reason), c.server, Colours().error);
}

// Ignore list, not-talk list and (with "CheckBLMsg") the blacklist. True ends the handling.
bool MessageFilters(Ctx& c) {
  auto& h = GetDispatcherHooks();
  if (h.is_ignored && h.is_ignored(c.server, c.text)) return true;
  if (h.talk_alert) h.talk_alert(c.server, c.text);
  static const int check_black = config::PrefInt("General", "CheckBLMsg", 0);  // read once per run
  if (check_black == 1 && h.blacklist_message) h.blacklist_message(c.server, c.text);
  return false;
}

// A group notice: the marker, the channel it names and the text after it. False for other notices.
bool GroupNotice(Ctx& c) {
  const std::string& p = c.line.parameters;
  std::string channel, rest, tag;
  if (OptInt("General", "PirchNotice", 1) && p.compare(0, 10, "-CHANOPS- ") == 0) {
    // Sent to the channel's operators: the target is the channel, maybe behind a status sign.
    std::string_view t = c.line.target;
    while (!t.empty() && (t.front() == '@' || t.front() == '+' || t.front() == '%' || t.front() == '.')) t.remove_prefix(1);
    channel = t;
    rest = p.substr(10);
    tag = "=CHANOPS=";
  } else if (OptInt("General", "VircNotice", 1) && p.compare(0, 10, "[\x02WallOp\x02:\x02") == 0) {
    const std::size_t close = p.find(']', 10);
    if (close == std::string::npos) return false;
    channel = p.substr(10, close - 10);
    while (!channel.empty() && channel.back() == '\x02') channel.pop_back();
    rest = p.substr(close + 1);
    tag = "=WallOp=";
  } else if (p.compare(0, 13, "VantaIRC wALL") == 0) {
    static constexpr struct {
      const char* form;
      const char* tag;
    } kForms[] = {{"EXO(", "=wALLEXO="}, {"EXV(", "=wALLECV="}, {"O(", "=wALLO="}, {"Q(", "=wALLQ="}, {"V(", "=wALLV="}};
    const std::string_view after = std::string_view(p).substr(13);
    for (auto& f : kForms) {
      const std::string_view form = f.form;
      if (after.substr(0, form.size()) != form) continue;
      const std::string_view inner = after.substr(form.size());
      const std::size_t close = inner.find(')');
      if (close == std::string_view::npos) return false;
      channel = inner.substr(0, close);
      rest = inner.substr(close + 1);
      tag = f.tag;
      break;
    }
    if (tag.empty()) return false;
  } else {
    return false;
  }
  while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  ParsedLine shown = c.line;
  shown.parameters = rest;
  const int w = ChannelWindow(c.server, channel);
  Show(w, Format(w, output::kAppearGroupNotice, shown, {}, {}, {}, tag), c.server, Colours().error);
  return true;
}

void OnNotice(Ctx& c) {
  if (MessageFilters(c)) return;
  const std::string& p = c.line.parameters;
  if (!p.empty() && p[0] == '\x01') {
    const std::size_t end = p.find_first_of(std::string_view("\r\n\x01 \0", 5), 1);
    const std::string keyword = p.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    if (keyword == "PING") {
      if (auto& h = GetDispatcherHooks().ping_reply) h(c.server, c.line);
      return;
    }
    std::string rest = end == std::string::npos ? std::string() : p.substr(end);
    while (!rest.empty() && rest.back() == '\x01') rest.pop_back();
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\x01')) rest.erase(0, 1);
    Show(c.server, config::FormatText("\x02\x12\xb7\x12 CTCP %s REPLY from %s\x02 : %s", {keyword, c.line.nick, rest}),
         c.server, Colours().info);
    return;
  }
  if (OptInt("General", "BeepNotice", 0)) BeepSetting("BeepNoticeFile");
  if (GroupNotice(c)) return;
  const std::string& target = c.line.target;
  std::vector<int> where;
  if (IsChannelName(target)) {
    where.push_back(ChannelWindow(c.server, target));
  } else if (OptInt("Appearance", "NOTICEALL", 1)) {
    where = WindowsOf(c.server);
  } else if (IsChannelName(c.line.nick)) {
    where.push_back(c.server);
  } else {
    const int active = WindowTable::Get().Active();
    where.push_back(WindowTable::Get().OwningServer(active) == c.server ? active : c.server);
  }
  for (int w : where) Show(w, Format(w, output::kAppearNotice, c.line), c.server, Colours().error);
}

// ---- secure messages -------------------------------------------------------------------------------

void SetSecureKey(Ctx& c, int w, std::string_view key) {
  auto slot = WindowTable::Get().Slot(w);
  if (!slot) return;
  {
    std::lock_guard lock(slot->mutex);
    slot->secure_key.assign(key);
  }
  SaveSecureKey(slot->Name(), key);
  slot->secure_message.store(1);
  SendCommand(c.server, "NOTICE", std::string(c.line.nick) + " :" + std::string(kSecureKeyMarker));
  Show(w, config::Msg(178), c.server, Colours().error);
  PostTitleChanged(w);
}

// A key offer (text after the marker) in query window w. Shows nothing of the offer itself.
void ReceiveKeyOffer(Ctx& c, int w, std::string_view after_marker) {
  if (LockingEvent("OnSecureKey", c.line.prefix, w) == 1) return;
  auto slot = WindowTable::Get().Slot(w);
  if (!slot) return;
  if (slot->Name().find(',') != std::string::npos) {
    SendCommand(c.server, "NOTICE", std::string(c.line.nick) + " :\x03-SECUREMSGFAILEDEMULTI-\x03");
    Show(w, config::Msg(177), c.server, Colours().error);
    return;
  }
  // A key is 128 bytes; a shorter offer cannot be used and is dropped.
  if (after_marker.size() < kSecureKeySize) return;
  SetSecureKey(c, w, after_marker.substr(0, kSecureKeySize));
}

// The message text exactly as it came: the parser drops trailing blanks, which are part of a key
// or of the two-character form of cipher output.
std::string_view RawText(const Ctx& c) {
  std::string_view t = c.text;
  for (int i = 0; i < 3; ++i) {  // prefix, command, target
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    const std::size_t sp = t.find(' ');
    t = sp == std::string_view::npos ? std::string_view() : t.substr(sp);
  }
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  if (!t.empty() && t.front() == ':') t.remove_prefix(1);
  return UpToNul(t).substr(0, ParsedLine::kParametersSize - 1);
}

// Handles a message in a query window whose secure flag is set or that carries a key offer.
// Returns true when it was handled here (shown or consumed).
bool SecureMessage(Ctx& c, int w) {
  auto slot = WindowTable::Get().Slot(w);
  if (!slot || slot->kind != sessions::kQueryWindow) return false;
  const std::string_view text = RawText(c);
  if (!slot->secure_message.load()) {
    if (text.compare(0, kSecureKeyMarker.size(), kSecureKeyMarker) != 0) return false;
    ReceiveKeyOffer(c, w, text.substr(kSecureKeyMarker.size()));
    return true;
  }
  std::string key;
  {
    std::lock_guard lock(slot->mutex);
    key = slot->secure_key;
  }
  auto bytes = DecodeSecureBytes(text);
  auto& cipher = GetDispatcherHooks().cipher;
  std::optional<std::string> plain;
  if (bytes && cipher) plain = cipher(key, *bytes, true);
  if (!plain) return false;  // not in the secure form: shown as it came
  if (plain->compare(0, kSecureKeyMarker.size(), kSecureKeyMarker) == 0) {
    ReceiveKeyOffer(c, w, std::string_view(*plain).substr(kSecureKeyMarker.size()));
    return true;
  }
  ParsedLine shown = c.line;
  shown.parameters = UpToNul(*plain);
  Show(w, Format(w, output::kAppearSecureMessage, shown), c.server, Colours().text);
  return true;
}

// ---- private messages ------------------------------------------------------------------------------

int OpenQuery(Ctx& c) {
  auto& table = WindowTable::Get();
  const int before = table.Active();
  uint64_t before_id = 0;
  if (auto s = table.Slot(before)) before_id = s->id;
  sessions::CreateRequest r;
  r.name = c.line.nick;
  r.kind = sessions::kQueryWindow;
  r.owning_server = c.server;
  const int w = table.Create(r);
  if (w < 0 || before_id == 0 || ui::Headless()) return w;
  // Someone typing elsewhere keeps typing there.
  platform::UiLoop::Get().CallSync([before_id] {
    auto& t = WindowTable::Get();
    const int prev = t.FindById(before_id);
    auto s = t.Slot(prev);
    if (!s || t.Active() == prev) return;
    if (ui::Current().InputLineHasText(s->Info(prev))) t.Activate(prev);
  });
  return w;
}

void OnPrivmsg(Ctx& c) {
  if (MessageFilters(c)) return;
  const std::string& p = c.line.parameters;
  const bool to_me = c.IsOwn(c.line.target);
  int w = to_me ? FindOfKind(c.server, c.line.nick, sessions::kQueryWindow) : NamedWindow(c.server, c.line.target);

  if (!p.empty() && p[0] == '\x01') {
    if (p.compare(0, 8, "\x01" "ACTION ") == 0) {
      Show(w, Format(w, output::kAppearAction, c.line), c.server, Colours().ok);
      return;
    }
    std::string text = p.substr(1);
    while (!text.empty() && text.back() == '\x01') text.pop_back();
    const char* form = text.compare(0, 3, "DCC") == 0 ? "\x02\x1f**DCC** %s (%s) %s\x02\x1f" : "\x02\x12\xb7\x12 CTCP %s (%s) %s\x02";
    Show(w, config::FormatText(form, {c.line.nick, c.line.prefix, text}), c.server, Colours().error);
    return;
  }

  if (to_me && w < 0) {
    if (LockingEvent("IncomingPrivates", c.line.raw[0], c.server) == 1) {
      Show(c.server, Format(c.server, output::kAppearMessage, c.line), c.server, Colours().text);
      return;
    }
    if (OptInt("General", "BeepPrivate", 0) && StatusQueryMode() == 0) BeepSetting("BeepPrivateFile");
    w = OpenQuery(c);
  }
  const bool query = WindowTable::Get().Kind(w) == sessions::kQueryWindow;
  if (query && OptInt("General", "BeepInMsg", 0) && StatusQueryMode() == 0) {
    bool foreground = true;
    platform::UiLoop::Get().CallSync([&foreground] { foreground = ui::Current().InForeground(); });
    if (!foreground) BeepSetting("BeepInMsgFile");
  }
  if (query && SecureMessage(c, w)) return;
  if (WindowTable::Get().Kind(w) == sessions::kChannelWindow && ChannelPlainText(w)) {
    Show(w, p, c.server, Colours().text);
    return;
  }
  const int align = WindowTable::Get().Kind(w) == sessions::kChannelWindow ? output::AlignmentCount(c.line.nick, w) : 0;
  Show(w, Format(w, output::kAppearMessage, c.line, {}, {}, {}, {}, align), c.server, Colours().text);
}

void OnOther(Ctx& c) {
  const int w = NamedWindow(c.server, c.line.target);
  Show(w, config::FormatText("<%s> [%s] %s %s", {c.line.nick, c.line.prefix, c.line.command, c.line.parameters}),
       c.server, Colours().ok);
}

using Handler = void (*)(Ctx&);
struct Command {
  const char* word;
  Handler handler;
};

void OnSilence(Ctx& c) { ShowInServer(c, output::kAppearSilence, Colours().ok); }
void OnWallops(Ctx& c) { ShowInServer(c, output::kAppearWallops, Colours().ok); }
void OnWhisper(Ctx& c) { ShowInTarget(c, output::kAppearWhisper); }
void OnData(Ctx& c) { ShowInTarget(c, output::kAppearData); }
void OnRequest(Ctx& c) { ShowInTarget(c, output::kAppearRequest); }
void OnReply(Ctx& c) { ShowInTarget(c, output::kAppearReply); }

// In the order they are tried.
constexpr Command kCommands[] = {
    {"JOIN", OnJoin},       {"MODE", OnMode},       {"PART", OnPart},       {"TOPIC", OnTopic},
    {"KICK", OnKick},       {"QUIT", OnQuit},       {"NOTICE", OnNotice},   {"NICK", OnNick},
    {"INVITE", OnInvite},   {"PROP", OnProp},       {"SILENCE", OnSilence}, {"WALLOPS", OnWallops},
    {"KILL", OnKill},       {"WHISPER", OnWhisper}, {"DATA", OnData},       {"REQUEST", OnRequest},
    {"REPLY", OnReply},     {"KNOCK", OnKnock},     {"PRIVMSG", OnPrivmsg},
};

// A handler's mask "* WORD *" needs the word as the second token and a space after it.
bool HasThirdPart(std::string_view text) {
  std::size_t i = text.find(' ');
  if (i == std::string_view::npos) return false;
  while (i < text.size() && text[i] == ' ') ++i;
  return text.find(' ', i) != std::string_view::npos;
}

void CommandPath(Ctx& c) {
  if (HasThirdPart(c.text)) {
    for (const auto& cmd : kCommands) {
      if (IEq(c.line.command, cmd.word)) {
        cmd.handler(c);
        return;
      }
    }
  }
  OnOther(c);
}

// ---- prefix-less lines -----------------------------------------------------------------------------

void PrefixLess(int server, std::string_view text) {
  const std::string_view first = FirstWord(text);
  const bool has_more = first.size() < text.size();
  const std::string_view after = has_more ? text.substr(first.size() + 1) : std::string_view();
  const std::string_view second = FirstWord(AfterFirstWord(text));
  auto is = [&](std::string_view word) { return has_more && IEq(first, word); };
  if (is("PING")) {
    std::string pong = "PONG " + sessions::CleanProtocolText(after) + "\r\n";
    Send(server, pong);
    if (!OptInt("Appearance", "HidePP", 1))
      Show(server, "\x02\x12\xb7\x12 PING - PONG \x12\xb7\x12\x02", server, Colours().ok);
  } else if (is("ERROR")) {
    if (OptInt("General", "DisconnectDestroy", 0)) {
      std::string title = config::Msg(157), body(text);
      platform::UiLoop::Get().Post([title, body] { ui::Current().MessageBox(title, body); });
    } else {
      Show(server, text, server, Colours().error);
    }
  } else if (is("REDIRECT")) {
    Show(server, text, server, Colours().error);
    const std::string msg = config::Msg(158);
    for (int w : WindowsOf(server)) Show(w, msg, server, Colours().error);
  } else if (is("CREATE")) {
    Show(server, text, server, Colours().error);
    if (!second.empty() && ChannelWindow(server, second) < 0) {
      sessions::CreateRequest r;
      r.name = second;
      r.kind = sessions::kChannelWindow;
      r.joined = true;
      r.owning_server = server;
      WindowTable::Get().Create(r);
    }
  } else if (is("CLONE")) {
    Show(server, text, server, Colours().error);
    if (!second.empty() && OptInt("General", "CloneJoin", 1)) SendCommand(server, "JOIN", second);
  } else {
    Show(server, text, server, Colours().info);
  }
}

void ShowRaw(int server, std::string_view line) {
  Show(server, StripLineEnd(UpToNul(line)), server, Colours().text);
}

}  // namespace

DispatcherHooks& GetDispatcherHooks() {
  static DispatcherHooks hooks;
  return hooks;
}

bool Dispatch(int server, std::string_view line) {
  auto& table = WindowTable::Get();
  std::shared_ptr<ServerSession> session = table.Session(server);
  if (!session) return false;
  auto& hooks = GetDispatcherHooks();
  // One record per connection thread, reused line after line.
  thread_local ParsedLine parsed;
  ParseLine(line, &parsed);

  if (hooks.feed_address_book) hooks.feed_address_book(server, line);
  const int raw_mode = config::PrefInt("Appearance", "RAWSERVER", 0);
  if (raw_mode == 4) ShowRaw(server, line);
  if (hooks.plugins && hooks.plugins(server, line)) return true;
  if (!table.Valid(server)) return true;
  if (RegistrationStage(server, parsed)) return true;
  if (hooks.ctcp && hooks.ctcp(server, line)) return true;
  if (hooks.events && hooks.events(server, std::string(line))) return true;
  if (!table.Valid(server)) return true;

  session->numeric_pending.store(session->show_numerics.load());
  if (raw_mode == 3) ShowRaw(server, line);
  const std::string_view text = StripLineEnd(UpToNul(line));
  // The early stages may have changed the record; the handlers work on a fresh parse.
  if (!ParseLine(line, &parsed)) {
    PrefixLess(server, text);
    return true;
  }
  if (parsed.kind == ParsedLine::kNumeric) {
    HandleNumeric(server, parsed);
    return true;
  }
  // Some servers send a lone channel argument as a trailing one (":nick PART :#chan").
  if (!parsed.target.empty() && parsed.target[0] == ':') parsed.target.erase(0, 1);
  Ctx c{server, session, parsed, text, session->Get(&ServerSession::nick)};
  CommandPath(c);
  return true;
}

void InstallDispatcher() {
  InstallChannelViewAccess();
  sessions::GetHooks().dispatch_line = [](int server_window, std::string_view line) { Dispatch(server_window, line); };
}

// ---- secure message helpers ------------------------------------------------------------------------

std::string EncodeSecureBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char b : bytes) {
    switch (b) {
      case '\0': out += "!!"; break;
      case '\r': out += "\"\""; break;
      case '\n': out += "##"; break;
      case '\x01': out += "$$"; break;
      default:
        out += '%';
        out += b;
    }
  }
  return out;
}

std::optional<std::string> DecodeSecureBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const char a = text[i], b = text[i + 1];
    if (a == '%') out += b;
    else if (a == '!' && b == '!') out += '\0';
    else if (a == '"' && b == '"') out += '\r';
    else if (a == '#' && b == '#') out += '\n';
    else if (a == '$' && b == '$') out += '\x01';
    else return std::nullopt;
  }
  return out;
}

std::optional<std::string> EncryptSecureMessage(std::string_view key, std::string_view text) {
  auto& cipher = GetDispatcherHooks().cipher;
  if (!cipher) return std::nullopt;
  auto bytes = cipher(key, text, false);
  if (!bytes) return std::nullopt;
  return EncodeSecureBytes(*bytes);
}

std::string SaveSecureKey(std::string_view window_name, std::string_view key) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char when[32];
  std::snprintf(when, sizeof when, "-%02d-%02d-%02d.KEY", local.tm_hour, local.tm_min, local.tm_sec);
  const std::string dir = platform::ResolvePath("DYN");
  if (!platform::EnsureDir(dir)) return "";
  const std::string path = platform::SafeJoin(dir, platform::WindowFileName(window_name) + when);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "";
  std::size_t done = 0;
  bool ok = true;
  while (done < key.size()) {
    const ssize_t n = ::write(fd, key.data() + done, key.size() - done);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok ? path : "";
}

}  // namespace vanta::dispatch
