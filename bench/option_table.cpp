// Cost per server line of reading configuration: cached options (by index and by name) against an
// INI key read (cached parse) and a bare stat(), measured side by side in one run.
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "config/file_set.h"
#include "config/options.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace {
using Clock = std::chrono::steady_clock;
template <typename Op>
double NsPerOp(Op op) {
  const long n = 2000000;
  auto start = Clock::now();
  for (long i = 0; i < n; ++i) op(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(n);
}
}  // namespace

int main() {
  char tmpl[] = "/tmp/vanta-bench-opt-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  vanta::platform::SetProgramDir(tmpl);
  namespace cfg = vanta::config;
  vanta::platform::ini::WriteString(cfg::PrefIni(), "MoreOptions", "FloodDelay", "500");
  vanta::platform::ini::WriteString(cfg::PrefIni(), "General", "QuitMsg", "bye");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  cfg::LoadOptions();
  const int flood = cfg::OptionIndex("MoreOptions", "FloodDelay");
  const int quit = cfg::OptionIndex("General", "QuitMsg");
  const std::string file = vanta::platform::ResolvePath(cfg::PrefIni());
  long sink = 0;
  double by_index = NsPerOp([&](long) { sink += cfg::OptionInt(flood); });
  double text = NsPerOp([&](long) { sink += static_cast<long>(cfg::OptionText(quit).size()); });
  double by_name = NsPerOp([&](long) { sink += cfg::OptionInt("MoreOptions", "FloodDelay"); });
  double ini_key = NsPerOp([&](long) { sink += cfg::PrefInt("MoreOptions", "FloodDelay", 0); });
  double st = NsPerOp([&](long) {
    struct stat s;
    sink += ::stat(file.c_str(), &s);
  });
  std::printf("cached int by index   %8.1f ns\n", by_index);
  std::printf("cached text by index  %8.1f ns\n", text);
  std::printf("cached int by name    %8.1f ns\n", by_name);
  std::printf("INI key (cached file) %8.1f ns\n", ini_key);
  std::printf("bare stat()           %8.1f ns\n", st);
  std::printf("ratios: INI key / cached int %.1fx, INI key / stat %.2fx (sink %ld)\n", ini_key / by_index,
              ini_key / st, sink % 2);
  return 0;
}
