#include "ui/terminal.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#undef CreateWindow
#undef MessageBox
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_map>

#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/result_views.h"
#include "output/show_text.h"
#include "platform/clock.h"
#include "platform/ui_loop.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "ui/accelerators.h"
#include "ui/completion.h"
#include "ui/key_decoder.h"
#include "ui/line_editor.h"
#include "ui/term_colour.h"
#include "ui/term_text.h"
#include "ui/term_view.h"

namespace vanta::ui {

// ---- the input handler ---------------------------------------------------------------------------

namespace {
InputHandler& HandlerSlot() {
  static InputHandler handler;
  return handler;
}

void RunInput(int window, std::string_view line, bool literally) {
  if (HandlerSlot()) HandlerSlot()(window, line, literally);
  else BasicInputLine(window, line, literally);
}
}  // namespace

void SetInputHandler(InputHandler handler) { HandlerSlot() = std::move(handler); }

void BasicInputLine(int window, std::string_view line, bool literally) {
  if (literally || line.size() < 2 || line[0] != '/') return;
  if (line == "/quit" || line.rfind("/quit ", 0) == 0) {
    platform::UiLoop::Get().Quit(0);
    return;
  }
  auto& table = sessions::WindowTable::Get();
  int server = table.OwningServer(window >= 0 ? window : table.Active());
  if (server < 0) server = table.Count() > 0 ? table.OwningServer(0) : -1;
  if (server < 0) return;
  std::string raw;
  for (char c : line.substr(1))
    if (c != '\r' && c != '\n' && c != '\0') raw += c;
  sessions::SendToServer(raw + "\r\n", server);
}

bool TerminalAvailable(int in_fd, int out_fd) { return isatty(in_fd) && isatty(out_fd); }

// ---- crash and resize signals --------------------------------------------------------------------

namespace {
constexpr int kNoticeTimer = 0x7E01;  // main-window timer of the status-line notice
constexpr int kEscapeTimer = 0x7E02;  // flushes a lone ESC
constexpr int kTimedPromptTimer = 0x7E03;

struct SignalState {
  int out_fd = -1;
  int in_fd = -1;
  termios saved{};
  bool have_saved = false;
  char restore[256] = {};
  std::size_t restore_len = 0;
  int resize_pipe[2] = {-1, -1};
  struct sigaction old_winch{}, old_crash[5]{};
};
SignalState g_sig;
constexpr int kCrashSignals[5] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

void RestoreTerminalRaw() {
  if (g_sig.out_fd >= 0 && g_sig.restore_len > 0) {
    ssize_t n = write(g_sig.out_fd, g_sig.restore, g_sig.restore_len);
    (void)n;
  }
  if (g_sig.have_saved) tcsetattr(g_sig.in_fd, TCSANOW, &g_sig.saved);
}

extern "C" void OnCrashSignal(int sig) {
  RestoreTerminalRaw();
  signal(sig, SIG_DFL);
  raise(sig);
}

extern "C" void OnWinch(int) {
  const int saved_errno = errno;
  if (g_sig.resize_pipe[1] >= 0) {
    char c = 'w';
    ssize_t n = write(g_sig.resize_pipe[1], &c, 1);
    (void)n;
  }
  errno = saved_errno;
}

uint32_t Now() { return platform::Ticks(); }
}  // namespace

// ---- the front end -------------------------------------------------------------------------------

struct Terminal::Impl : std::enable_shared_from_this<Terminal::Impl> {
  TerminalOptions opts;
  bool open = false;
  SCREEN* screen = nullptr;
  FILE* out_file = nullptr;
  FILE* in_file = nullptr;
  bool watching = false;
  bool signals_installed = false;

  ColourDepth depth = ColourDepth::k8;
  bool colours = false;
  std::map<std::pair<int, int>, int> pairs;

  int rows = 0, cols = 0;
  Layout layout;
  int nick_width = 0;
  WINDOW* w_title = nullptr;
  WINDOW* w_text = nullptr;
  WINDOW* w_sep = nullptr;
  WINDOW* w_nicks = nullptr;
  WINDOW* w_list = nullptr;
  WINDOW* w_input = nullptr;

  struct WinState {
    LineEditor editor;
    InputHistory history;
    WrappedView wrapped;
    std::size_t back = 0;  // rows scrolled up from the end
    std::size_t rows_seen = 0;
    uint64_t scroll_seen = 0;
  };
  std::unordered_map<uint64_t, WinState> windows;  // by stable id
  WinState no_window;                               // the input line while no window exists
  NickCompleter completer;
  Accelerators accel;

  KeyDecoder decoder;
  std::deque<InputEvent> queue;
  bool input_closed = false;

  // What needs drawing.
  bool d_title = true, d_text = true, d_nicks = true, d_list = true, d_input = true;
  bool render_posted = false;

  std::string notice;
  int cursor_visibility = -1;
  std::vector<WrappedView::RowRef> page_rows;  // scratch of DrawText
  std::vector<WrappedView::Piece> pieces;

  struct Overlay {
    enum Kind { kYesNo, kText, kMessage, kView } kind = kMessage;
    std::string title;
    std::string prompt;  // yes/no and message: the text; text prompts: the prompt
    bool password = false;
    bool yes = false;    // yes/no: the highlighted answer
    LineEditor edit;
    std::size_t top = 0;  // first line shown (messages, views)
    bool done = false;
    bool accepted = false;
    bool modal = true;
    // Result views.
    uint64_t server_id = 0;
    int view = -1;
    std::vector<std::string> lines;
  };
  std::vector<std::shared_ptr<Overlay>> overlays;  // the last one is on top

  // ---- helpers ----
  platform::UiLoop& loop() { return platform::UiLoop::Get(); }

  int Active() const {
    auto& t = sessions::WindowTable::Get();
    const int a = t.Active();
    return t.Valid(a) ? a : -1;
  }

  WinState& StateOf(int n) {
    auto slot = sessions::WindowTable::Get().Slot(n);
    if (!slot) return no_window;
    return windows[slot->id];
  }

  void InvalidateAll() { d_title = d_text = d_nicks = d_list = d_input = true; Schedule(); }

