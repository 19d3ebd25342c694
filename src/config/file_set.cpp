#include "config/file_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/dynlib.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace vanta::config {

namespace {
std::mutex g_mutex;
std::string g_profile = "Administrator";
std::shared_ptr<platform::Library> g_vres;

constexpr std::array<FileSetEntry, 27> kFiles = {{
    {"pref.ini", true, "PREFINI"},
    {"prefbak.ini", true, ""},
    {"server.ini", true, "SERVERINI"},
    {"alias.ini", true, "ALIASINI"},
    {"event.ini", true, "EVENTINI"},
    {"alarm.ini", true, ""},
    {"menus.ini", true, ""},
    {"notebook.ini", true, ""},
    {"calendar.ini", true, ""},
    {"fserv.ini", true, ""},
    {"proxy.ini", true, ""},
    {"resize.ini", true, ""},
    {"font.dat", true, "FONTDAT"},
    {"accounts.ini", false, "ACCOUNTSINI"},
    {"easy.ini", false, "EASYINI"},
    {"symbol.dat", false, "SYMBOLDAT"},
    {"voice.dat", false, "VOICEDAT"},
    {"fixed.dat", false, ""},
    {"up.ini", false, ""},
    {"l3.ini", false, ""},
    {"skin.ini", false, ""},
    {"scri.ini", false, ""},
    {"plug.ini", false, ""},
    {"iplug.ini", false, ""},
    {"mods.ini", false, ""},
    {"debug.txt", false, ""},
    {"ilang.ini", false, ""},
}};

// A Windows LOGFONT for the fixed-pitch font: height -13, weight 400, fixed pitch, modern family,
// face "DejaVu Sans Mono".
constexpr std::array<uint8_t, 60> kFixedFont = {
    0xf3, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x90, 0x01, 0, 0,  //
    0, 0, 0, 0, 0, 0, 0, 0x31, 'D', 'e', 'j', 'a', 'V', 'u', ' ', 'S', 'a', 'n', 's', ' ',
    'M', 'o', 'n', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

bool WriteNewFile(const std::string& path, std::span<const uint8_t> data) {
  if (!platform::EnsureParentDir(path)) return false;
  const std::string tmp = path + ".seed" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t off = 0;
  bool ok = true;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n <= 0) {
      ok = false;
      break;
    }
    off += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ::close(fd);
  // link() never replaces: a file that appeared meanwhile is kept as it is.
  if (ok && ::link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) ok = false;
  ::unlink(tmp.c_str());
  return ok;
}
}  // namespace

void SetProfileName(std::string name) {
  std::lock_guard lock(g_mutex);
  g_profile = std::move(name);
}

std::string ProfileName() {
  std::lock_guard lock(g_mutex);
  return g_profile;
}

std::string BuildPath(std::string_view file, bool in_profile) {
  if (!in_profile) return std::string(file);
  // The profile name comes from "accounts.ini": as a folder name it never leaves "USERS".
  std::string p = "USERS/" + platform::WindowFileName(ProfileName()) + "/";
  p += file;
  return p;
}

std::string PrefIni() { return BuildPath("pref.ini", true); }

std::string PrefString(std::string_view section, std::string_view key, std::string_view def, std::size_t cap) {
  return platform::ini::ReadString(PrefIni(), section, key, def, cap);
}

int PrefInt(std::string_view section, std::string_view key, int def) {
  return platform::ini::ReadInt(PrefIni(), section, key, def);
}

std::span<const FileSetEntry> FileSetTable() { return kFiles; }

std::string FileSetPath(std::string_view file) {
  for (const auto& e : kFiles)
    if (file.size() == strlen(e.file) && strncasecmp(e.file, file.data(), file.size()) == 0)
      return BuildPath(e.file, e.in_profile);
  return BuildPath(file, false);
}

