// The record of one server connection, owned by its server window.
#pragma once
#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vanta::platform::net {
class Socket;
}

namespace vanta::sessions {

// Texts are read and written under `mutex` (use Get/Set); flags and numbers are atomics; the send
// state has its own mutex, held from the first look at the queue to the end of the write, so lines
// from different threads never interleave on the wire.
struct ServerSession {
  // Limits of the text fields (bytes including the terminating NUL of the original buffers).
  static constexpr std::size_t kName = 100, kQuoted = 200, kHost = 300, kAddress = 1000, kPerform = 1000;
  static constexpr std::size_t kQueue = 10000, kLineBuffer = 10000;

  mutable std::mutex mutex;
  std::string list_entry_name;        // server-list entry name
  std::string full_name;              // last USER parameter
  std::string quoted_local_host;      // "\"host\"", second USER parameter
  std::string quoted_server_address;  // "\"address\"", third USER parameter
  std::string user_name;              // e-mail address up to its '@', first USER parameter
  std::string email;
  std::string nick;
  std::string own_user_mode_text;     // as last reported by the server
  std::string password;               // PASS is sent when non-empty
  std::string user_modes;             // mode text sent after registration
  std::string perform;                // lines separated by CR LF, run after registration
  std::string oper_name, oper_password, admin_oper_name, admin_oper_password;
  std::string current_host;           // host (or literal address) of the current attempt
  std::string address_as_entered;
  std::string address_list;           // hosts separated by single spaces
  std::string seen_address;           // own address as seen by the server
  std::string last_invitation;
  std::string bind6_override, notify6_override;

  std::atomic<uint8_t> reconnect{0};
  std::atomic<uint8_t> registered{0};
  std::atomic<uint8_t> ircx{0}, oper{0}, admin_oper{0};
  std::atomic<int32_t> connection_method{0};  // 0 proxy when the settings say so, 1 always proxy, 2 direct
  std::atomic<uint8_t> secure{0};             // secure transport on
  std::atomic<int32_t> secure_handle{0};
  std::atomic<uint8_t> accept_untrusted{0};   // accept a server certificate that fails verification
  std::atomic<uint8_t> ipv6{0};
  std::atomic<uint8_t> connected{0};
  std::atomic<uint16_t> port{6667};
  std::atomic<uint8_t> show_numerics{1}, numeric_pending{0};
  std::atomic<uint8_t> away{0};
  std::atomic<uint8_t> startup_done{0};
  std::atomic<uint8_t> attempted{0};          // a connection was tried before: pause before the next
  std::atomic<uint32_t> bind4_override{0}, notify4_override{0};  // network order, 0 = none

  // The connection's socket; socket_number mirrors its descriptor (0 = none) for lock-free lookups.
  std::shared_ptr<platform::net::Socket> socket;  // under mutex
  std::atomic<int> socket_number{0};
  sockaddr_in addr4{};   // under mutex
  sockaddr_in6 addr6{};  // under mutex

  // Outgoing queue and flood state.
  std::mutex send_mutex;
  std::string send_queue;        // lines still to send, in arrival order
  bool send_queue_active = false;
  uint32_t last_send_time = 0;   // tick of the last released line; 0 = long ago

  std::string Get(std::string ServerSession::*field) const {
    std::lock_guard lock(mutex);
    return this->*field;
  }
  void Set(std::string ServerSession::*field, std::string value) {
    std::lock_guard lock(mutex);
    this->*field = std::move(value);
  }
  std::shared_ptr<platform::net::Socket> Socket() const {
    std::lock_guard lock(mutex);
    return socket;
  }
  // Replaces the socket (nullptr = none); returns the old one.
  std::shared_ptr<platform::net::Socket> ExchangeSocket(std::shared_ptr<platform::net::Socket> s);
};

// A session for `address` (one or more hosts separated by blanks) filled the way registration
// needs it: user name from the e-mail address, quoted local host and server address.
std::shared_ptr<ServerSession> MakeSession(std::string_view address, uint16_t port, std::string_view nick,
                                           std::string_view email, std::string_view full_name,
                                           std::string_view password = "");

}  // namespace vanta::sessions
