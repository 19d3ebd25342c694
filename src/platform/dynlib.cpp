#include "platform/dynlib.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "platform/paths.h"


namespace vanta::platform {

namespace {
std::mutex g_dir_mutex;
std::string g_library_dir;

bool IsRegularFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Finds `name` in `dir` ignoring ASCII case; returns the full path or "".
std::string FindInDir(const std::string& dir, const std::string& name) {
  if (dir.empty() || name.empty()) return {};
  std::string exact = dir + "/" + name;
  if (IsRegularFile(exact)) return exact;
  DIR* d = opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      std::string p = dir + "/" + e->d_name;
      if (IsRegularFile(p)) { found = p; break; }
    }
  }
  closedir(d);
  return found;
}

std::string LibraryDir() {
  std::lock_guard lock(g_dir_mutex);
  return g_library_dir.empty() ? ExecutableDir() : g_library_dir;
}
}  // namespace

Library::~Library() {
  if (handle_) dlclose(handle_);
}

void* Library::Symbol(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

std::string LibraryFileName(std::string_view name) {
  std::string s(name);
  if (s.size() >= 4 && strcasecmp(s.c_str() + s.size() - 4, ".dll") == 0) s.resize(s.size() - 4);
  for (char& c : s) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  if (s.size() < 3 || s.compare(s.size() - 3, 3, ".so") != 0) s += ".so";
  return s;
}

const std::string& ExecutableDir() {
  static const std::string dir = [] {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string(".");
    std::string p(buf, static_cast<std::size_t>(n));
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
  }();
  return dir;
}

void SetLibraryDir(std::string dir) {
  std::lock_guard lock(g_dir_mutex);
  g_library_dir = std::move(dir);
}

std::shared_ptr<Library> LoadLibraryByName(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos)
    return nullptr;
  const std::string given(name);
  const std::string mapped = LibraryFileName(name);
  for (const std::string& dir : {LibraryDir(), ProgramDir()}) {
    for (const std::string* candidate : {&given, &mapped}) {
      std::string path = FindInDir(dir, *candidate);
      if (path.empty()) continue;
      if (void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return std::make_shared<Library>(h, path);
    }
  }
  return nullptr;
}

}  // namespace vanta::platform
