#include "output/show_text.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "config/file_set.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::output {

namespace {

std::atomic<bool> g_unicode{false};
std::atomic<bool> g_suppressed{false};
std::atomic<bool> g_reload{true};
std::atomic<int64_t> g_clear_clock{0};
std::atomic<uint64_t> g_last_notified{0};
StatusColours g_colours;

constexpr std::string_view kDefaultFormula = "$h031$h02$hour:$minute | $h02$h03$h07$h03$h07";
// The prefix of a line when time stamps are off: a space, reset, restore the line colour.
constexpr std::string_view kNoStampPrefix = " \x0F\x03\x07\x03\x07";
constexpr std::size_t kTrimAt = 30000, kTrimBy = 10000;
constexpr std::size_t kNotifyCap = 256, kNotifyCut = 250;

// ---------------------------------------------------------------------------------------------
// Settings, re-read when the preferences file changes (one stat per line).

struct StampToken {
  enum Kind : uint8_t { Literal, Year, Month, Day, Hour, Minute, Second } kind;
  std::string text;
};

struct Settings {
  bool time_stamp = false;
  std::vector<StampToken> formula;
  uint32_t edit_bg = 16777215;
  int absolute_bg = -1;
  bool color_server = true;
  uint32_t reset_colour = 0;
  int minutes_before_clear = 0;
  bool intelligent_notification = true;
  bool image_view = false;
  uint32_t ignore = 0;
};

// "$h" and two hexadecimal digits stand for one byte.
std::string DecodeDollarH(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '$' && i + 3 < s.size() && (s[i + 1] == 'h' || s[i + 1] == 'H') &&
        codes::HexValue(s[i + 2]) >= 0 && codes::HexValue(s[i + 3]) >= 0) {
      out.push_back(static_cast<char>(codes::HexValue(s[i + 2]) * 16 + codes::HexValue(s[i + 3])));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<StampToken> ParseFormula(std::string_view f) {
  static const struct {
    std::string_view name;
    StampToken::Kind kind;
  } vars[] = {{"$year", StampToken::Year},     {"$month", StampToken::Month},   {"$day", StampToken::Day},
              {"$_hour", StampToken::Hour},    {"$hour", StampToken::Hour},     {"$minute", StampToken::Minute},
              {"$second", StampToken::Second}};
  std::vector<StampToken> out;
  std::string lit;
  for (std::size_t i = 0; i < f.size();) {
    bool matched = false;
    if (f[i] == '$') {
      for (const auto& v : vars) {
        if (f.substr(i, v.name.size()) == v.name) {
          if (!lit.empty()) out.push_back({StampToken::Literal, std::move(lit)}), lit.clear();
          out.push_back({v.kind, {}});
          i += v.name.size();
          matched = true;
          break;
        }
      }
    }
    if (!matched) lit.push_back(f[i++]);
  }
  if (!lit.empty()) out.push_back({StampToken::Literal, std::move(lit)});
  return out;
}

void LoadSettings(Settings& s) {
  s.time_stamp = config::PrefInt("MoreOptions", "TimeStamp", 0) != 0;
  s.formula = ParseFormula(DecodeDollarH(config::PrefString("MoreOptions", "TimeStampFormula", kDefaultFormula)));
  s.edit_bg = static_cast<uint32_t>(config::PrefInt("Metrics", "EditBG", 16777215));
  s.absolute_bg = config::PrefInt("General", "AbsoluteBG", -1);
  s.color_server = config::PrefInt("MoreOptions", "ColorServer", 1) != 0;
  s.reset_colour = static_cast<uint32_t>(config::PrefInt("General", "ResetColor", 0));
  s.minutes_before_clear = config::PrefInt("General", "MinutesBeforeClear", 0);
  s.intelligent_notification = config::PrefInt("General", "AllowIntelligentNotification", 1) != 0;
  s.image_view = !config::PrefString("Metrics", "ImageView", "").empty();
  s.ignore = 0;
  for (int i = 0; i < kIgnoreKeyCount; ++i)
    if (config::PrefInt("Appearance", kIgnoreKeys[i], 0) != 0) s.ignore |= 1u << i;
}

struct FileSig {
  bool exists = false;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0, ctime_ns = 0;
  bool operator==(const FileSig&) const = default;
};

struct SettingsCache {
  std::mutex mutex;  // AppendLine runs on one thread; the lock only keeps odd callers safe
  bool valid = false;
  std::string dir, profile, path;
  FileSig sig;
  Settings settings;
  // A watch on the folder of the preferences file: a line then costs one read of an empty
  // notification queue instead of a path lookup. The stat still runs when the queue has news, when
  // there is no watch, and once a second (edits through symbolic links, lost events).
  int notify_fd = -1;
  int watch = -1;
  std::chrono::steady_clock::time_point last_stat{};
};

SettingsCache& Cache() {
  static SettingsCache c;
  return c;
}

FileSig SigOf(const std::string& path) {
  FileSig sig;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    sig.exists = true;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    sig.ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  }
  return sig;
}

void Rewatch(SettingsCache& c) {
  if (c.notify_fd < 0) c.notify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (c.notify_fd < 0) return;
  if (c.watch >= 0) inotify_rm_watch(c.notify_fd, c.watch);
  const std::string folder(platform::DirName(c.path));
  c.watch = folder.empty() ? -1
                           : inotify_add_watch(c.notify_fd, folder.c_str(),
                                               IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                                   IN_ATTRIB | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF);
  // Whatever was queued for the old folder is stale now.
  alignas(inotify_event) char buf[4096];
  while (read(c.notify_fd, buf, sizeof buf) > 0) {
  }
}

// True when the folder of the file reported a change since the last look (or cannot tell).
bool FolderChanged(SettingsCache& c) {
  if (c.notify_fd < 0 || c.watch < 0) return true;
  bool changed = false;
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  while ((n = read(c.notify_fd, buf, sizeof buf)) > 0) {
    changed = true;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      if (ev->mask & (IN_IGNORED | IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) c.watch = -1;
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  return changed;
}

// The settings in force for the line being shown.
const Settings& CurrentSettings() {
  SettingsCache& c = Cache();
  std::lock_guard lock(c.mutex);
  const bool force = g_reload.exchange(false, std::memory_order_acq_rel);
  const std::string& dir = platform::ProgramDir();
  const std::string profile = config::ProfileName();
  bool check = force || !c.valid;
  // The path is resolved again when the profile or program folder changed, and while the file is
  // missing (it may appear under another spelling of its folders).
  if (check || dir != c.dir || profile != c.profile || !c.sig.exists || c.watch < 0) {
    c.dir = dir;
    c.profile = profile;
    c.path = platform::ResolvePath(config::PrefIni());
    Rewatch(c);
    check = true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (FolderChanged(c) || now - c.last_stat >= std::chrono::seconds(1)) check = true;
  if (!check) return c.settings;
  c.last_stat = now;
  const FileSig sig = SigOf(c.path);
  if (force || !c.valid || !(sig == c.sig)) {
    LoadSettings(c.settings);
    c.sig = sig;
    c.valid = true;
  }
  return c.settings;
}

void AppendStamp(std::string& out, const std::vector<StampToken>& formula) {
  const platform::LocalTime now = platform::Local();
  char buf[16];
  for (const auto& t : formula) {
    unsigned v = 0;
    switch (t.kind) {
      case StampToken::Literal: out += t.text; continue;
      case StampToken::Year:
        std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(now.tm.tm_year + 1900));
        out += buf;
        continue;
      case StampToken::Month: v = static_cast<unsigned>(now.tm.tm_mon + 1); break;
      case StampToken::Day: v = static_cast<unsigned>(now.tm.tm_mday); break;
      case StampToken::Hour: v = static_cast<unsigned>(now.tm.tm_hour); break;
      case StampToken::Minute: v = static_cast<unsigned>(now.tm.tm_min); break;
      case StampToken::Second: v = static_cast<unsigned>(now.tm.tm_sec); break;
    }
    std::snprintf(buf, sizeof buf, "%02u", v % 100);
    out += buf;
  }
}

// Seconds of the local wall-clock time (for the clear clock's differences).
int64_t LocalSeconds() {
  platform::LocalTime now = platform::Local();
  std::tm tm = now.tm;
  return static_cast<int64_t>(timegm(&tm));
}

// ---------------------------------------------------------------------------------------------
// Per-line scratch buffers, reused so that a line costs no allocation once they have grown. A hook
// may show another line while one is being shown; each nesting level has its own set.

struct Scratch {
  std::string unicode_text;
  std::string line;
  std::string plain;
  std::string strip;
  std::string nick;
  ui::WindowInfo info;
};

class ScratchLease {
 public:
  ScratchLease() {
    if (depth_ >= pool_.size()) pool_.push_back(std::make_unique<Scratch>());
    s_ = pool_[depth_++].get();
  }
  ~ScratchLease() { --depth_; }
  Scratch& operator*() { return *s_; }
  Scratch* operator->() { return s_; }

 private:
  static thread_local std::vector<std::unique_ptr<Scratch>> pool_;
  static thread_local std::size_t depth_;
  Scratch* s_;
};
thread_local std::vector<std::unique_ptr<Scratch>> ScratchLease::pool_;
thread_local std::size_t ScratchLease::depth_ = 0;

// Step 1: "FFFEEE" ... space becomes the Unicode-run markup 0x12 0x1F 0xFE 0xFF 0xFE 0xFF ... 0x12.
void ConvertUnicodeMarkers(std::string& s) {
  std::size_t from = 0;
  while (true) {
    const std::size_t p = s.find("FFFEEE", from);
    if (p == std::string::npos) return;
    const std::size_t sp = s.find(' ', p + 6);
    if (sp == std::string::npos) return;
    static constexpr char kMarker[6] = {'\x12', '\x1F', '\xFE', '\xFF', '\xFE', '\xFF'};
    s.replace(p, 6, kMarker, 6);
    s[sp] = '\x12';
    from = sp + 1;
  }
}

unsigned char LowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// The nick occurs in text (ASCII case-insensitive) followed by the end, a space, CR, LF, a comma
// or the digit 0.
bool ContainsNick(std::string_view text, std::string_view nick) {
  if (nick.empty() || nick.size() > text.size()) return false;
  const unsigned char first = LowerAscii(static_cast<unsigned char>(nick[0]));
  for (std::size_t i = 0; i + nick.size() <= text.size(); ++i) {
    if (LowerAscii(static_cast<unsigned char>(text[i])) != first) continue;
    std::size_t k = 1;
    while (k < nick.size() &&
           LowerAscii(static_cast<unsigned char>(text[i + k])) == LowerAscii(static_cast<unsigned char>(nick[k])))
      ++k;
    if (k < nick.size()) continue;
    const std::size_t after = i + nick.size();
    if (after == text.size()) return true;
    const char c = text[after];
    if (c == ' ' || c == '\r' || c == '\n' || c == ',' || c == '0') return true;
  }
  return false;
}

void CompleteLineEnd(std::string& line) {
  const std::size_t n = line.size();
  const char last = n ? line[n - 1] : '\0';
  const char prev = n >= 2 ? line[n - 2] : '\0';
  if (prev == '\r') {
    if (last != '\n') line += '\n';
  } else if (prev == '\n') {
    if (last != '\r') line += '\r';
  } else if (last == '\n') {
    line += '\r';
  } else if (last == '\r') {
    line += '\n';
  } else {
    line += "\r\n";
  }
}

// Backslash, x or X and two hexadecimal digits become that byte; *boundary (a byte offset) follows
// the bytes before it.
void DecodeHexEscapes(std::string& s, std::size_t* boundary) {
  if (s.size() < 4) return;
  if (s.find("\\x") == std::string::npos && s.find("\\X") == std::string::npos) return;
  std::size_t w = 0;
  const std::size_t old_boundary = *boundary;
  for (std::size_t r = 0; r < s.size();) {
    if (s[r] == '\\' && r + 3 < s.size() && (s[r + 1] == 'x' || s[r + 1] == 'X') &&
        codes::HexValue(s[r + 2]) >= 0 && codes::HexValue(s[r + 3]) >= 0) {
      s[w++] = static_cast<char>(codes::HexValue(s[r + 2]) * 16 + codes::HexValue(s[r + 3]));
      if (r < old_boundary) *boundary -= 3;
      r += 4;
    } else {
      s[w++] = s[r++];
    }
  }
  s.resize(w);
}

bool ActiveInForeground(int n, ui::FrontEnd& fe) {
  return sessions::WindowTable::Get().Active() == n && fe.InForeground();
}

int IndicatorOf(const sessions::WindowSlot& slot, const WindowOutput& out) {
  const int mode = out.notification_mode.load();
  if (mode == 3) return 3;
  if (out.mention.load() && (slot.kind != sessions::kServerWindow || out.attention.load())) return 2;
  if (out.new_text.load()) return 1;
  return 0;
}

// The at-bottom query: true when the view follows the new text (and it was scrolled to the caret).
bool QueryAtBottom(TextView& view, ui::FrontEnd& fe, const ui::WindowInfo& info) {
  if (!fe.SmartScroll()) {
    view.ScrollToCaret();
    return true;
  }
  if (view.ScrolledAway() || fe.TextViewHasFocus(info)) return false;
  view.ScrollToCaret();
  return true;
}

void Trim(TextView& view, int minutes) {
  const std::size_t length = view.Length();
  bool deleted = false;
  if (minutes <= 0) {
    if (length >= kTrimAt) {
      view.DeleteRange(0, kTrimBy);
      deleted = true;
    }
  } else {
    const int64_t now = LocalSeconds();
    const int64_t armed = g_clear_clock.load();
    if (armed == 0) {
      g_clear_clock.store(now == 0 ? 1 : now);
    } else if (now - armed > static_cast<int64_t>(minutes) * 60) {
      view.DeleteRange(0, length / 2);
      g_clear_clock.store(0);
      deleted = true;
    }
  }
  if (deleted) {
    view.CaretToEnd();
    view.ScrollToCaret();
  }
}

void UpdateNotification(WindowOutput& out, std::string_view line, Scratch& sc, int n, ui::FrontEnd& fe,
                        const sessions::WindowSlot& slot) {
  StripCodes(sc.strip, line, kStripAll);
  std::string& buf = out.notification_text;
  buf += sc.strip;
  while (buf.size() >= kNotifyCap) {
    const std::size_t lf = buf.find('\n');
    if (lf != std::string::npos && lf + 1 < buf.size()) {
      buf.erase(0, lf + 1);
    } else {
      // A single line too long for the buffer: keep its start rather than dropping all of it.
      std::size_t cut = kNotifyCut;
      while (cut > 0 && (static_cast<unsigned char>(buf[cut]) & 0xC0) == 0x80) --cut;
      buf.resize(cut);
    }
  }
  if (ActiveInForeground(n, fe)) return;
  std::string title = sc.info.name;
  title += " (Ctrl+" + std::to_string(n + 1) + ")";
  fe.TrayNotify(title, buf, 5);
  g_last_notified.store(slot.id);
}

void Beep() { ui::Current().Beep(); }

// The hold-while-selecting rule, then AppendLine. User-interface thread.
void Deliver(const ShowTextRequest& rq) {
  auto& table = sessions::WindowTable::Get();
  if (!rq.no_hold && rq.mode == 0) {
    if (auto slot = table.Slot(rq.window)) {
      WindowOutput& out = OutputOf(*slot);
      const auto [a, b] = out.view.Selection();
      const bool selecting = b > a && !(a == 0 && b == 1);
      if (selecting) {
        ui::FrontEnd& fe = ui::Current();
        const ui::WindowInfo info = slot->Info(rq.window);
        if (fe.FocusInWindow(info)) {
          if (b - a == 1 && out.view.IsObjectAt(a)) {
            fe.DeactivateObject(info);
            out.view.SetCaret(b);
          } else {
            HeldOutput held{rq, std::string(rq.text.substr(0, rq.text.find('\0')))};
            held.request.text = {};
            out.pending.push_back(std::move(held));
            return;
          }
        }
      }
      if (!out.pending.empty()) FlushPending(rq.window);
    }
  }
  AppendLine(rq);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void SetUnicodeDisplay(bool on) { g_unicode.store(on); }
bool UnicodeDisplay() { return g_unicode.load(); }
void SetOutputSuppressed(bool on) { g_suppressed.store(on); }
bool OutputSuppressed() { return g_suppressed.load(); }
void ReloadTextSettings() { g_reload.store(true); }
int64_t ClearClock() { return g_clear_clock.load(); }
void ResetClearClock() { g_clear_clock.store(0); }
uint64_t LastNotifiedWindow() { return g_last_notified.load(); }

OutputHooks& GetOutputHooks() {
  static OutputHooks hooks;
  return hooks;
}

void LoadStatusColours() {
  g_colours.info = static_cast<uint32_t>(config::PrefInt("Metrics", "InfColor", 0));
  g_colours.ok = static_cast<uint32_t>(config::PrefInt("Metrics", "OkkColor", 16711680));
  g_colours.error = static_cast<uint32_t>(config::PrefInt("Metrics", "ErrColor", 255));
  g_colours.text = static_cast<uint32_t>(config::PrefInt("Metrics", "ServerText", 0));
}

const StatusColours& Colours() { return g_colours; }

std::string StripCodesSimple(std::string_view t) { return StripCodes(t, kStripAll); }

WindowOutput& OutputOf(sessions::WindowSlot& slot) {
  std::call_once(slot.output_once, [&] { slot.output = std::make_shared<WindowOutput>(); });
  return *slot.output;
}

std::shared_ptr<WindowOutput> OutputOf(int window) {
  auto slot = sessions::WindowTable::Get().Slot(window);
  if (!slot) return nullptr;
  OutputOf(*slot);
  return std::shared_ptr<WindowOutput>(slot, slot->output.get());
}

int ActivityIndicator(int window) {
  auto slot = sessions::WindowTable::Get().Slot(window);
  if (!slot) return 0;
  return IndicatorOf(*slot, OutputOf(*slot));
}

void FlushPending(int window) {
  auto slot = sessions::WindowTable::Get().Slot(window);
  if (!slot) return;
  WindowOutput& out = OutputOf(*slot);
  if (out.pending.empty()) return;
  std::vector<HeldOutput> held;
  held.swap(out.pending);
  for (auto& h : held) {
    ShowTextRequest r = h.request;
    // The list goes with the window: show the entries where the window is now.
    const int n = sessions::WindowTable::Get().FindById(slot->id);
    if (n >= 0) r.window = n;
    r.text = h.text;
    r.no_hold = 1;
    r.no_timestamp = 0;
    r.utf8 = 0;
    r.target_view = nullptr;
    ShowText(r);
  }
}

void ShowText(const ShowTextRequest& request) {
  platform::UiLoop::Get().CallSync([&request] { Deliver(request); });
}

void ShowText(int32_t window, std::string_view text, int32_t fallback_window, uint32_t colour, int32_t mode,
              bool no_hold, bool no_timestamp, TextView* target_view) {
  ShowTextRequest r;
  r.window = window;
  r.text = text;
  r.fallback_window = fallback_window;
  r.colour = colour;
  r.mode = mode;
  r.no_hold = no_hold;
  r.no_timestamp = no_timestamp;
  r.utf8 = UnicodeDisplay();
  r.target_view = target_view;
  ShowText(r);
}

void AppendLine(const ShowTextRequest& rq) {
  std::string_view text = rq.text.substr(0, rq.text.find('\0'));
  ScratchLease sc;

  // Embedded Unicode runs.
  if (text.find("FFFEEE") != std::string_view::npos) {
    sc->unicode_text.assign(text);
    ConvertUnicodeMarkers(sc->unicode_text);
    text = sc->unicode_text;
  }

  // The window: the given one, else the fallback.
  auto& table = sessions::WindowTable::Get();
  int n = rq.window;
  auto slot = table.Slot(n);
  if (!slot) {
    n = rq.fallback_window;
    slot = table.Slot(n);
  }
  if (!slot) return;
  if (ui::Headless() || OutputSuppressed()) return;

  const Settings& st = CurrentSettings();
  ui::FrontEnd& fe = ui::Current();
  WindowOutput& out = OutputOf(*slot);
  TextView& view = rq.target_view ? *rq.target_view : out.view;
  ui::WindowInfo& info = sc->info;
  info.number = n;
  info.id = slot->id;
  info.kind = slot->kind;
  {
    std::lock_guard lock(slot->mutex);
    info.name.assign(slot->name);
  }

  uint32_t background = st.absolute_bg != -1 ? static_cast<uint32_t>(st.absolute_bg) : st.edit_bg;

  // Attention markers: 2 attention, 1 quiet, 0 none.
  int marker = 0;
  if (st.intelligent_notification) {
    if (text.find("\x12\x04\x04") != std::string_view::npos) marker = 2;
    else if (text.find("\x12\x04") != std::string_view::npos) marker = 1;
  }

  // Activity and mention state.
  if (!rq.target_view && marker != 1) {
    if (ActiveInForeground(n, fe)) {
      out.new_text.store(0);
      out.mention.store(0);
      out.attention.store(0);
    } else if (marker == 2) {
      out.new_text.store(1);
      out.mention.store(1);
      out.attention.store(1);
    } else {
      out.new_text.store(1);
    }
    std::string& nick = sc->nick;
    nick.clear();
    if (slot->kind == sessions::kDccWindow && !slot->transfer) {
      std::lock_guard lock(slot->mutex);
      nick.assign(slot->dcc_own_nick);
    } else if (table.Valid(rq.fallback_window)) {
      auto session = table.Session(rq.fallback_window);
      if (!session) session = table.Session(table.OwningServer(rq.fallback_window));
      if (session) {
        std::lock_guard lock(session->mutex);
        nick.assign(session->nick);
      }
    }
    if (ContainsNick(text, nick)) out.mention.store(1);
  }

  // Trailing line ends go; an empty line shows nothing.
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  if (text.empty()) return;

  // Assemble: time stamp, text, line end.
  std::string& line = sc->line;
  line.clear();
  if (rq.mode == 0 && !rq.no_timestamp) {
    if (st.time_stamp) AppendStamp(line, st.formula);
    else line += kNoStampPrefix;
  }
  std::size_t prefix = line.size();
  line += text;
  if (rq.mode != 1) CompleteLineEnd(line);
  DecodeHexEscapes(line, &prefix);

  if (auto& log = GetOutputHooks().log_line) log(n, line);
  if (auto& plugins = GetOutputHooks().text_shown)
    if (plugins(n, slot->id, rq.text.substr(0, rq.text.find('\0'))) == 1) return;

  if (slot->kind == sessions::kServerWindow && !st.color_server) background = 0xFFFFFF;

  fe.ActivityChanged(info, IndicatorOf(*slot, out));

  const int notification = out.notification_mode.load();
  if (notification == 1 || notification == 2) UpdateNotification(out, line, *sc, n, fe, *slot);

  const bool at_bottom = rq.mode == 0 && QueryAtBottom(view, fe, info);

  Trim(view, st.minutes_before_clear);

  if (rq.mode == 0) view.CaretToEnd();

  LineFormat format;
  format.colour = rq.colour;
  format.background = background;
  format.no_background = st.image_view;
  view.SetAutoUrlDetect(true);

  WalkOptions options;
  options.ignore = st.ignore;
  options.request_colour = rq.colour;
  options.reset_colour = st.reset_colour;
  options.reset_background = background;
  options.mode = rq.mode;
  options.at_bottom = at_bottom;
  options.window = n;
  options.plain_from = prefix;
  options.plain = &sc->plain;
  options.beep = &Beep;
  sc->plain.clear();
  WalkLine(view, line, format, options, &GetOutputHooks().markup);

  const int now_n = table.FindById(slot->id);
  if (now_n >= 0 && out.new_text.load() == 0 && at_bottom && ActiveInForeground(now_n, fe)) view.ScrollToCaret();

  std::string& plain = sc->plain;
  while (!plain.empty() && (plain.back() == '\r' || plain.back() == '\n')) plain.pop_back();
  if (now_n >= 0) {
    info.number = now_n;
    fe.LineAppended(info, plain, rq.colour);
  }
}

}  // namespace vanta::output
