// Stream sockets, name resolution and the Winsock-style error codes the program reports.
//
// Every failing call of this module sets the thread's last socket error (a Winsock code such as 10061),
// which callers turn into the text suffix " (10061 - WSAECONNREFUSED)" with ErrorSuffix().
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vanta::platform::net {

// Winsock codes used by name below.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEinval = 10022;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEafnosupport = 10047;
inline constexpr int kWsaEaddrnotavail = 10049;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnobufs = 10055;
inline constexpr int kWsaEtimedout = 10060;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// Process start-up hygiene: ignores SIGPIPE and makes sure descriptors 0..2 are open (on /dev/null when
// missing), so that no socket is ever number 0, which the program uses for "no socket". Idempotent.
void InitProcess();

// The calling thread's last socket error (0 = none).
int LastError();
void SetLastError(int wsa);
// Winsock counterpart of an errno value; 0 when there is none.
int WsaFromErrno(int err);
// Winsock counterpart of a getaddrinfo/getnameinfo result (EAI_SYSTEM maps the current errno).
int WsaFromGai(int eai);
// Name of one of the 27 named codes ("WSAECONNREFUSED"); nullptr for any other code.
const char* WsaName(int wsa);
// " (10061 - WSAECONNREFUSED)" for a named code, "" otherwise.
std::string ErrorSuffix(int wsa);

// A socket descriptor shared between threads (as std::shared_ptr<Socket>).
//
// Close() may be called from any thread: it marks the socket closed and shuts it down, which wakes a Recv,
// Accept, Connect or ConnectTimeout blocked in another thread. The descriptor itself is released only when no call is
// still using it, so a descriptor number reused by the process is never touched by the old user. Calls made
// after Close() fail with WSAENOTSOCK.
class Socket {
 public:
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A new socket (close-on-exec); nullptr and LastError when it cannot be created.
  static std::shared_ptr<Socket> Create(int family, int type = SOCK_STREAM, int protocol = 0);
  // Takes ownership of an open descriptor; nullptr for a negative one.
  static std::shared_ptr<Socket> Adopt(int fd);

  // The descriptor; -1 once it has been released. Never 0..2.
  int fd() const;
  bool closed() const;

  long Recv(void* buf, std::size_t len, int flags = 0);  // as recv(); -1 with LastError on error
  long Send(const void* buf, std::size_t len);           // one send(), never raises SIGPIPE
  bool SendAll(const void* buf, std::size_t len);        // sends until all is written (nothing for len 0);
                                                         // a send result of 0 or -1 fails
  // 0 ok, -1 error. Waits for the outcome unless the socket is non-blocking; Close() from another thread
  // ends the wait with WSAEINTR.
  int Connect(const sockaddr* sa, socklen_t len);
  // Connects with a time limit: -1 with WSAETIMEDOUT when it runs out, -1 with WSAEINTR when Close() is
  // called meanwhile; a negative limit waits without one. The socket keeps its blocking mode.
  int ConnectTimeout(const sockaddr* sa, socklen_t len, int timeout_ms);
  int Bind(const sockaddr* sa, socklen_t len);
  int Listen(int backlog = 5);
  // The accepted connection (close-on-exec, blocking); nullptr with LastError on error or after Close().
  std::shared_ptr<Socket> Accept(sockaddr_storage* peer = nullptr);
  bool SetNonBlocking(bool on);
  void Close();

  bool LocalAddress(sockaddr_storage* out) const;
  bool PeerAddress(sockaddr_storage* out) const;

  // Holds the descriptor open for direct use (for example by a secure transport library reading the
  // descriptor itself): while a Use is alive, Close() only shuts the socket down. Converts to false when
  // the socket was already closed.
  class Use {
   public:
    explicit Use(Socket& s);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }

   private:
    Socket& s_;
    int fd_;
  };

 private:
  explicit Socket(int fd) : fd_(fd) {}
  int Enter();   // the descriptor with the in-flight count raised; -1 (WSAENOTSOCK) once closed
  void Leave();  // lowers the count; releases the descriptor when closed and unused
  int WaitConnected(int fd, int timeout_ms);

  mutable std::mutex mu_;
  int fd_;
  int in_flight_ = 0;
  bool closed_ = false;
  int wake_fd_ = -1;  // eventfd of a connect wait in progress, signalled by Close()
};

// A listening stream socket on address:port (empty address = any, port 0 = any free port) with SO_REUSEADDR,
// and IPV6_V6ONLY for IPv6. nullptr with LastError on failure.
std::shared_ptr<Socket> CreateListener(int family, std::string_view address, uint16_t port, int backlog = 5);

// Name resolution. Names under ".invalid" never resolve and "localhost" names are the loopback addresses;
// neither is asked of a name server. LastError is set on failure.
bool IsDottedAddress(std::string_view text);                    // dotted IPv4 text
bool ResolveIPv4(std::string_view host, in_addr* out);          // first IPv4 address of a name or dotted text
std::string IPv6NumericText(std::string_view host);             // first IPv6 address as numeric text, "" when none
socklen_t ResolveIPv6(std::string_view host, std::string_view service, sockaddr_in6* out);  // 0 on failure
// A socket address from numeric text of the family; 0 when the text is not such an address.
socklen_t MakeAddress(int family, std::string_view numeric, uint16_t port, sockaddr_storage* out);
socklen_t AddressLength(const sockaddr_storage& sa);           // 16, 28, or 0 for another family
std::string DottedText(in_addr a);
std::string AddressText(const sockaddr_storage& sa);            // numeric text of either family, "" otherwise
uint16_t Port(const sockaddr_storage& sa);                      // host order; 0 for another family
std::string HostName();
bool FirstAddressOfHostName(in_addr* out);

}  // namespace vanta::platform::net
