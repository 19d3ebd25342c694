#include "config/startup.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "config/catalogue.h"
#include "config/file_set.h"
#include "config/format.h"
#include "config/ini_store.h"
#include "config/instance.h"
#include "config/options.h"
#include "config/profiles.h"
#include "platform/ini.h"
#include "commands/execute_line.h"
#include "commands/stdin_input.h"
#include "dispatch/dispatcher.h"
#include "output/show_text.h"
#include "platform/dynlib.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/connection.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"
#include "ui/terminal.h"

namespace vanta::config {

namespace {
constexpr const char* kVersion = "VantaIRC 6 (Linux) " "0.1";

void Print(FILE* f, const std::string& s) {
  fwrite(s.data(), 1, s.size(), f);
  fflush(f);
}

const char* kUsage =
    "usage: vanta [options]\n"
    "  --ui=auto|stdio|tui|headless  front end (auto: terminal when on one, else stdio)\n"
    "  -b                            headless: no windows, output is not shown\n"
    "  --connect host[:port]         connect to a server at start (repeatable)\n"
    "  --nick NICK                   nick for --connect\n"
    "  -v                            version\n"
    "  -e COMMANDS                   run commands (\"||\" separates lines); handed to a running instance\n"
    "  -s FILE, -m FILE, -k FILE     install a script package, run a macro file, apply a skin\n"
    "  -p, -u, -l, -r, -dd           no plug-ins, no update check, no placements, no registration, system error dialogs\n"
    "  -fa, -fu, -fuu                force the text mode (ANSI, Unicode, second Unicode mode)\n"
    "  -rreg                         register the file associations again\n"
    "  -?, --help                    this text\n";

int SignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

std::string DefaultNick(const StartOptions& o) {
  if (!o.nick.empty()) return o.nick;
  const char* user = getenv("USER");
  std::string nick = user && *user ? user : "vanta";
  return nick.substr(0, 30);
}
}  // namespace

StartOptions ParseCommandLine(const std::vector<std::string>& args) {
  StartOptions o;
  auto is = [](const std::string& a, const char* sw) { return strcasecmp(a.c_str(), sw) == 0; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty()) break;  // processing stops at the first empty word
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        o.error = a + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    if (a.rfind("--ui=", 0) == 0) {
      o.ui = a.substr(5);
      if (o.ui != "auto" && o.ui != "stdio" && o.ui != "tui" && o.ui != "headless")
        o.error = "unknown front end \"" + o.ui + "\" (auto, stdio, tui or headless)";
    } else if (is(a, "-b")) {
      o.headless = true;
    } else if (a == "--connect" || a == "--nick") {
      std::string v;
      if (!value(&v)) break;
      if (a == "--connect") o.connect.push_back(v);
      else o.nick = v;
    } else if (is(a, "-v")) {
      o.show_version = true;
    } else if (a == "-?" || a == "/?" || a == "--help") {
      o.show_help = true;
    } else if (is(a, "-s")) {
      if (!value(&o.script_package)) break;
    } else if (is(a, "-m")) {
      if (!value(&o.macro_file)) break;
    } else if (is(a, "-k")) {
      if (!value(&o.skin_file)) break;
    } else if (is(a, "-e")) {
      // Everything after "-e" is the command text; "||" separates its lines.
      std::string text;
      for (std::size_t j = i + 1; j < args.size() && !args[j].empty(); ++j) {
        if (j > i + 1) text += ' ';
        text += args[j];
      }
      std::string lines;
      for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '|' && k + 1 < text.size() && text[k + 1] == '|') {
          lines += "\r\n";
          ++k;
        } else {
          lines += text[k];
        }
      }
      o.has_commands = true;
      o.commands = lines;
      break;
    } else if (is(a, "-symbol")) {
      o.edit_symbols = true;
    } else if (is(a, "-rr")) {
      o.repair_associations = true;
    } else if (is(a, "-rreg")) {
      o.reregister = true;
    } else if (is(a, "-fa")) {
      o.text_mode = 0;
    } else if (is(a, "-fu")) {
      o.text_mode = 1;
    } else if (is(a, "-fuu")) {
      o.text_mode = 2;
    } else if (is(a, "-p")) {
      o.no_plugins = true;
    } else if (is(a, "-u")) {
      o.no_update = true;
    } else if (is(a, "-l")) {
      o.no_placements = o.no_update = true;
    } else if (is(a, "-r")) {
      o.no_register = true;
    } else if (is(a, "-dd")) {
      o.system_error_dialogs = true;
    } else if (is(a, "-a") || is(a, "-o") || is(a, "-d") || is(a, "-ds") || is(a, "-ddd") || is(a, "-c") ||
               is(a, "-w") || is(a, "-x")) {
      o.other_flags.push_back(a);
    } else {
      o.unknown.push_back(a);
    }
  }
  if (o.headless) o.ui = "headless";
  return o;
}

