#include "config/options.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "config/file_set.h"
#include "config/ini_store.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace vanta::config {

namespace {

constexpr OptionKind T = OptionKind::kText;
constexpr OptionKind I = OptionKind::kInt;
constexpr OptionKind M = OptionKind::kMultiLine;

constexpr const char* kQuitBanner = "VantaIRC 6 for Linux - the chat client that keeps you talking";

// Page 1: "General"; page 2: "Appearance"; page 3: "Metrics"; page 4: "MoreOptions"; page 5: the
// file server ("fserv.ini"); page 6: "Media"; page 7: "Syntax".
constexpr std::array<OptionEntry, kOptionCount> kTable = {{
    // General (56, six of them on page 5)
    {100, I, 4, "General", "PirchNotice", "1", 0, 0},
    {101, I, 4, "General", "VircNotice", "1", 0, 0},
    {102, I, 4, "General", "OnKickDestroy", "0", 0, 0},
    {103, I, 4, "General", "OnKickRejoin", "0", 0, 0},
    {104, I, 4, "General", "DisconnectDestroy", "0", 0, 0},
    {105, I, 4, "General", "WarnExtend", "1", 0, 0},
    {106, I, 4, "General", "CloneJoin", "1", 0, 0},
    {107, I, 4, "General", "RecLinks", "1", 0, 0},
    {108, I, 4, "General", "IgnoreF", "0", 0, 0},
    {109, I, 4, "General", "AutoIdent", "1", 0, 0},
    {110, I, 4, "General", "AutoFav", "0", 0, 0},
    {111, I, 4, "General", "PlaySound", "1", 0, 0},
    {112, I, 4, "General", "KeyPressAway", "0", 0, 0},
    {113, I, 4, "General", "ReconnectJoin", "1", 0, 0},
    {114, I, 4, "General", "PasteNow", "1", 0, 0},
    {115, I, 4, "General", "MacroReal", "1", 0, 0},
    {116, I, 4, "General", "PlayAVI", "1", 0, 0},
    {117, I, 4, "General", "IdentFromMail", "0", 0, 0},
    {118, I, 4, "General", "AllowIntelligentNotification", "1", 0, 0},
    {119, T, 1000, "General", "QuitMsg", kQuitBanner, 0, 0},
    {120, T, 1000, "General", "FingerMsg", "Uh , finger ?", 0, 0},
    {121, T, 100, "General", "IdentString", "USERID : Win32 : VantaIRC", 0, 0},
    {122, T, 100, "General", "MailServer", "", 0, 0},
    {123, T, 1000, "General", "FilesDir", "FILES", 0, 0},
    {124, T, 1000, "General", "SoundDir", "SOUND", 0, 0},
    {125, T, 1000, "General", "LogDir", "FILES", 0, 0},
    {126, T, 100, "General", "MyMail", "", 0, 0},
    {500, I, 4, "General", "MaxUsers", "10", 0, 0},
    {501, T, 1000, "General", "WelcomeMessage", "", 0, 0},
    {502, T, 1000, "General", "SignoffMessage", "", 0, 0},
    {503, T, 1000, "General", "IPMaskDeny", "", 0, 0},
    {504, I, 4, "General", "Logging", "0", 0, 0},
    {505, I, 4, "General", "Display", "1", 0, 0},
    {127, I, 4, "General", "TipColor", "16777215", 0, 0},
    {128, I, 4, "General", "ToolbarColor", "12632256", 0, 0},
    {129, I, 4, "General", "AutoFiles", "0", 0, 0},
    {130, I, 4, "General", "AutoChat", "0", 0, 0},
    {131, I, 4, "General", "MaxDCCPacket", "1024", 0, 0},
    {132, I, 4, "General", "AutoResume", "0", 0, 0},
    {133, I, 4, "General", "AutoResumeTime", "5000", 0, 0},
    {134, I, 4, "General", "BeepPrivate", "0", 0, 0},
    {135, I, 4, "General", "BeepNotice", "0", 0, 0},
    {136, I, 4, "General", "BeepConnect", "0", 0, 0},
    {137, I, 4, "General", "BeepDisconnect", "0", 0, 0},
    {138, I, 4, "General", "BeepDCCDone", "0", 0, 0},
    {139, I, 4, "General", "BeepInMsg", "0", 0, 0},
    {140, T, 1000, "General", "BeepPrivateFile", "", 0, 0},
    {141, T, 1000, "General", "BeepNoticeFile", "", 0, 0},
    {142, T, 1000, "General", "BeepConnectFile", "", 0, 0},
    {143, T, 1000, "General", "BeepDisConnectFile", "", 0, 0},
    {144, T, 1000, "General", "BeepDCCDoneFile", "", 0, 0},
    {145, T, 1000, "General", "BeepInMsgFile", "", 0, 0},
    {146, M, 10000, "General", "KickMsg", "", 0, 0},
    {147, M, 10000, "General", "BlackListScript", "", 0, 0},
    {148, T, 100, "General", "QuickCompleteS", "", 0, 0},
    {149, T, 100, "General", "QuickCompleteT", "", 0, 0},
    // Appearance (22)
    {200, I, 4, "Appearance", "NOTICEALL", "1", 0, 0},
    {201, I, 4, "Appearance", "AUTOSAVEPOS", "1", 0, 0},
    {202, I, 4, "Appearance", "HidePP", "1", 0, 0},
    {203, I, 4, "Appearance", "ShowSmallTips", "1", 0, 0},
    {204, I, 4, "Appearance", "ShowShortcutWindow", "1", 0, 0},
    {205, I, 4, "Appearance", "FormatWhois", "0", 0, 0},
    {206, I, 4, "Appearance", "MixEditors", "1", 0, 0},
    {207, I, 4, "Appearance", "MaxAlign", "0", 0, 0},
    {208, I, 4, "Appearance", "IgB0", "0", 0, 0},
    {209, I, 4, "Appearance", "IgI0", "0", 0, 0},
    {210, I, 4, "Appearance", "IgU0", "0", 0, 0},
    {211, I, 4, "Appearance", "IgS0", "0", 0, 0},
    {212, I, 4, "Appearance", "IgK0", "0", 0, 0},
    {213, I, 4, "Appearance", "IgD0", "0", 0, 0},
    {214, I, 4, "Appearance", "IgG0", "0", 0, 0},
    {215, I, 4, "Appearance", "IgY0", "0", 0, 0},
    {216, I, 4, "Appearance", "IgE0", "0", 0, 0},
    {217, I, 4, "Appearance", "IgT0", "0", 0, 0},
    {218, I, 4, "Appearance", "IgQ0", "0", 0, 0},
    {219, I, 4, "Appearance", "IgO0", "0", 0, 0},
    {220, I, 4, "Appearance", "IgL0", "0", 0, 0},
    {221, I, 4, "Appearance", "IgR0", "0", 0, 0},
    // Metrics (26)
    {300, I, 4, "Metrics", "ShowPanel", "1", 0, 0},
    {301, I, 4, "Metrics", "IsNickLeft", "0", 0, 0},
    {302, I, 4, "Metrics", "StartToolbar", "1", 0, 0},
    {303, I, 4, "Metrics", "AutoCascade", "0", 0, 0},
    {304, I, 4, "Metrics", "AutoTile", "0", 0, 0},
    {305, I, 4, "Metrics", "AutoArrange", "0", 0, 0},
    {306, I, 4, "Metrics", "EditBG", "16777215", 0, 0},
    {307, I, 4, "Metrics", "InputBG", "16777215", 0, 0},
    {308, I, 4, "Metrics", "ListBG", "16777215", 0, 0},
    {309, I, 4, "Metrics", "InputFG", "0", 0, 0},
    {310, I, 4, "Metrics", "ListFG", "0", 0, 0},
    {311, I, 4, "Metrics", "ServerText", "0", 0, 0},
    {312, I, 4, "Metrics", "OkkColor", "16711680", 0, 0},
    {313, I, 4, "Metrics", "InfColor", "0", 0, 0},
    {314, I, 4, "Metrics", "ErrColor", "255", 0, 0},
    {315, T, 1000, "Metrics", "ImageView", "", 0, 0},
    {316, T, 1000, "Metrics", "ImageScript", "", 0, 0},
    {317, T, 1000, "Metrics", "BGBitmap", "", 0, 0},
    {318, T, 1000, "Metrics", "ImageTbar", "", 0, 0},
    {319, T, 1000, "Metrics", "ImageButt", "", 0, 0},
    {320, T, 1000, "Metrics", "ImageDlg", "", 0, 0},
    {321, I, 4, "Metrics", "InputH", "25", 0, 0},
    {322, I, 4, "Metrics", "ListW", "120", 0, 0},
    {323, I, 4, "Metrics", "TabH", "25", 0, 0},
    {324, I, 4, "Metrics", "STabH", "25", 0, 0},
    {325, I, 4, "Metrics", "VTabW", "100", 0, 0},
    // MoreOptions (35)
    {400, I, 4, "MoreOptions", "ServerOut", "0", 0, 0},
    {401, I, 4, "MoreOptions", "ChannelOut", "0", 0, 0},
    {402, I, 4, "MoreOptions", "QueryOut", "0", 0, 0},
    {403, I, 4, "MoreOptions", "DCCOut", "0", 0, 0},
    {404, I, 4, "MoreOptions", "WarnOff", "0", 0, 0},
    {405, I, 4, "MoreOptions", "AltF4", "1", 0, 0},
    {406, I, 4, "MoreOptions", "ColorServer", "1", 0, 0},
    {407, T, 100, "MoreOptions", "MyIP", "", 0, 0},
    {408, T, 100, "MoreOptions", "Prefix", "", 0, 0},
    {409, T, 1000, "MoreOptions", "Hilite", "", 0, 0},
    {410, T, 1000, "MoreOptions", "HiliteFormula", "$h02$h04$h034,8%s$h02$h031,0", 0, 0},
    {411, T, 100, "MoreOptions", "ICQNumber", "", 0, 0},
    {412, I, 4, "MoreOptions", "MaxReconnect", "5", 0, 0},
    {413, T, 1000, "MoreOptions", "DefaultArgs", "", 0, 0},
    {414, I, 4, "MoreOptions", "TimeStamp", "0", 0, 0},
    {415, T, 1000, "MoreOptions", "TimeStampFormula", "$h031$h02$hour:$minute | $h02$h03$h07$h03$h07", 0, 0},
    {416, I, 4, "MoreOptions", "AutoPing", "1", 0, 0},
    {417, I, 4, "MoreOptions", "AutoTime", "1", 0, 0},
    {418, I, 4, "MoreOptions", "AutoFinger", "1", 0, 0},
    {419, I, 4, "MoreOptions", "AutoFile", "1", 0, 0},
    {420, I, 4, "MoreOptions", "AutoChat", "1", 0, 0},
    {421, I, 4, "MoreOptions", "AutoVoice", "1", 0, 0},
    {422, I, 4, "MoreOptions", "AutoVersion", "1", 0, 0},
    {423, I, 4, "MoreOptions", "AutoClientinfo", "1", 0, 0},
    {424, I, 4, "MoreOptions", "AutoLogServer", "0", 0, 0},
    {425, I, 4, "MoreOptions", "AutoLogChannel", "0", 0, 0},
    {426, I, 4, "MoreOptions", "AutoLogQuery", "0", 0, 0},
    {427, I, 4, "MoreOptions", "AutoLogDCC", "0", 0, 0},
    {428, T, 100, "MoreOptions", "LogServerFile", "*.log", 0, 0},
    {429, T, 100, "MoreOptions", "LogChannelFile", "*.log", 0, 0},
    {430, T, 100, "MoreOptions", "LogQueryFile", "*.log", 0, 0},
    {431, T, 100, "MoreOptions", "LogDCCFile", "dcc_*.log", 0, 0},
    {432, I, 4, "MoreOptions", "FloodDelay", "100", 0, 0},
    {433, I, 4, "MoreOptions", "YieldNum", "1", 0, 0},
    {434, I, 4, "MoreOptions", "MaxUserWatch", "30", 0, 0},
    // Media (2)
    {600, I, 4, "Media", "TimeOut", "30", 0, 0},
    {601, I, 4, "Media", "KB", "100", 0, 0},
    // Syntax (6)
    {700, I, 4, "Syntax", "SyntaxHilite", "0", 0, 0},
    {701, I, 4, "Syntax", "SH_1", "0", 0, 0},
    {702, I, 4, "Syntax", "SH_2", "0", 0, 0},
    {703, I, 4, "Syntax", "SH_3", "0", 0, 0},
    {704, I, 4, "Syntax", "SH_4", "0", 0, 0},
    {705, I, 4, "Syntax", "SH_5", "0", 0, 0},
}};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

struct Cache {
  std::array<std::atomic<int>, kOptionCount> ints{};
  std::mutex text_mutex;  // guards texts and the directory values
  std::array<std::string, kOptionCount> texts;
  std::string files_dir, sound_dir, log_dir, nick_prefix;
  std::unordered_map<std::string, int> index;  // "section\nkey", lower case; built once

