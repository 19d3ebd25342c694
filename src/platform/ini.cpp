#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/codec.h"
#include "platform/paths.h"

namespace vanta::platform::ini {
namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string_view CutAtNul(std::string_view s) {
  auto nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}


struct CiHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    std::uint64_t h = 1469598103934665603ull;
    for (char c : s) {
      h ^= AsciiLower(static_cast<unsigned char>(c));
      h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
  }
};

struct CiEq {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return EqualsNoCase(a, b); }
};

template <typename V>
using CiMap = std::unordered_map<std::string, V, CiHash, CiEq>;

// ---------------------------------------------------------------------------------------------
// Parsing

enum class Kind { Blank, Comment, Header, Key, Other };

// Classifies one line (without its line end). Header: `a` = section name. Key: `a` = key,
// `b` = the trimmed text after the first "=".
Kind Classify(std::string_view line, std::string_view& a, std::string_view& b) {
  std::string_view t = Trim(line);
  if (t.empty()) return Kind::Blank;
  if (t[0] == ';') return Kind::Comment;
  if (t[0] == '[') {
    auto close = t.find(']');
    if (close == std::string_view::npos) return Kind::Other;
    a = Trim(t.substr(1, close - 1));
    return Kind::Header;
  }
  auto eq = t.find('=');
  if (eq == std::string_view::npos) return Kind::Other;
  a = Trim(t.substr(0, eq));
  b = Trim(t.substr(eq + 1));
  return a.empty() ? Kind::Other : Kind::Key;
}

// The line without its terminator (CR LF, LF or a lone CR).
std::string_view Content(std::string_view raw) {
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  return raw;
}

bool Terminated(const std::string& raw) { return !raw.empty() && (raw.back() == '\n' || raw.back() == '\r'); }

struct Entry {
  std::string key;     // spelling of the first occurrence
  std::string value;   // as read: quotes removed, cut at NUL
  std::string stored;  // as in the file (trimmed, quotes kept), cut at NUL
};

struct Section {
  std::string name;
  std::size_t header = 0;  // line index of "[name]"
  std::size_t end = 0;     // one past the section's last line
  std::vector<Entry> entries;
  CiMap<std::size_t> index;
};

struct Parsed {
  std::string bom;
  std::vector<std::string> lines;  // raw bytes of each line, line end included
  std::vector<Section> sections;   // every header in file order, repeated names included
  CiMap<std::size_t> index;        // name -> first section of that name
};

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::shared_ptr<const Parsed> Parse(std::string_view text) {
  auto p = std::make_shared<Parsed>();
  if (text.substr(0, kBom.size()) == kBom) {
    p->bom.assign(kBom);
    text.remove_prefix(kBom.size());
  }
  std::size_t i = 0, n = text.size();
  while (i < n) {
    std::size_t j = i;
    while (j < n && text[j] != '\n' && text[j] != '\r') ++j;
    if (j < n) j += (text[j] == '\r' && j + 1 < n && text[j + 1] == '\n') ? 2 : 1;
    p->lines.emplace_back(text.substr(i, j - i));
    i = j;
  }
  Section* cur = nullptr;
  for (std::size_t li = 0; li < p->lines.size(); ++li) {
    std::string_view a, b;
    Kind k = Classify(Content(p->lines[li]), a, b);
    if (k == Kind::Header) {
      if (cur) cur->end = li;
      p->index.try_emplace(std::string(a), p->sections.size());
      p->sections.emplace_back();
      cur = &p->sections.back();
      cur->name.assign(a);
      cur->header = li;
    } else if (k == Kind::Key && cur) {
      if (cur->index.find(a) != cur->index.end()) continue;
      cur->index.emplace(std::string(a), cur->entries.size());
      cur->entries.push_back(Entry{std::string(a), std::string(CutAtNul(Unquote(b))), std::string(CutAtNul(b))});
    }
  }
  if (cur) cur->end = p->lines.size();
  return p;
}

