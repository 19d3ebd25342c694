#include "config/file_set.h"

#include <mutex>

#include "platform/ini.h"

namespace vanta::config {

namespace {
std::mutex g_mutex;
std::string g_profile = "Administrator";
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
  std::string p = "USERS/" + ProfileName() + "/";
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

}  // namespace vanta::config