  void Schedule() {
    if (render_posted || !open) return;
    render_posted = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    loop().Post([weak] {
      if (auto self = weak.lock()) {
        self->render_posted = false;
        self->Render(false);
      }
    });
  }

  // ---- set-up and restore ----
  bool Open() {
    g_sig.in_fd = opts.in_fd;
    g_sig.out_fd = opts.out_fd;
    g_sig.have_saved = tcgetattr(opts.in_fd, &g_sig.saved) == 0;
    if (opts.signals) InstallSignals();
    const int out = dup(opts.out_fd);
    const int in = dup(opts.in_fd);
    if (out < 0 || in < 0) {
      if (out >= 0) ::close(out);
      if (in >= 0) ::close(in);
      return false;
    }
    out_file = fdopen(out, "w");
    in_file = fdopen(in, "r");
    if (!out_file || !in_file) return false;
    screen = newterm(opts.term, out_file, in_file);
    if (!screen) return false;
    set_term(screen);
    // A terminal without cursor addressing (TERM=dumb and the like) cannot show the screen.
    char* cup = tigetstr(const_cast<char*>("cup"));
    if (!cup || cup == reinterpret_cast<char*>(-1)) {
      endwin();
      return false;
    }
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    keypad(stdscr, FALSE);
    Cursor(true);
    if (has_colors()) {
      start_color();
      use_default_colors();
      colours = true;
      depth = DepthFromColours(COLORS);
    }
    // What restores the terminal from a signal handler, where ncurses cannot be called.
    std::string restore = "\x1b[?2004l";
    for (const char* cap : {"sgr0", "cnorm", "rmcup"}) {
      char* s = tigetstr(const_cast<char*>(cap));
      if (s && s != reinterpret_cast<char*>(-1)) restore += s;
    }
    restore += "\r\n";
    g_sig.restore_len = std::min(restore.size(), sizeof g_sig.restore);
    memcpy(g_sig.restore, restore.data(), g_sig.restore_len);
    WriteRaw("\x1b[?2004h");  // bracketed paste
    open = true;
    Size();
    Relayout(true);
    accel.Load();
    return true;
  }

