// The terminal front end (--ui=tui): a full-screen ncursesw interface over the FrontEnd operations.
//
// Screen: a title line (window name; channels add their mode text and topic), the active window's
// text, the nick list beside channel windows, the window list with each window's activity, and the
// input line. Dialogs (yes/no, text and password prompts, message boxes, result views) are overlays.
//
// Keys of the input line:
//   Enter            run the line             Alt+Enter        say the line literally (a leading
//   Left, Right      move by character                         "/" is text, not a command)
//   Ctrl+Left/Right  move by word (also Alt+B, Alt+F)
//   Home, End        start, end (also Ctrl+A, Ctrl+E)
//   Backspace, Delete                          Ctrl+D           delete; on an empty line: quit
//   Ctrl+K, Ctrl+U   delete to the end, to the start
//   Ctrl+W, Alt+Backspace  delete the word before the cursor;   Alt+D  the word after it
//   Ctrl+Y           insert what was deleted last
//   Up, Down         the window's input history
//   Tab              complete a nick (again: the next match)
//   PageUp/PageDown  scroll the text         Alt+Home/Alt+End  (default accelerators) top, bottom
//   Alt+1..Alt+9, Alt+0  windows 1-10        Alt+Left/Right, Ctrl+P/Ctrl+N  previous, next window
//   Ctrl+L           redraw (default accelerator)
// A paste (bracketed paste) of several lines runs each complete line; an unfinished last line stays
// in the input line. Keys bound in the accelerator tables (see ui/accelerators.h) come first.
#pragma once
#include <functional>
#include <memory>
#include <string_view>

#include "ui/frontend.h"

namespace vanta::ui {

// Runs a line typed in a window: the window number (-1 when there is none), the line without its
// line end, and whether the say-literally key was used. Called on the user-interface thread.
using InputHandler = std::function<void(int window, std::string_view line, bool literally)>;
// The handler every terminal front end uses; an empty function restores the built-in one.
void SetInputHandler(InputHandler handler);
// The built-in handler: "/quit" ends the loop, other "/" lines go raw to the window's server, plain
// text is ignored.
void BasicInputLine(int window, std::string_view line, bool literally);

struct TerminalOptions {
  int in_fd = 0;
  int out_fd = 1;
  const char* term = nullptr;  // terminal type; nullptr: $TERM
  bool smart_scroll = true;    // keep a view where the user scrolled it
  bool signals = true;         // handle SIGWINCH and restore the terminal on crash signals
};

// True when both descriptors are terminals (the default front end then is this one).
bool TerminalAvailable(int in_fd = 0, int out_fd = 1);

class Terminal final : public FrontEnd {
 public:
  // Opens the screen at once; ok() is false when the terminal could not be set up.
  explicit Terminal(const TerminalOptions& options);
  ~Terminal() override;
  bool ok() const;

  // Bytes as if typed (tests and tools); the input descriptor feeds the same path.
  void Feed(std::string_view bytes);
  // Draws what changed since the last call; full=true draws everything again.
  void Render(bool full = false);
  // Rows the active window's view is scrolled up from its end.
  std::size_t ScrolledBack() const;

  bool CreateWindow(const WindowInfo&) override;
  void DestroyWindow(const WindowInfo&) override;
  void RenameWindow(const WindowInfo&) override;
  void ActivateWindow(const WindowInfo&) override;
  void WindowListChanged() override;
  void SetConnectionState(const WindowInfo&, ConnectionState) override;
  void LineAppended(const WindowInfo&, std::string_view plain, uint32_t colour) override;
  bool InForeground() const override { return true; }
  bool FocusInWindow(const WindowInfo&) const override;
  bool TextViewHasFocus(const WindowInfo&) const override { return false; }
  bool SmartScroll() const override;
  void ActivityChanged(const WindowInfo&, int indicator) override;
  void NickListChanged(const WindowInfo&) override;
  void TitleChanged(const WindowInfo&) override;
  bool InputLineHasText(const WindowInfo&) const override;
  void Beep() override;
  void TrayNotify(std::string_view title, std::string_view text, int seconds) override;
  bool AskYesNo(std::string_view title, std::string_view text, bool default_answer) override;
  void MessageBox(std::string_view title, std::string_view text) override;
  std::optional<std::string> AskText(std::string_view title, std::string_view prompt, std::string_view initial,
                                     bool password) override;
  std::optional<std::string> AskTextTimed(std::string_view title, std::string_view prompt, std::string_view initial,
                                          int timeout_ms) override;
  bool OpenResultView(const WindowInfo& server, ResultView view) override;
  void ResultViewClear(const WindowInfo& server, ResultView view) override;
  void ResultViewAddRow(const WindowInfo& server, ResultView view, const std::vector<std::string>& columns) override;
  void ResultViewSetLastRow(const WindowInfo& server, ResultView view, int column, std::string_view text) override;
  void ResultViewSetTitle(const WindowInfo& server, ResultView view, std::string_view title) override;
  void ResultViewWhois(const WindowInfo& server, const WhoisFields& whois) override;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// The terminal front end, or nullptr when the terminal cannot be used.
std::unique_ptr<FrontEnd> MakeTerminal(const TerminalOptions& options = {});

}  // namespace vanta::ui
