// The user-interface operations the subsystems ask for. One implementation runs at a time (headless,
// stdio, terminal, or a recording front end in tests); every call is made on the user-interface thread.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vanta::ui {

// What a front end is told about a window.
struct WindowInfo {
  int number = -1;     // window number at the time of the call
  uint64_t id = 0;     // stable id, unchanged by renumbering
  int kind = 0;        // 1 server, 2 channel, 3 query, 4 DCC
  std::string name;
};

enum class ConnectionState { Disconnected, Connecting, Connected };

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Headless mode: no windows at all; window slots are valid without one and output is not shown.
  virtual bool headless() const { return false; }

  // Windows. CreateWindow returns false when the window cannot be made.
  virtual bool CreateWindow(const WindowInfo&) { return true; }
  virtual void DestroyWindow(const WindowInfo&) {}
  virtual void RenameWindow(const WindowInfo&) {}
  virtual void ActivateWindow(const WindowInfo&) {}
  virtual void WindowListChanged() {}
  virtual void SetConnectionState(const WindowInfo&, ConnectionState) {}
  virtual bool MainFrameVisible() const { return true; }
  virtual void BringMainFrameForward() {}

  // A line was appended to a window's text view: `plain` is the text with formatting codes removed,
  // `colour` the line's default colour (0x00BBGGRR).
  virtual void LineAppended(const WindowInfo&, std::string_view plain, uint32_t colour) { (void)plain, (void)colour; }

  // ---- Text views (the runs themselves live in the core: output::OutputOf(slot).view) ----
  // One of the program's windows is the foreground window.
  virtual bool InForeground() const { return MainFrameVisible(); }
  // The keyboard focus is in one of the window's own controls (text view, nick list, input line).
  virtual bool FocusInWindow(const WindowInfo&) const { return false; }
  // The window's text view itself has the keyboard focus.
  virtual bool TextViewHasFocus(const WindowInfo&) const { return false; }
  // The user interface's smart-scroll option: keep a view where the user scrolled it.
  virtual bool SmartScroll() const { return false; }
  // The single selected embedded object of the window's view is deactivated and the focus moved to
  // the input line.
  virtual void DeactivateObject(const WindowInfo&) {}
  // The window's activity indicator changed: 0 nothing, 1 new text, 2 mention, 3 notified.
  virtual void ActivityChanged(const WindowInfo&, int indicator) { (void)indicator; }
  // ---- end of text views ----

  // Attention and dialogs.
  virtual void Beep() {}
  virtual void TrayNotify(std::string_view title, std::string_view text, int seconds) {
    (void)title, (void)text, (void)seconds;
  }
  // Yes/no box; returns the answer (the default when nobody can answer).
  virtual bool AskYesNo(std::string_view title, std::string_view text, bool default_answer) {
    (void)title, (void)text;
    return default_answer;
  }
  virtual void MessageBox(std::string_view title, std::string_view text) { (void)title, (void)text; }
  // Text or password input; nullopt = cancelled.
  virtual std::optional<std::string> AskText(std::string_view title, std::string_view prompt,
                                             std::string_view initial, bool password) {
    (void)title, (void)prompt, (void)initial, (void)password;
    return std::nullopt;
  }
  virtual void OpenDocument(std::string_view path) { (void)path; }
};

// The running front end. Before one is installed a headless one answers.
FrontEnd& Current();
// Installs a front end (takes ownership); returns the previous one.
std::unique_ptr<FrontEnd> Install(std::unique_ptr<FrontEnd> fe);
bool Headless();

// Built-in front ends.
std::unique_ptr<FrontEnd> MakeHeadless();
// Prints every appended line as "<window name>\t<text>" to out (a file descriptor).
std::unique_ptr<FrontEnd> MakeStdio(int out_fd);

}  // namespace vanta::ui
