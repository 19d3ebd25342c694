// Formats one million typical channel lines with the incoming-message template and reports the
// rate and the allocations per line, next to a plain concatenation of the same parts measured in
// the same run (the ratio is what to compare between machines).
#include <ftw.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <string>
#include <vector>

#include "config/file_set.h"
#include "dispatch/parsed_line.h"
#include "output/appearance.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace {
std::atomic<unsigned long long> g_allocations{0};
}

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kLines = 1000000;

std::vector<vanta::dispatch::ParsedLine> MakeLines() {
  const char* nicks[] = {"al", "bob", "carol_", "dave-the-great", "ErinFromTheNorthernHills", "f", "grace|away",
                         "heidi^", "ivan_the_27th", "judy"};
  const char* texts[] = {
      "hi there, how is everyone doing today?",
      "\x03" "4red\x03 and \x02" "bold\x02 and \x03" "12,8blue on yellow\x03 text",
      "did anyone see the build break on the second core again",
      "lol",
      "\x1funderlined\x1f words and \x03" "3green\x03",
      "a much longer line that goes on and on about the weather, the network split last night and what "
      "the admins said about it in the other channel",
  };
  std::vector<vanta::dispatch::ParsedLine> lines;
  for (int i = 0; i < 60; ++i) {
    vanta::dispatch::ParsedLine p;
    std::string nick = nicks[i % 10];
    // A third of the lines carry colour codes (texts 1 and 4).
    const char* text = texts[i % 6];
    std::string raw = ":" + nick + "!~user@host" + std::to_string(i) + ".example PRIVMSG #chan :" + text + "\r\n";
    vanta::dispatch::ParseLine(raw, &p);
    lines.push_back(std::move(p));
  }
  return lines;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/vanta-bench-appearance-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) return 1;
  vanta::platform::SetProgramDir(dir);
  vanta::output::ApplySkinAppearance();
  const std::string pref = vanta::config::PrefIni();
  vanta::platform::ini::WriteString(pref, "MoreOptions", "Hilite", "vanta grace");
  // Let the file age past the window in which a change could hide inside one file-time tick.
  std::this_thread::sleep_for(std::chrono::milliseconds(120));

  const auto lines = MakeLines();
  std::string out;
  out.reserve(10000);

  // Warm-up: settings read once, then cached.
  for (const auto& l : lines) {
    out.clear();
    vanta::output::FormatAppearance(-1, vanta::output::kAppearMessage, out, l);
  }

  unsigned long long bytes = 0;
  auto a0 = g_allocations.load();
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kLines; ++i) {
    out.clear();
    vanta::output::FormatAppearance(-1, vanta::output::kAppearMessage, out, lines[i % lines.size()]);
    bytes += out.size();
  }
  auto t1 = std::chrono::steady_clock::now();
  auto a1 = g_allocations.load();

  // Baseline: the same parts joined by hand.
  auto b0 = g_allocations.load();
  auto t2 = std::chrono::steady_clock::now();
  for (int i = 0; i < kLines; ++i) {
    const auto& l = lines[i % lines.size()];
    out.clear();
    out += "\x03" "1\x02<";
    out += l.nick;
    out += ">\x02 ";
    out += l.parameters;
    bytes += out.size();
  }
  auto t3 = std::chrono::steady_clock::now();
  auto b1 = g_allocations.load();

  const double fmt_s = std::chrono::duration<double>(t1 - t0).count();
  const double base_s = std::chrono::duration<double>(t3 - t2).count();
  std::printf("FormatAppearance: %d lines in %.3f s = %.0f lines/s, %.3f allocations/line\n", kLines, fmt_s,
              kLines / fmt_s, static_cast<double>(a1 - a0) / kLines);
  std::printf("plain concatenation: %.0f lines/s, %.3f allocations/line\n", kLines / base_s,
              static_cast<double>(b1 - b0) / kLines);
  std::printf("ratio (template / concatenation time): %.1f  (checksum %llu)\n", fmt_s / base_s, bytes);

  nftw(dir, [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
