// INI store speed against a 200-key "pref.ini" in a temporary program directory.
//
// Prints key reads/s (cached), key reads/s with the cache dropped before every read (a full parse),
// a bare stat() for scale, key writes/s, and the ratios between them measured in this one run.
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ini.h"
#include "platform/paths.h"

namespace ini = vanta::platform::ini;
namespace vp = vanta::platform;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `op` in batches until `seconds` have passed; returns operations per second.
template <typename Op>
double Rate(double seconds, Op op) {
  auto start = Clock::now();
  long n = 0;
  double elapsed = 0;
  do {
    for (int i = 0; i < 64; ++i) op(n++);
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return static_cast<double>(n) / elapsed;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/vanta-bench-ini-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  vp::SetProgramDir(tmpl);

  const char* sections[] = {"General", "MoreOptions", "Appearance", "Metrics"};
  std::vector<std::pair<std::string, std::string>> keys;  // (section, key)
  for (int i = 0; i < 200; ++i) {
    std::string section = sections[i % 4];
    std::string key = "Option" + std::to_string(i);
    if (!ini::WriteString("pref.ini", section, key, std::to_string(i * 7919))) {
      std::fprintf(stderr, "setup write failed\n");
      return 1;
    }
    keys.emplace_back(section, key);
  }
  // Let the file's time fall out of the "just changed" window so the cache trusts it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string file = vp::ResolvePath("pref.ini");

  long sink = 0;
  double reads = Rate(1.0, [&](long n) {
    const auto& k = keys[static_cast<std::size_t>(n * 37 % 200)];
    sink += static_cast<long>(ini::ReadString("pref.ini", k.first, k.second).size());
  });
  double int_reads = Rate(1.0, [&](long n) {
    const auto& k = keys[static_cast<std::size_t>(n * 37 % 200)];
    sink += ini::ReadInt("pref.ini", k.first, k.second, 0);
  });
  double stats = Rate(1.0, [&](long) {
    struct stat st;
    sink += ::stat(file.c_str(), &st);
  });
  double cold_reads = Rate(1.0, [&](long n) {
    ini::FlushCache();
    const auto& k = keys[static_cast<std::size_t>(n * 37 % 200)];
    sink += static_cast<long>(ini::ReadString("pref.ini", k.first, k.second).size());
  });
  double writes = Rate(2.0, [&](long n) {
    const auto& k = keys[static_cast<std::size_t>(n * 37 % 200)];
    ini::WriteString("pref.ini", k.first, k.second, std::to_string(n));
  });

  std::printf("file: 200 keys, %lld bytes\n", static_cast<long long>(std::filesystem::file_size(file)));
  std::printf("cached key reads/s (string):   %12.0f\n", reads);
  std::printf("cached key reads/s (int):      %12.0f\n", int_reads);
  std::printf("bare stat() calls/s:           %12.0f\n", stats);
  std::printf("uncached key reads/s (parse):  %12.0f\n", cold_reads);
  std::printf("key writes/s (fsync + rename): %12.0f\n", writes);
  std::printf("ratio cached read / stat time: %12.2f\n", stats / reads);
  std::printf("ratio uncached / cached read:  %12.1f\n", reads / cold_reads);
  std::printf("ratio write / cached read:     %12.0f\n", reads / writes);
  std::printf("(checksum %ld)\n", sink);

  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  return 0;
}
