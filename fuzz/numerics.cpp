// Arbitrary server lines through the parser, the built-in registration stage and the numeric
// handler, with a headless front end: a server window with a channel and a query window. No
// crash, no hang, and the channel's names and topic stay within their limits.
// Input layout: byte 0 sets the session flags (bit 0 registered, bit 1 IRCX, bit 2 show
// numerics), byte 1 the raw display mode; the rest is split into lines at LF.
#include <ftw.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/file_set.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/numerics.h"
#include "dispatch/parsed_line.h"
#include "dispatch/registration.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace {

using vanta::sessions::WindowTable;

char g_dir[] = "/tmp/vanta-fuzz-numerics-XXXXXX";
int g_server = -1, g_channel = -1;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Setup() {
  if (mkdtemp(g_dir) == nullptr) return false;
  vanta::platform::SetProgramDir(g_dir);
  std::atexit([] {
    nftw(g_dir, [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
         FTW_DEPTH | FTW_PHYS);
  });
  const std::string pref = vanta::config::PrefIni();
  vanta::platform::ini::WriteString(pref, "General", "AlternateNick", "alt");
  vanta::platform::ini::WriteString(pref, "General", "ShowJoin", "0");
  vanta::ui::Install(vanta::ui::MakeHeadless());
  vanta::platform::UiLoop::Get().BindToCurrentThread();
  vanta::sessions::CreateRequest r;
  r.name = "irc.fuzz";
  r.kind = vanta::sessions::kServerWindow;
  r.session = vanta::sessions::MakeSession("irc.fuzz", 6667, "me", "me@example.invalid", "Fuzz");
  g_server = WindowTable::Get().Create(r);
  vanta::sessions::CreateRequest c;
  c.name = "#c";
  c.kind = vanta::sessions::kChannelWindow;
  c.owning_server = g_server;
  g_channel = WindowTable::Get().Create(c);
  vanta::sessions::CreateRequest q;
  q.name = "bob";
  q.kind = vanta::sessions::kQueryWindow;
  q.owning_server = g_server;
  WindowTable::Get().Create(q);
  return g_server >= 0 && g_channel >= 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  if (!ready || size < 2) return 0;
  auto s = WindowTable::Get().Session(g_server);
  if (!s) return 0;
  s->registered.store(data[0] & 1);
  s->ircx.store((data[0] >> 1) & 1);
  s->show_numerics.store((data[0] >> 2) & 1);
  vanta::platform::ini::WriteString(vanta::config::PrefIni(), "Appearance", "RAWSERVER",
                                    std::to_string(data[1] % 5));
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  vanta::dispatch::ParsedLine pl;
  while (!rest.empty()) {
    const std::size_t cut = rest.find('\n');
    std::string line(rest.substr(0, cut == std::string_view::npos ? rest.size() : cut + 1));
    rest.remove_prefix(line.size());
    pl.Clear();
    pl.raw[0] = pl.raw[1] = pl.raw[2] = line;
    if (vanta::dispatch::RegistrationStage(g_server, pl)) continue;
    if (vanta::dispatch::ParseLine(line, &pl) == 1 && pl.kind == vanta::dispatch::ParsedLine::kNumeric) {
      s->numeric_pending.store(s->show_numerics.load());
      vanta::dispatch::HandleNumeric(g_server, pl);
    }
  }
  vanta::platform::UiLoop::Get().RunOnce(0);
  Check(vanta::dispatch::Topic(g_channel).size() < vanta::dispatch::kTopicSize);
  Check(vanta::dispatch::PendingNames(g_server, g_channel).size() <= 100000);
  Check(s->Get(&vanta::sessions::ServerSession::nick).size() < vanta::sessions::ServerSession::kName);
  return 0;
}
