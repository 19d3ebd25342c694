// libvres.so: resources by type and name, and the two entries the main program calls when its main
// window exists ("VantaIRCInit") and when it shuts down ("VantaIRCClose").
//
// "OCX.INI" in the program directory holds section "Vairc", key "HWND": where the running main
// program can be reached. On this platform that is the path of its control socket, which lies in the
// program directory, so the directory of that path is where "OCX.INI" goes.
#include <fcntl.h>
#include <cerrno>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "resources.h"

#define VRES_EXPORT extern "C" __attribute__((visibility("default")))

namespace vanta::vres {
namespace {

std::mutex g_mutex;
std::string g_ocx_ini;  // set by VantaIRCInit

bool ReadAll(const std::string& path, std::string* out) {
  out->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) {
    out->append(buf, static_cast<std::size_t>(n));
    if (out->size() > (1u << 20)) break;  // "OCX.INI" is tiny; never read a huge file whole
  }
  ::close(fd);
  return n >= 0;
}

bool WriteAtomically(const std::string& path, const std::string& data) {
  std::string tmp = path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    off += static_cast<std::size_t>(n);
  }
  ::fsync(fd);
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

// The file without section "Vairc" (any spelling, every occurrence), lines ending in CR LF.
std::string WithoutSection(const std::string& text) {
  std::string out;
  bool skipping = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end) - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view t = line;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    if (!t.empty() && t.front() == '[') {
      auto close = t.find(']');
      std::string_view name = t.substr(1, close == std::string_view::npos ? t.size() - 1 : close - 1);
      skipping = name.size() == 5 && strncasecmp(name.data(), "Vairc", 5) == 0;
    }
    if (skipping) continue;
    out.append(line);
    out += "\r\n";
  }
  return out;
}

std::string DirOf(std::string_view path) {
  auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

}  // namespace
}  // namespace vanta::vres

using namespace vanta::vres;

// Looks a resource up by type and name (ASCII case-insensitive). Null when there is none.
VRES_EXPORT const void* VantaFindResource(const char* type, const char* name, uint32_t* size) {
  if (size) *size = 0;
  if (!type || !name) return nullptr;
  for (unsigned i = 0; i < kResourceCount; ++i) {
    const Resource& r = kResources[i];
    if (strcasecmp(r.type, type) == 0 && strcasecmp(r.name, name) == 0) {
      if (size) *size = r.size;
      return r.data;
    }
  }
  return nullptr;
}

// The main program is up and reachable at `main_window` (its control socket's path): writes
// "Vairc"/"HWND" into "OCX.INI" beside it. 1 on success, 0 on failure.
VRES_EXPORT int VantaIRCInit(const char* main_window) {
  if (!main_window || !*main_window || std::strpbrk(main_window, "\r\n")) return 0;
  std::lock_guard lock(g_mutex);
  g_ocx_ini = DirOf(main_window) + "/OCX.INI";
  std::string text;
  if (!ReadAll(g_ocx_ini, &text)) return 0;
  std::string out = WithoutSection(text);
  out += "[Vairc]\r\nHWND=";
  out += main_window;
  out += "\r\n";
  return WriteAtomically(g_ocx_ini, out) ? 1 : 0;
}

// The main program is shutting down: removes section "Vairc" from "OCX.INI".
VRES_EXPORT void VantaIRCClose() {
  std::lock_guard lock(g_mutex);
  if (g_ocx_ini.empty()) return;
  std::string text;
  if (ReadAll(g_ocx_ini, &text) && !text.empty()) WriteAtomically(g_ocx_ini, WithoutSection(text));
  g_ocx_ini.clear();
}
