#include "commands/run_command.h"

#include <array>
#include <charconv>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_text.h"
#include "commands/execute_line.h"
#include "commands/outgoing.h"
#include "commands/pending_pings.h"
#include "config/file_set.h"
#include "config/format.h"
#include "config/options.h"
#include "dispatch/masks.h"
#include "dispatch/parsed_line.h"
#include "output/appearance.h"
#include "output/show_text.h"
#include "platform/ini.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/send_queue.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::commands {

using sessions::ServerSession;
using sessions::WindowTable;

namespace {

// What a command runs with: the decoded line (ending in CR LF), the server window `a`, the context
// window `W` and the command word it matched.
struct Context {
  std::string line;
  int a = -1;
  int w = -1;
  std::string_view word;

  WindowTable& table() const { return WindowTable::Get(); }
  bool in_dcc() const { return table().Kind(w) == sessions::kDccWindow; }
  // The echo goes to W when it belongs to server window a, else to a.
  int echo() const { return table().Valid(w) && table().OwningServer(w) == a ? w : a; }
  std::string token(int n) const { return TokenAt(line, n); }
  std::string rest(int n) const { return RestFrom(line, n); }
  std::shared_ptr<ServerSession> session() const {
    return table().Kind(a) == sessions::kServerWindow ? table().Session(a) : nullptr;
  }
};

void ShowInfo(const Context& c, std::string_view text) { Report(c.echo(), c.a, text, output::Colours().info); }
void ShowError(const Context& c, std::string_view text) { Report(c.echo(), c.a, text, output::Colours().error); }
void Usage(const Context& c, std::string_view usage) { ShowError(c, config::Msg(1153, {usage})); }

void UiCommand(std::string_view command, int window) {
  if (auto& h = GetCommandHooks().ui_command) h(command, window);
}

std::vector<std::string> Members(int channel) {
  if (auto& h = GetCommandHooks().channel_members) return h(channel);
  return {};
}

// A nick-list entry without its status prefix, and the member's level: owner 4, operator 3,
// voice 2, anyone else 1.
std::string_view BareNick(std::string_view entry) {
  while (!entry.empty() && (entry[0] == '.' || entry[0] == '@' || entry[0] == '%' || entry[0] == '+'))
    entry.remove_prefix(1);
  return entry;
}
int MemberLevel(std::string_view entry) {
  if (entry.empty()) return 1;
  switch (entry[0]) {
    case '.': return 4;
    case '@': return 3;
    case '+': return 2;
    default: return 1;
  }
}

// An open window of the given kind and name on server window a, else -1.
int OpenWindow(const Context& c, std::string_view name, int kind) {
  if (name.empty()) return -1;
  const int n = c.table().FindByName(name, c.a);
  return c.table().Kind(n) == kind && c.table().OwningServer(n) == c.a ? n : -1;
}

// Port text: a decimal number from 1 to 65535, else 0.
uint16_t ParsePort(std::string_view text) {
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) return 0;
  return static_cast<uint16_t>(value);
}

// The message echo of "/msg ", "/notice " and the CTCP commands: a label between two markers.
std::string LabelEcho(std::string_view label, std::string_view target, std::string_view text) {
  std::string out = "\x12\xB7\x12";
  out += label;
  out += "\x12\xAE\x12";
  out += target;
  out += ' ';
  out += text;
  out += "\r\n";
  return out;
}

// ---- commands ---------------------------------------------------------------------------------

int CmdPart(Context& c) {
  if (c.table().Valid(c.w)) c.table().Close(c.w, true);
  return 1;
}

int CmdAddOff(Context&) {
  output::SetOutputSuppressed(true);
  return 1;
}
int CmdAddOn(Context&) {
  output::SetOutputSuppressed(false);
  return 1;
}

int CmdMsgTarget(Context& c) {
  if (c.table().Kind(c.w) == sessions::kChannelWindow) UiCommand("msgtarget", c.w);
  return 1;
}

int CmdNames(Context& c) {
  auto slot = c.table().Slot(c.w);
  if (slot && slot->kind == sessions::kChannelWindow)
    ExecuteLine("/names " + slot->Name() + "\r\n", c.a, -1, false, false);
  return 1;
}

int CmdConnect(Context&) {
  UiCommand("connect", -1);
  return 1;
}

int CmdDisconnect(Context& c) {
  const int active = c.table().Active();
  if (!c.table().Valid(active)) return 0;
  const int server = c.table().OwningServer(active);
  if (c.table().Kind(server) == sessions::kServerWindow) sessions::Disconnect(server);
  return 1;
}

int CmdReconnect(Context& c) {
  if (c.in_dcc()) return 0;
  const std::string host = c.token(1), port_text = c.token(2);
  uint16_t port = 0;
  if (!port_text.empty() && (port = ParsePort(port_text)) == 0) {
    ShowError(c, config::Msg(1151, {port_text}));
    return 1;
  }
  sessions::StartConnection(c.a, host, port);
  return 1;
}

