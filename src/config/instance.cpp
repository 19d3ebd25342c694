#include "config/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "config/file_set.h"
#include "config/format.h"
#include "config/ini_store.h"
#include "output/show_text.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::config {

namespace ini = platform::ini;

namespace {

constexpr std::size_t kMaxLine = 1000;
constexpr const char* kProduct = "VantaIRC";

// A socket descriptor closed with its owner.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

// sun_path holds 107 bytes: a longer path in the current directory is reached by its base name.
bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::string use = path;
  if (use.size() >= sizeof addr->sun_path) {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd) || std::string(platform::DirName(path)) != cwd) return false;
    use = std::string(platform::BaseName(path));
    if (use.size() >= sizeof addr->sun_path) return false;
  }
  std::memcpy(addr->sun_path, use.data(), use.size());
  return true;
}

bool InProgramDir(const std::string& path) {
  const std::string& dir = platform::ProgramDir();
  return !dir.empty() && std::string(platform::DirName(path)) == dir;
}

// Writes all of text; false on error or time-out.
bool SendAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads one LF-terminated line within timeout_ms.
bool ReadLine(int fd, std::string* line, int timeout_ms) {
  line->clear();
  const uint32_t start = platform::Ticks();
  while (line->size() <= kMaxLine) {
    int left = timeout_ms - static_cast<int>(platform::Ticks() - start);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char c;
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n <= 0) return false;
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    *line += c;
  }
  return false;
}

int ConnectTo(const std::string& path, int* err) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    *err = ENAMETOOLONG;
    return -1;
  }
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    *err = errno;
    return -1;
  }
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *err = errno;
    return -1;
  }
  *err = 0;
  return fd.release();
}

struct Server {
  std::mutex mutex;  // path is read from other threads
  std::string path;
  int listen_fd = -1;
  std::map<int, std::string> clients;  // UI thread only: pending input per connection
};

Server& S() {
  static Server s;
  return s;
}

void DropClient(int fd) {
  platform::UiLoop::Get().Unwatch(fd);
  ::close(fd);
  S().clients.erase(fd);
}

bool KnownRequest(std::string_view r) {
  return r == "VRCFile" || r == "MacroFile" || r == "SKIFile" || r == "ExecuteCommands";
}

// One complete line from a client; false ends the connection.
bool ServeLine(int fd, const std::string& line) {
  if (line == "QUERY") return SendAll(fd, std::to_string(kInstanceAnswer) + "\n");
  if (line.rfind("REQUEST ", 0) == 0) {
    std::string request = line.substr(8);
    if (!KnownRequest(request)) return false;
    SendAll(fd, "OK\n");
    // Posted: the client is answered first, and prompts never run inside the socket handler.
    platform::UiLoop::Get().Post([request] { HandleInstanceRequest(request); });
    return true;
  }
  return false;
}

void OnClientReadable(int fd) {
  char buf[512];
  ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    DropClient(fd);
    return;
  }
  auto it = S().clients.find(fd);
  if (it == S().clients.end()) return;
  it->second.append(buf, static_cast<std::size_t>(n));
  std::size_t pos;
  while ((pos = it->second.find('\n')) != std::string::npos) {
    std::string line = it->second.substr(0, pos);
    it->second.erase(0, pos + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!ServeLine(fd, line)) {
      DropClient(fd);
      return;
    }
  }
  if (it->second.size() > kMaxLine) DropClient(fd);
}

void OnListenReadable() {
  for (;;) {
    int fd = ::accept4(S().listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (S().clients.size() >= 16) {  // nobody needs more at once
      ::close(fd);
      continue;
    }
    S().clients[fd];
    platform::UiLoop::Get().Watch(fd, [fd] { OnClientReadable(fd); });
  }
}

void DefaultExecute(std::string_view line) {
  auto& table = sessions::WindowTable::Get();
  if (table.Count() > 0) {
    output::ShowText(0, line, -1, output::Colours().info);
    return;
  }
  // No window to show it in: the diagnostics file keeps it.
  const std::string path = platform::ResolvePath("debug.txt");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string text = "ExecuteCommands: ";
  text.append(line);
  text += "\n";
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
}

void NotAvailable(std::string_view what, std::string_view file) {
  ui::Current().MessageBox(kProduct, std::string(what) + " " + std::string(file) + ": not available");
}

// Asks with catalogue message n and the file name; the safe answer is no.
bool Confirm(int n, const std::string& file) { return ui::Current().AskYesNo(kProduct, Msg(n, {file}), false); }

}  // namespace