bool LoadResourceLibrary() {
  auto lib = platform::LoadLibraryByName(kResourceLibrary);
  std::lock_guard lock(g_mutex);
  g_vres = std::move(lib);
  return g_vres != nullptr;
}

std::shared_ptr<platform::Library> ResourceLibrary() {
  std::lock_guard lock(g_mutex);
  return g_vres;
}

void UnloadResourceLibrary() {
  std::lock_guard lock(g_mutex);
  g_vres.reset();
}

std::optional<std::span<const uint8_t>> FindResource(std::string_view type, std::string_view name) {
  auto lib = ResourceLibrary();
  if (!lib) return std::nullopt;
  using Find = const void* (*)(const char*, const char*, uint32_t*);
  auto find = lib->Entry<Find>("VantaFindResource");
  if (!find) return std::nullopt;
  uint32_t size = 0;
  const void* data = find(std::string(type).c_str(), std::string(name).c_str(), &size);
  if (!data) return std::nullopt;
  // The span points into the library, which stays loaded until shutdown.
  return std::span<const uint8_t>(static_cast<const uint8_t*>(data), size);
}

bool SeedFile(std::string_view path, std::string_view resource) {
  if (platform::ini::FileExists(path)) return true;
  auto data = FindResource("DATA", resource);
  if (!data) return false;
  const bool ok = WriteNewFile(platform::ResolvePath(path), *data);
  platform::ini::FlushCache();  // the file's "missing" state may be cached
  return ok;
}

void SeedFiles() {
  for (const char* file : {"pref.ini", "alias.ini", "event.ini", "server.ini", "font.dat", "symbol.dat",
                           "voice.dat", "easy.ini", "accounts.ini"}) {
    for (const auto& e : kFiles)
      if (strcmp(e.file, file) == 0) SeedFile(BuildPath(e.file, e.in_profile), e.seed);
  }
}

void CreateStartupDirectories() {
  platform::EnsureDir("USERS");
  platform::EnsureDir(BuildPath("", true));
  for (const char* dir : {"FILES", "SOUND", "DYN", "MEDIA"}) platform::EnsureDir(dir);
}

int CleanDyn() {
  static constexpr const char* kExtensions[] = {"TMP", "TXT", "DAT", "RTF", "INI", "DLG", "BMP",
                                                "JPG", "STG", "HTM", "GIF", "SWF", "SKI", "KEY"};
  const std::string dir = platform::ResolvePath("DYN");
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int deleted = 0;
  while (dirent* ent = ::readdir(d)) {
    const char* name = ent->d_name;
    const char* dot = strrchr(name, '.');
    if (!dot || dot == name) continue;
    bool match = false;
    for (const char* ext : kExtensions) match = match || strcasecmp(dot + 1, ext) == 0;
    if (!match) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) continue;
    if (::unlinkat(::dirfd(d), name, 0) == 0) ++deleted;
  }
  ::closedir(d);
  if (deleted) platform::ini::FlushCache();
  return deleted;
}

void DeleteProxyX() { platform::ini::DeleteSection(PrefIni(), "ProxyX"); }

void PrepareFileSet() {
  CreateStartupDirectories();
  SeedFiles();
  CleanDyn();
  DeleteProxyX();
}

std::span<const uint8_t> FixedFontResource() { return kFixedFont; }

bool SeedFixedFont() {
  const std::string path = BuildPath("fixed.dat", false);
  if (platform::ini::FileExists(path)) return true;
  return WriteNewFile(platform::ResolvePath(path), kFixedFont);
}

bool CallResourceInit(std::string_view control_socket) {
  auto lib = ResourceLibrary();
  if (!lib) return false;
  auto init = lib->Entry<int (*)(const char*)>("VantaIRCInit");
  return init && init(std::string(control_socket).c_str()) == 1;
}

void CallResourceClose() {
  auto lib = ResourceLibrary();
  if (!lib) return;
  if (auto close = lib->Entry<void (*)()>("VantaIRCClose")) close();
}

}  // namespace vanta::config