std::vector<std::string> SplitCommandWords(std::string_view text) {
  std::vector<std::string> words;
  if (text.empty()) return words;
  std::size_t pos = 0;
  for (;;) {
    std::size_t sp = text.find(' ', pos);
    words.emplace_back(text.substr(pos, sp == std::string_view::npos ? std::string_view::npos : sp - pos));
    if (sp == std::string_view::npos) break;
    pos = sp + 1;
  }
  return words;
}

bool UsesDefaultArguments(const std::vector<std::string>& args) {
  return args.empty() || (args.size() == 1 && strcasecmp(args[0].c_str(), "-Embedding") == 0);
}

std::string MissingLibraryMessage(const std::vector<std::string>& names) {
  std::string text = "A VantaIRC DLL is missing !\r\nPlease Run U.EXE to get it from Web or reinstall VantaIRC !\r\n";
  for (const auto& n : names) text += n + "\r\n";
  return text;
}

bool HandOver(const StartOptions& o, const std::string& socket_path) {
  const std::string pref = PrefIni();
  std::string request;
  if (!o.script_package.empty()) {
    platform::ini::WriteString(pref, "Debug", "VRCFile", o.script_package);
    request = "VRCFile";
  } else if (!o.macro_file.empty()) {
    platform::ini::WriteString(pref, "Debug", "MacroFile", o.macro_file);
    request = "MacroFile";
  } else if (!o.skin_file.empty()) {
    platform::ini::WriteString(pref, "Debug", "SKIFile", o.skin_file);
    request = "SKIFile";
  } else if (o.has_commands) {
    WriteMultiLine(pref, "Debug", "ExecuteCommands", o.commands);
    request = "ExecuteCommands";
  } else {
    return false;
  }
  return SendInstanceRequest(socket_path, request);
}

StartupHooks& GetStartupHooks() {
  static StartupHooks hooks;
  return hooks;
}