  void InstallSignals() {
    if (pipe2(g_sig.resize_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
      struct sigaction sa {};
      sa.sa_handler = OnWinch;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESTART;
      sigaction(SIGWINCH, &sa, &g_sig.old_winch);
      std::weak_ptr<Impl> weak = weak_from_this();
      loop().Watch(g_sig.resize_pipe[0], [weak] {
        char buf[64];
        while (read(g_sig.resize_pipe[0], buf, sizeof buf) > 0) {
        }
        if (auto self = weak.lock()) self->Resize();
      });
    }
    for (int i = 0; i < 5; ++i) {
      struct sigaction sa {};
      sa.sa_handler = OnCrashSignal;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESETHAND | SA_NODEFER;
      sigaction(kCrashSignals[i], &sa, &g_sig.old_crash[i]);
    }
    signals_installed = true;
  }

  void Close() {
    if (watching) loop().Unwatch(opts.in_fd);
    watching = false;
    loop().KillTimer(platform::kMainWindowTarget, kNoticeTimer);
    loop().KillTimer(platform::kMainWindowTarget, kEscapeTimer);
    if (open) {
      WriteRaw("\x1b[?2004l");
      for (WINDOW* w : {w_title, w_text, w_sep, w_nicks, w_list, w_input})
        if (w) delwin(w);
      endwin();
      open = false;
    }
    if (screen) delscreen(screen);
    screen = nullptr;
    if (out_file) fclose(out_file);
    if (in_file) fclose(in_file);
    out_file = in_file = nullptr;
    if (g_sig.have_saved) tcsetattr(opts.in_fd, TCSANOW, &g_sig.saved);
    if (signals_installed) {
      loop().Unwatch(g_sig.resize_pipe[0]);
      sigaction(SIGWINCH, &g_sig.old_winch, nullptr);
      for (int i = 0; i < 5; ++i) sigaction(kCrashSignals[i], &g_sig.old_crash[i], nullptr);
      ::close(g_sig.resize_pipe[0]);
      ::close(g_sig.resize_pipe[1]);
      g_sig.resize_pipe[0] = g_sig.resize_pipe[1] = -1;
      signals_installed = false;
    }
    g_sig.restore_len = 0;
  }

  void WriteRaw(std::string_view s) {
    if (out_file) fflush(out_file);
    while (!s.empty()) {
      ssize_t n = write(opts.out_fd, s.data(), s.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      s.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  void Size() {
    winsize ws{};
    if (ioctl(opts.out_fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
      resize_term(ws.ws_row, ws.ws_col);
    }
    rows = LINES;
    cols = COLS;
  }

  void Resize() {
    if (!open) return;
    Size();
    Relayout(true);
    Render(true);
  }

  // Recomputes the regions; windows are made again when a region changed.
  void Relayout(bool force) {
    const int a = Active();
    int want = 0;
    if (a >= 0 && sessions::WindowTable::Get().Kind(a) == sessions::kChannelWindow) {
      want = 8;
      for (const auto& e : dispatch::NickListEntries(a)) want = std::max(want, DisplayWidth(e) + 1);
    }
    Layout l = ComputeLayout(rows, cols, want);
    const bool same = l.title == layout.title && l.text == layout.text && l.nicks == layout.nicks &&
                      l.windows == layout.windows && l.input == layout.input;
    if (same && !force && w_input) return;
    layout = l;
    for (WINDOW** w : {&w_title, &w_text, &w_sep, &w_nicks, &w_list, &w_input}) {
      if (*w) delwin(*w);
      *w = nullptr;
    }
    auto make = [](const Rect& r) -> WINDOW* {
      if (r.h <= 0 || r.w <= 0) return nullptr;
      return newwin(r.h, r.w, r.y, r.x);
    };
    w_title = make(layout.title);
    w_text = make(layout.text);
    w_sep = make(layout.separator);
    w_nicks = make(layout.nicks);
    w_list = make(layout.windows);
    w_input = make(layout.input);
    clearok(curscr, TRUE);
    d_title = d_text = d_nicks = d_list = d_input = true;
  }

  // ---- colours and cells ----
  int Pair(int fg, int bg) {
    if (!colours || (fg == -1 && bg == -1)) return 0;
    auto key = std::make_pair(fg, bg);
    auto it = pairs.find(key);
    if (it != pairs.end()) return it->second;
    int p = alloc_pair(fg, bg);
    if (p < 0) p = 0;
    if (pairs.size() < 4096) pairs[key] = p;
    return p;
  }

  attr_t Attrs(const output::CharFormat& f) const {
    attr_t a = A_NORMAL;
    if (f.bold) a |= A_BOLD;
    if (f.italic) a |= A_ITALIC;
    if (f.underline != output::Underline::None || f.link) a |= A_UNDERLINE;
    return a;
  }

  // Puts the display text into w at the cursor, up to column `limit`; returns the column reached.
  // Combining marks join the character before them.
  int Put(WINDOW* w, std::string_view text, attr_t attrs, int pair, bool strike, int limit) {
    int y, x;
    getyx(w, y, x);
    int last_x = -1;  // column of the last character put
    for (const Glyph& g : DecodeGlyphs(text)) {
      if (g.width == 0) {
        if (last_x < 0) continue;
        cchar_t prev;
        if (mvwin_wch(w, y, last_x, &prev) == ERR) continue;
        wchar_t wc[CCHARW_MAX + 1] = {};
        attr_t a;
        short old_pair;
        int ext_pair = 0;
        if (getcchar(&prev, wc, &a, &old_pair, &ext_pair) == ERR) continue;
        std::size_t n = 0;
        while (n < CCHARW_MAX && wc[n]) ++n;
        if (n < CCHARW_MAX) {
          wc[n] = static_cast<wchar_t>(g.code);
          wc[n + 1] = 0;
          cchar_t cc;
          setcchar(&cc, wc, a, 0, &ext_pair);
          mvwadd_wch(w, y, last_x, &cc);
        }
        wmove(w, y, x);
        continue;
      }
      if (x + g.width > limit) break;
      wchar_t wc[3] = {static_cast<wchar_t>(g.code), 0, 0};
      if (strike) wc[1] = 0x0336;  // combining long stroke overlay: terminals have no strikeout
      cchar_t cc;
      setcchar(&cc, wc, attrs, 0, &pair);
      wadd_wch(w, &cc);
      last_x = x;
      x += g.width;
    }
    return x;
  }

  void PutPlain(WINDOW* w, std::string_view text, attr_t attrs, int pair, int limit) {
    Put(w, text, attrs, pair, false, limit);
  }

  void FillLine(WINDOW* w, int y, attr_t attrs, int pair) {
    int x = getcurx(w);
    const int width = getmaxx(w);
    cchar_t blank;
    wchar_t sp[2] = {L' ', 0};
    setcchar(&blank, sp, attrs, 0, &pair);
    for (; x < width; ++x) mvwadd_wch(w, y, x, &blank);
  }

  // ---- drawing ----
  std::string TitleText(int a) {
    if (a < 0) return "VantaIRC";
    auto slot = sessions::WindowTable::Get().Slot(a);
    if (!slot) return "VantaIRC";
    std::string name, modes;
    {
      std::lock_guard lock(slot->mutex);
      name = slot->name;
      modes = slot->mode_text;
    }
    std::string title = name;
    if (slot->kind == sessions::kChannelWindow) {
      if (!modes.empty()) title += " [" + modes + "]";
      const std::string topic = output::StripCodesSimple(dispatch::Topic(a));
      if (!topic.empty()) title += " " + topic;
    }
    return title;
  }

  void DrawTitle() {
    if (!w_title) return;
    const int a = Active();
    werase(w_title);
    wmove(w_title, 0, 0);
    const attr_t attrs = A_REVERSE;
    PutPlain(w_title, " " + TitleText(a), attrs, 0, getmaxx(w_title));
    FillLine(w_title, 0, attrs, 0);
    wnoutrefresh(w_title);
  }

  void DrawText() {
    if (!w_text) return;
    const int a = Active();
    const int h = getmaxy(w_text), width = getmaxx(w_text);
    werase(w_text);
    if (a >= 0) {
      auto out = output::OutputOf(a);
      WinState& ws = StateOf(a);
      if (out) {
        if (ws.wrapped.Sync(out->view, width) && ws.back > 0)
          ws.back += ws.wrapped.AddedRows();  // keep the scrolled page where it is
        const uint64_t scrolls = out->view.ScrollCount();
        if (scrolls != ws.scroll_seen) {  // the core scrolled the view to its caret
          ws.scroll_seen = scrolls;
          ws.back = 0;
        }
        ws.wrapped.Page(&ws.back, h, &page_rows);
        out->view.SetScrolledAway(ws.back > 0);
        const int top = h - static_cast<int>(page_rows.size());  // text sits at the bottom
        for (std::size_t r = 0; r < page_rows.size(); ++r) {
          wmove(w_text, top + static_cast<int>(r), 0);
          ws.wrapped.Row(page_rows[r], pieces);
          for (const auto& p : pieces) {
            const ColourPair c = MapRunColours(*p.format, depth);
            Put(w_text, p.text, Attrs(*p.format), Pair(c.fg, c.bg), p.format->strikeout, width);
          }
        }
      }
    }
    wnoutrefresh(w_text);
  }

  void DrawNicks() {
    if (w_sep) {
      werase(w_sep);
      for (int y = 0; y < getmaxy(w_sep); ++y) mvwaddch(w_sep, y, 0, ACS_VLINE);
      wnoutrefresh(w_sep);
    }
    if (!w_nicks) return;
    werase(w_nicks);
    const int a = Active();
    const auto entries = a >= 0 ? dispatch::NickListEntries(a) : std::vector<std::string>();
    const int h = getmaxy(w_nicks), width = getmaxx(w_nicks);
    const bool more = static_cast<int>(entries.size()) > h;
    const int fit = more ? h - 1 : static_cast<int>(entries.size());
    for (int i = 0; i < fit && i < static_cast<int>(entries.size()); ++i) {
      wmove(w_nicks, i, 0);
      const std::string& e = entries[static_cast<std::size_t>(i)];
      const char prefix = dispatch::EntryPrefix(e);
      int fg = -1;
      if (prefix == '.' || prefix == '@') fg = depth == ColourDepth::k8 ? 2 : 10;
      else if (prefix == '%') fg = depth == ColourDepth::k8 ? 5 : 13;
      else if (prefix == '+') fg = depth == ColourDepth::k8 ? 3 : 11;
      if (prefix) PutPlain(w_nicks, std::string(1, prefix), A_BOLD, Pair(fg, -1), width);
      else PutPlain(w_nicks, " ", A_NORMAL, 0, width);
      PutPlain(w_nicks, dispatch::EntryNick(e), A_NORMAL, 0, width);
    }
    if (more) {
      wmove(w_nicks, h - 1, 0);
      PutPlain(w_nicks, "+" + std::to_string(entries.size() - static_cast<std::size_t>(fit)) + " more", A_DIM, 0,
               width);
    }
    wnoutrefresh(w_nicks);
  }

  void DrawList() {
    if (!w_list) return;
    werase(w_list);
    const int width = getmaxx(w_list);
    const attr_t bar = A_NORMAL;
    auto& table = sessions::WindowTable::Get();
    std::vector<WindowEntry> entries;
    for (int i = 0; i < table.Count(); ++i) {
      auto slot = table.Slot(i);
      if (!slot) continue;
      entries.push_back({slot->Name(), output::ActivityIndicator(i)});
    }
    // The right end: a notice, and how far the view is scrolled.
    std::string right;
    const int a = Active();
    if (a >= 0) {
      const std::size_t back = StateOf(a).back;
      if (back > 0) right = "[+" + std::to_string(back) + "]";
    }
    if (!notice.empty()) right = (right.empty() ? "" : right + " ") + notice;
    int right_w = std::min(DisplayWidth(right), width / 2 + width / 4);
    const int list_w = right.empty() ? width : std::max(0, width - right_w - 1);
    wmove(w_list, 0, 0);
    for (const auto& item : BuildWindowList(entries, a, list_w, depth)) {
      wmove(w_list, 0, item.x);
      attr_t attrs = bar;
      if (item.style.bold) attrs |= A_BOLD;
      if (item.active) attrs |= A_REVERSE;
      PutPlain(w_list, item.text, attrs, Pair(item.style.fg, -1), list_w);
    }
    if (!right.empty() && right_w > 0) {
      wmove(w_list, 0, width - right_w);
      PutPlain(w_list, FitWidth(right, right_w), A_BOLD, 0, width);
    }
    wnoutrefresh(w_list);
  }

  void DrawInput() {
    if (!w_input) return;
    werase(w_input);
    const int a = Active();
    const int width = getmaxx(w_input);
    std::string prompt = "[";
    if (a >= 0) prompt += sessions::WindowTable::Get().Slot(a) ? sessions::WindowTable::Get().Slot(a)->Name() : "";
    prompt += "] ";
    prompt = FitWidth(prompt, width / 3);
    wmove(w_input, 0, 0);
    PutPlain(w_input, prompt, A_BOLD, 0, width);
    const int px = getcurx(w_input);
    LineEditor& ed = StateOf(a).editor;
    const int field = std::max(1, width - px);
    const std::size_t start = ed.VisibleStart(field);
    const std::string_view text(ed.text());
    Put(w_input, text.substr(start), A_NORMAL, 0, false, width);
    const int cx = px + DisplayWidth(text.substr(start, ed.cursor() - start));
    wmove(w_input, 0, std::min(cx, width - 1));
    wnoutrefresh(w_input);
  }

  // Wraps text for an overlay: line ends break lines, long lines wrap by display width.
  static std::vector<std::string> WrapText(std::string_view text, int width) {
    std::vector<std::string> out;
    for (const std::string& line : SplitPasteLines(text)) {
      const auto glyphs = DecodeGlyphs(line);
      const auto starts = WrapGlyphs(glyphs, width);
      for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t b = starts[k] < glyphs.size() ? glyphs[starts[k]].offset : line.size();
        const std::size_t e = k + 1 < starts.size() ? glyphs[starts[k + 1]].offset : line.size();
        out.push_back(line.substr(b, e - b));
      }
    }
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  }

  void DrawOverlay(Overlay& o) {
    const int bw = std::max(10, std::min(cols - 2, o.kind == Overlay::kView ? cols - 4 : 70));
    const int inner = bw - 4;
    std::vector<std::string> body =
        o.kind == Overlay::kView ? o.lines : WrapText(o.prompt, inner);
    if (o.kind == Overlay::kView) {
      std::vector<std::string> wrapped;
      for (const auto& l : body) wrapped.push_back(FitWidth(l, inner));
      body.swap(wrapped);
    }
    const int max_body = std::max(1, rows - 6);
    const int body_h = std::min<int>(std::max<int>(1, static_cast<int>(body.size())),
                                     o.kind == Overlay::kView ? max_body : std::min(max_body, 12));
    const int extra = (o.kind == Overlay::kText || o.kind == Overlay::kYesNo) ? 2 : 1;
    const int bh = std::min(rows, body_h + 2 + extra);
    const int y0 = std::max(0, (rows - bh) / 2), x0 = std::max(0, (cols - bw) / 2);
    WINDOW* w = newwin(bh, bw, y0, x0);
    if (!w) return;
    werase(w);
    box(w, 0, 0);
    wmove(w, 0, 2);
    PutPlain(w, " " + FitWidth(o.title, bw - 6) + " ", A_BOLD, 0, bw - 2);
    const std::size_t max_top = body.size() > static_cast<std::size_t>(body_h) ? body.size() - body_h : 0;
    if (o.top > max_top) o.top = max_top;
    for (int i = 0; i < body_h && o.top + i < body.size(); ++i) {
      wmove(w, 1 + i, 2);
      PutPlain(w, body[o.top + i], A_NORMAL, 0, bw - 2);
    }
    int cy = -1, cx = -1;
    const int last = bh - 2;
    if (o.kind == Overlay::kYesNo) {
      wmove(w, last, 2);
      PutPlain(w, "[ Yes ]", o.yes ? A_REVERSE : A_NORMAL, 0, bw - 2);
      wmove(w, last, 12);
      PutPlain(w, "[ No ]", o.yes ? A_NORMAL : A_REVERSE, 0, bw - 2);
      wmove(w, last, 21);
      PutPlain(w, "y/n, Enter, Esc", A_DIM, 0, bw - 2);
    } else if (o.kind == Overlay::kText) {
      wmove(w, last, 2);
      std::string shown = o.password ? std::string(DecodeGlyphs(o.edit.text()).size(), '*') : o.edit.text();
      LineEditor view;
      view.Set(shown);
      const std::size_t chars_before = DecodeGlyphs(std::string_view(o.edit.text()).substr(0, o.edit.cursor())).size();
      if (o.password) view.SetCursor(chars_before);
      else view.SetCursor(o.edit.cursor());
      const std::size_t start = view.VisibleStart(inner);
      Put(w, std::string_view(view.text()).substr(start), A_UNDERLINE, 0, false, bw - 2);
      cy = last;
      cx = 2 + DisplayWidth(std::string_view(view.text()).substr(start, view.cursor() - start));
    } else if (max_top > 0) {
      wmove(w, bh - 1, bw - 12);
      PutPlain(w, " " + std::to_string(o.top + 1) + "/" + std::to_string(body.size()) + " ", A_DIM, 0, bw - 1);
    }
    if (cy >= 0) wmove(w, cy, std::min(cx, bw - 2));
    Cursor(cy >= 0);
    wnoutrefresh(w);
    delwin(w);
  }

  void Cursor(bool visible) {
    if (cursor_visibility == static_cast<int>(visible)) return;
    cursor_visibility = visible;
    curs_set(visible ? 1 : 0);
  }

  void Render(bool full) {
    if (!open) return;
    if (full) {
      clearok(curscr, TRUE);
      d_title = d_text = d_nicks = d_list = d_input = true;
    }
    Relayout(false);
    if (!overlays.empty()) d_title = d_text = d_nicks = d_list = d_input = true;  // the overlay covers them
    if (d_title) DrawTitle();
    if (d_text) DrawText();
    if (d_nicks) DrawNicks();
    if (d_list) DrawList();
    Cursor(true);
    DrawInput();  // last, so the cursor ends in the input line
    d_title = d_text = d_nicks = d_list = d_input = false;
    for (auto& o : overlays) DrawOverlay(*o);
    doupdate();
  }

  // ---- input ----
  void OnReadable() {
    char buf[4096];
    const ssize_t n = read(opts.in_fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
      input_closed = true;
      loop().Unwatch(opts.in_fd);
      watching = false;
      for (auto& o : overlays) o->done = true;
      loop().Quit(0);
      return;
    }
    if (n > 0) Feed(std::string_view(buf, static_cast<std::size_t>(n)));
  }

  void Feed(std::string_view bytes) {
    std::vector<InputEvent> events;
    decoder.Feed(bytes, events);
    for (auto& e : events) queue.push_back(std::move(e));
    if (decoder.Pending()) {
      std::weak_ptr<Impl> weak = weak_from_this();
      loop().SetTimer(platform::kMainWindowTarget, kEscapeTimer, 30, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->loop().KillTimer(platform::kMainWindowTarget, kEscapeTimer);
        std::vector<InputEvent> rest;
        self->decoder.Flush(rest);
        for (auto& e : rest) self->queue.push_back(std::move(e));
        self->Process();
      });
    }
    Process();
  }

  void Process() {
    while (!queue.empty()) {
      InputEvent e = std::move(queue.front());
      queue.pop_front();
      if (e.kind == InputEvent::kPaste) Paste(e.paste);
      else Key(e.key);
    }
    Schedule();
  }

  void Switch(int n) {
    auto& t = sessions::WindowTable::Get();
    if (t.Valid(n)) t.Activate(n);
  }

  void Step(int delta) {
    auto& t = sessions::WindowTable::Get();
    const int count = t.Count();
    if (count <= 0) return;
    int a = Active();
    if (a < 0) a = 0;
    Switch(((a + delta) % count + count) % count);
  }

  void Scroll(long rows_delta) {
    const int a = Active();
    if (a < 0) return;
    WinState& ws = StateOf(a);
    if (rows_delta < 0 && static_cast<std::size_t>(-rows_delta) > ws.back) ws.back = 0;
    else ws.back = static_cast<std::size_t>(static_cast<long>(ws.back) + rows_delta);
    d_text = d_list = true;
  }

  int Page() const { return std::max(1, layout.text.h - 1); }

  bool Action(std::string_view command) {
    if (command == "@redraw") Render(true);
    else if (command == "@next-window") Step(1);
    else if (command == "@previous-window") Step(-1);
    else if (command == "@scroll-top") Scroll(1L << 40);
    else if (command == "@scroll-bottom") Scroll(-(1L << 40));
    else return false;
    return true;
  }

  void Submit(bool literally) {
    const int a = Active();
    WinState& ws = StateOf(a);
    const std::string line = ws.editor.text();
    ws.editor.Clear();
    ws.history.Add(line);
    d_input = true;
    if (line.empty()) return;
    if (a >= 0) {
      ws.back = 0;
      d_text = true;
    }
    RunInput(a, line, literally);
  }

  void Complete() {
    const int a = Active();
    if (a < 0) return;
    auto& t = sessions::WindowTable::Get();
    std::vector<std::string> candidates;
    if (t.Kind(a) == sessions::kChannelWindow) {
      candidates = CompletionCandidates(dispatch::NickListEntries(a));
    } else if (t.Kind(a) == sessions::kQueryWindow) {
      if (auto slot = t.Slot(a)) candidates.push_back(slot->Name());
    }
    const std::string s = config::OptionText("General", "QuickCompleteS");
    const std::string tx = config::OptionText("General", "QuickCompleteT");
    if (!completer.Complete(StateOf(a).editor, candidates, s, tx)) Beep();
  }

  void Beep() {
    if (open) beep();
  }

  void Key(const struct Key& k) {
    if (!overlays.empty()) {
      OverlayKey(*overlays.back(), k);
      return;
    }
    const int a = Active();
    LineEditor& ed = StateOf(a).editor;
    if (!(k.code == KeyCode::Tab && k.mods == 0)) completer.Reset();
    if (const std::string* cmd = accel.Lookup(a >= 0 ? sessions::WindowTable::Get().Kind(a) : 0, k)) {
      if (!Action(*cmd)) RunInput(a, *cmd, false);
      return;
    }
    d_input = true;
    const bool ctrl = k.mods & kModCtrl, alt = k.mods & kModAlt;
    switch (k.code) {
      case KeyCode::Enter: Submit(alt); return;
      case KeyCode::Tab: if (k.mods == 0) Complete(); return;
      case KeyCode::Backspace: if (alt || ctrl) ed.DeleteWordBack(); else ed.Backspace(); return;
      case KeyCode::Delete: ed.Delete(); return;
      case KeyCode::Home:
        if (!alt) ed.Home();
        return;
      case KeyCode::End:
        if (!alt) ed.End();
        return;
      case KeyCode::Left:
        if (alt) Step(-1);
        else if (ctrl) ed.WordLeft();
        else ed.Left();
        return;
      case KeyCode::Right:
        if (alt) Step(1);
        else if (ctrl) ed.WordRight();
        else ed.Right();
        return;
      case KeyCode::Up:
        if (alt) {
          Step(-1);
        } else {
          std::string line;
          if (StateOf(a).history.Older(ed.text(), &line)) ed.Set(line);
        }
        return;
      case KeyCode::Down:
        if (alt) {
          Step(1);
        } else {
          std::string line;
          if (StateOf(a).history.Newer(&line)) ed.Set(line);
        }
        return;
      case KeyCode::PageUp: Scroll(Page()); return;
      case KeyCode::PageDown: Scroll(-Page()); return;
      case KeyCode::Char: break;
      default: return;
    }
    if (ctrl) {
      switch (k.ch) {
        case 'a': ed.Home(); break;
        case 'e': ed.End(); break;
        case 'k': ed.KillToEnd(); break;
        case 'u': ed.KillToStart(); break;
        case 'w': ed.DeleteWordBack(); break;
        case 'y': ed.Yank(); break;
        case 'n': Step(1); break;
        case 'p': Step(-1); break;
        case 'd':
          if (ed.text().empty()) loop().Quit(0);
          else ed.Delete();
          break;
        default: break;
      }
      return;
    }
    if (alt) {
      if (k.ch >= '1' && k.ch <= '9') Switch(static_cast<int>(k.ch - '1'));
      else if (k.ch == '0') Switch(9);
      else if (k.ch == 'b') ed.WordLeft();
      else if (k.ch == 'f') ed.WordRight();
      else if (k.ch == 'd') ed.DeleteWordForward();
      return;
    }
    if (!k.text.empty()) ed.Insert(k.text);
  }

  void Paste(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text)
      if (c != '\0') clean += c;
    if (!overlays.empty()) {
      Overlay& o = *overlays.back();
      if (o.kind == Overlay::kText) {
        const auto lines = SplitPasteLines(clean);
        o.edit.Insert(lines.front());
      }
      return;
    }
    completer.Reset();
    const int a = Active();
    LineEditor& ed = StateOf(a).editor;
    const std::string before = ed.text().substr(0, ed.cursor());
    const std::string after = ed.text().substr(ed.cursor());
    const auto lines = SplitPasteLines(before + clean + after);
    d_input = true;
    if (lines.size() == 1) {
      ed.Set(lines.front());
      ed.SetCursor(before.size() + clean.size());
      return;
    }
    ed.Clear();
    ed.Set(lines.back());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i].empty()) continue;
      StateOf(a).history.Add(lines[i]);
      RunInput(a, lines[i], false);
    }
  }

