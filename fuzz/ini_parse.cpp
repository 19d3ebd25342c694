// Arbitrary bytes as an INI file: parse, read, edit and re-read. Besides not crashing, an edit of one
// section must leave every other section reading exactly as before.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini.h"
#include "platform/paths.h"

namespace vp = vanta::platform;
namespace ini = vanta::platform::ini;

namespace {

// Never freed, so the clean-up at exit can still read it after static objects are gone.
const std::string& Dir() {
  static const std::string* dir = [] {
    char tmpl[] = "/tmp/vanta-fuzz-ini-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    vp::SetProgramDir(tmpl);
    auto* d = new std::string(tmpl);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Dir(), ec);
    });
    return d;
  }();
  return *dir;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto l = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
    if (l(a[i]) != l(b[i])) return false;
  }
  return true;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

using Entries = std::vector<std::pair<std::string, std::string>>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Dir() + "/f.ini";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  ini::FlushCache();

  std::vector<std::string> names = ini::SectionNames("f.ini");
  std::vector<Entries> before;
  for (const auto& n : names) {
    Entries e = ini::SectionEntries("f.ini", n);
    for (const auto& [k, v] : e) {
      Check(ini::ReadString("f.ini", n, k, "", 100000) == v);
      (void)ini::ReadInt("f.ini", n, k, 7);
    }
    (void)ini::ReadSectionText("f.ini", n, 64);
    before.push_back(std::move(e));
  }

  // Edit a section of our own; every other section must read as before.
  Check(ini::WriteString("f.ini", "Fz", "k", "v"));
  Check(ini::ReadString("f.ini", "fz", "K") == "v");
  ini::FlushCache();
  Check(ini::ReadString("f.ini", "FZ", "k") == "v");
  std::vector<std::string> after = ini::SectionNames("f.ini");
  std::size_t j = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (SameNoCase(names[i], "Fz")) continue;
    while (j < after.size() && after[j] != names[i]) ++j;
    Check(j < after.size());
    Check(ini::SectionEntries("f.ini", names[i]) == before[i]);
  }

  // Edit the file's first section in place, then take the key out again.
  if (!names.empty() && ini::WriteString("f.ini", names[0], "FuzzKey", "x y")) {
    Check(ini::ReadString("f.ini", names[0], "fuzzkey") == "x y");
    Check(ini::DeleteKey("f.ini", names[0], "FuzzKey"));
    Check(ini::ReadString("f.ini", names[0], "FuzzKey", "gone") == "gone");
  }
  Check(ini::DeleteSection("f.ini", "fz"));
  Check(ini::ReadString("f.ini", "Fz", "k", "gone") == "gone");
  return 0;
}
