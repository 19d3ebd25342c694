// The terminal front end drawing a big window: a channel of 100000 lines (colours, bold, wide
// characters) on a pseudo terminal, drawn while paging from the bottom to the top and back, compared
// side by side with a window of 1000 lines. Also the cost of reading the whole view again
// (the first draw, and every draw after the text changed).
//
//   bench_tui_render [lines] [columns] [rows]
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "output/show_text.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/terminal.h"

using namespace vanta;

namespace {
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Fill(output::TextView& view, int lines) {
  static const uint32_t kColours[] = {0x000000, 0x0000FF, 0x008000, 0x800000, 0x0080FF, 0x808080};
  for (int i = 0; i < lines; ++i) {
    output::CharFormat f;
    view.CaretToEnd();
    f.colour = 0x808080;
    view.SetCaretFormat(f);
    view.InsertText("12:34 ");
    f.colour = kColours[i % 6];
    f.bold = true;
    view.SetCaretFormat(f);
    view.InsertText("<nick" + std::to_string(i % 37) + "> ");
    f = {};
    view.SetCaretFormat(f);
    if (i % 5 == 0) view.InsertText("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xA7 \xF0\x9F\x98\x80 ");
    view.InsertText("message number " + std::to_string(i) +
                    " with some ordinary words in it, long enough to wrap on a narrow terminal now and then\r\n");
  }
}

struct PageResult {
  double fps;
  double bytes_per_frame;
};

// Pages up to the top and back down, `rounds` times; a frame is one key and one draw.
PageResult Page(ui::Terminal& t, std::atomic<uint64_t>& written, int rounds) {
  t.Render(true);
  int frames = 0;
  const uint64_t bytes0 = written.load();
  const auto start = Clock::now();
  for (int r = 0; r < rounds; ++r) {
    t.Feed("\x1b[1;3F");  // Alt+End: bottom
    t.Render(false);
    ++frames;
    std::size_t last = static_cast<std::size_t>(-1);
    while (frames < 1000000) {
      t.Feed("\x1b[5~");
      t.Render(false);
      ++frames;
      if (t.ScrolledBack() == last) break;  // the top
      last = t.ScrolledBack();
      if (frames > 400 * (r + 1)) break;  // enough pages of a big window
    }
    while (t.ScrolledBack() > 0) {
      t.Feed("\x1b[6~");
      t.Render(false);
      ++frames;
    }
  }
  const double s = Seconds(start);
  return {frames / s, static_cast<double>(written.load() - bytes0) / frames};
}
}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_CTYPE, "C.UTF-8");
  const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int cols = argc > 2 ? std::atoi(argv[2]) : 160;
  const int rows = argc > 3 ? std::atoi(argv[3]) : 50;
  char tmpl[] = "/tmp/vanta-bench-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir) return 1;
  platform::SetProgramDir(dir);

  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_row = static_cast<unsigned short>(rows);
  ws.ws_col = static_cast<unsigned short>(cols);
  if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
    std::perror("openpty");
    return 1;
  }
  std::atomic<uint64_t> written{0};
  std::thread drain([&] {
    char buf[65536];
    for (;;) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) return;
      written += static_cast<uint64_t>(n);
    }
  });

  auto& loop = platform::UiLoop::Get();
  loop.BindToCurrentThread();
  ui::TerminalOptions o;
  o.in_fd = o.out_fd = slave;
  o.term = "xterm-256color";
  o.signals = false;
  auto owned = std::make_unique<ui::Terminal>(o);
  if (!owned->ok()) {
    std::fprintf(stderr, "the terminal could not be set up\n");
    return 1;
  }
  ui::Terminal& t = *owned;
  ui::Install(std::move(owned));

  sessions::CreateRequest server;
  server.name = "irc.bench.invalid";
  server.kind = sessions::kServerWindow;
  server.session = sessions::MakeSession("irc.bench.invalid", 6667, "bencher", "b@example.invalid", "Bench");
  const int s = sessions::WindowTable::Get().Create(server);
  sessions::CreateRequest chan;
  chan.name = "#big";
  chan.kind = sessions::kChannelWindow;
  chan.owning_server = s;
  const int big = sessions::WindowTable::Get().Create(chan);
  chan.name = "#small";
  const int small = sessions::WindowTable::Get().Create(chan);
  if (s < 0 || big < 0 || small < 0) {
    std::fprintf(stderr, "could not create the windows\n");
    return 1;
  }
  auto start = Clock::now();
  Fill(output::OutputOf(big)->view, lines);
  Fill(output::OutputOf(small)->view, 1000);
  std::printf("%d lines filled in %.2f s; terminal %dx%d on a pty\n", lines, Seconds(start), cols, rows);

  // The first draw reads every line of the view (rows are made only for the page shown).
  sessions::WindowTable::Get().Activate(big);
  start = Clock::now();
  t.Render(true);
  const double first = Seconds(start);
  sessions::WindowTable::Get().Activate(small);
  start = Clock::now();
  t.Render(true);
  const double first_small = Seconds(start);
  std::printf("first draw (reading every line):  %8.1f ms for %d lines, %6.2f ms for 1000 lines (%.0fx)\n",
              first * 1e3, lines, first_small * 1e3, first / first_small);

  sessions::WindowTable::Get().Activate(small);
  const PageResult ps = Page(t, written, 20);
  sessions::WindowTable::Get().Activate(big);
  const PageResult pb = Page(t, written, 1);
  std::printf("paging, 1000 lines:   %8.0f frames/s  %8.0f bytes/frame\n", ps.fps, ps.bytes_per_frame);
  std::printf("paging, %d lines: %8.0f frames/s  %8.0f bytes/frame  (%.2fx the small window's rate)\n", lines,
              pb.fps, pb.bytes_per_frame, pb.fps / ps.fps);

  // A frame where nothing changed sends (almost) nothing.
  usleep(300000);  // what the paging wrote has drained
  const uint64_t before = written.load();
  for (int i = 0; i < 100; ++i) t.Render(false);
  usleep(300000);
  std::printf("unchanged frames: %.1f bytes/frame\n", static_cast<double>(written.load() - before) / 100);

  ui::Install(nullptr);  // restores and closes the terminal
  sessions::WindowTable::Get().ResetForTests();
  close(slave);
  drain.join();
  close(master);
  std::string rm = std::string("rm -rf ") + dir;
  return system(rm.c_str()) == 0 ? 0 : 0;
}
