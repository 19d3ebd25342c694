// Window text output: one million typical channel lines through the code walker, AppendLine and
// ShowText from a worker thread, with allocations per line and the memory of a well-fed window.
//
//   bench_text_output [lines]
#include <ftw.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "config/file_set.h"
#include "output/show_text.h"
#include "output/appearance.h"
#include "dispatch/parsed_line.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

// ---- allocation counting ----
namespace {
std::atomic<uint64_t> g_allocs{0};
std::atomic<uint64_t> g_alloc_bytes{0};
void* Allocate(std::size_t n) {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  g_alloc_bytes.fetch_add(n, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* AllocateAligned(std::size_t n, std::align_val_t a) {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  g_alloc_bytes.fetch_add(n, std::memory_order_relaxed);
  void* p = nullptr;
  if (posix_memalign(&p, static_cast<std::size_t>(a), n ? n : 1) != 0) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try { return Allocate(n); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try { return Allocate(n); } catch (...) { return nullptr; }
}
void* operator new(std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using namespace vanta;
using Clock = std::chrono::steady_clock;

class QuietFrontEnd : public ui::FrontEnd {
 public:
  void LineAppended(const ui::WindowInfo&, std::string_view plain, uint32_t) override { bytes += plain.size(); }
  std::size_t bytes = 0;
};

// Typical channel traffic as the appearance templates produce it.
std::vector<std::string> MakeLines() {
  static const char* words[] = {"hello", "anyone", "seen", "the", "new", "release", "works", "for", "me",
                                "lol", "https://example.invalid/x", "ok", "thanks", "brb", "patch", "build"};
  std::vector<std::string> lines;
  uint32_t seed = 42;
  auto rnd = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int i = 0; i < 997; ++i) {
    std::string nick = "n";
    const uint32_t len = 2 + rnd(14);
    while (nick.size() < len) nick.push_back(static_cast<char>('a' + rnd(26)));
    std::string msg;
    const uint32_t nwords = 3 + rnd(12);
    for (uint32_t w = 0; w < nwords; ++w) {
      if (w) msg += ' ';
      const char* word = words[rnd(16)];
      if (i % 3 == 0 && w % 4 == 1) msg += "\x03" + std::to_string(rnd(16)) + "," + std::to_string(rnd(16)) + word + "\x03";
      else if (i % 7 == 0 && w == 2) msg += std::string("\x02") + word + "\x02";
      else if (i % 11 == 0 && w == 1) msg += std::string("\x1F") + word + "\x1F";
      else msg += word;
    }
    lines.push_back("\x03" "1\x02<" + nick + ">\x02 " + msg);
  }
  return lines;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Result {
  double seconds;
  uint64_t allocs;
};

template <class F>
Result Measure(int count, F&& f) {
  const uint64_t a0 = g_allocs.load();
  const auto t0 = Clock::now();
  for (int i = 0; i < count; ++i) f(i);
  const auto t1 = Clock::now();
  return {std::chrono::duration<double>(t1 - t0).count(), g_allocs.load() - a0};
}

void Report(const char* what, int count, const Result& r, double baseline_seconds) {
  std::printf("%-34s %10.0f lines/s  %6.2f allocations/line  %5.2fx the walker's time\n", what,
              count / r.seconds, static_cast<double>(r.allocs) / count, r.seconds / baseline_seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  char tmpl[] = "/tmp/vanta-bench-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir) return 1;
  platform::SetProgramDir(dir);
  config::SetProfileName("Administrator");
  platform::ini::WriteString(config::PrefIni(), "MoreOptions", "TimeStamp", "1");
  auto& loop = platform::UiLoop::Get();
  loop.BindToCurrentThread();
  auto quiet = std::make_unique<QuietFrontEnd>();
  ui::Install(std::move(quiet));

  sessions::CreateRequest server;
  server.name = "irc.bench.invalid";
  server.kind = sessions::kServerWindow;
  server.session = sessions::MakeSession("irc.bench.invalid", 6667, "bencher", "b@example.invalid", "Bench");
  const int s = sessions::WindowTable::Get().Create(server);
  sessions::CreateRequest chan;
  chan.name = "#bench";
  chan.kind = sessions::kChannelWindow;
  chan.owning_server = s;
  const int ch = sessions::WindowTable::Get().Create(chan);
  const int ch2 = sessions::WindowTable::Get().Create(chan);
  const int ch3 = sessions::WindowTable::Get().Create(chan);
  if (s < 0 || ch < 0 || ch2 < 0) {
    std::fprintf(stderr, "could not create the windows\n");
    return 1;
  }

  const std::vector<std::string> lines = MakeLines();
  std::size_t total_bytes = 0;
  for (const auto& l : lines) total_bytes += l.size();
  std::printf("%d lines, %.1f bytes per line on average, time stamps on, trimming by size\n", count,
              static_cast<double>(total_bytes) / lines.size());

  // 1. The walker alone into a view trimmed like a window's.
  output::TextView bare;
  for (int i = 0; i < 2000; ++i) {  // warm the buffers
    output::LineFormat f;
    output::WalkOptions o;
    output::WalkLine(bare, lines[i % lines.size()], f, o);
  }
  Result walker = Measure(count, [&](int i) {
    output::LineFormat f;
    output::WalkOptions o;
    if (bare.Length() >= 30000) bare.DeleteRange(0, 10000);
    output::WalkLine(bare, lines[i % lines.size()], f, o);
  });

  // 2. AppendLine on the user-interface thread.
  auto out = output::OutputOf(ch);
  std::size_t peak_view = 0;
  for (int i = 0; i < 2000; ++i) output::ShowText(ch, lines[i % lines.size()], s, 0);
  Result append = Measure(count, [&](int i) {
    output::ShowTextRequest r;
    r.window = ch;
    r.text = lines[i % lines.size()];
    r.fallback_window = s;
    output::AppendLine(r);
    if ((i & 1023) == 0) peak_view = std::max(peak_view, out->view.MemoryBytes());
  });

  // 3. ShowText from a worker thread while this thread runs the loop.
  std::atomic<bool> done{false};
  Result handover{};
  std::thread worker([&] {
    for (int i = 0; i < 2000; ++i) output::ShowText(ch2, lines[i % lines.size()], s, 0);
    handover = Measure(count, [&](int i) { output::ShowText(ch2, lines[i % lines.size()], s, 0); });
    done.store(true);
  });
  loop.PumpUntil([&] { return done.load(); }, 3600 * 1000);
  worker.join();

  // 4. The whole way of a channel line: parsed, formatted with its template, shown from a worker.
  std::vector<std::string> raw;
  raw.reserve(lines.size());
  for (const auto& l : lines) {
    const std::size_t gt = l.find(">\x02 ");
    const std::string nick = l.substr(4, gt - 4);
    raw.push_back(":" + nick + "!user@host.example.invalid PRIVMSG #bench :" + l.substr(gt + 3) + "\r\n");
  }
  done.store(false);
  Result full{};
  std::thread formatter([&] {
    dispatch::ParsedLine parsed;
    std::string text;
    auto one = [&](int i) {
      dispatch::ParseLine(raw[static_cast<std::size_t>(i) % raw.size()], &parsed);
      text.clear();
      output::FormatAppearance(ch3, output::kAppearMessage, text, parsed);
      output::ShowText(ch3, text, s, 0);
    };
    for (int i = 0; i < 2000; ++i) one(i);
    full = Measure(count, one);
    done.store(true);
  });
  loop.PumpUntil([&] { return done.load(); }, 3600 * 1000);
  formatter.join();

  Report("walker into a trimmed view", count, walker, walker.seconds);
  Report("AppendLine (UI thread)", count, append, walker.seconds);
  Report("ShowText from a worker thread", count, handover, walker.seconds);
  Report("parse + template + ShowText (worker)", count, full, walker.seconds);
  std::printf("window after %d lines: %zu characters, %zu runs, %zu bytes held by its view (peak %zu)\n", count,
              out->view.Length(), out->view.RunCount(), out->view.MemoryBytes(), peak_view);
  std::printf("process peak resident memory: %ld KiB\n", PeakRssKb());

  sessions::WindowTable::Get().ResetForTests();
  nftw(dir, [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
