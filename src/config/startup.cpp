#include "config/startup.h"

#include <signal.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/catalogue.h"
#include "config/file_set.h"
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
    "  -?, --help                    this text\n";

// Typed input in the stdio front end. Until the command interpreter exists, "/quit" ends the program,
// any other "/" line goes raw to the active server window's connection and plain text is ignored.
class StdinReader {
 public:
  void OnReadable() {
    char buf[4096];
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) {
      if (!pending_.empty()) Line(pending_);
      platform::UiLoop::Get().Unwatch(0);
      platform::UiLoop::Get().Quit(0);
      return;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
    std::size_t pos;
    while ((pos = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, pos);
      pending_.erase(0, pos + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Line(line);
    }
    if (pending_.size() > 20000) pending_.clear();  // no line end in sight: drop it
  }

 private:
  void Line(const std::string& line) {
    if (line == "/quit" || line.rfind("/quit ", 0) == 0) {
      platform::UiLoop::Get().Quit(0);
      return;
    }
    if (line.size() < 2 || line[0] != '/') return;
    auto& table = sessions::WindowTable::Get();
    int server = table.OwningServer(table.Active());
    if (server < 0) server = table.Count() > 0 ? table.OwningServer(0) : -1;
    if (server < 0) return;
    std::string raw;
    for (char c : std::string_view(line).substr(1))
      if (c != '\r' && c != '\n' && c != '\0') raw += c;
    sessions::SendToServer(raw + "\r\n", server);
  }
  std::string pending_;
};

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
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty()) break;  // processing stops at the first empty word
    if (a.rfind("--ui=", 0) == 0) {
      o.ui = a.substr(5);
      if (o.ui != "auto" && o.ui != "stdio" && o.ui != "tui" && o.ui != "headless")
        o.error = "unknown front end \"" + o.ui + "\" (auto, stdio, tui or headless)";
    } else if (strcasecmp(a.c_str(), "-b") == 0) {
      o.headless = true;
    } else if (a == "--connect" || a == "--nick") {
      if (i + 1 >= args.size()) {
        o.error = a + " needs a value";
        break;
      }
      (a == "--connect" ? o.connect.emplace_back() : o.nick) = args[++i];
    } else if (strcasecmp(a.c_str(), "-v") == 0) {
      o.show_version = true;
    } else if (a == "-?" || a == "/?" || a == "--help") {
      o.show_help = true;
    }
  }
  if (o.headless) o.ui = "headless";
  return o;
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
  for (const char* sub : {"USERS", "FILES", "SOUND", "DYN", "MEDIA"}) platform::EnsureDir(sub);
  platform::EnsureDir(BuildPath("", true));

  if (!LoadLanguageLibrary()) {
    Print(stderr,
          "A VantaIRC DLL is missing !\r\nPlease Run U.EXE to get it from Web or reinstall VantaIRC !\r\nLANGEN.DLL\r\n");
    return 0;
  }
  LoadCatalogue();
  output::LoadStatusColours();
  sessions::ResetRetryCounter();

  std::string ui = opts.ui;
  if (ui == "auto") ui = "stdio";  // the terminal front end is not built yet
  if (ui == "headless") ui::Install(ui::MakeHeadless());
  else ui::Install(ui::MakeStdio(1));

  auto& loop = platform::UiLoop::Get();
  loop.BindToCurrentThread();
  StdinReader stdin_reader;
  if (ui == "stdio") loop.Watch(0, [&] { stdin_reader.OnReadable(); });
  int sfd = SignalFd();
  if (sfd >= 0) {
    loop.Watch(sfd, [&] {
      signalfd_siginfo si;
      while (read(sfd, &si, sizeof si) > 0) {
      }
      loop.Quit(0);
    });
  }

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

  int code = loop.Run();

  // Shutdown: say goodbye to every server, close the windows, give the threads a moment to end.
  auto& table = sessions::WindowTable::Get();
  for (int n = table.Count() - 1; n >= 0; --n) {
    if (table.Kind(n) == sessions::kServerWindow)
      if (auto slot = table.Slot(n)) slot->closing.store(1);
  }
  while (table.Count() > 0) {
    int before = table.Count();
    table.Close(table.Count() - 1, true);
    if (table.Count() == before) break;
  }
  table.ResetForTests();
  platform::WaitForThreads(2000);
  UnloadCatalogue();
  fflush(stdout);
  _exit(code);
}

}  // namespace vanta::config
