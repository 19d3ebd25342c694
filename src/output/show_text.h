// Showing text in a window: any thread asks, the user-interface thread appends.
//
// ShowText hands a request synchronously to the user-interface thread, which first applies the
// hold-while-selecting rule and then appends the line with AppendLine: time stamp, line end, the
// "\x" escapes, logging, plug-ins, activity and notification state, trimming, and the code walker
// that turns the line into styled runs of the window's text view.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/strip_codes.h"
#include "output/text_codes.h"
#include "output/text_view.h"

namespace vanta::sessions {
struct WindowSlot;
}

namespace vanta::output {

// The request handed to the user-interface thread. `text` is owned by the caller and stays alive
// until ShowText returns. A NUL byte ends the text.
struct ShowTextRequest {
  int32_t window = -1;
  std::string_view text;
  int32_t fallback_window = -1;  // used when `window` is not valid; its session gives the nick for mentions
  uint32_t colour = 0;           // 0x00BBGGRR
  int32_t mode = 0;              // 0 normal line; 1 continuation (no time stamp, no line end added);
                                 // any non-zero mode: the view does not follow and the caret stays
  uint8_t no_hold = 0;           // bypass the hold-while-selecting rule
  uint8_t no_timestamp = 0;
  uint8_t reserved = 0;
  uint8_t utf8 = 0;              // the text is UTF-8
  TextView* target_view = nullptr;  // another text view to write into (pop-up message windows)
};

// Full form: hands the request to the user-interface thread and returns once the line is appended
// (at once when the loop has stopped).
void ShowText(const ShowTextRequest& request);
// Common form: the UTF-8 byte comes from the Unicode display mode.
void ShowText(int32_t window, std::string_view text, int32_t fallback_window, uint32_t colour, int32_t mode = 0,
              bool no_hold = false, bool no_timestamp = false, TextView* target_view = nullptr);

// Runs on the user-interface thread: appends the request's text to its window (no hold rule).
void AppendLine(const ShowTextRequest& request);

// A request held while the user was selecting text, with its own copy of the text.
struct HeldOutput {
  ShowTextRequest request;  // request.text is not used; see text
  std::string text;
};

// What a window slot keeps for its text output.
struct WindowOutput {
  TextView view;
  // Activity: the new-text flag, the mention flag, and whether the line that set them carried the
  // attention marker.
  std::atomic<int32_t> new_text{0};
  std::atomic<uint8_t> mention{0};
  std::atomic<uint8_t> attention{0};
  // Notification mode: 0 off, 1 or 2 on, 3 notified and not yet looked at (set by the user interface).
  std::atomic<int32_t> notification_mode{0};
  // User-interface thread only:
  std::vector<HeldOutput> pending;  // the pending-output list, in arrival order
  std::string notification_text;    // the latest stripped lines, under 256 bytes
};

// The output state of a slot, made on first use (any thread).
WindowOutput& OutputOf(sessions::WindowSlot& slot);
// The output state of a valid window, else nullptr.
std::shared_ptr<WindowOutput> OutputOf(int window);
// The window list's indicator: 0 nothing, 1 new text, 2 mention, 3 notified; 0 for a missing window.
int ActivityIndicator(int window);
// Shows a window's held requests now, in order (user-interface thread).
void FlushPending(int window);
// The stable id of the window a notification was last shown for (0: none).
uint64_t LastNotifiedWindow();

// Points where later subsystems take part in showing a line. Installed at start-up before any
// worker thread runs.
struct OutputHooks {
  // The logging subsystem: every assembled line (time stamp and line end included) of a window.
  std::function<void(int window, std::string_view line)> log_line;
  // Plug-ins: the text as received; a result of 1 stops the line after logging (not shown).
  std::function<int(int window, uint64_t window_id, std::string_view text)> text_shown;
  // The extended markup codes (see MarkupHandler).
  MarkupHandler markup;
};
OutputHooks& GetOutputHooks();

// The output suppression flag ("/addoff"): while set, AppendLine shows nothing.
void SetOutputSuppressed(bool on);
bool OutputSuppressed();

// The preferences AppendLine uses are cached and re-read when "pref.ini" changes on disk; this
// forces a re-read at the next line.
void ReloadTextSettings();
// The clear clock of "MinutesBeforeClear" (seconds of local time, 0 when unarmed).
int64_t ClearClock();
void ResetClearClock();

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

// Text with every formatting code removed (StripCodes with all flags).
std::string StripCodesSimple(std::string_view text);

}  // namespace vanta::output
