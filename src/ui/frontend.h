// The user-interface operations the subsystems ask for. One implementation runs at a time (headless,
// stdio, terminal, or a recording front end in tests); every call is made on the user-interface thread.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  // ---- Nick lists, titles and input lines (asked for by the server line dispatcher) ----
  // A channel window's nick list changed; read it with dispatch::NickListEntries(number).
  virtual void NickListChanged(const WindowInfo&) {}
  // A window's title changed (name, topic or mode text of a channel; a server window's status).
  virtual void TitleChanged(const WindowInfo&) {}
  // The window's input line holds typed text the user has not sent yet.
  virtual bool InputLineHasText(const WindowInfo&) const { return false; }
  // ---- end of nick lists, titles and input lines ----

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

  // ---- Result views and dialogs of the numeric replies ----
  // A result view is a dialog the user opens with a command (whois, channel list, who ...); the
  // replies of its server feed it. These defaults mean "no view open": OpenResultView refuses, so
  // the replies are shown as text in the server window instead. The stdio and headless front ends
  // keep these defaults.
  enum class ResultView { Whois, Silence, Links, Access, Property, Ban, ChannelList, Who };
  // Opens (or re-uses) the view of `server`; false when the front end has no such view.
  virtual bool OpenResultView(const WindowInfo& server, ResultView view) {
    (void)server, (void)view;
    return false;
  }
  // Empties the view's lists.
  virtual void ResultViewClear(const WindowInfo& server, ResultView view) { (void)server, (void)view; }
  // Appends a row (one text per column) to the view's list.
  virtual void ResultViewAddRow(const WindowInfo& server, ResultView view, const std::vector<std::string>& columns) {
    (void)server, (void)view, (void)columns;
  }
  // Replaces one column of the view's last row.
  virtual void ResultViewSetLastRow(const WindowInfo& server, ResultView view, int column, std::string_view text) {
    (void)server, (void)view, (void)column, (void)text;
  }
  virtual void ResultViewSetTitle(const WindowInfo& server, ResultView view, std::string_view title) {
    (void)server, (void)view, (void)title;
  }
  // The feed ended: the view's controls are enabled again.
  virtual void ResultViewEnded(const WindowInfo& server, ResultView view) { (void)server, (void)view; }
  // The fields of a finished whois, in the order of the whois view; for a view opened for denying,
  // `ban_masks` holds the 15 mask variants and `deny_lines` the same masks as access lines.
  struct WhoisFields {
    std::vector<std::string> fields;  // nick, user, host, full name, server, idle, sign-on, operator, away, channels
    std::vector<std::string> ban_masks;
    std::vector<std::string> deny_lines;
  };
  virtual void ResultViewWhois(const WindowInfo& server, const WhoisFields& whois) { (void)server, (void)whois; }
  // Restores a window's saved placement (end of the welcome sequence).
  virtual void RestorePlacement(const WindowInfo& window) { (void)window; }
  // The join dialog and the recent-channels dialog of a server window.
  virtual void OpenJoinDialog(const WindowInfo& server) { (void)server; }
  virtual void OpenRecentChannels(const WindowInfo& server) { (void)server; }
  // A text prompt that closes by itself after timeout_ms; nullopt = cancelled or timed out. With
  // nobody to answer (headless, tests) it times out.
  virtual std::optional<std::string> AskTextTimed(std::string_view title, std::string_view prompt,
                                                  std::string_view initial, int timeout_ms) {
    (void)title, (void)prompt, (void)initial, (void)timeout_ms;
    return std::nullopt;
  }
  // ---- end of result views and dialogs ----
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
