#include "platform/paths.h"

#include "platform/codec.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <mutex>
#include <vector>

namespace vanta::platform {
namespace {

// Every directory ever set stays alive, so a reference handed out by ProgramDir() never dangles and
// readers need no lock.
const std::string kEmpty;
std::mutex g_dir_mu;
std::deque<std::string> g_dirs;
std::atomic<const std::string*> g_dir{&kEmpty};

// Serialises directory creation, so two threads asking for "dyn" and "DYN" get one folder.
std::mutex g_mkdir_mu;

constexpr std::size_t kNameMax = 255;


std::string_view CutAtNul(std::string_view s) {
  auto nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

bool IsSep(char c) { return c == '/' || c == '\\'; }

// Splits on '/' and '\', folding "." and "..". `ups` counts the ".." that went above the start.
void FoldComponents(std::string_view s, std::vector<std::string_view>& out, std::size_t& ups, bool backslash) {
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == '/' || (backslash && s[i] == '\\'))) ++i;
    std::size_t j = i;
    while (j < s.size() && !(s[j] == '/' || (backslash && s[j] == '\\'))) ++j;
    if (j == i) break;
    std::string_view c = s.substr(i, j - i);
    if (c == ".") {
    } else if (c == "..") {
      if (!out.empty()) out.pop_back();
      else ++ups;
    } else {
      out.push_back(c);
    }
    i = j;
  }
}

std::string JoinUnder(std::string base, const std::vector<std::string_view>& parts) {
  for (auto p : parts) {
    if (!base.empty() && base.back() != '/') base += '/';
    base.append(p);
  }
  return base;
}

// Removes `n` trailing components of an absolute path, never above "/".
void DropComponents(std::string& path, std::size_t n) {
  while (n-- > 0 && path.size() > 1) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) { path.clear(); return; }
    path.resize(pos == 0 ? 1 : pos);
  }
}

const char* Sys(const std::string& p) { return p.empty() ? "." : p.c_str(); }

bool IsDir(const std::string& p) {
  struct stat st;
  return ::stat(Sys(p), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& p) {
  struct stat st;
  return ::stat(Sys(p), &st) == 0;
}

std::string Child(const std::string& dir, std::string_view name) {
  std::string r = dir;
  if (!r.empty() && r.back() != '/') r += '/';
  r.append(name);
  return r;
}

// Looks for an entry of `dir` equal to `name` ignoring ASCII case. Several candidates: the smallest
// by bytes (an exact match wins), so the choice does not depend on directory order. False when none (or dir unreadable).
bool FindNoCase(const std::string& dir, std::string_view name, std::string& found, bool& dir_ok,
                struct stat& dir_st) {
  DIR* d = ::opendir(Sys(dir));
  dir_ok = d != nullptr && ::fstat(::dirfd(d), &dir_st) == 0;
  if (!d) return false;
  bool any = false;
  while (dirent* e = ::readdir(d)) {
    std::string_view en(e->d_name);
    if (en == "." || en == "..") continue;
    if (!EqualsNoCase(en, name)) continue;
    if (en == name) {
      found.assign(en);
      any = true;
      break;
    }
    if (!any || en < std::string_view(found)) found.assign(en);
    any = true;
  }
  ::closedir(d);
  return any;
}

}  // namespace

void SetProgramDir(std::string dir) {
  dir.assign(CutAtNul(dir));
  std::string base;
  if (dir.empty() || dir[0] != '/') {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf)) base = buf;
    else base = "/";
  }
  std::vector<std::string_view> parts;
  std::size_t ups = 0;
  FoldComponents(base, parts, ups, false);
  std::vector<std::string_view> more;
  std::size_t more_ups = 0;
  FoldComponents(dir, more, more_ups, false);
  for (std::size_t i = 0; i < more_ups && !parts.empty(); ++i) parts.pop_back();
  parts.insert(parts.end(), more.begin(), more.end());
  std::string abs = JoinUnder("/", parts);

  // Create it (and its parents) when missing; a failure shows later as failing file operations.
  for (std::size_t pos = 1; pos <= abs.size(); ++pos) {
    if (pos == abs.size() || abs[pos] == '/') {
      std::string prefix = abs.substr(0, pos);
      if (!IsDir(prefix)) ::mkdir(prefix.c_str(), 0777);
    }
  }

  std::lock_guard<std::mutex> lk(g_dir_mu);
  if (*g_dir.load(std::memory_order_acquire) == abs) return;
  g_dirs.push_back(std::move(abs));
  g_dir.store(&g_dirs.back(), std::memory_order_release);
}

const std::string& ProgramDir() { return *g_dir.load(std::memory_order_acquire); }

std::string LexicalPath(std::string_view path) {
  path = CutAtNul(path);
  bool absolute = !path.empty() && IsSep(path[0]);
  std::vector<std::string_view> parts;
  parts.reserve(8);
  std::size_t ups = 0;
  FoldComponents(path, parts, ups, true);
  std::string base;
  if (absolute) {
    base = "/";
  } else {
    base = ProgramDir();
    if (!base.empty()) DropComponents(base, ups);
  }
  return JoinUnder(std::move(base), parts);
}

