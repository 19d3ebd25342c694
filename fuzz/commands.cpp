// Typed input through SplitInput and ExecuteLine in every window kind of a headless program whose
// server window has no connection: no crash, no hang, and no line leaves with a break inside.
// Input layout: byte 0 picks the window and the say-literally flag, the rest is the typed text.
#include <ftw.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "commands/command_text.h"
#include "commands/execute_line.h"
#include "config/catalogue.h"
#include "config/file_set.h"
#include "platform/paths.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace {

using vanta::sessions::WindowTable;

char g_dir[] = "/tmp/vanta-fuzz-commands-XXXXXX";

bool Setup() {
  if (mkdtemp(g_dir) == nullptr) return false;
  vanta::platform::SetProgramDir(g_dir);
  vanta::config::SetProfileName("Administrator");
  vanta::ui::Install(vanta::ui::MakeHeadless());
  vanta::platform::UiLoop::Get().BindToCurrentThread();
  std::atexit([] {
    nftw(g_dir, [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
         FTW_DEPTH | FTW_PHYS);
  });
  return true;
}

// Commands that would start a connection somewhere are left out: the fuzzer stays off the network.
bool Connects(std::string_view text) {
  std::string decoded(text);
  for (int round = 0; round < 8; ++round) {
    std::string next = vanta::commands::DecodeHexEscapes(decoded);
    if (next == decoded) break;
    decoded = std::move(next);
  }
  for (char& c : decoded) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return decoded.find("server") != std::string::npos || decoded.find("reconnect") != std::string::npos;
}

int Make(const char* name, int kind, int owner, std::shared_ptr<vanta::sessions::ServerSession> s = nullptr) {
  vanta::sessions::CreateRequest r;
  r.name = name;
  r.kind = kind;
  r.owning_server = owner;
  r.session = std::move(s);
  r.joined = true;
  return WindowTable::Get().Create(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  if (!ready || size < 1 || size > 30000) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (Connects(text)) return 0;
  auto& table = WindowTable::Get();
  table.ResetForTests();
  const int server = Make("irc.fuzz", vanta::sessions::kServerWindow, -1,
                          vanta::sessions::MakeSession("irc.fuzz", 6667, "me", "me@fuzz.invalid", "Fuzz"));
  const int channel = Make("#chan", vanta::sessions::kChannelWindow, server);
  const int query = Make("bob", vanta::sessions::kQueryWindow, server);
  const int dcc = Make("peer", vanta::sessions::kDccWindow, server);
  const int windows[] = {server, channel, query, dcc};
  const int window = windows[data[0] % 4];
  if (data[0] & 0x10) table.Slot(query)->secure_message.store(1);
  vanta::commands::TypeInput(window, text, (data[0] & 0x20) != 0);
  vanta::platform::UiLoop::Get().PumpUntil([] { return vanta::platform::RunningThreads() == 0; }, 10000);
  table.ResetForTests();
  return 0;
}