  Cache() {
    for (int i = 0; i < kOptionCount; ++i)
      index.emplace(Lower(kTable[i].section) + "\n" + Lower(kTable[i].key), i);
    Reset();
  }
  void Reset() {
    std::lock_guard lock(text_mutex);
    for (int i = 0; i < kOptionCount; ++i) {
      const OptionEntry& e = kTable[i];
      ints[i].store(e.kind == I ? static_cast<int>(atol(e.def)) : 0, std::memory_order_relaxed);
      texts[i] = e.kind == I ? "" : e.def;
    }
    files_dir = sound_dir = log_dir = nick_prefix = "";
  }
};

Cache& C() {
  static Cache cache;
  return cache;
}

bool InRange(int index) { return index >= 0 && index < kOptionCount; }

void LoadEntry(int i) {
  const OptionEntry& e = kTable[i];
  if (e.kind == OptionKind::kControl) return;
  const std::string file = OptionFile(e);
  auto& c = C();
  if (e.kind == I) {
    const std::string raw = platform::ini::ReadString(file, e.section, e.key, e.def, e.size < 100 ? 100 : e.size);
    c.ints[i].store(static_cast<int>(atol(raw.c_str())), std::memory_order_relaxed);
    return;
  }
  std::string value = platform::ini::ReadString(file, e.section, e.key, e.def, e.size);
  if (e.kind == T) value = DecodeStoredText(value);
  else value = DecodeLines(value);
  std::lock_guard lock(c.text_mutex);
  c.texts[i] = std::move(value);
}

}  // namespace

