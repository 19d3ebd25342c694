#include "commands/execute_line.h"

#include <map>
#include <mutex>

#include "commands/command_text.h"
#include "commands/outgoing.h"
#include "commands/run_command.h"
#include "commands/secure_text.h"
#include "config/format.h"
#include "config/instance.h"
#include "config/options.h"
#include "dispatch/parsed_line.h"
#include "output/appearance.h"
#include "output/show_text.h"
#include "platform/threads.h"
#include "sessions/hooks.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"

namespace vanta::commands {

using sessions::WindowTable;

namespace {

// An alias that keeps rewriting itself must not keep its thread busy for ever.
constexpr int kMaxAliasRounds = 100;

std::mutex g_lock_mutex;
bool g_locked = false;
std::string g_lock_password;

std::mutex g_targets_mutex;
std::map<uint64_t, std::string> g_targets;  // by window id

bool IsDccChat(int n) {
  auto slot = WindowTable::Get().Slot(n);
  return slot && slot->kind == sessions::kDccWindow && !slot->transfer;
}

// A channel in plain-text mode (mode letter "f", unless "IgnoreF") shows its own lines unformatted:
// the echo is left out.
bool PlainTextChannel(const sessions::WindowSlot& slot) {
  if (config::OptionInt("General", "IgnoreF", 0) != 0) return false;
  std::string modes;
  {
    std::lock_guard lock(slot.mutex);
    modes = slot.mode_text;
  }
  const std::size_t end = modes.find_first_of(" \r\n");
  return modes.substr(0, end).find('f') != std::string::npos;
}

void Echo(int window, int fallback, int kind, std::string_view nick, std::string_view target, std::string_view text,
          uint32_t colour, int alignment) {
  dispatch::ParsedLine rec;
  rec.kind = dispatch::ParsedLine::kCommand;
  rec.command = "PRIVMSG";
  rec.prefix = std::string(nick);
  rec.nick = std::string(nick);
  rec.target = std::string(target);
  rec.parameters = std::string(text);
  std::string out;
  output::FormatAppearance(window, kind, out, rec, {}, {}, {}, {}, alignment);
  output::ShowText(window, out, fallback, colour);
}

// Unlocking: asks for the password; true when the input is (now) unlocked.
bool PassInputLock(int target) {
  std::string password;
  {
    std::lock_guard lock(g_lock_mutex);
    if (!g_locked) return true;
    password = g_lock_password;
  }
  auto answer = AskTextOnUi(kProductName, config::Msg(1152), "", true);
  if (!answer) return false;
  if (*answer == password) {
    {
      std::lock_guard lock(g_lock_mutex);
      g_locked = false;
    }
    Report(target, -1, config::Msg(329), output::Colours().info);
    return true;
  }
  Report(target, -1, config::Msg(330), output::Colours().error);
  return false;
}

void SayInServerContext(std::string_view text, int server, int target) {
  auto slot = WindowTable::Get().Slot(target);
  if (!slot) return;
  const std::string prefix = config::OptionText("MoreOptions", "Prefix");
  switch (slot->kind) {
    case sessions::kServerWindow:
      SendLine(server, text, target);
      break;
    case sessions::kChannelWindow: {
      const std::string channel = slot->Name();
      const std::string nick = OwnNickOf(server);
      if (!PlainTextChannel(*slot))
        Echo(target, server, output::kAppearOwnMessage, nick, channel, text, output::Colours().text,
             output::AlignmentCount(nick, target));
      const std::string targets = MessageTargets(target);
      std::string head = "PRIVMSG " + channel;
      if (!targets.empty()) head += " " + targets;
      head += " :" + prefix;
      SendSplit(server, head, text, "", target);
      break;
    }
    case sessions::kQueryWindow: {
      const std::string nick = slot->Name();
      const bool marker = text.substr(0, kSecureMessageMarker.size()) == kSecureMessageMarker;
      if (slot->secure_message.load() && text.find_first_of("\r\n\x01") == std::string_view::npos) {
        std::string key;
        {
          std::lock_guard lock(slot->mutex);
          key = slot->secure_key;
        }
        if (!marker)
          Echo(target, server, output::kAppearSecureOwn, OwnNickOf(server), nick, text, output::Colours().text, 0);
        // The ciphertext is one message: a cut would make both halves undecipherable.
        SendLine(server, "PRIVMSG " + nick + " :" + EncryptQueryText(text, key), target);
      } else {
        if (!marker) Echo(target, server, output::kAppearOwnMessage, OwnNickOf(server), nick, text,
                          output::Colours().text, 0);
        SendSplit(server, "PRIVMSG " + nick + " :" + prefix, text, "", target);
      }
      break;
    }
    default:
      break;
  }
}

void SayInDccChat(std::string_view text, int target) {
  auto slot = WindowTable::Get().Slot(target);
  if (!slot || slot->kind != sessions::kDccWindow) return;
  std::string own;
  {
    std::lock_guard lock(slot->mutex);
    own = slot->dcc_own_nick;
  }
  if (own.empty()) own = "-Me-";
  const bool secure = slot->secure_message.load();
  if (secure) {
    SendDccText(target, text);
  } else {
    const std::string bracketed = "<" + own + "> " + std::string(text) + "\r\n";
    bool relayed = false;
    auto& table = WindowTable::Get();
    for (int m = 0; m < table.Count(); ++m) {
      if (m == target || !IsDccChat(m) || !table.Valid(m)) continue;
      auto other = table.Slot(m);
      if (!other || !other->linked.load() || other->secure_message.load() || other->file_server.load()) continue;
      if (sessions::SendToDcc(m, bracketed.data(), bracketed.size()) > 0) relayed = true;
    }
    SendDccText(target, relayed ? std::string_view(bracketed) : text);
  }
  if (text.substr(0, kSecureDccMarker.size()) != kSecureDccMarker)
    Echo(target, -1, secure ? output::kAppearSecureOwn : output::kAppearOwnMessage, own, slot->Name(), text, 0, 0);
}

// The alias step: expands aliases until none applies; what is still a slash line goes to the
// server raw (or, from a DCC chat, runs in the server window the chat was started from).
void AliasStep(std::string line, int server, int target) {
  line = WithLineEnd(line);
  const bool dcc = IsDccChat(target);
  auto& expand = GetCommandHooks().expand_alias;
  if (expand) {
    for (int round = 0; round < kMaxAliasRounds && expand(line, dcc ? -1 : server); ++round) {
    }
  }
  if (line.empty() || line[0] != '/') return;
  if (dcc) {
    auto slot = WindowTable::Get().Slot(target);
    const int from = slot ? slot->dcc_started_from.load() : -1;
    if (WindowTable::Get().Kind(from) == sessions::kServerWindow) ExecuteLine(line, from, from, false, false);
    return;
  }
  const std::string_view body = StripLineEnd(std::string_view(line).substr(1));
  if (body.empty()) return;
  SendLine(server, body, server);
}

}  // namespace

CommandHooks& GetCommandHooks() {
  static CommandHooks hooks;
  return hooks;
}

void SetInputLock(bool on, std::string_view password) {
  std::lock_guard lock(g_lock_mutex);
  g_locked = on;
  g_lock_password = std::string(password.substr(0, 99));
}

bool InputLocked() {
  std::lock_guard lock(g_lock_mutex);
  return g_locked;
}

std::string MessageTargets(int window) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot) return {};
  std::lock_guard lock(g_targets_mutex);
  auto it = g_targets.find(slot->id);
  return it == g_targets.end() ? std::string() : it->second;
}