  void OverlayKey(Overlay& o, const struct Key& k) {
    const bool plain = k.mods == 0;
    auto finish = [&](bool accepted) {
      o.accepted = accepted;
      o.done = true;
      if (!o.modal) CloseOverlay(o);
    };
    switch (o.kind) {
      case Overlay::kYesNo:
        if (k.code == KeyCode::Char && (k.ch == 'y' || k.ch == 'Y') && !(k.mods & kModCtrl)) {
          o.yes = true;
          finish(true);
        } else if (k.code == KeyCode::Char && (k.ch == 'n' || k.ch == 'N') && !(k.mods & kModCtrl)) {
          o.yes = false;
          finish(true);
        } else if (k.code == KeyCode::Enter) {
          finish(true);
        } else if (k.code == KeyCode::Escape) {
          o.yes = false;
          finish(false);
        } else if (k.code == KeyCode::Tab || k.code == KeyCode::Left || k.code == KeyCode::Right) {
          o.yes = !o.yes;
        }
        break;
      case Overlay::kText:
        if (k.code == KeyCode::Enter) finish(true);
        else if (k.code == KeyCode::Escape) finish(false);
        else if (k.code == KeyCode::Backspace) o.edit.Backspace();
        else if (k.code == KeyCode::Delete) o.edit.Delete();
        else if (k.code == KeyCode::Left) o.edit.Left();
        else if (k.code == KeyCode::Right) o.edit.Right();
        else if (k.code == KeyCode::Home) o.edit.Home();
        else if (k.code == KeyCode::End) o.edit.End();
        else if (k.code == KeyCode::Char && (k.mods & kModCtrl) && k.ch == 'u') o.edit.KillToStart();
        else if (k.code == KeyCode::Char && (k.mods & kModCtrl) && k.ch == 'k') o.edit.KillToEnd();
        else if (k.code == KeyCode::Char && (k.mods & kModCtrl) && k.ch == 'w') o.edit.DeleteWordBack();
        else if (k.code == KeyCode::Char && (k.mods & kModCtrl) && k.ch == 'a') o.edit.Home();
        else if (k.code == KeyCode::Char && (k.mods & kModCtrl) && k.ch == 'e') o.edit.End();
        else if (k.code == KeyCode::Char && !k.text.empty() && !(k.mods & kModAlt)) o.edit.Insert(k.text);
        break;
      case Overlay::kMessage:
      case Overlay::kView:
        if (k.code == KeyCode::Enter || k.code == KeyCode::Escape || (k.code == KeyCode::Char && k.ch == 'q' && plain))
          finish(true);
        else if (k.code == KeyCode::Up && o.top > 0) --o.top;
        else if (k.code == KeyCode::Down) ++o.top;
        else if (k.code == KeyCode::PageUp) o.top = o.top > static_cast<std::size_t>(rows / 2) ? o.top - rows / 2 : 0;
        else if (k.code == KeyCode::PageDown || (k.code == KeyCode::Char && k.ch == ' ' && plain)) o.top += rows / 2;
        else if (k.code == KeyCode::Home) o.top = 0;
        else if (k.code == KeyCode::End) o.top = static_cast<std::size_t>(-1) / 2;
        break;
    }
    Schedule();
  }

