// Arbitrary server lines through the whole dispatcher: a headless front end, one server window
// without a socket, and the input split into lines at LF so sequences (join, mode, nick, kick ...)
// meet state left by earlier lines. Nothing may crash, hang or grow without bound.
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/file_set.h"
#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/dispatcher.h"
#include "output/show_text.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace {

std::string g_home;

void RemoveHome() {
  if (g_home.empty()) return;
  nftw(g_home.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
       FTW_DEPTH | FTW_PHYS);
}

void Setup() {
  char tmpl[] = "/tmp/vanta-fuzz-dispatch-XXXXXX";
  if (const char* d = mkdtemp(tmpl)) g_home = d;
  atexit(RemoveHome);
  vanta::platform::SetProgramDir(g_home);
  vanta::config::SetProfileName("Administrator");
  vanta::config::ResetOptionsToDefaults();
  vanta::ui::Install(vanta::ui::MakeHeadless());
  vanta::platform::UiLoop::Get().BindToCurrentThread();
  vanta::dispatch::InstallDispatcher();
}

int MakeServer() {
  vanta::sessions::CreateRequest r;
  r.name = "irc.fuzz";
  r.kind = vanta::sessions::kServerWindow;
  r.session = vanta::sessions::MakeSession("irc.fuzz", 6667, "me", "me@example.invalid", "Fuzz");
  return vanta::sessions::WindowTable::Get().Create(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (Setup(), true);
  (void)ready;
  auto& table = vanta::sessions::WindowTable::Get();
  table.ResetForTests();
  vanta::platform::UiLoop::Get().Reset();
  const int server = MakeServer();
  if (server < 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = lf == std::string_view::npos ? rest : rest.substr(0, lf + 1);
    vanta::dispatch::Dispatch(server, line);
    rest.remove_prefix(line.size());
  }
  vanta::platform::UiLoop::Get().RunOnce(0);
  return 0;
}
