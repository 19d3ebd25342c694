#include "output/appearance.h"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/catalogue.h"
#include "config/file_set.h"
#include "config/format.h"
#include "output/show_text.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "sessions/window_table.h"

namespace vanta::output {

namespace {

constexpr int kTemplateCount = kLastTemplateKey - kFirstTemplateKey + 1;
constexpr std::size_t kTemplateCap = 1000;   // a stored template, as read
constexpr std::size_t kSettingCap = 1000;    // "Prefix", "Hilite", "HiliteFormula"
constexpr std::size_t kMessageCap = 10000;   // the message text after highlighting
constexpr const char* kDefaultHiliteFormula = "$h02$h04$h034,8%s$h02$h031,0";

// Built-in skin halves by key. Values read back from an INI file lose surrounding blanks, so these
// are written the way a skin file's halves read back (no trailing blank); the assembly adds the one
// space between the halves.
constexpr std::array<std::string_view, kTemplateCount> kSkinDefaults = {
    "$h031$h02<$nick>$h02 $prefix$message",                                 // 100 own message
    "$h031$h02<$nick>$h02 $message",                                        // 101 incoming message
    "$h02$h0312$h12$hAE$h12",                                               // 102 JOIN
    "$h02$h0312$h12$h12@$h12",                                              // 103 MODE
    "$h02$h0700408000$h12$hAC$h12",                                         // 104 PART
    "$h02$h0312$h12$h12*$h12",                                              // 105 TOPIC
    "$h02$h034$h12$h12~$h12",                                               // 106 KICK
    "$h02$h0700808040$h12$hAC$h12",                                         // 107 QUIT
    "$h02$h034=|= $nick =|=$h02 $message",                                  // 108 NOTICE
    "$h02$h0312$h12$h12$$$h12",                                             // 109 NICK
    "$h02$h0312$h12$h12$h12J$h12",                                          // 110 INVITE
    "$h02$h0312$h12$h12@$h12",                                              // 111 PROP
    "$h02$h0312$h12$h12@$h12",                                              // 112 SILENCE
    "$h02$h0312$h12$h12_$h12 WALLOPS $h12$h12_$h12 $nick : $h02$message",  // 113 WALLOPS
    "$h02$h034$h12$h12$h12N$h12",                                           // 114 KILL
    "$h02$h0312$h12$h12)$h12",                                              // 115 WHISPER
    "$h02$h0315$h12$h12x$h12",                                              // 116 KNOCK
    "$h0312$h02*$nick$h02 $actionmessage",                                  // 117 ACTION
    // The outgoing-message prefix belongs in front of the user's own secured messages (119), not
    // in front of the decrypted messages of the other side (118).
    "$h031$h02<$nick>$h02 $message",                                        // 118 secured, incoming
    "$h031$h02<$nick>$h02 $prefix$message",                                 // 119 secured, own
    "$h02$h0312***data*** $nick$h02 $message",                              // 120 DATA
    "$h02$h0312***request*** $nick$h02 $message",                           // 121 REQUEST
    "$h02$h0312***reply*** $nick$h02 $message",                             // 122 REPLY
    "$h02$h0312<$nick>$h02($noticeid)$h031 $message",                       // 123 group notice
    "$h02$h0312<$nick>$h02($noticeid)$h031 $message",                       // 124 own wall notice
};

unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(static_cast<unsigned char>(a[i])) != Upper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Case-insensitive search of `word` in `text` from `from`.
std::size_t FindNoCase(std::string_view text, std::string_view word, std::size_t from) {
  if (word.empty() || word.size() > text.size()) return std::string_view::npos;
  const std::size_t last = text.size() - word.size();
  const unsigned char first = Upper(static_cast<unsigned char>(word[0]));
  const std::string_view tail = word.substr(1);
  for (std::size_t i = from; i <= last; ++i) {
    if (Upper(static_cast<unsigned char>(text[i])) != first) continue;
    if (EqualsNoCase(text.substr(i + 1, tail.size()), tail)) return i;
  }
  return std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view UpToNul(std::string_view s) {
  const std::size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

// ---------------------------------------------------------------------------------------------
// Settings, cached per profile file and re-read when the file changes.

struct Settings {
  // Decoded templates by index (key - 100); nullopt when the key is missing.
  std::array<std::optional<std::string>, kTemplateCount> ansi, unicode;
  std::string prefix;
  std::vector<std::string> hilite_words;  // up to the first empty word
  std::string hilite_formula;              // decoded
  bool hilite_space = true;
  int lv1 = -1, lv2 = -1, lv3 = -1, lv5 = -1, lvi = -1;
};

const std::string* FindEntry(const std::vector<std::pair<std::string, std::string>>& entries, std::string_view key) {
  for (const auto& e : entries)
    if (EqualsNoCase(e.first, key)) return &e.second;
  return nullptr;
}

int EntryInt(const std::vector<std::pair<std::string, std::string>>& entries, std::string_view key, int def) {
  const std::string* v = FindEntry(entries, key);
  if (v == nullptr) return def;
  // Same reading as the INI store's integers: sign, decimal or "0x" hexadecimal, wrapping at 32 bits.
  std::string_view s = *v;
  bool neg = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return def;
  uint32_t value = 0;
  for (char c : s) {
    const int d = HexValue(c);
    if (d < 0 || d >= base) return def;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  if (neg) value = 0u - value;
  return static_cast<int>(value);
}

std::shared_ptr<const Settings> LoadSettings(const std::string& path) {
  auto s = std::make_shared<Settings>();
  const auto appearance = platform::ini::SectionEntries(path, "Appearance");
  char key[8];
  for (int i = 0; i < kTemplateCount; ++i) {
    for (char mode : {'a', 'u'}) {
      std::snprintf(key, sizeof key, "%c%d", mode, kFirstTemplateKey + i);
      if (const std::string* v = FindEntry(appearance, key)) {
        std::string_view text = std::string_view(*v).substr(0, kTemplateCap - 1);
        (mode == 'a' ? s->ansi : s->unicode)[i] = DecodeStoredEscapes(text);
      }
    }
  }
  const auto more = platform::ini::SectionEntries(path, "MoreOptions");
  if (const std::string* v = FindEntry(more, "Prefix")) s->prefix = v->substr(0, kSettingCap - 1);
  if (const std::string* v = FindEntry(more, "Hilite")) {
    std::string_view words = std::string_view(*v).substr(0, kSettingCap - 1);
    while (!words.empty()) {
      const std::size_t sp = words.find(' ');
      std::string_view w = words.substr(0, sp);
      if (w.empty()) break;
      s->hilite_words.emplace_back(w);
      if (sp == std::string_view::npos) break;
      words.remove_prefix(sp + 1);
    }
  }
  const std::string* formula = FindEntry(more, "HiliteFormula");
  s->hilite_formula = DecodeStoredEscapes(
      formula ? std::string_view(*formula).substr(0, kSettingCap - 1) : std::string_view(kDefaultHiliteFormula));
  s->hilite_space = EntryInt(more, "HiliteSpace", 1) != 0;
  const auto skins = platform::ini::SectionEntries(path, "Skins");
  s->lv1 = EntryInt(skins, "LV1", -1);
  s->lv2 = EntryInt(skins, "LV2", -1);
  s->lv3 = EntryInt(skins, "LV3", -1);
  s->lv5 = EntryInt(skins, "LV5", -1);
  s->lvi = EntryInt(skins, "cLVI", -1);
  return s;
}

struct FileSig {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t sec = 0, nsec = 0;
  bool operator==(const FileSig&) const = default;
};

FileSig SigOf(const struct ::stat& st) {
  return FileSig{st.st_dev, st.st_ino, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec),
                 static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// A change made within the same file-time tick as our look leaves the signature unchanged, so a
// look taken that close to the last change is not trusted (the next call reads again).
bool RecentlyChanged(const FileSig& sig) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t diff = (static_cast<int64_t>(now.tv_sec) - sig.sec) * 1000000000LL + (now.tv_nsec - sig.nsec);
  const int64_t margin = sig.nsec == 0 ? 2000000000LL : 50000000LL;
  return diff > -margin && diff < margin;
}

struct SettingsCache {
  std::mutex mutex;
  std::string program_dir, profile, resolved;
  bool valid = false;  // `sig` describes the file `settings` were read from, and may be trusted
  FileSig sig;
  std::shared_ptr<const Settings> settings;
};

SettingsCache& Cache() {
  static SettingsCache cache;
  return cache;
}

const std::shared_ptr<const Settings>& DefaultSettings() {
  static const std::shared_ptr<const Settings> defaults = [] {
    auto s = std::make_shared<Settings>();
    s->hilite_formula = DecodeStoredEscapes(kDefaultHiliteFormula);
    return s;
  }();
  return defaults;
}

std::shared_ptr<const Settings> CurrentSettings() {
  SettingsCache& c = Cache();
  std::lock_guard lock(c.mutex);
  const std::string& dir = platform::ProgramDir();
  std::string profile = config::ProfileName();
  if (c.program_dir != dir || c.profile != profile || c.resolved.empty()) {
    c.program_dir = dir;
    c.profile = std::move(profile);
    c.resolved = platform::ResolvePath(config::PrefIni());
    c.valid = false;
  }
  struct ::stat st;
  if (::stat(c.resolved.c_str(), &st) != 0) {
    // Missing (or renamed in another spelling): resolve again, and read nothing while it is absent.
    c.resolved = platform::ResolvePath(config::PrefIni());
    c.valid = false;
    if (::stat(c.resolved.c_str(), &st) != 0) {
      c.settings = DefaultSettings();
      return c.settings;
    }
  }
  const FileSig sig = SigOf(st);
  if (c.valid && c.settings && sig == c.sig) return c.settings;
  c.settings = LoadSettings(config::PrefIni());
  c.sig = sig;
  c.valid = !RecentlyChanged(sig);
  return c.settings;
}

// ---------------------------------------------------------------------------------------------
// Channel views and time.

std::mutex g_access_mutex;
std::shared_ptr<const ChannelViewAccess> g_access;

std::shared_ptr<const ChannelViewAccess> Access() {
  std::lock_guard lock(g_access_mutex);
  return g_access;
}

std::mutex g_time_mutex;
bool g_fixed_time_set = false;
std::tm g_fixed_time{};

std::tm LocalNow() {
  {
    std::lock_guard lock(g_time_mutex);
    if (g_fixed_time_set) return g_fixed_time;
  }
  std::time_t now = std::time(nullptr);
  std::tm t{};
  ::localtime_r(&now, &t);
  return t;
}

// ---------------------------------------------------------------------------------------------
// Output with a byte limit that never ends inside a UTF-8 sequence.

class Output {
 public:
  Output(std::string& out, std::size_t limit) : out_(out), start_(out.size()), limit_(limit) {}

  void Append(std::string_view s) {
    if (full_) return;
    const std::size_t room = limit_ - (out_.size() - start_);
    if (s.size() <= room) {
      out_.append(s);
      return;
    }
    out_.append(s.substr(0, room));
    full_ = true;
    if ((static_cast<unsigned char>(s[room]) & 0xC0) == 0x80) DropPartialSequence();
  }
  void Append(char c) { Append(std::string_view(&c, 1)); }
  void AppendSpaces(int n) {
    for (; n > 0 && !full_; --n) Append(' ');
  }
  void AppendNumber(int v, int min_digits) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::size_t len = static_cast<std::size_t>(r.ptr - buf);
    if (v >= 0 && len < static_cast<std::size_t>(min_digits)) Append('0');
    Append(std::string_view(buf, len));
  }
  bool full() const { return full_; }

 private:
  void DropPartialSequence() {
    while (out_.size() > start_ && (static_cast<unsigned char>(out_.back()) & 0xC0) == 0x80) out_.pop_back();
    if (out_.size() > start_ && static_cast<unsigned char>(out_.back()) >= 0xC0) out_.pop_back();
  }

  std::string& out_;
  const std::size_t start_;
  const std::size_t limit_;
  bool full_ = false;
};

// ---------------------------------------------------------------------------------------------
// Variables.

enum class Var {
  kPrefix, kNick, kColorNick, kIdent, kIP, kChannel, kActionMessage, kAction, kMessage, kYear, kMonth,
  kDay, kHour, kMinute, kSecond, kVictim, kKickMsg, kKnockMsg, kNoticeId, kAlign
};

struct VarName {
  std::string_view name;
  Var var;
};

// Tried in this order at every "$"; the first whose full name matches wins.
constexpr VarName kVariables[] = {
    {"$prefix", Var::kPrefix},       {"$nick", Var::kNick},       {"$colornick", Var::kColorNick},
    {"$ident", Var::kIdent},         {"$IP", Var::kIP},           {"$channel", Var::kChannel},
    {"$actionmessage", Var::kActionMessage}, {"$action", Var::kAction}, {"$message", Var::kMessage},
    {"$year", Var::kYear},           {"$month", Var::kMonth},     {"$day", Var::kDay},
    {"$_hour", Var::kHour},          {"$minute", Var::kMinute},   {"$second", Var::kSecond},
    {"$victim", Var::kVictim},       {"$kickmsg", Var::kKickMsg}, {"$knockmsg", Var::kKnockMsg},
    {"$noticeid", Var::kNoticeId},   {"$align", Var::kAlign},
};

const VarName* MatchVariable(std::string_view rest) {
  if (rest.size() < 2) return nullptr;
  const unsigned char c = Upper(static_cast<unsigned char>(rest[1]));
  for (const VarName& v : kVariables)
    if (Upper(static_cast<unsigned char>(v.name[1])) == c && rest.size() >= v.name.size() &&
        EqualsNoCase(rest.substr(0, v.name.size()), v.name))
      return &v;
  return nullptr;
}

std::string_view IdentOf(std::string_view prefix) {
  const std::size_t bang = prefix.find('!');
  const std::size_t at = prefix.find('@');
  if (bang == std::string_view::npos || at == std::string_view::npos || at < bang) return {};
  return prefix.substr(bang + 1, at - bang - 1);
}

std::string_view HostOf(std::string_view prefix) {
  const std::size_t at = prefix.find('@');
  return at == std::string_view::npos ? std::string_view() : prefix.substr(at + 1);
}

std::string_view ActionTextOf(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  if (!text.empty() && text.back() == '\x01') text.remove_suffix(1);
  return text.size() > 8 ? text.substr(8) : std::string_view();
}

// The nick of the session that "$me" stands for: the window's own server, else window 0's.
std::string OwnNick(int window) {
  auto& table = sessions::WindowTable::Get();
  int server = table.OwningServer(window);
  std::shared_ptr<sessions::ServerSession> session = server >= 0 ? table.Session(server) : nullptr;
  if (!session) session = table.Session(0);
  return session ? session->Get(&sessions::ServerSession::nick) : std::string();
}

// Appends the message text with the highlight words marked. The text is copied only when a word
// is found, so the usual line without a highlight costs no allocation.
void AppendHighlighted(Output& o, std::string_view text, const Settings& s, int window) {
  std::string changed;
  bool copied = false;
  std::optional<std::string> me;
  for (const std::string& configured : s.hilite_words) {
    const std::string_view current = copied ? std::string_view(changed) : text;
    std::string_view word = configured;
    if (EqualsNoCase(word, "$me")) {
      if (!me) me = OwnNick(window);
      word = *me;
    }
    if (word.empty()) continue;
    std::size_t pos = 0;
    for (;;) {
      pos = FindNoCase(current, word, pos);
      if (pos == std::string_view::npos || !s.hilite_space) break;
      const std::size_t after = pos + word.size();
      if (after == current.size()) break;
      const char c = current[after];
      if (c == ' ' || c == '\r' || c == '\n' || c == '0') break;
      ++pos;
    }
    if (pos == std::string_view::npos) continue;
    if (pos != 0 && current[pos - 1] != ' ') continue;
    if (!copied) {
      changed.assign(text);
      copied = true;
    }
    // The formula is the user's own setting and the word comes from the user's list, so the safe
    // formatter only ever sees that pair.
    const std::string mark = config::FormatText(s.hilite_formula, {word});
    changed.replace(pos, word.size(), mark);
    if (changed.size() > kMessageCap - 1) changed.resize(kMessageCap - 1);
  }
  o.Append(copied ? std::string_view(changed) : text);
}

void AppendColourNick(Output& o, int window, std::string_view nick, const Settings& s) {
  std::shared_ptr<const ChannelViewAccess> access;
  if (sessions::WindowTable::Get().Kind(window) == sessions::kChannelWindow) access = Access();
  if (!access || !access->has_entry) {
    o.Append(nick);
    return;
  }
  int colour = s.lvi;
  if (!access->has_entry(window, nick)) {
    static constexpr struct {
      char prefix;
      int Settings::*colour;
    } kPrefixes[] = {{'.', &Settings::lv1}, {'@', &Settings::lv2}, {'%', &Settings::lv5}, {'+', &Settings::lv3}};
    std::string entry;
    entry.reserve(nick.size() + 1);
    for (const auto& p : kPrefixes) {
      entry.assign(1, p.prefix);
      entry.append(nick);
      if (access->has_entry(window, entry)) {
        colour = s.*(p.colour);
        break;
      }
    }
  }
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(colour));
  o.Append('\x07');
  o.Append(std::string_view(hex, 8));
  o.Append(nick);
  o.Append('\x07');
  o.Append("00000000");
}

void ExpandTemplate(const Settings& s, std::string_view tpl, int window, int kind, std::string& out,
                    const dispatch::ParsedLine& line, std::string_view victim, std::string_view kick_message,
                    std::string_view knock_message, std::string_view notice_tag, int alignment);

}  // namespace

// ---------------------------------------------------------------------------------------------

int TemplateKey(int kind) {
  if (kind >= 0 && kind <= 15) return 101 + kind;
  if (kind == 16) return 100;
  if (kind >= 17 && kind <= 24) return 100 + kind;
  return 0;
}

std::size_t AppearanceCapacity(int kind) {
  switch (TemplateKey(kind)) {
    case 100: case 101: case 108: case 117: case 118: case 119: case 123: case 124:
      return 10000;
    default:
      return 1000;
  }
}

std::string_view DefaultSkinHalf(int key) {
  if (key < kFirstTemplateKey || key > kLastTemplateKey) return {};
  return kSkinDefaults[static_cast<std::size_t>(key - kFirstTemplateKey)];
}

std::string DecodeStoredEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$' && i + 3 < text.size() && text[i + 1] == 'h' && text[i + 2] != 'o' && text[i + 2] != 'O') {
      const int hi = HexValue(text[i + 2]), lo = HexValue(text[i + 3]);
      out += (hi < 0 || lo < 0) ? '\xFF' : static_cast<char>(hi * 16 + lo);
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

int FormatAppearance(int window, int kind, std::string& out, const dispatch::ParsedLine& line,
                     std::string_view victim, std::string_view kick_message, std::string_view knock_message,
                     std::string_view notice_tag, int alignment) {
  const int key = TemplateKey(kind);
  if (key == 0) return 0;
  const std::size_t index = static_cast<std::size_t>(key - kFirstTemplateKey);
  const std::shared_ptr<const Settings> settings = CurrentSettings();
  const auto& stored = (UnicodeDisplay() ? settings->unicode : settings->ansi)[index];
  if (stored) {
    ExpandTemplate(*settings, *stored, window, kind, out, line, victim, kick_message, knock_message, notice_tag,
                   alignment);
  } else {
    const std::string fallback = DecodeStoredEscapes(config::Message(key - 65).value_or(std::string()));
    ExpandTemplate(*settings, fallback, window, kind, out, line, victim, kick_message, knock_message, notice_tag,
                   alignment);
  }
  return 1;
}

int ExpandAppearance(std::string_view tpl, int window, int kind, std::string& out, const dispatch::ParsedLine& line,
                     std::string_view victim, std::string_view kick_message, std::string_view knock_message,
                     std::string_view notice_tag, int alignment) {
  if (TemplateKey(kind) == 0) return 0;
  ExpandTemplate(*CurrentSettings(), tpl, window, kind, out, line, victim, kick_message, knock_message, notice_tag,
                 alignment);
  return 1;
}

namespace {

void ExpandTemplate(const Settings& s, std::string_view tpl, int window, int kind, std::string& out,
                    const dispatch::ParsedLine& line, std::string_view victim, std::string_view kick_message,
                    std::string_view knock_message, std::string_view notice_tag, int alignment) {
  // The record's fields are NUL-terminated texts: nothing after a NUL counts.
  const std::string_view prefix = UpToNul(line.prefix), nick = UpToNul(line.nick);
  const std::string_view text = UpToNul(line.parameters);
  victim = UpToNul(victim);
  kick_message = UpToNul(kick_message);
  knock_message = UpToNul(knock_message);
  notice_tag = UpToNul(notice_tag);

  Output o(out, AppearanceCapacity(kind) - 1);
  out.reserve(out.size() + tpl.size() + text.size() + 64);
  std::optional<std::tm> now;
  auto time = [&]() -> const std::tm& {
    if (!now) now = LocalNow();
    return *now;
  };

  std::size_t i = 0;
  while (i < tpl.size() && !o.full()) {
    const std::size_t dollar = tpl.find('$', i);
    if (dollar == std::string_view::npos) {
      o.Append(tpl.substr(i));
      break;
    }
    o.Append(tpl.substr(i, dollar - i));
    const VarName* v = MatchVariable(tpl.substr(dollar));
    if (v == nullptr) {
      o.Append('$');
      i = dollar + 1;
      continue;
    }
    i = dollar + v->name.size();
    switch (v->var) {
      case Var::kPrefix: o.Append(s.prefix); break;
      case Var::kNick: o.Append(nick); break;
      case Var::kColorNick: AppendColourNick(o, window, nick, s); break;
      case Var::kIdent: o.Append(IdentOf(prefix)); break;
      case Var::kIP: o.Append(HostOf(prefix)); break;
      case Var::kChannel: o.Append(UpToNul(line.target)); break;
      case Var::kActionMessage: o.Append(ActionTextOf(text)); break;
      case Var::kAction: o.Append(UpToNul(line.command)); break;
      case Var::kMessage: AppendHighlighted(o, text, s, window); break;
      case Var::kYear: o.AppendNumber(time().tm_year + 1900, 0); break;
      case Var::kMonth: o.AppendNumber(time().tm_mon + 1, 0); break;
      case Var::kDay: o.AppendNumber(time().tm_mday, 0); break;
      case Var::kHour: o.AppendNumber(time().tm_hour, 2); break;
      case Var::kMinute: o.AppendNumber(time().tm_min, 2); break;
      case Var::kSecond: o.AppendNumber(time().tm_sec, 2); break;
      case Var::kVictim: o.Append(victim); break;
      case Var::kKickMsg: o.Append(kick_message); break;
      case Var::kKnockMsg: o.Append(knock_message); break;
      case Var::kNoticeId: o.Append(notice_tag); break;
      case Var::kAlign: o.AppendSpaces(alignment); break;
    }
  }
}

}  // namespace

int ColumnWidth(std::string_view text) {
  int n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

int AlignmentCount(std::string_view nick, int window) {
  if (sessions::WindowTable::Get().Kind(window) != sessions::kChannelWindow) return 0;
  const std::shared_ptr<const ChannelViewAccess> access = Access();
  if (!access || !access->for_each_entry) return 0;
  auto width = [&](std::string_view t) { return access->text_width ? access->text_width(window, t) : ColumnWidth(t); };
  const int nick_width = width(UpToNul(nick));
  const int space_width = width(" ");
  if (nick_width < 0 || space_width <= 0) return 0;
  int widest = 0;
  bool unmeasured = false;
  access->for_each_entry(window, [&](std::string_view entry) {
    const int w = width(entry);
    if (w < 0) unmeasured = true;
    if (w > widest) widest = w;
  });
  if (unmeasured || nick_width >= widest) return 0;
  const int diff = widest - nick_width;
  int count = diff / space_width;
  if ((diff % space_width) * 2 > space_width) ++count;
  return count;
}

int ApplySkinAppearance() {
  const std::string path = config::PrefIni();
  struct Assembled {
    std::string key, value;
  };
  std::vector<Assembled> values;
  values.reserve(2 * kTemplateCount);
  char key[8], number[4];
  auto fits = [](std::string_view v) { return v.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; };
  for (int n = kFirstTemplateKey; n <= kLastTemplateKey; ++n) {
    std::snprintf(number, sizeof number, "%d", n - 99);
    const std::string skin_default(DefaultSkinHalf(n));

    // System code page (UTF-8 here, so the skin half needs no conversion for the Unicode key).
    std::snprintf(key, sizeof key, "a%d", n);
    const std::string ansi_skin = config::PrefString("SkinAppear", key, skin_default, kTemplateCap);
    const std::string lang_a =
        config::PrefString("AppearA", number, config::Message(n + 960).value_or(std::string()), kTemplateCap);
    if (!ansi_skin.empty()) {
      std::string v = ansi_skin + " " + lang_a;
      if (fits(v)) values.push_back({key, std::move(v)});
    }

    std::snprintf(key, sizeof key, "u%d", n);
    std::string uni_skin = config::PrefString("SkinAppear", key, "", kTemplateCap);
    if (uni_skin.empty()) uni_skin = ansi_skin;
    const std::string lang_u =
        config::PrefString("AppearU", number, config::Message(n + 960).value_or(std::string()), kTemplateCap);
    if (!uni_skin.empty()) {
      std::string v = uni_skin + " " + lang_u;
      if (fits(v)) values.push_back({key, std::move(v)});
    }
  }
  // Values lose surrounding blanks when read back; store them that way.
  for (auto& a : values)
    while (!a.value.empty() && (a.value.back() == ' ' || a.value.back() == '\t')) a.value.pop_back();

  // One write for the whole section keeps the file's other "Appearance" keys and saves fifty
  // separate file replacements.
  constexpr std::size_t kSectionCap = 1 << 20;
  const std::string old = platform::ini::ReadSectionText(path, "Appearance", kSectionCap);
  bool written = false;
  if (old.size() < kSectionCap / 2) {
    std::vector<bool> emitted(values.size(), false);
    std::string text;
    std::string_view rest = old;
    while (!rest.empty()) {
      const std::size_t eol = rest.find("\r\n");
      std::string_view ln = rest.substr(0, eol);
      rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 2);
      const std::string_view k = ln.substr(0, ln.find('='));
      std::size_t match = values.size();
      for (std::size_t j = 0; j < values.size(); ++j)
        if (EqualsNoCase(k, values[j].key)) match = j;
      if (match == values.size()) {
        text.append(ln).append("\r\n");
      } else if (!emitted[match]) {
        emitted[match] = true;
        text.append(values[match].key).append("=").append(values[match].value).append("\r\n");
      }
    }
    for (std::size_t j = 0; j < values.size(); ++j)
      if (!emitted[j]) text.append(values[j].key).append("=").append(values[j].value).append("\r\n");
    written = platform::ini::WriteSectionText(path, "Appearance", text);
  }
  if (!written)
    for (const auto& a : values) platform::ini::WriteString(path, "Appearance", a.key, a.value);

  const std::string stamp = config::PrefString("SkinAppear", "TimeStampFormula", "", kTemplateCap);
  if (!stamp.empty()) platform::ini::WriteString(path, "MoreOptions", "TimeStampFormula", stamp);
  return static_cast<int>(values.size());
}

void SetChannelViewAccess(std::shared_ptr<const ChannelViewAccess> access) {
  std::lock_guard lock(g_access_mutex);
  g_access = std::move(access);
}

void SetAppearanceTimeForTests(const std::tm* t) {
  std::lock_guard lock(g_time_mutex);
  g_fixed_time_set = t != nullptr;
  if (t) g_fixed_time = *t;
}

}  // namespace vanta::output