int CmdTarget(Context& c) {
  const int channel = OpenWindow(c, c.token(1), sessions::kChannelWindow);
  if (channel < 0) return 0;
  const std::string change = c.rest(2);
  std::string list = MessageTargets(channel);
  if (change.empty()) {
    list.clear();
  } else if (change == "*") {
    list.clear();
    for (const std::string& entry : Members(channel)) {
      if (!list.empty()) list += ',';
      list += BareNick(entry);
    }
  } else if (change[0] == '+' && change.size() > 1) {
    if (!list.empty()) list += ',';
    list += change.substr(1);
  } else if (change[0] == '-' && change.size() > 1) {
    const std::string nick = change.substr(1);
    std::string kept;
    std::size_t pos = 0;
    while (pos <= list.size()) {
      const std::size_t comma = std::min(list.find(',', pos), list.size());
      const std::string_view item = std::string_view(list).substr(pos, comma - pos);
      if (!item.empty() && !EqualNoCase(item, nick)) {
        if (!kept.empty()) kept += ',';
        kept += item;
      }
      pos = comma + 1;
    }
    list = kept;
  }
  SetMessageTargets(channel, list);
  return 1;
}

int CmdCtcp(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string target = c.token(1);
  if (target.empty()) return 1;
  const std::string command = c.token(2);
  if (command.empty()) return 0;
  const std::string args = c.rest(3);
  std::string body = "PRIVMSG " + target + " :\x01" + command;
  if (!args.empty()) body += " " + args;
  body += "\x01";
  if (!SendLine(c.a, body, c.echo())) return 1;
  if (EqualNoCase(command, "PING")) RecordPendingPing(c.session(), target);
  ShowInfo(c, LabelEcho(" CTCP ", target, command + " " + args));
  return 1;
}

int CmdCtcpReply(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string target = c.token(1), command = c.token(2);
  if (command.empty()) return 0;
  const std::string args = c.rest(3);
  if (!SendLine(c.a, "NOTICE " + target + " :\x01" + command + " " + args + "\x01", c.echo())) return 1;
  ShowInfo(c, LabelEcho(" CTCPREPLY ", target, command + " " + args));
  return 1;
}

// "/msg ", "/notice ", "/mme ": a target and a text; long texts become several lines.
int SendToTarget(Context& c, std::string_view verb, std::string_view label, std::string_view pre,
                 std::string_view post) {
  if (c.in_dcc()) return 1;
  const std::string target = c.token(1);
  if (target.empty()) {
    Usage(c, std::string(StripLineEnd(c.word)) + " <nick or channel> <text>");
    return 1;
  }
  const std::string text = c.rest(2);
  if (!SendSplit(c.a, std::string(verb) + " " + target + " :" + std::string(pre), text, post, c.echo())) return 1;
  ShowInfo(c, LabelEcho(label, target, text));
  return 1;
}
int CmdMsg(Context& c) { return SendToTarget(c, "PRIVMSG", " MSG ", "", ""); }
int CmdNotice(Context& c) { return SendToTarget(c, "NOTICE", " NOTICE ", "", ""); }
int CmdMme(Context& c) { return SendToTarget(c, "PRIVMSG", " ME ", "\x01" "ACTION ", "\x01"); }

int CmdTopic(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string channel = c.token(1);
  if (channel.empty()) {
    Usage(c, "/topic <channel> [topic]");
    return 1;
  }
  SendLine(c.a, "TOPIC " + channel + " :" + c.rest(2), c.echo());
  return 1;
}

int CmdKick(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string channel = c.token(1), nick = c.token(2);
  if (channel.empty() || nick.empty()) {
    Usage(c, "/kick <channel> <nick> [reason]");
    return 1;
  }
  SendLine(c.a, "KICK " + channel + " " + nick + " :" + c.rest(3), c.echo());
  return 1;
}

int CmdMe(Context& c) {
  auto slot = c.table().Slot(c.w);
  if (!slot || !c.table().Valid(c.w)) return 0;
  const std::string text = c.rest(1);
  const std::string action = "\x01" "ACTION " + text + "\x01";
  std::string own;
  if (slot->kind == sessions::kDccWindow) {
    {
      std::lock_guard lock(slot->mutex);
      own = slot->dcc_own_nick;
    }
    if (own.empty()) own = "-Me-";
    SendDccText(c.w, action);
  } else {
    own = OwnNickOf(c.a);
    if (!SendSplit(c.a, "PRIVMSG " + slot->Name() + " :\x01" "ACTION ", text, "\x01", c.w)) return 1;
  }
  dispatch::ParsedLine rec;
  rec.kind = dispatch::ParsedLine::kCommand;
  rec.command = "PRIVMSG";
  rec.prefix = own;
  rec.nick = own;
  rec.target = slot->Name();
  rec.parameters = "\x01" "ACTION " + text;
  std::string out;
  output::FormatAppearance(c.w, output::kAppearAction, out, rec);
  output::ShowText(c.w, out, c.a, output::Colours().ok);
  return 1;
}