std::span<const OptionEntry> OptionTable() { return kTable; }

int OptionPage(const OptionEntry& e) {
  const int page = e.id / 100;
  return page > 20 ? 20 : page;
}

std::string OptionFile(const OptionEntry& e) {
  return OptionPage(e) == 5 ? BuildPath("fserv.ini", true) : PrefIni();
}

int OptionIndex(std::string_view section, std::string_view key) {
  auto& c = C();
  auto it = c.index.find(Lower(section) + "\n" + Lower(key));
  return it == c.index.end() ? -1 : it->second;
}

int OptionInt(int index) {
  if (!InRange(index)) return 0;
  if (kTable[index].kind == I) return C().ints[index].load(std::memory_order_relaxed);
  return static_cast<int>(atol(OptionText(index).c_str()));
}

std::string OptionText(int index) {
  if (!InRange(index)) return "";
  auto& c = C();
  if (kTable[index].kind == I) return std::to_string(c.ints[index].load(std::memory_order_relaxed));
  std::lock_guard lock(c.text_mutex);
  return c.texts[index];
}

int OptionInt(std::string_view section, std::string_view key, int def) {
  const int i = OptionIndex(section, key);
  return i < 0 ? def : OptionInt(i);
}

std::string OptionText(std::string_view section, std::string_view key, std::string_view def) {
  const int i = OptionIndex(section, key);
  return i < 0 ? std::string(def) : OptionText(i);
}