  void CloseOverlay(Overlay& o) {
    for (auto it = overlays.begin(); it != overlays.end(); ++it)
      if (it->get() == &o) {
        auto keep = *it;  // o stays valid until this function returns
        overlays.erase(it);
        if (keep->kind == Overlay::kView && keep->view >= 0) {
          const int server = sessions::WindowTable::Get().FindById(keep->server_id);
          if (server >= 0) dispatch::CloseView(server, static_cast<ResultView>(keep->view));
        }
        break;
      }
    clearok(curscr, TRUE);
    InvalidateAll();
  }

  // Shows a modal overlay and serves the loop until it is answered (or the input ends).
  void RunModal(const std::shared_ptr<Overlay>& o, int timeout_ms = -1) {
    if (!open || input_closed) return;
    if (!watching) {
      std::weak_ptr<Impl> weak = weak_from_this();
      loop().Watch(opts.in_fd, [weak] {
        if (auto self = weak.lock()) self->OnReadable();
      });
      watching = true;
    }
    overlays.push_back(o);
    Render(false);
    const uint32_t start = Now();
    while (!o->done && open && !input_closed) {
      loop().RunOnce(50);
      if (timeout_ms >= 0 && static_cast<int32_t>(Now() - start) >= timeout_ms) break;
      if (!o->done) Render(false);
    }
    for (auto it = overlays.begin(); it != overlays.end(); ++it)
      if (*it == o) {
        overlays.erase(it);
        break;
      }
    if (open) {
      clearok(curscr, TRUE);
      InvalidateAll();
      Render(false);
    }
  }