int CmdSound(Context& c) {
  const std::string target = c.token(1), file_typed = c.token(2);
  if (target.empty() || file_typed.empty()) {
    Usage(c, "/sound <nick or channel> <file> [text]");
    return 1;
  }
  const std::string text = c.rest(3);
  const bool no_local = file_typed[0] == '*';
  const std::string file = (file_typed[0] == '*' || file_typed[0] == '?') ? file_typed.substr(1) : file_typed;
  const std::string request = "\x01" "SOUND " + file + " " + text + "\x01";
  std::string own;
  if (c.in_dcc()) {
    auto slot = c.table().Slot(c.w);
    if (!slot) return 1;
    {
      std::lock_guard lock(slot->mutex);
      own = slot->dcc_own_nick;
    }
    if (own.empty()) own = "-Me-";
    SendDccText(c.w, request);
  } else {
    own = OwnNickOf(c.a);
    if (!SendLine(c.a, "PRIVMSG " + target + " :" + request, c.echo())) return 1;
  }
  if (!no_local)
    if (auto& play = sessions::GetHooks().play_sound) play(file);
  int window = c.in_dcc() ? c.w : c.table().FindByName(target, c.a);
  if (!c.in_dcc() && c.table().OwningServer(window) != c.a) window = c.a;
  const std::string echo = "\x02**sound** " + own + " \x02(" + file + ") " + text + "\x02 - go to \x18/soundmanager\r\n";
  Report(window, c.a, echo, output::Colours().ok);
  return 1;
}

int CmdReset(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string channel = c.token(1);
  const int window = OpenWindow(c, channel, sessions::kChannelWindow);
  if (window < 0) return 1;
  std::string text = "MODE " + channel + " +b *!*@*\r\n";
  auto session = c.session();
  if (session && session->ircx.load()) {
    text += "ACCESS " + channel + " CLEAR\r\n";
    text += "ACCESS " + channel + " ADD DENY *!*@* 5 :Channel Reset\r\n";
    text += "PROP " + channel + " MEMBERKEY :\r\n";
    text += "PROP " + channel + " HOSTKEY :\r\n";
    text += "PROP " + channel + " OWNERKEY :" + std::string(kProductName) + "\r\n";
  }
  const std::string own = OwnNickOf(c.a);
  for (const std::string& entry : Members(window)) {
    const std::string_view nick = BareNick(entry);
    if (nick.empty() || EqualNoCase(nick, own)) continue;
    text += "KICK " + channel + " " + std::string(nick) + " :Channel Reset\r\n";
  }
  // Every part is a single word from the channel or its nick list: one write, no breaks inside.
  std::string clean;
  for (const std::string& l : SplitInput(text)) clean += ProtocolLine(StripLineEnd(l));
  SendLines(c.a, clean, window);
  return 1;
}

// The wall notices: who gets one, by level.
struct WallKind {
  std::string_view word;
  std::string_view tag;     // the echo's notice tag
  int level;                // lowest level that gets the notice (0: nobody)
  bool exact;               // only that level
  bool chanops;             // "-CHANOPS- channel:text" form
};
constexpr std::array<WallKind, 7> kWalls{{
    {"/wallv ", "=wALLV=", 2, false, false},
    {"/wallo ", "=wALLO=", 3, false, false},
    {"/wallq ", "=wALLQ=", 4, false, false},
    {"/wallexo ", "=wALLEXO=", 3, true, false},
    {"/wallexv ", "=wALLECV=", 2, true, false},
    {"/opnotice ", "=CHANOPS=", 0, false, true},
    {"/pops ", "=CHANOPS=", 3, false, true},
}};