const std::shared_ptr<const Parsed>& EmptyParsed() {
  static const std::shared_ptr<const Parsed> empty = std::make_shared<Parsed>();
  return empty;
}

const Section* FindSection(const Parsed& p, std::string_view name) {
  auto it = p.index.find(Trim(name));
  return it == p.index.end() ? nullptr : &p.sections[it->second];
}

const Entry* FindEntry(const Parsed& p, std::string_view section, std::string_view key) {
  const Section* s = FindSection(p, section);
  if (!s) return nullptr;
  auto it = s->index.find(Trim(key));
  return it == s->index.end() ? nullptr : &s->entries[it->second];
}

// ---------------------------------------------------------------------------------------------
// Edits: each returns the new file text, or nothing when the file stays as it is.

std::string Join(const Parsed& p, const std::vector<std::string>& lines) {
  std::size_t total = p.bom.size();
  for (const auto& l : lines) total += l.size();
  std::string out;
  out.reserve(total);
  out += p.bom;
  for (const auto& l : lines) out += l;
  return out;
}

void AppendSection(std::vector<std::string>& lines, std::string_view name, const std::vector<std::string>& body) {
  if (!lines.empty()) {
    if (!Terminated(lines.back())) lines.back() += "\r\n";
    if (!Trim(Content(lines.back())).empty()) lines.emplace_back("\r\n");
  }
  lines.push_back("[" + std::string(name) + "]\r\n");
  for (const auto& b : body) lines.push_back(b + "\r\n");
}

std::optional<std::string> SetKeyEdit(const Parsed& p, std::string_view section, std::string_view key,
                                      std::string_view value) {
  std::vector<std::string> lines = p.lines;
  const Section* s = FindSection(p, section);
  if (!s) {
    AppendSection(lines, section, {std::string(key) + "=" + std::string(value)});
    return Join(p, lines);
  }
  std::size_t last_key = s->header;
  for (std::size_t i = s->header + 1; i < s->end; ++i) {
    std::string_view a, b;
    if (Classify(Content(lines[i]), a, b) != Kind::Key) continue;
    if (EqualsNoCase(a, key)) {
      if (b == value) return std::nullopt;
      std::string& raw = lines[i];
      std::string ending(raw.substr(Content(raw).size()));
      raw = std::string(a) + "=" + std::string(value) + ending;
      return Join(p, lines);
    }
    last_key = i;
  }
  if (!Terminated(lines[last_key])) lines[last_key] += "\r\n";
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_key) + 1,
               std::string(key) + "=" + std::string(value) + "\r\n");
  return Join(p, lines);
}

std::optional<std::string> DeleteKeyEdit(const Parsed& p, std::string_view section, std::string_view key) {
  const Section* s = FindSection(p, section);
  if (!s) return std::nullopt;
  std::vector<std::string> lines;
  lines.reserve(p.lines.size());
  bool removed = false;
  for (std::size_t i = 0; i < p.lines.size(); ++i) {
    if (i > s->header && i < s->end) {
      std::string_view a, b;
      if (Classify(Content(p.lines[i]), a, b) == Kind::Key && EqualsNoCase(a, key)) {
        removed = true;
        continue;
      }
    }
    lines.push_back(p.lines[i]);
  }
  if (!removed) return std::nullopt;
  return Join(p, lines);
}