  std::shared_ptr<Overlay> FindView(uint64_t server_id, int view) {
    for (auto& o : overlays)
      if (o->kind == Overlay::kView && o->server_id == server_id && o->view == view) return o;
    return nullptr;
  }
};

// ---- Terminal ------------------------------------------------------------------------------------

Terminal::Terminal(const TerminalOptions& options) : impl_(std::make_shared<Impl>()) {
  impl_->opts = options;
  if (!impl_->Open()) {
    impl_->Close();
    return;
  }
  std::weak_ptr<Impl> weak = impl_;
  platform::UiLoop::Get().Watch(options.in_fd, [weak] {
    if (auto self = weak.lock()) self->OnReadable();
  });
  impl_->watching = true;
  impl_->Render(true);
}

Terminal::~Terminal() { impl_->Close(); }

bool Terminal::ok() const { return impl_->open; }
void Terminal::Feed(std::string_view bytes) { impl_->Feed(bytes); }
void Terminal::Render(bool full) { impl_->Render(full); }
std::size_t Terminal::ScrolledBack() const {
  const int a = impl_->Active();
  return a >= 0 ? impl_->StateOf(a).back : 0;
}

bool Terminal::CreateWindow(const WindowInfo&) {
  impl_->d_list = true;
  impl_->Schedule();
  return true;
}