std::string ResolveLexical(const std::string& lexical, std::string* deepest_dir, struct stat* deepest_stat) {
  if (deepest_dir) deepest_dir->clear();
  if (lexical.empty() || lexical == "/" || Exists(lexical)) return lexical;

  // Components after the root ("/" or, with no program directory, the cwd).
  bool absolute = lexical[0] == '/';
  std::vector<std::string_view> parts;
  std::size_t ups = 0;
  FoldComponents(lexical, parts, ups, false);
  std::string root = absolute ? "/" : "";

  // The deepest prefix that exists with the exact spelling.
  std::size_t k = parts.size();
  std::string cur;
  while (k > 0) {
    --k;
    std::vector<std::string_view> head(parts.begin(), parts.begin() + k);
    cur = JoinUnder(root, head);
    if (IsDir(cur)) break;
  }
  if (parts.empty()) return lexical;
  if (k == 0) cur = root;

  std::size_t i = k;
  for (; i < parts.size(); ++i) {
    if (i > k) {
      std::string exact = Child(cur, parts[i]);
      if (Exists(exact)) { cur = std::move(exact); continue; }
    }
    std::string found;
    bool dir_ok = false;
    struct stat dir_st;
    if (!FindNoCase(cur, parts[i], found, dir_ok, dir_st)) {
      if (dir_ok) {
        if (deepest_dir) *deepest_dir = cur.empty() ? std::string(".") : cur;
        if (deepest_stat) *deepest_stat = dir_st;
      }
      break;
    }
    cur = Child(cur, found);
  }
  for (; i < parts.size(); ++i) cur = Child(cur, parts[i]);
  return cur;
}

std::string ResolvePath(std::string_view path) { return ResolveLexical(LexicalPath(path)); }

bool EnsureDir(std::string_view path) {
  std::lock_guard<std::mutex> lk(g_mkdir_mu);
  std::string r = ResolvePath(path);
  if (r.empty()) return true;
  for (std::size_t pos = 1; pos <= r.size(); ++pos) {
    if (pos != r.size() && r[pos] != '/') continue;
    std::string prefix = r.substr(0, pos);
    struct stat st;
    if (::stat(prefix.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return false;
      continue;
    }
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return IsDir(r);
}

bool EnsureParentDir(std::string_view file_path) {
  std::string r = ResolvePath(file_path);
  std::string_view dir = DirName(r);
  if (dir.empty()) return true;
  return EnsureDir(dir);
}

std::string_view BaseName(std::string_view path) {
  auto pos = path.find_last_of("/\\");
  return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::string_view DirName(std::string_view path) {
  auto pos = path.find_last_of("/\\");
  if (pos == std::string_view::npos) return {};
  if (pos == 0) return path.substr(0, 1);
  return path.substr(0, pos);
}

std::string SanitizeName(std::string_view name) {
  name = BaseName(CutAtNul(name));
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    out += (c < 0x20 || c == 0x7F) ? '_' : ch;
  }
  std::size_t dots = out.find_first_not_of('.');
  out.erase(0, dots == std::string::npos ? out.size() : dots);
  if (out.size() > kNameMax) {
    // Keep a short extension; cut the stem on a UTF-8 character boundary.
    std::string ext;
    auto dot = out.find_last_of('.');
    if (dot != std::string::npos && dot > 0 && out.size() - dot <= 32) ext = out.substr(dot);
    std::size_t keep = kNameMax - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(out[keep]) & 0xC0) == 0x80) --keep;
    out.resize(keep);
    out += ext;
  }
  if (out.empty()) out = "_";
  return out;
}

std::string SafeJoin(std::string_view root, std::string_view name) {
  std::string r(root);
  while (r.size() > 1 && IsSep(r.back())) r.pop_back();
  std::string n = SanitizeName(name);
  if (r.empty()) return n;
  if (r.back() != '/') r += '/';
  return r + n;
}

std::string SafeJoinPath(std::string_view root, std::string_view relative) {
  relative = CutAtNul(relative);
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < relative.size()) {
    while (i < relative.size() && IsSep(relative[i])) ++i;
    std::size_t j = i;
    while (j < relative.size() && !IsSep(relative[j])) ++j;
    if (j == i) break;
    std::string_view c = relative.substr(i, j - i);
    i = j;
    if (c == ".") continue;
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(SanitizeName(c));
  }
  std::string r(root);
  while (r.size() > 1 && IsSep(r.back())) r.pop_back();
  for (const auto& p : parts) {
    if (!r.empty() && r.back() != '/') r += '/';
    r += p;
  }
  return r;
}

std::string WindowFileName(std::string_view name) {
  std::string out(name);
  for (char& ch : out) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || ch == '/' || ch == '\\') ch = '_';
  }
  if (out.empty()) return "_";
  if (out[0] == '.') out[0] = '_';
  return out;
}

}  // namespace vanta::platform
