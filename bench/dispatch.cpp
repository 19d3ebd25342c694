// Lines per second through the whole dispatcher for a realistic channel flood (mostly channel
// messages, with joins, parts, mode changes, nick changes, quits and notices mixed in), without a
// socket and with a headless front end. Printed side by side with the parser alone and with a
// large channel, so the ratios are what to compare; absolute numbers depend on the machine.
#include <ftw.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/file_set.h"
#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/dispatcher.h"
#include "dispatch/parsed_line.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace {

using Clock = std::chrono::steady_clock;
using vanta::sessions::WindowTable;

std::string g_home;

// A flood of `count` lines in channel #flood from `users` different nicks.
std::vector<std::string> Flood(int count, int users) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(count));
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < count; ++i) {
    const std::string nick = "user" + std::to_string(next() % static_cast<unsigned>(users));
    const std::string prefix = ":" + nick + "!~" + nick + "@host-" + std::to_string(next() % 250) + ".example.net ";
    const unsigned kind = next() % 100;
    if (kind < 70)
      lines.push_back(prefix + "PRIVMSG #flood :message number " + std::to_string(i) + " with some ordinary words in it\r\n");
    else if (kind < 76)
      lines.push_back(prefix + "JOIN :#flood\r\n");
    else if (kind < 82)
      lines.push_back(prefix + "PART #flood :see you\r\n");
    else if (kind < 87)
      lines.push_back(":op!o@h MODE #flood +v " + nick + "\r\n");
    else if (kind < 91)
      lines.push_back(prefix + "NICK :" + nick + "_\r\n");
    else if (kind < 95)
      lines.push_back(prefix + "QUIT :Quit: leaving\r\n");
    else
      lines.push_back(prefix + "NOTICE #flood :a notice to the channel\r\n");
  }
  return lines;
}

struct Setup {
  int server = -1;
  int channel = -1;
};

Setup MakeWindows(int users) {
  WindowTable::Get().ResetForTests();
  vanta::sessions::CreateRequest r;
  r.name = "irc.bench";
  r.kind = vanta::sessions::kServerWindow;
  r.session = vanta::sessions::MakeSession("irc.bench", 6667, "me", "me@example.invalid", "Bench");
  Setup s;
  s.server = WindowTable::Get().Create(r);
  vanta::sessions::CreateRequest c;
  c.name = "#flood";
  c.kind = vanta::sessions::kChannelWindow;
  c.owning_server = s.server;
  c.joined = true;
  s.channel = WindowTable::Get().Create(c);
  std::vector<std::string> nicks;
  for (int i = 0; i < users; ++i) nicks.push_back((i % 10 == 0 ? "@user" : "user") + std::to_string(i));
  vanta::dispatch::NickListReplace(s.channel, nicks);
  return s;
}

double DispatchRate(const std::vector<std::string>& lines, int users) {
  const Setup s = MakeWindows(users);
  const auto start = Clock::now();
  for (const auto& l : lines) vanta::dispatch::Dispatch(s.server, l);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  vanta::platform::UiLoop::Get().RunOnce(0);
  return seconds > 0 ? static_cast<double>(lines.size()) / seconds : 0;
}

double ParseRate(const std::vector<std::string>& lines) {
  vanta::dispatch::ParsedLine p;
  long sum = 0;
  const auto start = Clock::now();
  for (int round = 0; round < 10; ++round)
    for (const auto& l : lines) sum += vanta::dispatch::ParseLine(l, &p);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("(parsed %ld)\n", sum);
  return seconds > 0 ? 10.0 * static_cast<double>(lines.size()) / seconds : 0;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/vanta-bench-dispatch-XXXXXX";
  if (const char* d = mkdtemp(tmpl)) g_home = d;
  vanta::platform::SetProgramDir(g_home);
  vanta::config::SetProfileName("Administrator");
  vanta::config::ResetOptionsToDefaults();
  vanta::ui::Install(vanta::ui::MakeHeadless());
  vanta::platform::UiLoop::Get().BindToCurrentThread();
  vanta::dispatch::InstallDispatcher();

  const std::vector<std::string> small_flood = Flood(50000, 50);
  const std::vector<std::string> large_flood = Flood(50000, 2000);
  const double parse = ParseRate(small_flood);
  const double small = DispatchRate(small_flood, 50);
  const double large = DispatchRate(large_flood, 2000);
  std::printf("parser alone:                    %12.0f lines/s\n", parse);
  std::printf("dispatcher, channel of 50:       %12.0f lines/s  (%.1f%% of the parser)\n", small, 100.0 * small / parse);
  std::printf("dispatcher, channel of 2000:     %12.0f lines/s  (%.2f x the small channel)\n", large, large / small);

  WindowTable::Get().ResetForTests();
  nftw(g_home.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
       FTW_DEPTH | FTW_PHYS);
  return 0;
}
