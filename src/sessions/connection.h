// Server connections: the connection thread that resolves, connects, registers and reads; the
// disconnect command; and the own-address rules used by listening sockets and DCC offers.
#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vanta::sessions {

struct ServerSession;

// Starts a connection thread for server window n (nothing unless n is a valid server window).
// The overrides replace the session's host and port for this connection (empty / 0 = none).
void StartConnection(int n, std::string_view host_override, uint16_t port_override);

// The server window's disconnect command: QUIT, close the socket, "OnDisconnect". The receive loop
// then reports the end of the connection as for a lost one.
void Disconnect(int n);

// Closes a session's socket, shutting secure transport down first when it is on.
void CloseSessionSocket(ServerSession& s);

// The process-wide retry counter shared by all server windows.
int RetryCounter();
void ResetRetryCounter();  // to "MoreOptions"/"MaxReconnect"

// Own addresses (IPv4 in network order, 0 = any; IPv6 as text).
uint32_t OwnBindAddress(int n);
uint32_t OwnNotifyAddress(int n);
std::string OwnIPv6BindAddress(int n);
std::string OwnIPv6NotifyAddress(int n);

// Splits received chunks into lines. A line is everything up to and including LF (CR is not a
// separator). NUL bytes are dropped without ending the chunk. A line that grows past the buffer is
// cut there and the rest up to its LF discarded.
class LineSplitter {
 public:
  static constexpr std::size_t kBuffer = 10000;  // bytes of the line buffer, including its terminator
  // Calls on_line for every completed line, in order; the line includes its LF.
  void Feed(std::string_view chunk, const std::function<void(std::string_view line)>& on_line);
  std::size_t pending() const { return buffer_.size(); }
  void Clear() {
    buffer_.clear();
    overflow_ = false;
  }

 private:
  std::string buffer_;
  bool overflow_ = false;
};

// Until the line dispatcher is installed: shows the line in the server window and answers PING.
void DefaultDispatch(int server_window, std::string_view line);

}  // namespace vanta::sessions
