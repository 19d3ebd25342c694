#include "sessions/connection.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "config/file_set.h"
#include "config/format.h"
#include "output/show_text.h"
#include "platform/ini.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/threads.h"
#include "platform/ui_loop.h"
#include "sessions/hooks.h"
#include "sessions/protocol_text.h"
#include "sessions/secure_transport.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::sessions {

namespace net = platform::net;

namespace {
std::atomic<int> g_retry_counter{5};
// A dead host is given up after this long (about what other systems' connect waits); closing the
// window ends the wait at once.
constexpr int kConnectTimeoutMs = 21000;

int MaxReconnect() { return std::atoi(config::PrefString("MoreOptions", "MaxReconnect", "5").c_str()); }

void Show(int n, std::string_view text, uint32_t colour) { output::ShowText(n, text, -1, colour); }

void SetIndicator(int n, ui::ConnectionState state) {
  auto slot = WindowTable::Get().Slot(n);
  if (!slot || ui::Headless()) return;
  ui::WindowInfo info = slot->Info(n);
  platform::UiLoop::Get().Post([info, state] { ui::Current().SetConnectionState(info, state); });
}

void Event(std::string_view name, std::string_view arg, int context) {
  if (auto& h = GetHooks().special_event) h(name, arg, context);
}

void Beep(const char* enabled_key, const char* file_key) {
  if (!config::PrefInt("General", enabled_key, 0)) return;
  std::string file = config::PrefString("General", file_key, "");
  if (auto& h = GetHooks().play_sound) h(file);
  else platform::UiLoop::Get().Post([] { ui::Current().Beep(); });
}

// One host of a space-separated list, chosen at random; the first when the pick is empty.
std::string PickHost(const std::string& list) {
  std::vector<std::string> hosts;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t sp = list.find(' ', pos);
    if (sp == std::string::npos) sp = list.size();
    hosts.push_back(list.substr(pos, sp - pos));
    pos = sp + 1;
  }
  if (hosts.empty()) return {};
  thread_local std::mt19937 rng{std::random_device{}()};
  std::string pick = hosts[std::uniform_int_distribution<std::size_t>(0, hosts.size() - 1)(rng)];
  return pick.empty() ? hosts.front() : pick;
}

