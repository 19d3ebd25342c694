#include "dispatch/registration.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <unordered_map>

#include "config/file_set.h"
#include "config/format.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/dispatcher.h"
#include "dispatch/masks.h"
#include "output/show_text.h"
#include "platform/ui_loop.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::dispatch {
namespace {

using sessions::ServerSession;
using sessions::WindowTable;

constexpr std::size_t kNickCap = 100;  // bytes of a nick, terminating NUL included

// 0: the next collision tries "General"/"AlternateNick"; 1: a random nick. Shared by all servers.
std::atomic<uint8_t> g_alternate_toggle{0};
// "DefaultEvents"/"IsUnlocking": -1 not read yet.
std::atomic<int> g_unlocking{-1};

std::mutex g_keys_mutex;
std::unordered_map<uint64_t, std::string> g_pending_keys;  // by window id

std::string_view StripLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::string TokenOf(std::string_view line, int i) {
  std::string t;
  Token(line, i, t);
  return t;
}

std::string RandomNick() {
  // One generator per thread, seeded from the clock and the system's entropy.
  thread_local std::mt19937 gen([] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937(seq);
  }());
  std::uniform_int_distribution<int> letter(0, 25);
  std::string nick(8, 'a');
  for (char& c : nick) c = static_cast<char>('a' + letter(gen));
  return nick;
}

// Strips a nick typed by the user (or read from the settings) to something a NICK line can carry.
std::string CleanNick(std::string_view nick) {
  std::string out = sessions::CleanProtocolText(nick);
  while (!out.empty() && out.front() == ' ') out.erase(out.begin());
  out = out.substr(0, out.find(' '));
  if (out.size() > kNickCap - 1) out.resize(kNickCap - 1);
  return out;
}

void NickCollision(int n, ServerSession& s) {
  std::string nick;
  bool random = true;
  if (g_alternate_toggle.load() == 0) {
    g_alternate_toggle.store(1);
    nick = CleanNick(config::PrefString("General", "AlternateNick", "", kNickCap));
    random = nick.empty();
  }
  if (random) {
    nick = RandomNick();
    g_alternate_toggle.store(0);
    // The user may edit the random nick; the prompt closes by itself after a minute.
    const std::string title = config::Msg(116), prompt = config::Msg(117);
    std::optional<std::string> answer;
    platform::UiLoop::Get().CallSync(
        [&] { answer = ui::Current().AskTextTimed(title, prompt, nick, kNickPromptTimeoutMs); });
    if (answer) {
      std::string edited = CleanNick(*answer);
      if (!edited.empty()) nick = edited;
    }
  }
  s.Set(&ServerSession::nick, nick);
  if (sessions::Valid(n)) sessions::SendToServer("NICK " + nick + "\r\n", n);
}

void ServerInformation(int n, ServerSession& s, std::string_view line) {
  std::string server = TokenOf(line, 0);
  if (!server.empty() && server[0] == ':') server.erase(0, 1);
  const std::string nick = TokenOf(line, 2), user_modes = TokenOf(line, 5), channel_modes = TokenOf(line, 6);
  if (!server.empty()) {
    {
      std::lock_guard lock(s.mutex);
      if (s.current_host.empty()) s.current_host = s.address_as_entered.substr(0, ServerSession::kHost - 1);
      s.address_as_entered = server.substr(0, ServerSession::kAddress - 1);
    }
    if (auto slot = WindowTable::Get().Slot(n)) slot->SetName(server);
    PostRenamed(n);
  }
  if (!nick.empty()) s.Set(&ServerSession::nick, CleanNick(nick));
  output::ShowText(n,
                   "\x02\x12\xb7\x12 Server name : " + server + " - Nick Modes : " + user_modes +
                       " - Channel Modes : " + channel_modes,
                   n, output::Colours().info);
  platform::UiLoop::Get().Post([] { ui::Current().WindowListChanged(); });
}

void LearnAddresses(int n, std::string_view line, bool whois) {
  auto& hook = GetRegistrationHooks().learn_address;
  if (!hook) return;
  if (whois) {
    UserAddress who{TokenOf(line, 3), TokenOf(line, 4), TokenOf(line, 5)};
    if (!who.nick.empty()) hook(n, who);
    return;
  }
  for (const auto& who : ParseUserhostReply(line)) hook(n, who);
}

void SecureKeyAccepted(int n, std::string_view line) {
  std::string_view prefix = line.substr(1);
  std::string_view nick = prefix.substr(0, prefix.find_first_of("! "));
  int w = WindowTable::Get().FindByName(nick, n);
  auto slot = WindowTable::Get().Slot(w);
  if (!slot) return;
  std::string key = PendingSecureKey(w);
  // Only a key this side offered can be accepted: an acknowledgement nobody asked for would
  // otherwise switch the query to an empty key.
  if (key.empty()) return;
  {
    std::lock_guard lock(slot->mutex);
    slot->secure_key = key;
  }
  slot->secure_message.store(1);
  {
    std::lock_guard lock(g_keys_mutex);
    g_pending_keys.erase(slot->id);
  }
  SaveSecureKey(slot->Name(), key);
  output::ShowText(w, config::Msg(118), n, output::Colours().error);
  PostTitleChanged(w);
}