int CmdWall(Context& c) {
  if (c.in_dcc()) return 1;
  const WallKind* kind = nullptr;
  for (const auto& k : kWalls)
    if (k.word == c.word) kind = &k;
  if (!kind) return 1;
  const std::string channel = c.token(1);
  const int window = OpenWindow(c, channel, sessions::kChannelWindow);
  if (window < 0) return 1;
  const std::string text = c.rest(2);
  std::string notice;
  if (kind->chanops) {
    notice = "-CHANOPS- " + channel + ":" + text;
  } else {
    // "/wallexo " -> "wALLEXO"
    std::string label(StripLineEnd(kind->word).substr(5));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    for (char& ch : label) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    notice = std::string(kProductName) + " wALL" + label + "(" + channel + ") : " + text;
  }
  // The echo shows the notice the way a received group notice is shown: tag and message.
  dispatch::ParsedLine rec;
  rec.kind = dispatch::ParsedLine::kCommand;
  rec.command = "NOTICE";
  rec.prefix = rec.nick = OwnNickOf(c.a);
  rec.target = channel;
  rec.parameters = text;
  std::string out;
  output::FormatAppearance(window, output::kAppearWallEcho, out, rec, {}, {}, {}, kind->tag);
  output::ShowText(window, out, c.a, output::Colours().info);

  if (kind->level == 0) return 1;
  const std::string own = OwnNickOf(c.a);
  bool any = false;
  for (const std::string& entry : Members(window)) {
    const std::string_view nick = BareNick(entry);
    if (nick.empty() || EqualNoCase(nick, own)) continue;
    const int level = MemberLevel(entry);
    const bool qualifies = kind->exact ? level == kind->level : level >= kind->level;
    if (!qualifies) {
      if (any) break;  // the list is ordered by level: nobody after this one qualifies
      continue;
    }
    any = true;
    SendSplit(c.a, "NOTICE " + std::string(nick) + " :" + notice.substr(0, notice.size() - text.size()), text, "",
              window);
  }
  return 1;
}

int CmdQuery(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string nick = c.token(1);
  if (nick.empty()) {
    Usage(c, std::string(StripLineEnd(c.word)) + " <nick> [text]");
    return 1;
  }
  const bool fixed = c.word == "/fquery ";
  int window = c.table().FindByName(nick, c.a);
  if (window < 0 || c.table().OwningServer(window) != c.a) {
    sessions::CreateRequest req;
    req.name = nick;
    req.kind = sessions::kQueryWindow;
    req.owning_server = c.a;
    req.alternate_font = fixed;
    window = c.table().Create(req);
    if (window < 0) return 1;
  }
  ActivateOnUi(window);
  UiCommand("focus-input", window);
  if (!fixed) {
    const std::string text = c.rest(2);
    if (!text.empty()) ExecuteLine("/display " + nick + " " + text + "\r\n", c.a, window, false, false);
  }
  return 1;
}

int CmdMquery(Context& c) {
  if (c.in_dcc()) return 1;
  const int window = OpenWindow(c, c.token(1), sessions::kQueryWindow);
  std::string change = c.token(2);
  if (window < 0 || change.empty()) return 1;
  auto slot = c.table().Slot(window);
  std::string name = slot->Name();
  const bool remove = change[0] == '-';
  if (change[0] == '+' || change[0] == '-') change.erase(0, 1);
  if (change.empty()) return 1;
  auto in_list = [&](std::string_view list) {
    std::size_t pos = 0;
    while (pos <= list.size()) {
      const std::size_t comma = std::min(list.find(',', pos), list.size());
      if (EqualNoCase(list.substr(pos, comma - pos), change)) return true;
      pos = comma + 1;
    }
    return false;
  };
  if (!remove) {
    for (int n = 0; n < c.table().Count(); ++n) {
      auto s = c.table().Slot(n);
      if (s && s->kind != sessions::kServerWindow && in_list(s->Name())) return 1;
    }
    name += "," + change;
  } else {
    if (name.find(',') == std::string::npos || !in_list(name)) return 1;
    std::string kept;
    std::size_t pos = 0;
    while (pos <= name.size()) {
      const std::size_t comma = std::min(name.find(',', pos), name.size());
      const std::string_view item = std::string_view(name).substr(pos, comma - pos);
      if (!item.empty() && !EqualNoCase(item, change)) {
        if (!kept.empty()) kept += ',';
        kept += item;
      }
      pos = comma + 1;
    }
    name = kept;
  }
  slot->SetName(name);
  platform::UiLoop::Get().CallSync([slot, window] {
    ui::WindowInfo info = slot->Info(window);
    ui::Current().RenameWindow(info);
    ui::Current().WindowListChanged();
  });
  return 1;
}

int CmdJoin(Context& c) {
  if (c.in_dcc()) return 0;
  std::string channels = c.rest(1);
  if (channels.empty()) {
    auto answer = AskTextOnUi(config::Msg(105), config::Msg(106), "", false);
    if (!answer) return 1;
    channels = std::string(StripLineEnd(*answer));
    if (channels.empty()) return 1;
  }
  const std::string body = "JOIN " + channels;
  if (ProtocolLine(body).size() - 2 <= kMaxProtocolLine || channels.find(' ') != std::string::npos) {
    SendLine(c.a, body, c.echo());
    return 1;
  }
  // A long channel list without keys becomes several JOIN lines, cut at commas.
  std::string lines, current;
  std::size_t pos = 0;
  while (pos <= channels.size()) {
    const std::size_t comma = std::min(channels.find(',', pos), channels.size());
    const std::string item = channels.substr(pos, comma - pos);
    pos = comma + 1;
    if (item.empty()) continue;
    if (5 + item.size() > kMaxProtocolLine) {
      Report(c.echo(), c.a, config::Msg(1150, {static_cast<unsigned>(5 + item.size()),
                                               static_cast<unsigned>(kMaxProtocolLine)}),
             output::Colours().error);
      continue;
    }
    if (!current.empty() && 5 + current.size() + 1 + item.size() > kMaxProtocolLine) {
      lines += ProtocolLine("JOIN " + current);
      current.clear();
    }
    if (!current.empty()) current += ',';
    current += item;
  }
  if (!current.empty()) lines += ProtocolLine("JOIN " + current);
  if (!lines.empty()) SendLines(c.a, lines, c.echo());
  return 1;
}