void SetMessageTargets(int window, std::string_view targets) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot) return;
  std::lock_guard lock(g_targets_mutex);
  // Lists of windows that are gone are dropped on the way.
  for (auto it = g_targets.begin(); it != g_targets.end();) {
    if (WindowTable::Get().FindById(it->first) < 0) it = g_targets.erase(it);
    else ++it;
  }
  if (targets.empty()) g_targets.erase(slot->id);
  else g_targets[slot->id] = std::string(targets);
}

std::vector<std::string> SplitInput(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!current.empty()) lines.push_back(current + "\r\n");
      current.clear();
    } else if (c != '\0') {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current + "\r\n");
  return lines;
}

void ExecuteLine(std::string_view line, int server_window, int target_window, bool run_on_input, bool as_text) {
  // A NUL ends the line, as it ends every text handed around as a C string.
  line = line.substr(0, line.find('\0'));
  if (line.empty()) return;
  auto& table = WindowTable::Get();
  const int target = target_window == -1 ? table.Active() : target_window;

  if (!PassInputLock(target)) return;

  if (target != -1 && table.Kind(server_window) == sessions::kServerWindow) {
    auto session = table.Session(server_window);
    if (session && session->away.load() && config::OptionInt("General", "KeyPressAway", 0) != 0) {
      // Back from away: said once, not before every later line too.
      session->away.store(0);
      sessions::SendToServer("AWAY\r\n", server_window);
    }
  }

  if (target != -1 && run_on_input) {
    if (auto& on_input = GetCommandHooks().on_input) {
      const std::string copy = WithLineEnd(line);
      if (on_input(copy, server_window) == 1) return;
    }
  }

  if (!as_text && RunCommand(line, server_window) == 1) return;

  if (line[0] != '/' || as_text) {
    if (!table.Valid(target)) return;
    const std::string_view text = StripLineEnd(line);
    if (server_window != -1) SayInServerContext(text, server_window, target);
    else SayInDccChat(text, target);
    return;
  }

  std::string copy(line);
  auto thread = platform::StartThread("AliasFormatInput", platform::kScriptStack,
                                      [copy, server_window, target] { AliasStep(copy, server_window, target); });
  if (!thread) AliasStep(std::move(copy), server_window, target);
}

void TypeInput(int window, std::string_view text, bool say_literally) {
  auto& table = WindowTable::Get();
  int server = -1;
  if (table.Valid(window)) {
    table.Activate(window);
    server = IsDccChat(window) ? -1 : table.OwningServer(window);
  } else {
    for (int n = 0; n < table.Count() && server < 0; ++n)
      if (table.Kind(n) == sessions::kServerWindow) server = n;
  }
  for (const std::string& line : SplitInput(text)) ExecuteLine(line, server, -1, true, say_literally);
}

void ExecuteCommandLine(std::string_view line) {
  auto& table = WindowTable::Get();
  int server = table.OwningServer(table.Active());
  for (int n = 0; n < table.Count() && server < 0; ++n)
    if (table.Kind(n) == sessions::kServerWindow) server = n;
  ExecuteLine(WithLineEnd(line), server, -1, false, false);
}

void InstallCommandHooks() {
  sessions::GetHooks().execute_line = [](int window, std::string_view line) {
    auto& table = WindowTable::Get();
    const int server = IsDccChat(window) ? -1 : table.OwningServer(window);
    const std::string copy = WithLineEnd(line);
    WithContextWindow(window, [&] { ExecuteLine(copy, server, window, false, false); });
  };
  config::GetInstanceHooks().execute_command_line = [](std::string_view line) { ExecuteCommandLine(line); };
}

}  // namespace vanta::commands