void Terminal::DestroyWindow(const WindowInfo& w) {
  impl_->windows.erase(w.id);
  impl_->InvalidateAll();
}

void Terminal::RenameWindow(const WindowInfo&) { impl_->InvalidateAll(); }

namespace {
// The window the user is looking at has nothing unseen: its new-text and mention marks go.
void ClearActivity(int window) {
  if (auto out = output::OutputOf(window)) {
    out->new_text.store(0);
    out->mention.store(0);
    out->attention.store(0);
    int notified = 3;
    out->notification_mode.compare_exchange_strong(notified, 1);
  }
}
}  // namespace

void Terminal::ActivateWindow(const WindowInfo& w) {
  ClearActivity(w.number);
  impl_->completer.Reset();
  impl_->InvalidateAll();
}

void Terminal::WindowListChanged() { impl_->InvalidateAll(); }
void Terminal::SetConnectionState(const WindowInfo&, ConnectionState) { impl_->d_title = true, impl_->Schedule(); }

void Terminal::LineAppended(const WindowInfo& w, std::string_view, uint32_t) {
  if (w.number == impl_->Active()) {
    impl_->d_text = true;
    ClearActivity(w.number);  // shown as it arrives: never marked as unseen
  }
  impl_->d_list = true;
  impl_->Schedule();
}

bool Terminal::FocusInWindow(const WindowInfo& w) const { return w.number == impl_->Active(); }
bool Terminal::SmartScroll() const { return impl_->opts.smart_scroll; }

void Terminal::ActivityChanged(const WindowInfo&, int) {
  impl_->d_list = true;
  impl_->Schedule();
}

void Terminal::NickListChanged(const WindowInfo& w) {
  if (w.number == impl_->Active()) {
    impl_->d_nicks = true;
    impl_->Schedule();
  }
}

void Terminal::TitleChanged(const WindowInfo&) {
  impl_->d_title = true;
  impl_->Schedule();
}

bool Terminal::InputLineHasText(const WindowInfo& w) const {
  auto it = impl_->windows.find(w.id);
  return it != impl_->windows.end() && !it->second.editor.text().empty();
}

void Terminal::Beep() { impl_->Beep(); }