int CmdQuit(Context& c) {
  if (c.in_dcc()) return 0;
  std::string message = c.rest(1);
  if (message.empty()) {
    auto answer = AskTextOnUi(config::Msg(107), config::Msg(108), config::OptionText("General", "QuitMsg"), false);
    if (!answer) return 1;
    message = std::string(StripLineEnd(*answer));
  }
  if (auto s = c.session()) s->reconnect.store(0);
  // A quit message too long for one line is cut rather than refused: the user is leaving.
  std::string body = "QUIT :" + message;
  if (body.size() > kMaxProtocolLine) {
    auto pieces = SplitToFit("QUIT :", sessions::CleanProtocolText(message), "");
    body = "QUIT :" + (pieces.empty() ? std::string() : pieces.front());
  }
  SendLine(c.a, body, c.echo());
  return 1;
}

int CmdWhois(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string nick = c.token(1);
  if (nick.empty()) {
    Usage(c, "/whois <nick>");
    return 1;
  }
  if (config::OptionInt("Appearance", "FormatWhois", 0) != 0) UiCommand("whois " + nick, c.w);
  else SendLine(c.a, "WHOIS " + nick, c.echo());
  return 1;
}

int CmdWho(Context& c) {
  if (!c.in_dcc()) UiCommand("who", c.w);
  return 1;
}

int CmdAway(Context& c) {
  if (c.in_dcc()) return 1;
  if (SendLine(c.a, "AWAY :" + c.rest(1), c.echo()))
    if (auto s = c.session()) s->away.store(1);
  return 1;
}

int CmdRaw(Context& c) {
  if (c.in_dcc()) return 1;
  const std::string text = c.rest(1);
  if (!text.empty()) SendLine(c.a, text, c.echo());
  return 1;
}

// "/server " host [port [nick [e-mail [password [full name]]]]], or "/server irc://host[:port][/channel]".
int CmdServer(Context& c) {
  std::string host, port_text = "6667", nick, email, password, name;
  std::string first = c.token(1);
  std::string_view url = first;
  if (!url.empty() && url[0] == '"') url.remove_prefix(1);
  if (StartsWithNoCase(url, "irc://")) {
    url.remove_prefix(6);
    std::string_view channel;
    const std::size_t slash = url.find('/');
    if (slash != std::string_view::npos) {
      channel = url.substr(slash + 1);
      url = url.substr(0, slash);
    }
    while (!channel.empty() && (channel.back() == '/' || channel.back() == '"')) channel.remove_suffix(1);
    while (!url.empty() && url.back() == '"') url.remove_suffix(1);
    if (!url.empty() && url[0] == '[' && url.find(']') != std::string_view::npos) {
      const std::size_t close = url.find(']');
      host = std::string(url.substr(1, close - 1));
      if (close + 1 < url.size() && url[close + 1] == ':') port_text = std::string(url.substr(close + 2));
    } else if (const std::size_t colon = url.find(':'); colon != std::string_view::npos) {
      host = std::string(url.substr(0, colon));
      port_text = std::string(url.substr(colon + 1));
    } else {
      host = std::string(url);
    }
    if (!channel.empty()) {
      std::string chan(channel);
      if (chan[0] != '#' && chan[0] != '&') chan.insert(0, "#");
      platform::ini::WriteString(config::PrefIni(), "General", "TempStartupChannel", chan);
    }
  } else {
    // "host:port" in the first word (a dotted name or address, or a bracketed IPv6 address).
    if (!first.empty() && first[0] == '[' && first.find("]:") != std::string::npos) {
      const std::size_t close = first.find("]:");
      c.line.replace(c.line.find(first), first.size(), first.substr(1, close - 1) + " " + first.substr(close + 2));
    } else if (first.find('.') != std::string::npos && first.find(':') != std::string::npos) {
      c.line[c.line.find(first) + first.find(':')] = ' ';
    }
    host = c.token(1);
    if (!c.token(2).empty()) port_text = c.token(2);
    nick = c.token(3);
    email = c.token(4);
    password = c.token(5);
    name = c.rest(6);
  }
  if (host.empty()) {
    Usage(c, "/server <host> [port] [nick] [e-mail] [password] [full name]");
    return 1;
  }
  if (port_text.empty()) port_text = "6667";
  const uint16_t port = ParsePort(port_text);
  if (port == 0) {
    ShowError(c, config::Msg(1151, {port_text}));
    return 1;
  }
  auto session = c.session();
  auto pick = [&](std::string& value, std::string ServerSession::*field, std::string_view key, std::string_view def) {
    if (!value.empty() && value != "*") return;
    if (session) value = session->Get(field);
    else value = platform::ini::ReadString(config::PrefIni(), "General", key, def);
  };
  pick(nick, &ServerSession::nick, "DefaultNick", "MyNick");
  pick(email, &ServerSession::email, "DefaultMail", "user@example.invalid");
  if (password == "*") password.clear();
  if (password.empty() && session) password = session->Get(&ServerSession::password);
  pick(name, &ServerSession::full_name, "DefaultName", "VantaIRC User");
  if (nick.empty()) {
    ShowError(c, config::Msg(16));
    return 1;
  }
  if (email.find('@') == std::string::npos) {
    ShowError(c, config::Msg(15));
    return 1;
  }
  auto fresh = sessions::MakeSession(host, port, sessions::CleanProtocolText(nick), sessions::CleanProtocolText(email),
                                     sessions::CleanProtocolText(name), sessions::CleanProtocolText(password));
  sessions::CreateRequest req;
  req.name = host;
  req.kind = sessions::kServerWindow;
  req.session = fresh;
  const int n = c.table().Create(req);
  if (n >= 0) sessions::StartConnection(n, "", 0);
  return 1;
}