// Drops every section of the name. With `replacement`, the first one keeps its place and gets the
// replacement body (its trailing blank lines stay, so the spacing before the next section is kept).
std::optional<std::string> ReplaceSectionEdit(const Parsed& p, std::string_view section,
                                              const std::vector<std::string>* replacement) {
  std::vector<char> drop(p.lines.size(), 0);
  const Section* first = nullptr;
  for (const auto& s : p.sections) {
    if (!EqualsNoCase(s.name, Trim(section))) continue;
    if (!first && replacement) {
      first = &s;
      std::size_t tail = s.end;
      while (tail > s.header + 1 && Trim(Content(p.lines[tail - 1])).empty()) --tail;
      for (std::size_t i = s.header + 1; i < tail; ++i) drop[i] = 1;
      continue;
    }
    for (std::size_t i = s.header; i < s.end; ++i) drop[i] = 1;
  }
  std::vector<std::string> lines;
  lines.reserve(p.lines.size() + (replacement ? replacement->size() : 0) + 2);
  for (std::size_t i = 0; i < p.lines.size(); ++i) {
    if (drop[i]) continue;
    lines.push_back(p.lines[i]);
    if (first && i == first->header) {
      if (!Terminated(lines.back()) && !replacement->empty()) lines.back() += "\r\n";
      for (const auto& r : *replacement) lines.push_back(r + "\r\n");
    }
  }
  if (replacement && !first) AppendSection(lines, Trim(section), *replacement);
  std::string out = Join(p, lines);
  std::string old = Join(p, p.lines);
  if (out == old) return std::nullopt;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Files on disk

struct Sig {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtime_sec = 0;
  long mtime_nsec = 0;
  bool operator==(const Sig&) const = default;
};

Sig SigOf(const struct stat& st) {
  return Sig{st.st_dev, st.st_ino, st.st_size, static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

// File times advance in steps of a clock tick (a few milliseconds; a second on some file systems), so
// a change made in the same tick as our look at the file leaves its time unchanged. A look taken that
// close to the last change is not trusted: the file is looked at again on the next use.
bool RecentlyChanged(const struct timespec& mtime) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::int64_t diff = (static_cast<std::int64_t>(now.tv_sec) - mtime.tv_sec) * 1000000000LL + (now.tv_nsec - mtime.tv_nsec);
  std::int64_t margin = mtime.tv_nsec == 0 ? 2000000000LL : 50000000LL;
  return diff > -margin && diff < margin;
}

// Files larger than this are not loaded: reads see nothing, writes refuse, the file stays intact.
constexpr off_t kMaxFileSize = 64 << 20;

// The final target of a chain of symbolic links (the path itself when it is not a link).
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return path;
    target.resize(static_cast<std::size_t>(n));
    if (target[0] == '/') {
      path = std::move(target);
    } else {
      std::string dir(DirName(path));
      path = (dir.empty() ? std::string() : dir + "/") + target;
    }
  }
  return path;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Replaces the file with `data` so that every observer, a killed process and a power cut see either
// the old or the new file: the text goes to a temporary file beside the target, is flushed to disk and
// renamed over it.
bool AtomicReplace(const std::string& path, std::string_view data, Sig& sig) {
  static std::atomic<unsigned> counter{0};
  std::string target = FollowLinks(path);
  std::string dir(DirName(target));
  if (dir.empty()) dir = ".";
  std::string base(BaseName(target));
  std::string tmp = dir + "/." + base.substr(0, 200) + "." + std::to_string(::getpid()) + "." +
                    std::to_string(counter.fetch_add(1)) + ".tmp";

  struct stat old;
  bool had_old = ::stat(target.c_str(), &old) == 0;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  if (had_old) (void)::fchmod(fd, old.st_mode & 07777);
  ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  struct stat st;
  if (ok) ok = ::fstat(fd, &st) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  // The folder is not flushed: after a power cut the rename may be missing, which leaves the old file
  // (the new text was on disk before the rename), and flushing the folder too costs a third of a write.
  sig = SigOf(st);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The cache. A program-form path maps (by its lexical form) to the resolved file; each resolved
// file has one FileState with its lock and its parsed text.

struct FileState {
  explicit FileState(std::string p) : path(std::move(p)) {}
  std::mutex mu;
  const std::string path;
  bool loaded = false;      // parsed/exists/sig describe the file as of generation `gen`
  bool exists = false;
  bool unreadable = false;  // it exists but could not be read: writes must not replace it
  bool recent = false;      // loaded too soon after its last change to be trusted (see RecentlyChanged)
  Sig sig;
  std::uint64_t gen = 0;
  std::shared_ptr<const Parsed> parsed;
};

struct Alias {
  std::shared_ptr<FileState> fs;
  // For a file that was missing: the deepest existing folder of its path and that folder's state. A
  // differently spelled file can only appear after this folder changed.
  std::string probe_dir;
  bool probe_valid = false;
  Sig probe_sig;
};

std::mutex g_map_mu;  // guards the two maps below, never held across file I/O
std::unordered_map<std::string, Alias> g_alias;
std::unordered_map<std::string, std::weak_ptr<FileState>> g_files;
std::atomic<std::uint64_t> g_gen{1};

// Held while a missing file is created, so two spellings of one new file end up as one file.
std::mutex g_create_mu;

constexpr std::size_t kMaxAliases = 4096;

// Forgets aliases whose file nobody is using right now (called with g_map_mu held).
void EvictLocked() {
  std::unordered_map<const FileState*, long> refs;
  for (const auto& [k, a] : g_alias) ++refs[a.fs.get()];
  for (auto it = g_alias.begin(); it != g_alias.end();) {
    if (it->second.fs.use_count() == refs[it->second.fs.get()]) it = g_alias.erase(it);
    else ++it;
  }
  for (auto it = g_files.begin(); it != g_files.end();) {
    if (it->second.expired()) it = g_files.erase(it);
    else ++it;
  }
}

std::shared_ptr<FileState> Lookup(const std::string& lexical) {
  std::lock_guard<std::mutex> lk(g_map_mu);
  auto it = g_alias.find(lexical);
  return it == g_alias.end() ? nullptr : it->second.fs;
}

std::shared_ptr<FileState> Bind(const std::string& lexical) {
  std::string deepest;
  struct stat st;
  std::string resolved = ResolveLexical(lexical, &deepest, &st);
  Alias a;
  if (!deepest.empty() && !RecentlyChanged(st.st_mtim)) {
    a.probe_dir = deepest;
    a.probe_valid = true;
    a.probe_sig = SigOf(st);
  }
  std::lock_guard<std::mutex> lk(g_map_mu);
  if (g_alias.size() >= kMaxAliases) EvictLocked();
  auto& weak = g_files[resolved];
  a.fs = weak.lock();
  if (!a.fs) {
    a.fs = std::make_shared<FileState>(resolved);
    weak = a.fs;
  }
  auto fs = a.fs;
  g_alias[lexical] = std::move(a);
  return fs;
}

void Unbind(const std::string& lexical) {
  std::lock_guard<std::mutex> lk(g_map_mu);
  g_alias.erase(lexical);
}

// True when the folder that decided "missing" for this path has not changed since.
bool ProbeUnchanged(const std::string& lexical) {
  std::string dir;
  Sig sig;
  {
    std::lock_guard<std::mutex> lk(g_map_mu);
    auto it = g_alias.find(lexical);
    if (it == g_alias.end() || !it->second.probe_valid) return false;
    dir = it->second.probe_dir;
    sig = it->second.probe_sig;
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && SigOf(st) == sig;
}

void SetMissing(FileState& fs) {
  fs.loaded = true;
  fs.exists = false;
  fs.unreadable = false;
  fs.parsed = EmptyParsed();
  fs.gen = g_gen.load();
}

// Reads and parses the file (caller holds fs.mu).
void Load(FileState& fs) {
  fs.loaded = true;
  fs.gen = g_gen.load();
  fs.exists = true;
  fs.unreadable = true;
  fs.parsed = EmptyParsed();
  int fd = ::open(fs.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) SetMissing(fs);
    else fs.loaded = false;
    return;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    ::close(fd);
    fs.loaded = false;
    return;
  }
  std::string text;
  text.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  bool ok = true;
  for (;;) {
    if (got == text.size()) text.resize(got + 4096);  // the file may have grown since fstat
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got > static_cast<std::size_t>(kMaxFileSize)) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) {
    fs.loaded = false;
    return;
  }
  text.resize(got);
  fs.parsed = Parse(text);
  fs.sig = SigOf(st);
  fs.unreadable = false;
  fs.recent = RecentlyChanged(st.st_mtim);
}

bool Fresh(const FileState& fs, const struct stat& st) {
  return fs.loaded && fs.exists && !fs.unreadable && !fs.recent && fs.gen == g_gen.load() && fs.sig == SigOf(st);
}

// The current parsed text of a file: one stat when the cache is fresh.
std::shared_ptr<const Parsed> Snapshot(std::string_view path) {
  std::string lexical = LexicalPath(path);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto fs = Lookup(lexical);
    bool fresh = !fs;  // resolved just now: a missing file is really missing
    if (fresh) fs = Bind(lexical);
    std::lock_guard<std::mutex> lk(fs->mu);
    struct stat st;
    if (::stat(fs->path.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) return EmptyParsed();
      if (!Fresh(*fs, st)) Load(*fs);
      return fs->parsed ? fs->parsed : EmptyParsed();
    }
    if (fresh || ProbeUnchanged(lexical)) {
      if (!(fs->loaded && !fs->exists && fs->gen == g_gen.load())) SetMissing(*fs);
      return EmptyParsed();
    }
    Unbind(lexical);  // it may exist under another spelling now
  }
  return EmptyParsed();
}