InstanceHooks& GetInstanceHooks() {
  static InstanceHooks hooks;
  return hooks;
}

void RunCommandLines(std::string_view text) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (!line.empty()) {
      if (auto& hook = GetInstanceHooks().execute_command_line) hook(line);
      else DefaultExecute(line);
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
}

bool HandleInstanceRequest(std::string_view request) {
  const std::string pref = PrefIni();
  if (request == "ExecuteCommands") {
    RunCommandLines(ReadMultiLine(pref, "Debug", "ExecuteCommands"));
    return true;
  }
  if (request == "VRCFile") {
    const std::string file = ini::ReadString(pref, "Debug", "VRCFile");
    const bool force = ini::ReadInt(pref, "Debug", "VRCFileForce", 0) == 1;
    ini::DeleteKey(pref, "Debug", "VRCFileForce");
    if (!force && !Confirm(389, file)) return true;
    if (auto& hook = GetInstanceHooks().install_package) hook(file);
    else NotAvailable("Script package", file);
    return true;
  }
  if (request == "MacroFile") {
    const std::string file = ini::ReadString(pref, "Debug", "MacroFile");
    if (!Confirm(930, file)) return true;
    RunCommandLines("/macro " + file);
    return true;
  }
  if (request == "SKIFile") {
    const std::string file = ini::ReadString(pref, "Debug", "SKIFile");
    if (!Confirm(931, file)) return true;
    if (auto& hook = GetInstanceHooks().apply_skin) hook(file);
    else NotAvailable("Skin", file);
    return true;
  }
  return false;
}

bool StartControlServer() {
  auto& s = S();
  if (s.listen_fd >= 0) return true;
  const std::string path = platform::ProgramDir() + "/vanta-" + std::to_string(::getpid()) + ".sock";
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return false;
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return false;
  ::unlink(addr.sun_path);  // a leftover of an earlier process with our pid
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  ::chmod(path.c_str(), 0600);
  if (::listen(fd.get(), 8) != 0) {
    ::unlink(path.c_str());
    return false;
  }
  s.listen_fd = fd.release();
  {
    std::lock_guard lock(s.mutex);
    s.path = path;
  }
  platform::UiLoop::Get().Watch(s.listen_fd, [] { OnListenReadable(); });
  ini::WriteString(PrefIni(), "Debug", "Window", path);
  return true;
}

void StopControlServer() {
  auto& s = S();
  if (s.listen_fd < 0) return;
  while (!s.clients.empty()) DropClient(s.clients.begin()->first);
  platform::UiLoop::Get().Unwatch(s.listen_fd);
  ::close(s.listen_fd);
  s.listen_fd = -1;
  std::string path;
  {
    std::lock_guard lock(s.mutex);
    path.swap(s.path);
  }
  ::unlink(path.c_str());
  if (ini::ReadString(PrefIni(), "Debug", "Window") == path) ini::DeleteKey(PrefIni(), "Debug", "Window");
}

std::string ControlSocketPath() {
  std::lock_guard lock(S().mutex);
  return S().path;
}

InstanceState ProbeInstance(std::string_view socket_path, int timeout_ms) {
  if (socket_path.empty()) return InstanceState::kNone;
  const std::string path = platform::LexicalPath(socket_path);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return InstanceState::kNone;
  if (!S_ISSOCK(st.st_mode)) return InstanceState::kNone;
  if (path == ControlSocketPath()) return InstanceState::kNone;  // ourselves
  int err = 0;
  Fd fd(ConnectTo(path, &err));
  if (fd.get() < 0) {
    // Nobody listens: the instance that made it has died. Remove it when it is one of ours.
    if (err == ECONNREFUSED && InProgramDir(path)) ::unlink(path.c_str());
    return InstanceState::kStale;
  }
  std::string answer;
  if (!SendAll(fd.get(), "QUERY\n") || !ReadLine(fd.get(), &answer, timeout_ms)) return InstanceState::kStale;
  return answer == std::to_string(kInstanceAnswer) ? InstanceState::kRunning : InstanceState::kStale;
}

bool SendInstanceRequest(std::string_view socket_path, std::string_view request, int timeout_ms) {
  int err = 0;
  Fd fd(ConnectTo(platform::LexicalPath(socket_path), &err));
  if (fd.get() < 0) return false;
  std::string answer;
  if (!SendAll(fd.get(), "REQUEST " + std::string(request) + "\n")) return false;
  return ReadLine(fd.get(), &answer, timeout_ms) && answer == "OK";
}

}  // namespace vanta::config