// How deep "/display " lines may run further "/display " lines: each level runs its text in every
// selected window, so unbounded nesting would multiply without end.
constexpr int kMaxDisplayNesting = 4;
thread_local int t_display_nesting = 0;

// "/display ", "/say ": run the text in each selected window of server a, made active for it.
int CmdDisplay(Context& c) {
  if (!c.table().Valid(c.a) || t_display_nesting >= kMaxDisplayNesting) return 1;
  struct Nesting {
    Nesting() { ++t_display_nesting; }
    ~Nesting() { --t_display_nesting; }
  } nesting;
  std::string selector = c.token(1);
  const std::string text = c.rest(2);
  if (selector.empty()) return 1;
  if (selector.size() > 1 && selector.back() == '~') selector.pop_back();
  std::vector<uint64_t> chosen;
  if (selector == "!") {
    if (auto s = c.table().Slot(c.w)) chosen.push_back(s->id);
  } else {
    for (int n = 0; n < c.table().Count(); ++n) {
      auto s = c.table().Slot(n);
      if (!s || c.table().OwningServer(n) != c.a) continue;
      bool take = false;
      if (selector == "*") take = s->kind != sessions::kServerWindow;
      else if (selector == "#") take = s->kind == sessions::kChannelWindow;
      else if (selector == "&") take = s->kind == sessions::kQueryWindow;
      else take = dispatch::MaskTest(s->Name(), selector, false);
      if (take) chosen.push_back(s->id);
    }
  }
  const auto previous = c.table().Slot(c.table().Active());
  const uint64_t previous_id = previous ? previous->id : 0;
  for (uint64_t id : chosen) {
    const int n = c.table().FindById(id);
    if (n < 0) continue;
    std::string line = text;
    const auto slot = c.table().Slot(n);
    const std::string name = slot ? slot->Name() : std::string();
    for (std::size_t p = line.find("%s"); p != std::string::npos; p = line.find("%s", p + name.size()))
      line.replace(p, 2, name);
    ActivateOnUi(n);
    ExecuteLine(line + "\r\n", c.a, -1, false, false);
  }
  if (previous_id != 0) {
    const int back = c.table().FindById(previous_id);
    if (back >= 0) ActivateOnUi(back);
  }
  return 1;
}

// Commands of subsystems the interpreter hands on.
int CmdElsewhere(Context& c) {
  if (auto& more = GetCommandHooks().more_commands) return more(c.word, c.line, c.a);
  return 0;
}

// ---- the order of tests ---------------------------------------------------------------------------

enum class Match : uint8_t {
  kPrefix,   // the line starts with the text (a longer word matches too)
  kNoSpace,  // as kPrefix, but not when a space follows the text
  kList,     // "/list": not "/list " and not "/listx"
};

struct Entry {
  std::string_view word;
  Match match;
  int (*run)(Context&);
};

constexpr Match P = Match::kPrefix;
constexpr Match N = Match::kNoSpace;