template <typename Edit>
bool Modify(std::string_view path, bool create, Edit edit) {
  std::string lexical = LexicalPath(path);
  for (int attempt = 0; attempt < 4; ++attempt) {
    auto fs = Lookup(lexical);
    bool fresh = !fs;
    if (fresh) fs = Bind(lexical);
    std::unique_lock<std::mutex> lk(fs->mu);
    std::unique_lock<std::mutex> creating;
    struct stat st;
    bool exists = ::stat(fs->path.c_str(), &st) == 0;
    if (exists) {
      if (!S_ISREG(st.st_mode)) return false;
      if (!Fresh(*fs, st)) Load(*fs);
      if (!fs->loaded || fs->unreadable) return false;
      exists = fs->exists;
    }
    if (!exists) {
      if (!fresh && !ProbeUnchanged(lexical)) {
        lk.unlock();
        Unbind(lexical);  // it may exist under another spelling now
        continue;
      }
      if (!create) return true;  // nothing to delete in a missing file
      creating = std::unique_lock<std::mutex>(g_create_mu);
      if (ResolveLexical(lexical) != fs->path) {
        // It appeared meanwhile under another spelling: bind to that file and start over.
        creating.unlock();
        lk.unlock();
        Unbind(lexical);
        continue;
      }
      if (::stat(fs->path.c_str(), &st) == 0) {
        creating.unlock();
        lk.unlock();
        continue;
      }
      SetMissing(*fs);
      if (!EnsureParentDir(fs->path)) return false;
    }
    std::shared_ptr<const Parsed> cur = fs->parsed ? fs->parsed : EmptyParsed();
    std::optional<std::string> text = edit(*cur);
    if (!text) return true;
    Sig sig;
    if (!AtomicReplace(fs->path, *text, sig)) {
      fs->loaded = false;
      return false;
    }
    // Our own write is trusted at once: it is a new inode holding exactly this text.
    fs->parsed = Parse(*text);
    fs->sig = sig;
    fs->exists = true;
    fs->unreadable = false;
    fs->recent = false;
    fs->loaded = true;
    fs->gen = g_gen.load();
    return true;
  }
  return false;
}