// "General"/"LocalBind": empty or "0" binds nothing; a failing bind is ignored.
void LocalBind(net::Socket& sock, bool ipv6) {
  std::string bind = config::PrefString("General", "LocalBind", "");
  if (bind.empty() || bind == "0") return;
  if (ipv6) {
    sockaddr_in6 a{};
    socklen_t len = net::ResolveIPv6(bind, "0", &a);
    if (len) sock.Bind(reinterpret_cast<sockaddr*>(&a), len);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (inet_pton(AF_INET, bind.c_str(), &a.sin_addr) == 1) sock.Bind(reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
}

bool ProxyWanted(int method) {
  if (method == 2) return false;
  if (method == 1) return true;
  return config::PrefInt("Proxy", "Enabled", 0) == 1 && config::PrefInt("Proxy", "Connect", 0) == 1;
}

// Starts secure transport on a connected server socket. False when the attempt must count as failed
// (library or entry missing); a failed handshake closes the socket and returns true, so the receive
// loop ends at once and reports a lost connection.
bool StartSecure(int n, ServerSession& s, const std::string& host) {
  s.secure.store(1);
  if (s.secure_handle.load() != 0) return true;
  if (!tls::LibraryAvailable()) {
    s.secure.store(0);
    std::string help = platform::ResolvePath("HELP/SSL.HTM");
    platform::UiLoop::Get().Post([help] { ui::Current().OpenDocument(help); });
    net::SetLastError(0);
    return false;
  }
  auto sock = s.Socket();
  std::string reason;
  // A server whose certificate the user chose to accept although it does not verify: the session's
  // own flag (from its server record), or the host listed in "SSLTrust" of the preferences.
  const bool trusted = s.accept_untrusted.load() != 0 || config::PrefInt("SSLTrust", host, 0) == 1;
  int32_t h = sock ? tls::InitClient(sock->fd(), config::PrefInt("General", "UseSSL3", 1), host, trusted, &reason)
                   : 0;
  if (h == 0) {
    s.secure.store(0);
    Show(n, "SSL: " + (reason.empty() ? std::string("handshake failed") : reason), output::Colours().error);
    if (auto old = s.ExchangeSocket(nullptr)) old->Close();
    return true;
  }
  s.secure_handle.store(h);
  std::string cipher, subject, issuer;
  if (tls::Info(h, &cipher, &subject, &issuer)) {
    Show(n, "SSL Cipher: " + cipher, output::Colours().ok);
    Show(n, "SSL Subject: " + subject, output::Colours().ok);
    Show(n, "SSL Issuer: " + issuer, output::Colours().ok);
  }
  return true;
}

void SendRegistration(int n, ServerSession& s) {
  auto clean = [](std::string v) { return CleanProtocolText(v); };
  std::string pass = clean(s.Get(&ServerSession::password));
  if (!pass.empty()) SendToServer("PASS " + pass + "\r\n", n);
  std::string user = "USER " + clean(s.Get(&ServerSession::user_name)) + " " +
                     clean(s.Get(&ServerSession::quoted_local_host)) + " " +
                     clean(s.Get(&ServerSession::quoted_server_address)) + " :" +
                     clean(s.Get(&ServerSession::full_name)) + "\r\n";
  SendToServer(user, n);
  s.registered.store(0);
  SendToServer("NICK " + clean(s.Get(&ServerSession::nick)) + "\r\n", n);
}

// Reads until the connection ends. Returns true when the end-of-connection steps must run.
bool ReceiveLoop(std::shared_ptr<net::Socket> sock, std::shared_ptr<ServerSession> s) {
  auto& table = WindowTable::Get();
  const int fd = sock->fd();
  LineSplitter splitter;
  char chunk[1001];
  for (;;) {
    int n = table.FindServerBySocket(fd);
    if (n < 0) return false;
    long got;
    if (s->secure.load())
      got = tls::Read(s->secure_handle.load(), chunk, 1000);
    else
      got = sock->Recv(chunk, 1000);
    if (got <= 0) return true;
    if (table.FindServerBySocket(fd) < 0) return false;
    splitter.Feed(std::string_view(chunk, static_cast<std::size_t>(got)), [&](std::string_view line) {
      int now = table.FindServerBySocket(fd);
      if (now < 0) return;
      if (auto& h = GetHooks().dispatch_line) h(now, line);
      else DefaultDispatch(now, line);
    });
  }
}

void EndOfConnection(uint64_t id, const std::shared_ptr<ServerSession>& s) {
  auto& table = WindowTable::Get();
  int n = table.FindById(id);
  if (n < 0 || !table.Valid(n)) return;
  CloseSessionSocket(*s);
  SetIndicator(n, ui::ConnectionState::Disconnected);
  auto slot = table.Slot(n);
  if (!slot || slot->closing.load()) return;
  if (config::PrefInt("General", "DisconnectDestroy", 0)) {
    platform::UiLoop::Get().Post([id] {
      int now = WindowTable::Get().FindById(id);
      if (now >= 0) WindowTable::Get().Close(now, true);
    });
  }
  table.Close(n, false);
}

struct ThreadArgs {
  uint64_t id;
  std::string host_override;
  uint16_t port_override;
};

void ConnectionThread(ThreadArgs args) {
  auto& table = WindowTable::Get();
  const auto& colours = output::Colours();
  for (;;) {
    int n = table.FindById(args.id);
    auto slot = table.Slot(n);
    if (!slot || slot->kind != kServerWindow) return;
    auto s = slot->Session();

    // a. the host of this attempt
    std::string host = args.host_override.empty() ? PickHost(s->Get(&ServerSession::address_list)) : args.host_override;
    if (host.size() > ServerSession::kHost - 1) host.resize(ServerSession::kHost - 1);
    s->Set(&ServerSession::current_host, host);
    const std::string entered = host;  // the name a server certificate must carry
    // b. the socket of an earlier attempt goes, with a pause before the next try
    // (also after a lost connection, so a server that accepts and drops at once is not hammered)
    if (s->Socket() || s->attempted.load()) {
      CloseSessionSocket(*s);
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    // c. IPv6 when the host is a literal IPv6 address
    bool ipv6 = host.find(':') != std::string::npos;
    const uint16_t port = args.port_override ? args.port_override : s->port.load();
    for (int restart = 0; restart < 2; ++restart) {
      // d. a fresh socket with the local bind
      s->ipv6.store(ipv6);
      slot->ipv6.store(ipv6);
      sockaddr_storage addr{};
      socklen_t addr_len = 0;
      auto sock = net::Socket::Create(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, ipv6 ? 0 : IPPROTO_TCP);
      if (!sock) break;
      s->ExchangeSocket(sock);
      s->attempted.store(1);
      LocalBind(*sock, ipv6);
      // e. resolution
      if (ipv6) {
        sockaddr_in6 a6{};
        addr_len = net::ResolveIPv6(host, std::to_string(s->port.load()), &a6);
        a6.sin6_port = htons(port);
        std::memcpy(&addr, &a6, sizeof a6);
        std::lock_guard lock(s->mutex);
        s->addr6 = a6;
      } else {
        if (!net::IsDottedAddress(host)) Show(n, config::Msg(93, {host}), colours.info);
        in_addr a4{};
        bool have4 = net::ResolveIPv4(host, &a4);
        std::string text6 = have4 ? std::string() : net::IPv6NumericText(host);
        if (!have4 && text6.empty()) break;
        if (!table.Valid(table.FindById(args.id))) break;
        if (!have4) {
          CloseSessionSocket(*s);
          host = text6;
          s->Set(&ServerSession::current_host, host);
          ipv6 = true;
          continue;  // restart the attempt over IPv6
        }
        host = net::DottedText(a4);
        s->Set(&ServerSession::current_host, host);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        sin.sin_addr = a4;
        std::memcpy(&addr, &sin, sizeof sin);
        addr_len = sizeof sin;
        std::lock_guard lock(s->mutex);
        s->addr4 = sin;
      }
      // f. connecting
      n = table.FindById(args.id);
      if (!table.Valid(n)) break;
      slot->active.store(0);
      Show(n, config::Msg(94, {host}), colours.info);
      s->startup_done.store(0);
      SetIndicator(n, ui::ConnectionState::Connecting);
      // g. connect, through the proxy when the method says so
      int rc;
      const int method = s->connection_method.load();
      auto& proxy = GetHooks().proxy_connect;
      if (addr_len == 0) {
        net::SetLastError(11001);
        rc = -1;
      } else if (ProxyWanted(method) && proxy) {
        rc = proxy(n, sock->fd(), &addr, addr_len, method);
      } else {
        rc = sock->ConnectTimeout(reinterpret_cast<sockaddr*>(&addr), addr_len, kConnectTimeoutMs);
      }
      n = table.FindById(args.id);
      if (rc < 0 || !table.Valid(n)) break;
      // h. connected
      if (config::PrefInt("General", "AutoIdent", 1))
        if (auto& ident = GetHooks().start_ident) ident(ipv6, s->Get(&ServerSession::email));
      sockaddr_storage peer{};
      sock->PeerAddress(&peer);
      const std::string peer_text = ipv6 ? host : net::AddressText(peer);
      const unsigned peer_port = net::Port(peer);
      Show(n, config::Msg(249, {peer_text, peer_port}), colours.ok);
      ResetRetryCounter();
      Beep("BeepConnect", "BeepConnectFile");
      s->connected.store(1);
      SetIndicator(n, ui::ConnectionState::Connected);
      // i. secure transport
      if (s->secure.load() && !StartSecure(n, *s, entered)) break;
      // j. register
      slot->SetName(host);
      if (!ui::Headless()) {
        ui::WindowInfo info = slot->Info(n);
        platform::UiLoop::Get().Post([info] { ui::Current().RenameWindow(info); });
      }
      Event("OnConnect", host + " " + peer_text + " " + std::to_string(peer_port), n);
      SendRegistration(n, *s);
      slot->active.store(1);
      // k. read until the connection ends
      auto live = s->Socket();
      if (live && ReceiveLoop(live, s)) EndOfConnection(args.id, s);
      else if (!live) EndOfConnection(args.id, s);
      return;
    }
    // 4. failure
    n = table.FindById(args.id);
    slot = table.Slot(n);
    if (slot && !slot->closing.load())
      Show(n, config::Msg(95) + net::ErrorSuffix(net::LastError()), colours.error);
    if (slot && s->reconnect.load()) {
      int c = g_retry_counter.fetch_sub(1) - 1;
      if (c > 0) continue;
    }
    ResetRetryCounter();
    return;
  }
}
}  // namespace

int RetryCounter() { return g_retry_counter.load(); }
void ResetRetryCounter() { g_retry_counter.store(MaxReconnect()); }

void CloseSessionSocket(ServerSession& s) {
  auto sock = s.ExchangeSocket(nullptr);
  if (s.secure.exchange(0)) {
    const int32_t h = s.secure_handle.exchange(0);
    tls::Shutdown(h);
    if (sock) sock->Close();
    tls::Close(h);
  } else if (sock) {
    sock->Close();
  }
}

void StartConnection(int n, std::string_view host_override, uint16_t port_override) {
  auto slot = WindowTable::Get().Slot(n);
  if (!slot || slot->kind != kServerWindow) return;
  ThreadArgs args{slot->id, std::string(host_override.substr(0, 999)), port_override};
  auto handle = platform::StartThread("ServerThread", platform::kDefaultStack,
                                      [args = std::move(args)] { ConnectionThread(args); });
  std::lock_guard lock(slot->mutex);
  slot->connection_thread = std::move(handle);
}

void Disconnect(int n) {
  auto s = WindowTable::Get().Session(n);
  if (!s) return;
  std::string quit = "QUIT :" + CleanProtocolText(config::PrefString("General", "QuitMsg", "[=- VantaIRC -=] Bye")) + "\r\n";
  SendImmediately(quit, n);
  // Shutting the socket down wakes the receive loop, which then reports the end of the connection.
  if (auto sock = s->Socket()) sock->Close();
  Beep("BeepDisconnect", "BeepDisConnectFile");
  Event("OnDisconnect", "", n);
  s->connected.store(0);
}

// ---- own addresses --------------------------------------------------------------------------------

namespace {
bool IpAny() { return platform::ini::ReadInt("up.ini", "debug", "IPAny", 1) == 1; }

uint32_t LocalAddressOf(int n) {
  auto s = WindowTable::Get().Session(n);
  if (!s) return 0;
  auto sock = s->Socket();
  sockaddr_storage a{};
  if (!sock || !sock->LocalAddress(&a) || a.ss_family != AF_INET) return 0;
  return reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr;
}

uint32_t SeenAddress(int n) {
  auto s = WindowTable::Get().Session(n);
  in_addr a{};
  if (s && net::ResolveIPv4(s->Get(&ServerSession::seen_address), &a)) return a.s_addr;
  return 0;
}

uint32_t AddressOfName(const std::string& text) {
  in_addr a{};
  return net::ResolveIPv4(text, &a) ? a.s_addr : 0;
}

// The proxy rule and the host-name rule shared by the bind and notify addresses. On Debian the own
// host name usually resolves to 127.0.1.1, which peers cannot reach: then the server connection's
// local address is the better answer.
uint32_t FallbackAddress(int n) {
  if (config::PrefInt("Proxy", "Enabled", 0) == 1 && config::PrefInt("Proxy", "IP", 0) == 1 && Valid(n))
    return LocalAddressOf(n);
  in_addr a{};
  if (net::FirstAddressOfHostName(&a)) {
    if ((ntohl(a.s_addr) >> 24) == 127) {
      if (uint32_t local = LocalAddressOf(n)) return local;
    }
    return a.s_addr;
  }
  inet_pton(AF_INET, "127.0.0.1", &a);
  return a.s_addr;
}

std::string LocalAddressText6(int n) {
  auto s = WindowTable::Get().Session(n);
  if (!s) return {};
  auto sock = s->Socket();
  sockaddr_storage a{};
  if (!sock || !sock->LocalAddress(&a)) return {};
  if (a.ss_family == AF_INET) return "::" + net::AddressText(a);
  return net::AddressText(a);
}

std::string SeenText(int n) {
  auto s = WindowTable::Get().Session(n);
  return s ? s->Get(&ServerSession::seen_address) : std::string();
}

std::string IPv6ByRule(int n, const std::string& rule, bool with_ipany) {
  if (with_ipany && (rule.empty() || rule == "*") && IpAny()) return "0";
  if (rule == "*") return LocalAddressText6(n);
  if (rule == "?") return SeenText(n);
  if (!rule.empty()) {
    if (rule.find(':') != std::string::npos) return rule;
    std::string t = net::IPv6NumericText(rule);
    return t.empty() ? SeenText(n) : t;
  }
  std::string host = net::HostName();
  if (!host.empty() && !net::IPv6NumericText(host).empty()) return host;
  return "::1";
}
}  // namespace

uint32_t OwnBindAddress(int n) {
  if (auto s = WindowTable::Get().Session(n))
    if (uint32_t o = s->bind4_override.load()) return o;
  std::string my = config::PrefString("MoreOptions", "MyIP", "");
  if ((my.empty() || my == "*") && IpAny()) return 0;
  if (my == "*") return Valid(n) ? LocalAddressOf(n) : 0;
  if (my == "?") return SeenAddress(n);
  if (!my.empty()) return AddressOfName(my);
  return FallbackAddress(n);
}

uint32_t OwnNotifyAddress(int n) {
  if (auto s = WindowTable::Get().Session(n))
    if (uint32_t o = s->notify4_override.load()) return o;
  std::string my = config::PrefString("MoreOptions", "MyNotifyIP", "");
  if (my == "*") return LocalAddressOf(n);
  if (my == "?") return SeenAddress(n);
  if (my == "^") return AddressOfName(config::PrefString("General", "UPnPIP", "", 100));
  if (!my.empty()) return AddressOfName(my);
  return FallbackAddress(n);
}

std::string OwnIPv6BindAddress(int n) {
  if (auto s = WindowTable::Get().Session(n)) {
    std::string o = s->Get(&ServerSession::bind6_override);
    if (!o.empty()) return o;
  }
  std::string v6 = config::PrefString("MoreOptions", "MyNotifyIP6", "");
  if (!v6.empty()) return v6;
  return IPv6ByRule(n, config::PrefString("MoreOptions", "MyIP", ""), true);
}

std::string OwnIPv6NotifyAddress(int n) {
  if (auto s = WindowTable::Get().Session(n)) {
    std::string o = s->Get(&ServerSession::notify6_override);
    if (!o.empty()) return o;
  }
  std::string v6 = config::PrefString("MoreOptions", "MyNotifyIP6", "");
  if (!v6.empty()) return v6;
  return IPv6ByRule(n, config::PrefString("MoreOptions", "MyNotifyIP", ""), false);
}

// ---- line splitting ------------------------------------------------------------------------------

void LineSplitter::Feed(std::string_view chunk, const std::function<void(std::string_view)>& on_line) {
  constexpr std::size_t kMaxText = kBuffer - 2;  // room for the LF and the original terminator
  // Appends bytes of the current line, dropping NULs and whatever passes the buffer.
  auto append = [this](std::string_view part) {
    while (!part.empty() && !overflow_) {
      std::size_t nul = part.find('\0');
      std::string_view piece = part.substr(0, nul);
      std::size_t room = kMaxText - buffer_.size();
      if (piece.size() > room) {
        buffer_.append(piece.substr(0, room));
        overflow_ = true;
        return;
      }
      buffer_.append(piece);
      if (nul == std::string_view::npos) return;
      part.remove_prefix(nul + 1);
    }
  };
  while (!chunk.empty()) {
    const std::size_t lf = chunk.find('\n');
    if (lf == std::string_view::npos) {
      append(chunk);
      return;
    }
    append(chunk.substr(0, lf));
    buffer_ += '\n';
    overflow_ = false;
    on_line(buffer_);
    buffer_.clear();  // keeps its capacity: no allocation per line
    chunk.remove_prefix(lf + 1);
  }
}

// ---- placeholder dispatcher ------------------------------------------------------------------------

void DefaultDispatch(int server_window, std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.size() >= 5 && strncasecmp(line.data(), "PING ", 5) == 0) {
    SendToServer("PONG " + CleanProtocolText(line.substr(5)) + "\r\n", server_window);
  }
  output::ShowText(server_window, line, -1, output::Colours().text);
}

}  // namespace vanta::sessions
