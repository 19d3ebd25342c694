// Showing text in a window: any thread asks, the user-interface thread appends.
#pragma once
#include <cstdint>
#include <string_view>

namespace vanta::output {

// The request handed to the user-interface thread. `text` is owned by the caller and stays alive
// until ShowText returns.
struct ShowTextRequest {
  int32_t window = -1;
  std::string_view text;
  int32_t fallback_window = -1;  // used when `window` is not valid; its session gives the nick for mentions
  uint32_t colour = 0;           // 0x00BBGGRR
  int32_t mode = 0;              // 0 normal line; 1 continuation (no time stamp, no line end added)
  uint8_t no_hold = 0;           // bypass the hold-while-selecting rule
  uint8_t no_timestamp = 0;
  uint8_t reserved = 0;
  uint8_t utf8 = 0;              // the text is UTF-8
  void* target_view = nullptr;   // another text view to write into
};

// Full form: hands the request to the user-interface thread and returns once the line is appended.
void ShowText(const ShowTextRequest& request);
// Common form: the UTF-8 byte comes from the Unicode display mode.
void ShowText(int32_t window, std::string_view text, int32_t fallback_window, uint32_t colour, int32_t mode = 0,
              bool no_hold = false, bool no_timestamp = false, void* target_view = nullptr);

// Runs on the user-interface thread: appends the request's text to its window.
void AppendLine(const ShowTextRequest& request);

// The Unicode display mode (the text mode that also selects the Unicode catalogue).
void SetUnicodeDisplay(bool on);
bool UnicodeDisplay();

// Status colours, read from "Metrics" at start-up (LoadStatusColours) and fixed afterwards.
struct StatusColours {
  uint32_t info = 0;            // "InfColor"
  uint32_t ok = 16711680;       // "OkkColor"
  uint32_t error = 255;         // "ErrColor"
  uint32_t text = 0;            // "ServerText"
};
void LoadStatusColours();
const StatusColours& Colours();

// Text with the formatting codes removed (bold, colour, reset, italic, underline and the rest).
std::string StripCodesSimple(std::string_view text);

}  // namespace vanta::output
