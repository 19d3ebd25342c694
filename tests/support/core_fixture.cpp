#include "support/core_fixture.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "config/catalogue.h"
#include "config/file_set.h"
#include "output/show_text.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/ini.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/hooks.h"
#include "sessions/window_table.h"

namespace vanta::test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/vanta-test-XXXXXX";
  const char* p = mkdtemp(tmpl);
  path_ = p ? p : "/tmp";
}

TempDir::~TempDir() {
  if (path_ == "/tmp" || path_.empty()) return;
  nftw(path_.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
       FTW_DEPTH | FTW_PHYS);
}

namespace {
class HeadlessRecorder : public RecordingFrontEnd {
 public:
  bool headless() const override { return true; }
};
}  // namespace

void CoreTest::SetUp() {
  platform::net::InitProcess();
  home = std::make_unique<TempDir>();
  platform::SetProgramDir(home->path());
  platform::ini::FlushCache();
  config::SetProfileName("Administrator");
  if (const char* bin = getenv("VANTA_BIN")) platform::SetLibraryDir(bin);
  config::LoadLanguageLibrary();
  config::LoadCatalogue();
  output::LoadStatusColours();
  sessions::GetHooks() = sessions::Hooks{};
  auto rec = headless ? std::make_unique<HeadlessRecorder>() : std::make_unique<RecordingFrontEnd>();
  fe = rec.get();
  ui::Install(std::move(rec));
  platform::UiLoop::Get().Reset();
  sessions::WindowTable::Get().ResetForTests();
  sessions::ResetRetryCounter();
  if (background_ui) {
    std::atomic<bool> bound{false};
    ui_thread_ = std::thread([&bound] {
      platform::UiLoop::Get().BindToCurrentThread();
      bound = true;
      platform::UiLoop::Get().Run();
    });
    while (!bound) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } else {
    platform::UiLoop::Get().BindToCurrentThread();
  }
}

void CoreTest::TearDown() {
  auto& table = sessions::WindowTable::Get();
  if (background_ui) {
    platform::UiLoop::Get().CallSync([&] { table.ResetForTests(); });
    // Let connection threads see their windows gone and end, serving their last requests meanwhile.
    for (int i = 0; i < 500 && platform::RunningThreads() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform::UiLoop::Get().Quit(0);
    ui_thread_.join();
    platform::UiLoop::Get().BindToCurrentThread();
  } else {
    table.ResetForTests();
    platform::UiLoop::Get().PumpUntil([] { return platform::RunningThreads() == 0; }, 5000);
  }
  platform::UiLoop::Get().Reset();
  sessions::GetHooks() = sessions::Hooks{};
  ui::Install(nullptr);
  fe = nullptr;
  home.reset();
}

bool CoreTest::PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  auto& loop = platform::UiLoop::Get();
  const uint32_t start = platform::Ticks();
  while (!pred()) {
    if (static_cast<int32_t>(platform::Ticks() - start) >= timeout_ms) return pred();
    if (background_ui)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    else
      loop.RunOnce(10);
  }
  return true;
}

std::vector<ShownLine> CoreTest::Shown(const std::string& needle) const {
  std::vector<ShownLine> out;
  for (auto& l : fe->lines())
    if (l.text.find(needle) != std::string::npos) out.push_back(l);
  return out;
}

bool CoreTest::WaitShown(const std::string& needle, const std::string& window, int timeout_ms) {
  return PumpUntil(
      [&] {
        for (auto& l : Shown(needle))
          if (window.empty() || l.window_name == window) return true;
        return false;
      },
      timeout_ms);
}

std::string CoreTest::AllShown() const {
  std::string out;
  for (auto& l : fe->lines()) out += "[" + l.window_name + "] " + l.text + "\n";
  return out;
}

void CoreTest::SetPref(const std::string& section, const std::string& key, const std::string& value) {
  platform::ini::WriteString(config::PrefIni(), section, key, value);
}

int CoreTest::MakeServerWindow(const std::string& host, uint16_t port, const std::string& nick) {
  sessions::CreateRequest r;
  // (Create crosses to the user-interface thread itself, wherever that runs.)
  r.name = host;
  r.kind = sessions::kServerWindow;
  r.session = sessions::MakeSession(host, port, nick, nick + "@example.invalid", "Test User");
  return sessions::WindowTable::Get().Create(r);
}

int CoreTest::MakeWindow(const std::string& name, int kind, int owning_server, bool joined) {
  sessions::CreateRequest r;
  r.name = name;
  r.kind = kind;
  r.owning_server = owning_server;
  r.joined = joined;
  return sessions::WindowTable::Get().Create(r);
}

}  // namespace vanta::test
