#include "config/catalogue.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/dynlib.h"
#include "platform/ini.h"

namespace vanta::config {
namespace {

using FindResourceFn = const void* (*)(const char* type, const char* name, std::uint32_t* size);
constexpr const char* kFindResourceEntry = "VantaFindResource";
constexpr std::size_t kSsHeader = 10;        // tag (2), code page (4), count (4)
constexpr std::size_t kUssHeader = 13;       // 9 header bytes, count (4)
constexpr std::size_t kUssCountAt = 9;
constexpr std::size_t kUssPrefix = 2;

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// One table: a private copy of the resource and, per index, where its text lies in it.
struct Table {
  struct Span {
    std::size_t start = 0;   // first byte returned (the prefix in Unicode tables)
    std::size_t skip = 0;    // bytes skipped unless raw (the prefix length)
    std::size_t length = 0;  // bytes returned when raw, prefix included
  };
  std::vector<std::uint8_t> bytes;
  std::vector<std::optional<Span>> entries;  // index = message number; size = the table's count
  std::uint32_t code_page = 0;
  bool usable = false;

  // Builds the index. `header` is the header size, `count_at` the position of the count, `prefix`
  // the bytes in front of each text. Damaged parts end up without text; nothing outside `bytes` is
  // ever read.
  void Index(std::size_t header, std::size_t count_at, std::size_t prefix) {
    entries.clear();
    usable = false;
    if (bytes.size() < header) return;
    const std::uint32_t count = Read32(bytes, count_at);
    if (count > static_cast<std::uint32_t>(kCatalogueCapacity)) return;
    const std::size_t area = header + 4 * static_cast<std::size_t>(count);
    if (area > bytes.size()) return;
    usable = true;
    entries.resize(count);
    const std::size_t area_size = bytes.size() - area;
    if (area_size == 0) return;

    // next_nul[k]: position (relative to the area) of the first NUL at or after k, area_size if none.
    std::vector<std::uint32_t> next_nul(area_size);
    std::size_t nul = area_size;
    for (std::size_t k = area_size; k-- > 0;) {
      if (bytes[area + k] == 0) nul = k;
      next_nul[k] = static_cast<std::uint32_t>(nul);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t offset = Read32(bytes, header + 4 * i);
      if (offset >= area_size || area_size - offset < prefix + 1) continue;
      const std::size_t text = offset + prefix;
      const std::size_t end = next_nul[text];
      if (end >= area_size) continue;  // no NUL before the end of the resource
      entries[i] = Span{area + offset, prefix, end - offset};
    }
  }

  std::optional<std::string> Text(int n, bool raw) const {
    if (n < 0 || static_cast<std::size_t>(n) >= entries.size() || !entries[static_cast<std::size_t>(n)])
      return std::nullopt;
    const Span& s = *entries[static_cast<std::size_t>(n)];
    const std::size_t skip = raw ? 0 : s.skip;
    return std::string(reinterpret_cast<const char*>(bytes.data() + s.start + skip), s.length - skip);
  }
};

struct Catalogue {
  Table ansi;
  Table unicode;
};

std::mutex g_mutex;
std::shared_ptr<platform::Library> g_library;     // guarded by g_mutex
std::shared_ptr<const Catalogue> g_catalogue;     // guarded by g_mutex; immutable once published
std::atomic<bool> g_unicode{false};

std::shared_ptr<const Catalogue> Current() {
  std::lock_guard lock(g_mutex);
  return g_catalogue;
}

void Publish(std::shared_ptr<const Catalogue> c) {
  std::lock_guard lock(g_mutex);
  g_catalogue = std::move(c);
}

std::shared_ptr<Catalogue> Build(std::span<const std::uint8_t> ss, std::span<const std::uint8_t> uss) {
  auto c = std::make_shared<Catalogue>();
  c->ansi.bytes.assign(ss.begin(), ss.end());
  c->ansi.Index(kSsHeader, 6, 0);
  if (c->ansi.usable) c->ansi.code_page = Read32(c->ansi.bytes, 2);
  c->unicode.bytes.assign(uss.begin(), uss.end());
  c->unicode.Index(kUssHeader, kUssCountAt, kUssPrefix);
  return c;
}

// A resource of the library as bytes; empty when the library lacks it.
std::span<const std::uint8_t> Resource(FindResourceFn find, const char* name) {
  if (find == nullptr) return {};
  std::uint32_t size = 0;
  const void* data = find("DATA", name, &size);
  if (data == nullptr || size == 0) return {};
  return {static_cast<const std::uint8_t*>(data), size};
}

// A library counts as a language library when it exports the resource lookup.
std::shared_ptr<platform::Library> LoadLanguage(std::string_view name) {
  if (name.empty()) return nullptr;
  auto lib = platform::LoadLibraryByName(name);
  if (lib && lib->Symbol(kFindResourceEntry) == nullptr) return nullptr;
  return lib;
}

}  // namespace

bool LoadLanguageLibrary() {
  const std::string name =
      platform::ini::ReadString("ilang.ini", "General", "DefaultLanguage", kDefaultLanguageLibrary);
  auto lib = LoadLanguage(name);
  if (!lib) lib = LoadLanguage(kDefaultLanguageLibrary);
  std::lock_guard lock(g_mutex);
  g_library = lib;
  return lib != nullptr;
}

std::shared_ptr<platform::Library> LanguageLibrary() {
  std::lock_guard lock(g_mutex);
  return g_library;
}

void UnloadLanguageLibrary() {
  std::shared_ptr<platform::Library> old;
  {
    std::lock_guard lock(g_mutex);
    old.swap(g_library);
  }
  // `old` closes the library here, outside the lock, once no other holder remains.
}

void LoadCatalogue() {
  const auto lib = LanguageLibrary();
  const FindResourceFn find = lib ? lib->Entry<FindResourceFn>(kFindResourceEntry) : nullptr;
  // The resource bytes belong to the library, which `lib` keeps loaded while they are copied.
  Publish(Build(Resource(find, "SS"), Resource(find, "USS")));
}

void UnloadCatalogue() { Publish(nullptr); }

bool LoadCatalogueFromTables(std::span<const std::uint8_t> ss, std::span<const std::uint8_t> uss) {
  auto c = Build(ss, uss);
  const bool usable = c->ansi.usable && c->unicode.usable;
  Publish(std::move(c));
  return usable;
}

void SetUnicodeMode(bool unicode) { g_unicode.store(unicode, std::memory_order_relaxed); }

bool UnicodeMode() { return g_unicode.load(std::memory_order_relaxed); }

std::optional<std::string> Message(int n, bool raw) {
  const auto c = Current();
  if (!c) return std::nullopt;
  return UnicodeMode() ? c->unicode.Text(n, raw) : c->ansi.Text(n, false);
}

std::optional<std::string> Message500(int n) {
  if (n > INT_MAX - 500) return std::nullopt;
  return Message(n + 500, false);
}

std::uint32_t CatalogueCodePage() {
  const auto c = Current();
  return c ? c->ansi.code_page : 0;
}

}  // namespace vanta::config