const std::vector<Entry>& Order() {
  static const std::vector<Entry> order = {
      {"// ", P, CmdElsewhere}, {"/eval ", P, CmdElsewhere},
      {"/part\r\n", P, CmdPart}, {"/leave\r\n", P, CmdPart},
      {"/addoff\r\n", P, CmdAddOff}, {"/addon\r\n", P, CmdAddOn}, {"/clearall", P, CmdElsewhere},
      {"/clear", P, CmdElsewhere}, {"/close", P, CmdElsewhere}, {"/destroystaticvariable ", P, CmdElsewhere},
      {"/timer", P, CmdElsewhere}, {"/firescript ", P, CmdElsewhere}, {"/sendkey", P, CmdElsewhere},
      {"/hidetoicon", P, CmdElsewhere}, {"/nickmode", P, CmdElsewhere}, {"/list", Match::kList, CmdElsewhere},
      {"/lastchannels", P, CmdElsewhere}, {"/control", P, CmdElsewhere}, {"/banlist", P, CmdElsewhere},
      {"/prop", N, CmdElsewhere},
      {"/msgtarget", P, CmdMsgTarget}, {"/names", N, CmdNames},
      {"/connect", P, CmdConnect}, {"/disconnect", P, CmdDisconnect}, {"/reconnect", P, CmdReconnect},
      {"/soundmanager", P, CmdElsewhere}, {"/blockedfiles", P, CmdElsewhere}, {"/aliaseditor", P, CmdElsewhere},
      {"/eventeditor", P, CmdElsewhere}, {"/speventeditor", P, CmdElsewhere}, {"/alarmeditor", P, CmdElsewhere},
      {"/addressbook", P, CmdElsewhere}, {"/ipconfig", P, CmdElsewhere}, {"/font", P, CmdElsewhere},
      {"/ffont", P, CmdElsewhere}, {"/lbfont", P, CmdElsewhere}, {"/tabfont", P, CmdElsewhere},
      {"/bfont", P, CmdElsewhere}, {"/ifont", P, CmdElsewhere}, {"/tcolor", P, CmdElsewhere},
      {"/color", P, CmdElsewhere}, {"/fgcolor", P, CmdElsewhere}, {"/lbfgcolor", P, CmdElsewhere},
      {"/lbbgcolor", P, CmdElsewhere}, {"/infgcolor", P, CmdElsewhere}, {"/inbgcolor", P, CmdElsewhere},
      {"/logging", P, CmdElsewhere}, {"/writetofile", P, CmdElsewhere}, {"/writetortf", P, CmdElsewhere},
      {"/locking", P, CmdElsewhere}, {"/play ", P, CmdElsewhere}, {"/loadplugins", P, CmdElsewhere},
      {"/switch", P, CmdElsewhere}, {"/unloadplugins", P, CmdElsewhere}, {"/load ", P, CmdElsewhere},
      {"/display ", P, CmdDisplay}, {"/addtext ", P, CmdElsewhere}, {"/addtextw ", P, CmdElsewhere},
      {"/say ", P, CmdDisplay}, {"/achan ", P, CmdElsewhere}, {"/awin ", P, CmdElsewhere},
      {"/emulateserver ", P, CmdElsewhere},
      {"/access", N, CmdElsewhere}, {"/silence", N, CmdElsewhere}, {"/links", N, CmdElsewhere},
      {"/target", P, CmdTarget},
      {"/run", P, CmdElsewhere}, {"/shellexecute ", P, CmdElsewhere}, {"/fetch ", P, CmdElsewhere},
      {"/chat ", P, CmdElsewhere}, {"/tchat ", P, CmdElsewhere}, {"/schat ", P, CmdElsewhere},
      {"/sslchat ", P, CmdElsewhere}, {"/xchat ", P, CmdElsewhere}, {"/send ", P, CmdElsewhere},
      {"/tsend ", P, CmdElsewhere}, {"/qsend ", P, CmdElsewhere}, {"/csend ", P, CmdElsewhere},
      {"/chess ", P, CmdElsewhere}, {"/reversi ", P, CmdElsewhere}, {"/mtalk ", P, CmdElsewhere},
      {"/manyways", P, CmdElsewhere}, {"/fserv ", P, CmdElsewhere},
      {"/killscripts ", P, CmdElsewhere},
      {"/dccmsg ", P, CmdElsewhere}, {"/dcclink ", P, CmdElsewhere}, {"/dccunlink ", P, CmdElsewhere},
      {"/dcc ", P, CmdElsewhere}, {"/icc ", P, CmdElsewhere}, {"/dcc4 ", P, CmdElsewhere},
      {"/icc4 ", P, CmdElsewhere}, {"/dcc6 ", P, CmdElsewhere}, {"/icc6 ", P, CmdElsewhere},
      {"/ctcp ", P, CmdCtcp}, {"/ctcpreply ", P, CmdCtcpReply}, {"/msg ", P, CmdMsg}, {"/note ", P, CmdNotice},
      {"/notice ", P, CmdNotice}, {"/mme ", P, CmdMme}, {"/topic ", P, CmdTopic}, {"/kick ", P, CmdKick},
      {"/me ", P, CmdMe}, {"/action ", P, CmdMe}, {"/sound ", P, CmdSound},
      {"/playsound ", P, CmdElsewhere}, {"/playtrack ", P, CmdElsewhere}, {"/playstop", P, CmdElsewhere},
      {"/playflush", P, CmdElsewhere}, {"/playclear", P, CmdElsewhere},
      {"/reset ", P, CmdReset},
      {"/fixwindow", P, CmdElsewhere},
      {"/query ", P, CmdQuery}, {"/fquery ", P, CmdQuery},
      {"/macro ", P, CmdElsewhere},
      {"/mquery ", P, CmdMquery},
      {"/join", P, CmdJoin}, {"/quit", P, CmdQuit}, {"/whois ", P, CmdWhois}, {"/who\r\n", P, CmdWho},
      {"/away ", P, CmdAway}, {"/raw ", P, CmdRaw}, {"/quote ", P, CmdRaw},
      {"/setuserlevel ", P, CmdElsewhere}, {"/setuserident ", P, CmdElsewhere},
      {"/setuserdomain ", P, CmdElsewhere}, {"/setuserdata ", P, CmdElsewhere},
      {"/setuserstring ", P, CmdElsewhere}, {"/define ", P, CmdElsewhere}, {"/undefine ", P, CmdElsewhere},
      {"/autotype ", P, CmdElsewhere}, {"/shutdownwindows ", P, CmdElsewhere}, {"/shutdownall", P, CmdElsewhere},
      {"/shutdown", P, CmdElsewhere}, {"/messagebeep ", P, CmdElsewhere}, {"/message ", P, CmdElsewhere},
      {"/preferences", P, CmdElsewhere}, {"/protect", P, CmdElsewhere}, {"/deprotect", P, CmdElsewhere},
      {"/reloadoptions", P, CmdElsewhere},
      {"/wallv ", P, CmdWall}, {"/wallo ", P, CmdWall}, {"/wallq ", P, CmdWall}, {"/wallexo ", P, CmdWall},
      {"/wallexv ", P, CmdWall}, {"/opnotice ", P, CmdWall}, {"/pops ", P, CmdWall},
      {"/server ", P, CmdServer},
      {"/ignore ", P, CmdElsewhere}, {"/nottalk ", P, CmdElsewhere}, {"/notify ", P, CmdElsewhere},
      {"/autoop ", P, CmdElsewhere}, {"/autovp ", P, CmdElsewhere}, {"/blacklist ", P, CmdElsewhere},
      {"/dns", P, CmdElsewhere}, {"/_note ", P, CmdElsewhere}, {"/_alias ", P, CmdElsewhere},
      {"/_event ", P, CmdElsewhere}, {"/_alarm ", P, CmdElsewhere}, {"/_spevent ", P, CmdElsewhere},
      {"/_set ", P, CmdElsewhere}, {"/debug ", P, CmdElsewhere},
  };
  return order;
}