bool Is(std::string_view line, std::string_view mask) { return MaskMatch(line, mask, false, false); }

}  // namespace

RegistrationHooks& GetRegistrationHooks() {
  static RegistrationHooks hooks;
  return hooks;
}

void ReloadRegistrationSettings() { g_unlocking.store(-1); }
void ResetAlternateNickToggle() { g_alternate_toggle.store(0); }

bool BuiltInBypassed(std::string_view line) {
  int unlocking = g_unlocking.load();
  if (unlocking < 0) {
    unlocking = config::PrefInt("DefaultEvents", "IsUnlocking", 0) == 1 ? 1 : 0;
    g_unlocking.store(unlocking);
  }
  if (unlocking != 1) return false;
  for (int i = 1;; ++i) {
    std::string mask = config::PrefString("DefaultEvents", std::to_string(i));
    if (mask.empty()) return false;
    if (MaskMatch(line, mask, false, false)) return true;
  }
}

std::vector<UserAddress> ParseUserhostReply(std::string_view line) {
  std::vector<UserAddress> out;
  line = StripLineEnd(line);
  for (int i = 3;; ++i) {
    std::string entry = TokenOf(line, i);
    if (entry.empty() || entry == ":") break;
    if (entry[0] != ':') entry.insert(entry.begin(), ':');
    std::size_t sign = entry.find('+');
    if (sign == std::string::npos) sign = entry.find('-');
    if (sign == std::string::npos) continue;
    std::size_t at = entry.find('@', sign);
    if (at == std::string::npos) continue;
    std::size_t eq = entry.rfind('=', sign);
    if (eq == std::string::npos || eq < 1) continue;
    UserAddress who;
    who.nick = entry.substr(1, eq - 1);
    if (!who.nick.empty() && who.nick.back() == '*') who.nick.pop_back();
    who.user = entry.substr(sign + 1, at - sign - 1);
    who.host = entry.substr(at + 1);
    if (who.nick.empty()) continue;
    out.push_back(std::move(who));
  }
  return out;
}

void SetPendingSecureKey(int window, std::string key) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot) return;
  if (key.size() > kSecureKeySize) key.resize(kSecureKeySize);
  std::lock_guard lock(g_keys_mutex);
  g_pending_keys[slot->id] = std::move(key);
}

std::string PendingSecureKey(int window) {
  auto slot = WindowTable::Get().Slot(window);
  if (!slot) return {};
  std::lock_guard lock(g_keys_mutex);
  auto it = g_pending_keys.find(slot->id);
  return it == g_pending_keys.end() ? std::string() : it->second;
}

bool RegistrationStage(int n, ParsedLine& parsed) {
  std::string_view raw = parsed.raw[0];
  raw = raw.substr(0, raw.find('\0'));
  const std::string_view line = StripLineEnd(raw);
  if (line.empty()) return false;
  auto& table = WindowTable::Get();
  if (!table.Valid(n) || table.Kind(n) != sessions::kServerWindow) return false;
  auto session = table.Session(n);
  if (!session) return false;
  ServerSession& s = *session;
  if (BuiltInBypassed(line)) return false;
  if (line[0] != ':') return false;

  if (Is(line, ":* 004 *")) {
    ServerInformation(n, s, line);
    return true;
  }
  if (Is(line, ":* 001 *")) {
    if (auto& h = sessions::GetHooks().special_event) h("OnLogin", raw, n);
    return false;
  }
  if (Is(line, ":* 432 *") || Is(line, ":* 433 *")) {
    if (!s.registered.load()) NickCollision(n, s);
    return false;
  }
  if (Is(line, ":* NOTICE * :\x03-SECUREMSGKEY-\x03*")) {
    SecureKeyAccepted(n, line);
    return true;
  }
  if (Is(line, ":* 311 *") || Is(line, ":* 302 *")) {
    LearnAddresses(n, line, TokenOf(line, 1) == "311");
    return false;
  }
  if (Is(line, ":* 451 *")) {
    auto clean = [](const std::string& v) { return sessions::CleanProtocolText(v); };
    sessions::SendToServer("USER " + clean(s.Get(&ServerSession::user_name)) + " " +
                               clean(s.Get(&ServerSession::quoted_local_host)) + " " +
                               clean(s.Get(&ServerSession::quoted_server_address)) + " :" +
                               clean(s.Get(&ServerSession::full_name)) + "\r\n",
                           n);
    return false;
  }
  if (Is(line, ":* 376 *")) {
    ui::WindowInfo info = WindowTable::Get().Info(n);
    platform::UiLoop::Get().Post([info] { ui::Current().RestorePlacement(info); });
    return false;
  }
  return false;
}

}  // namespace vanta::dispatch
