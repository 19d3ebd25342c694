#include "output/show_text.h"

#include <atomic>
#include <string>

#include "config/file_set.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::output {

namespace {
std::atomic<bool> g_unicode{false};
StatusColours g_colours;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
}  // namespace

void SetUnicodeDisplay(bool on) { g_unicode.store(on); }
bool UnicodeDisplay() { return g_unicode.load(); }

void LoadStatusColours() {
  g_colours.info = static_cast<uint32_t>(config::PrefInt("Metrics", "InfColor", 0));
  g_colours.ok = static_cast<uint32_t>(config::PrefInt("Metrics", "OkkColor", 16711680));
  g_colours.error = static_cast<uint32_t>(config::PrefInt("Metrics", "ErrColor", 255));
  g_colours.text = static_cast<uint32_t>(config::PrefInt("Metrics", "ServerText", 0));
}

const StatusColours& Colours() { return g_colours; }

std::string StripCodesSimple(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    switch (c) {
      case 0x02: case 0x0F: case 0x16: case 0x1F: case 0x1D: case 0x11: case 0x1E:
        continue;
      case 0x03: {  // colour: up to two digits, optionally ",bg" with up to two digits
        std::size_t j = i + 1, d = 0;
        while (j < t.size() && d < 2 && t[j] >= '0' && t[j] <= '9') ++j, ++d;
        if (d > 0 && j + 1 < t.size() && t[j] == ',' && t[j + 1] >= '0' && t[j + 1] <= '9') {
          ++j;
          d = 0;
          while (j < t.size() && d < 2 && t[j] >= '0' && t[j] <= '9') ++j, ++d;
        }
        i = j - 1;
        continue;
      }
      case 0x07: {  // hexadecimal colour: eight hex digits
        std::size_t j = i + 1;
        while (j < t.size() && j - i <= 8 && IsHex(t[j])) ++j;
        i = j - 1;
        continue;
      }
      default:
        out += static_cast<char>(c);
    }
  }
  return out;
}

void ShowText(const ShowTextRequest& request) {
  platform::UiLoop::Get().CallSync([&] { AppendLine(request); });
}

void ShowText(int32_t window, std::string_view text, int32_t fallback_window, uint32_t colour, int32_t mode,
              bool no_hold, bool no_timestamp, void* target_view) {
  ShowTextRequest r;
  r.window = window;
  r.text = text;
  r.fallback_window = fallback_window;
  r.colour = colour;
  r.mode = mode;
  r.no_hold = no_hold;
  r.no_timestamp = no_timestamp;
  r.utf8 = UnicodeDisplay();
  r.target_view = target_view;
  ShowText(r);
}

void AppendLine(const ShowTextRequest& request) {
  auto& table = sessions::WindowTable::Get();
  int n = table.Valid(request.window) ? request.window : request.fallback_window;
  auto slot = table.Slot(n);
  if (!slot) return;
  if (ui::Headless()) return;
  ui::WindowInfo info{n, slot->id, slot->kind, slot->Name()};
  ui::Current().LineAppended(info, StripCodesSimple(request.text), request.colour);
}

}  // namespace vanta::output