bool HasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool ValidSection(std::string_view s) { return !HasLineBreakOrNul(s) && s.find(']') == std::string_view::npos; }

bool ValidKey(std::string_view k) {
  return !k.empty() && !HasLineBreakOrNul(k) && k.find('=') == std::string_view::npos && k[0] != ';' && k[0] != '[';
}

int ParseInt(std::string_view s, int def) {
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::uint32_t acc = 0;
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && hex(s[i + 2]) >= 0) {
    for (i += 2; i < s.size() && hex(s[i]) >= 0; ++i) acc = acc * 16u + static_cast<std::uint32_t>(hex(s[i]));
  } else if (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) acc = acc * 10u + static_cast<std::uint32_t>(s[i] - '0');
  } else {
    return def;
  }
  if (neg) acc = 0u - acc;
  return static_cast<int>(acc);
}

}  // namespace

std::string ReadString(std::string_view path, std::string_view section, std::string_view key,
                       std::string_view def, std::size_t cap) {
  if (cap == 0) return {};
  auto p = Snapshot(path);
  const Entry* e = FindEntry(*p, section, key);
  std::string_view v = e ? std::string_view(e->value) : CutAtNul(def);
  if (v.size() > cap - 1) v = v.substr(0, cap - 1);
  return std::string(v);
}