std::string DefaultProgramDir() {
  if (const char* h = getenv("VANTA_HOME"); h && *h) return h;
  if (const char* x = getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/vanta";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/vanta";
}

bool SplitHostPort(const std::string& text, std::string* host, unsigned* port) {
  *port = 0;
  if (text.empty()) return false;
  if (text[0] == '[') {
    auto close = text.find(']');
    if (close == std::string::npos) return false;
    *host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (rest.empty()) return !host->empty();
    if (rest[0] != ':') return false;
    text.substr(close + 2).swap(rest);
    char* end = nullptr;
    unsigned long p = strtoul(rest.c_str(), &end, 10);
    if (rest.empty() || *end || p == 0 || p > 65535) return false;
    *port = static_cast<unsigned>(p);
    return !host->empty();
  }
  auto colon = text.rfind(':');
  if (colon == std::string::npos || text.find(':') != colon) {  // no port, or a bare IPv6 address
    *host = text;
    return true;
  }
  *host = text.substr(0, colon);
  std::string p = text.substr(colon + 1);
  char* end = nullptr;
  unsigned long v = strtoul(p.c_str(), &end, 10);
  if (p.empty() || *end || v == 0 || v > 65535) return false;
  *port = static_cast<unsigned>(v);
  return !host->empty();
}

namespace {

// Prompts on standard input for the time before the loop runs (login, confirmations): reads byte by
// byte so nothing typed after the answer is swallowed; the password is not echoed on a terminal.
class StdioPrompts final : public ui::FrontEnd {
 public:
  std::optional<std::string> AskText(std::string_view title, std::string_view prompt, std::string_view initial,
                                     bool password) override {
    std::string q = std::string(title) + ": " + std::string(prompt);
    if (!initial.empty()) q += " [" + std::string(initial) + "]";
    Print(stdout, q + ": ");
    termios saved{};
    const bool hide = password && isatty(0) && tcgetattr(0, &saved) == 0;
    if (hide) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(0, TCSAFLUSH, &quiet);
    }
    auto line = ReadLine();
    if (hide) {
      tcsetattr(0, TCSAFLUSH, &saved);
      Print(stdout, "\n");
    }
    if (line && line->empty() && !initial.empty() && !password) return std::string(initial);
    return line;
  }
  bool AskYesNo(std::string_view title, std::string_view text, bool default_answer) override {
    Print(stdout, std::string(title) + ": " + std::string(text) + " (y/n): ");
    auto line = ReadLine();
    if (!line || line->empty()) return default_answer;
    return (*line)[0] == 'y' || (*line)[0] == 'Y';
  }
  void MessageBox(std::string_view title, std::string_view text) override {
    Print(stdout, std::string(title) + ": " + std::string(text) + "\n");
  }

 private:
  static std::optional<std::string> ReadLine() {
    std::string line;
    char c;
    for (;;) {
      ssize_t n = read(0, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
      if (c == '\n') break;
      if (line.size() < 1000) line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
};

void Fatal(const std::string& text) {
  Print(stderr, text);
  ui::Current().MessageBox("VantaIRC", text);
}

void Call(const std::function<void()>& fn) {
  if (fn) fn();
}

// Download folder check: "X.TMP" must be creatable there, else downloads go to the program folder.
void CheckFilesDir() {
  const std::string probe = FilesDir() + "/X.TMP";
  platform::EnsureDir(FilesDir());
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    return;
  }
  if (errno == EEXIST && ::unlink(probe.c_str()) == 0) return;
  platform::ini::WriteString(PrefIni(), "General", "FilesDir", ".\\");
  ReloadDirectories();
}

}  // namespace

int Main(int argc, char** argv) {
  platform::net::InitProcess();
  setlocale(LC_CTYPE, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  StartOptions opts = ParseCommandLine(args);
  if (!opts.error.empty()) {
    Print(stderr, "vanta: " + opts.error + "\n" + kUsage);
    return 2;
  }
  if (opts.show_help) {
    Print(stdout, kUsage);
    return 0;
  }
  if (opts.show_version) {
    Print(stdout, std::string(kVersion) + "\n");
    return 0;
  }

  const std::string dir = DefaultProgramDir();
  if (!platform::EnsureDir(dir) || chdir(dir.c_str()) != 0) {
    Print(stderr, "vanta: cannot use the program directory " + dir + ": " + strerror(errno) + "\n");
    return 1;
  }
  platform::SetProgramDir(dir);

  std::string ui = opts.ui;
  if (ui == "auto") ui = ui::TerminalAvailable(0, 1) ? "tui" : "stdio";

  // The libraries the program cannot run without.
  std::vector<std::string> missing;
  if (!LoadResourceLibrary()) missing.push_back(kResourceLibrary);
  if (!LoadLanguageLibrary()) missing.push_back(platform::LibraryFileName(kDefaultLanguageLibrary));
  if (!missing.empty()) {
    Fatal(MissingLibraryMessage(missing));
    return 0;
  }
  LoadCatalogue();

  // Login and the profile's files. Prompts before the loop runs are read from standard input.
  if (ui == "stdio" || ui == "tui") ui::Install(std::make_unique<StdioPrompts>());
  else ui::Install(ui::MakeHeadless());
  auto profile = Login(ui::Current());
  if (!profile) return 0;
  SetProfileName(*profile);
  PrepareFileSet();

  const int first_time = PrefInt("General", "FirstTime", 1);
  LoadOptions();
  const int text_mode = opts.text_mode >= 0 ? opts.text_mode : PrefInt("General", "UnicodeApproach", 0);
  SetUnicodeMode(text_mode != 0);
  output::SetUnicodeDisplay(text_mode != 0);
  output::LoadStatusColours();
  dispatch::InstallDispatcher();  // server lines from here on go through the line dispatcher
  commands::InstallCommandHooks();  // "-e" lines, the hand-over and reconnects run as typed lines
  SeedFixedFont();
  if (PrefInt("General", "LangInstall", 0) == 1 || first_time == 1) {
    Call(GetStartupHooks().reset_appearance);
    platform::ini::WriteString(PrefIni(), "General", "LangInstall", "0");
  }
  if (first_time == 1) platform::ini::WriteString(PrefIni(), "General", "FirstTime", "0");
  CheckFilesDir();

  // The command line: the stored default arguments stand in for an empty one.
  if (UsesDefaultArguments(args)) {
    StartOptions stored = ParseCommandLine(SplitCommandWords(OptionText("MoreOptions", "DefaultArgs")));
    stored.ui = opts.ui;  // the front end is chosen already
    stored.headless = opts.headless;
    stored.connect = opts.connect;
    stored.nick = opts.nick;
    opts = stored;
  }
  const std::string previous = PrefString("Debug", "Window");
  const InstanceState other = ProbeInstance(previous);
  if (other == InstanceState::kRunning && HandOver(opts, previous)) return 0;
  if (opts.edit_symbols) {
    ui::Current().MessageBox("VantaIRC", "Editing the symbol fonts is not available on this system.");
    return 0;
  }
  if (opts.repair_associations) {
    ui::Current().MessageBox("VantaIRC", "Repairing the file associations is not available on this system.");
    return 0;
  }
  if (opts.reregister) platform::ini::DeleteKey(PrefIni(), "General", "ExtRegged");
  if (!opts.script_package.empty() && !ui::Current().AskYesNo("VantaIRC", Msg(389, {opts.script_package}), false))
    return 0;
  if (!opts.macro_file.empty()) {
    ui::Current().MessageBox("VantaIRC", Msg(930, {opts.macro_file}));
    return 0;
  }

  platform::ini::WriteInt(PrefIni(), "Debug", "Thread", static_cast<long long>(platform::CurrentThreadId()));
  platform::ini::WriteInt(PrefIni(), "Debug", "Process", static_cast<long long>(getpid()));

  sessions::ResetRetryCounter();
  if (ui == "headless") {
    ui::Install(ui::MakeHeadless());
  } else if (auto terminal = ui == "tui" ? ui::MakeTerminal() : nullptr) {
    ui::Install(std::move(terminal));  // it reads standard input itself
  } else {
    if (ui == "tui") Print(stderr, "vanta: the terminal cannot be used; using the line front end\n");
    ui = ui == "tui" ? "stdio" : ui;
    ui::Install(ui::MakeStdio(1));
  }

  auto& loop = platform::UiLoop::Get();
  loop.BindToCurrentThread();
  // Typed lines go through the input line processing in the active window.
  commands::TypedInput stdin_input(0);
  if (ui == "stdio") stdin_input.Start();
  ui::SetInputHandler([](int window, std::string_view line, bool literally) {
    commands::TypeInput(window, line, literally);
  });
  int sfd = SignalFd();
  if (sfd >= 0) {
    loop.Watch(sfd, [&] {
      signalfd_siginfo si;
      while (read(sfd, &si, sizeof si) > 0) {
      }
      loop.Quit(0);
    });
  }

  if (!opts.no_plugins) Call(GetStartupHooks().load_plugins);

  // The main window: the control socket is how other programs and later instances reach us.
  StartControlServer();
  Call(GetStartupHooks().main_window_created);
  CallResourceInit(ControlSocketPath());
  Call(GetStartupHooks().whats_new_or_tip);

  for (const std::string& target : opts.connect) {
    std::string host;
    unsigned port = 0;
    if (!SplitHostPort(target, &host, &port)) {
      Print(stderr, "vanta: bad server \"" + target + "\" (host[:port], port 1-65535)\n");
      continue;
    }
    const std::string nick = DefaultNick(opts);
    auto session = sessions::MakeSession(host, static_cast<uint16_t>(port ? port : 6667), nick,
                                         nick + "@localhost", "VantaIRC user");
    sessions::CreateRequest req;
    req.name = host;
    req.kind = sessions::kServerWindow;
    req.session = session;
    int n = sessions::WindowTable::Get().Create(req);
    if (n >= 0) sessions::StartConnection(n, "", 0);
  }

  // Work the command line asked for, once the program is up.
  if (!opts.script_package.empty()) {
    loop.Post([file = opts.script_package] {
      if (auto& hook = GetInstanceHooks().install_package) hook(file);
    });
  }
  if (opts.has_commands) loop.Post([text = opts.commands] { RunCommandLines(text); });
  Call(GetStartupHooks().register_hot_keys);

  int code = loop.Run();
  if (ui == "tui") ui::Install(ui::MakeHeadless());  // restores the terminal

  // Shutdown, in reverse.
  Call(GetStartupHooks().unload_plugins);
  if (!opts.no_placements) Call(GetStartupHooks().save_layout);
  StopControlServer();
  auto& table = sessions::WindowTable::Get();
  for (int n = table.Count() - 1; n >= 0; --n) {
    if (table.Kind(n) == sessions::kServerWindow)
      if (auto slot = table.Slot(n)) slot->closing.store(1);
  }
  // Servers go first, so each says QUIT to its channels instead of leaving them one by one; the
  // windows left over then close without a server to talk to.
  for (int n = table.Count() - 1; n >= 0; --n)
    if (table.Kind(n) == sessions::kServerWindow) table.Close(n, true);
  while (table.Count() > 0) {
    int before = table.Count();
    table.Close(table.Count() - 1, true);
    if (table.Count() == before) break;
  }
  table.ResetForTests();
  platform::WaitForThreads(2000);
  UnloadCatalogue();
  CallResourceClose();
  UnloadLanguageLibrary();
  fflush(stdout);
  // The resource library stays mapped: _exit ends the process without running its destructors.
  _exit(code);
}

}  // namespace vanta::config