bool Matches(const Entry& e, std::string_view line) {
  if (!StartsWithNoCase(line, e.word)) return false;
  const std::string_view after = line.substr(e.word.size());
  switch (e.match) {
    case Match::kPrefix: return true;
    case Match::kNoSpace: return after.empty() || after[0] != ' ';
    case Match::kList: return after.empty() || (after[0] != ' ' && after[0] != 'x' && after[0] != 'X');
  }
  return false;
}

const Entry* Find(std::string_view decoded) {
  for (const Entry& e : Order())
    if (Matches(e, decoded)) return &e;
  return nullptr;
}

// The line as the commands see it: escapes decoded, cut at a NUL, ending in one CR LF.
std::string Prepare(std::string_view line) {
  std::string decoded = DecodeHexEscapes(line);
  decoded.resize(std::min(decoded.size(), decoded.find('\0')));
  return WithLineEnd(decoded);
}

thread_local int t_context_window = -1;

}  // namespace

void WithContextWindow(int window, const std::function<void()>& fn) {
  const int saved = t_context_window;
  t_context_window = window;
  fn();
  t_context_window = saved;
}

std::string_view MatchCommand(std::string_view line) {
  const std::string decoded = Prepare(line);
  if (decoded.empty() || decoded[0] != '/') return {};
  const Entry* e = Find(decoded);
  return e ? e->word : std::string_view();
}

int RunCommand(std::string_view line, int server_window) {
  if (line.data() == nullptr) return 0;
  Context c;
  c.line = Prepare(line);
  if (c.line.empty() || c.line[0] != '/') return 0;
  const Entry* e = Find(c.line);
  if (!e) return 0;
  auto& table = WindowTable::Get();
  c.a = server_window;
  c.w = t_context_window >= 0 ? t_context_window : table.Active();
  if (c.w == -1 && server_window != -1) c.w = server_window;
  c.word = e->word;
  return e->run(c);
}

}  // namespace vanta::commands