int ReadInt(std::string_view path, std::string_view section, std::string_view key, int def) {
  auto p = Snapshot(path);
  const Entry* e = FindEntry(*p, section, key);
  if (!e) return def;
  return ParseInt(e->value, def);
}

bool WriteString(std::string_view path, std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (!ValidSection(section) || !ValidKey(key) || HasLineBreakOrNul(value)) return false;
  return Modify(path, true, [&](const Parsed& p) { return SetKeyEdit(p, section, key, value); });
}

bool WriteInt(std::string_view path, std::string_view section, std::string_view key, long long value) {
  return WriteString(path, section, key, std::to_string(value));
}

bool DeleteKey(std::string_view path, std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  if (key.empty()) return false;
  return Modify(path, false, [&](const Parsed& p) { return DeleteKeyEdit(p, section, key); });
}

bool DeleteSection(std::string_view path, std::string_view section) {
  return Modify(path, false, [&](const Parsed& p) { return ReplaceSectionEdit(p, section, nullptr); });
}

bool FileExists(std::string_view path) {
  std::string r = ResolvePath(path);
  int fd = ::open(r.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return ok;
}

std::vector<std::string> SectionNames(std::string_view path) {
  auto p = Snapshot(path);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < p->sections.size(); ++i) {
    auto it = p->index.find(p->sections[i].name);
    if (it != p->index.end() && it->second == i) names.push_back(p->sections[i].name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> SectionEntries(std::string_view path, std::string_view section) {
  auto p = Snapshot(path);
  std::vector<std::pair<std::string, std::string>> out;
  if (const Section* s = FindSection(*p, section))
    for (const auto& e : s->entries) out.emplace_back(e.key, e.value);
  return out;
}

std::string ReadSectionText(std::string_view path, std::string_view section, std::size_t cap) {
  if (cap == 0) return {};
  auto p = Snapshot(path);
  std::string out;
  const Section* s = FindSection(*p, section);
  if (!s) return out;
  for (const auto& e : s->entries) {
    std::size_t add = (out.empty() ? 0 : 2) + e.key.size() + 1 + e.stored.size();
    if (out.size() + add > cap - 1) break;
    if (!out.empty()) out += "\r\n";
    out += e.key;
    out += '=';
    out += e.stored;
  }
  return out;
}

bool WriteSectionText(std::string_view path, std::string_view section, std::string_view lines) {
  section = Trim(section);
  if (!ValidSection(section) || lines.find('\0') != std::string_view::npos) return false;
  std::vector<std::string> body;
  std::size_t i = 0;
  while (i <= lines.size()) {
    std::size_t j = lines.find('\n', i);
    if (j == std::string_view::npos) j = lines.size();
    std::string_view line = lines.substr(i, j - i);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    i = j + 1;
    if (Trim(line).empty()) continue;
    std::string_view a, b;
    if (line.find('\r') != std::string_view::npos || Classify(line, a, b) != Kind::Key || !ValidKey(a)) return false;
    body.push_back(std::string(a) + "=" + std::string(b));
  }
  return Modify(path, true, [&](const Parsed& p) { return ReplaceSectionEdit(p, section, &body); });
}

void FlushCache() {
  std::lock_guard<std::mutex> lk(g_map_mu);
  g_alias.clear();
  for (auto it = g_files.begin(); it != g_files.end();) {
    if (it->second.expired()) it = g_files.erase(it);
    else ++it;
  }
  g_gen.fetch_add(1);
}

}  // namespace vanta::platform::ini