bool SetOptionInt(int index, int value) {
  if (!InRange(index) || kTable[index].kind != I) return false;
  C().ints[index].store(value, std::memory_order_relaxed);
  return true;
}

bool SetOptionText(int index, std::string_view value) {
  if (!InRange(index) || kTable[index].kind == I || kTable[index].kind == OptionKind::kControl) return false;
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  c.texts[index].assign(value.substr(0, kTable[index].size - 1));
  return true;
}

void ResetOptionsToDefaults() { C().Reset(); }

void LoadOptions() {
  for (int i = 0; i < kOptionCount; ++i) LoadEntry(i);
  ReloadDirectories();
  std::string prefix = PrefString("General", "NickPrefix", "", 100);
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  c.nick_prefix = std::move(prefix);
}

void LoadOptionsPage(int page) {
  for (int i = 0; i < kOptionCount; ++i)
    if (OptionPage(kTable[i]) == page) LoadEntry(i);
}

std::string NormaliseDir(std::string_view value, std::string_view def) {
  std::string v;
  for (char c : value) v += c == '\\' ? '/' : c;
  const auto first = v.find_first_not_of(" \t");
  if (first == std::string::npos) v.clear();
  else v = v.substr(first, v.find_last_not_of(" \t") - first + 1);
  while (v.size() > 1 && v.back() == '/') v.pop_back();
  if (v.empty() || v == "/" ) v = v.empty() ? std::string(def) : v;
  std::string path = platform::ResolvePath(v);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void ReloadDirectories() {
  std::string files = NormaliseDir(PrefString("General", "FilesDir", "FILES"), "FILES");
  std::string sound = NormaliseDir(PrefString("General", "SoundDir", "SOUND"), "SOUND");
  std::string log = NormaliseDir(PrefString("General", "LogDir", "FILES"), "FILES");
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  c.files_dir = std::move(files);
  c.sound_dir = std::move(sound);
  c.log_dir = std::move(log);
}

std::string FilesDir() {
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  return c.files_dir.empty() ? platform::ResolvePath("FILES") : c.files_dir;
}
std::string SoundDir() {
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  return c.sound_dir.empty() ? platform::ResolvePath("SOUND") : c.sound_dir;
}
std::string LogDir() {
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  return c.log_dir.empty() ? platform::ResolvePath("FILES") : c.log_dir;
}
std::string NickPrefix() {
  auto& c = C();
  std::lock_guard lock(c.text_mutex);
  return c.nick_prefix;
}

}  // namespace vanta::config