void Terminal::TrayNotify(std::string_view title, std::string_view text, int seconds) {
  std::string notice(title);
  if (!notice.empty() && !text.empty()) notice += ": ";
  for (char c : text) notice += (c == '\r' || c == '\n') ? ' ' : c;
  // Line ends became blanks: fold runs of them.
  std::string folded;
  for (char c : notice)
    if (!(c == ' ' && !folded.empty() && folded.back() == ' ')) folded += c;
  impl_->notice = DisplayText(output::StripCodesSimple(folded));
  impl_->d_list = true;
  std::weak_ptr<Impl> weak = impl_;
  const uint32_t ms = static_cast<uint32_t>(std::clamp(seconds, 1, 3600)) * 1000u;
  platform::UiLoop::Get().SetTimer(platform::kMainWindowTarget, kNoticeTimer, ms, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->loop().KillTimer(platform::kMainWindowTarget, kNoticeTimer);
    self->notice.clear();
    self->d_list = true;
    self->Schedule();
  });
  impl_->Schedule();
}

bool Terminal::AskYesNo(std::string_view title, std::string_view text, bool default_answer) {
  auto o = std::make_shared<Impl::Overlay>();
  o->kind = Impl::Overlay::kYesNo;
  o->title = title;
  o->prompt = text;
  o->yes = default_answer;
  impl_->RunModal(o);
  if (!o->done) return default_answer;
  return o->accepted && o->yes;
}

void Terminal::MessageBox(std::string_view title, std::string_view text) {
  auto o = std::make_shared<Impl::Overlay>();
  o->kind = Impl::Overlay::kMessage;
  o->title = title;
  o->prompt = DisplayText(output::StripCodesSimple(text));
  impl_->RunModal(o);
}

std::optional<std::string> Terminal::AskText(std::string_view title, std::string_view prompt,
                                             std::string_view initial, bool password) {
  auto o = std::make_shared<Impl::Overlay>();
  o->kind = Impl::Overlay::kText;
  o->title = title;
  o->prompt = prompt;
  o->password = password;
  o->edit.Set(initial);
  impl_->RunModal(o);
  if (!o->done || !o->accepted) return std::nullopt;
  return o->edit.text();
}

std::optional<std::string> Terminal::AskTextTimed(std::string_view title, std::string_view prompt,
                                                  std::string_view initial, int timeout_ms) {
  auto o = std::make_shared<Impl::Overlay>();
  o->kind = Impl::Overlay::kText;
  o->title = title;
  o->prompt = prompt;
  o->edit.Set(initial);
  impl_->RunModal(o, std::max(0, timeout_ms));
  if (!o->done || !o->accepted) return std::nullopt;
  return o->edit.text();
}

namespace {
const char* ViewTitle(FrontEnd::ResultView v) {
  switch (v) {
    case FrontEnd::ResultView::Whois: return "Whois";
    case FrontEnd::ResultView::Silence: return "Silence list";
    case FrontEnd::ResultView::Links: return "Links";
    case FrontEnd::ResultView::Access: return "Access list";
    case FrontEnd::ResultView::Property: return "Properties";
    case FrontEnd::ResultView::Ban: return "Ban list";
    case FrontEnd::ResultView::ChannelList: return "Channels";
    case FrontEnd::ResultView::Who: return "Who";
  }
  return "";
}

std::string JoinColumns(const std::vector<std::string>& columns) {
  std::string row;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i) row += "  ";
    row += output::StripCodesSimple(columns[i]);
  }
  return DisplayText(row);
}
}  // namespace

bool Terminal::OpenResultView(const WindowInfo& server, ResultView view) {
  if (!impl_->open) return false;
  if (impl_->FindView(server.id, static_cast<int>(view))) return true;
  auto o = std::make_shared<Impl::Overlay>();
  o->kind = Impl::Overlay::kView;
  o->modal = false;
  o->server_id = server.id;
  o->view = static_cast<int>(view);
  o->title = std::string(ViewTitle(view)) + " - " + server.name + " (Esc closes)";
  impl_->overlays.push_back(o);
  impl_->InvalidateAll();
  return true;
}

void Terminal::ResultViewClear(const WindowInfo& server, ResultView view) {
  if (auto o = impl_->FindView(server.id, static_cast<int>(view))) {
    o->lines.clear();
    o->top = 0;
    impl_->Schedule();
  }
}

void Terminal::ResultViewAddRow(const WindowInfo& server, ResultView view, const std::vector<std::string>& columns) {
  if (auto o = impl_->FindView(server.id, static_cast<int>(view))) {
    if (o->lines.size() < 100000) o->lines.push_back(JoinColumns(columns));
    impl_->Schedule();
  }
}

void Terminal::ResultViewSetLastRow(const WindowInfo& server, ResultView view, int column, std::string_view text) {
  if (auto o = impl_->FindView(server.id, static_cast<int>(view))) {
    if (o->lines.empty() || column < 0) return;
    o->lines.back() += "  " + DisplayText(output::StripCodesSimple(text));
    impl_->Schedule();
  }
}

void Terminal::ResultViewSetTitle(const WindowInfo& server, ResultView view, std::string_view title) {
  if (auto o = impl_->FindView(server.id, static_cast<int>(view))) {
    o->title = DisplayText(output::StripCodesSimple(title)) + " (Esc closes)";
    impl_->Schedule();
  }
}

void Terminal::ResultViewWhois(const WindowInfo& server, const WhoisFields& whois) {
  auto o = impl_->FindView(server.id, static_cast<int>(ResultView::Whois));
  if (!o) return;
  static constexpr const char* kNames[] = {"Nick", "User", "Host", "Name", "Server", "Idle", "Signed on",
                                           "Operator", "Away", "Channels"};
  o->lines.clear();
  for (std::size_t i = 0; i < whois.fields.size(); ++i) {
    const std::string label = i < 10 ? kNames[i] : "";
    o->lines.push_back(label + ": " + DisplayText(output::StripCodesSimple(whois.fields[i])));
  }
  for (const auto& m : whois.ban_masks) o->lines.push_back("Ban mask: " + DisplayText(m));
  impl_->Schedule();
}

std::unique_ptr<FrontEnd> MakeTerminal(const TerminalOptions& options) {
  auto t = std::make_unique<Terminal>(options);
  if (!t->ok()) return nullptr;
  return t;
}

}  // namespace vanta::ui
