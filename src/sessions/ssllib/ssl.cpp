// ssl.so: secure transport over OpenSSL for server connections and secure DCC chats.
//
// Each connection is a Conn in the handle table. The socket is switched to non-blocking mode; every
// SSL_* call on a connection runs under that connection's mutex, and waiting for the socket happens
// in poll() with the mutex released, so a reader waiting for data never keeps a writer out. Each
// connection also has an eventfd that SSLShutdown and SSLClose signal to wake every waiter.
// Writers take turns: a write that had to wait leaves an encrypted record pending inside OpenSSL,
// and only the same writer may continue it, so one SSLWrite finishes before the next one starts.
#include "sessions/ssllib/ssl_api.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "sessions/ssllib/keys.h"

namespace vanta::ssllib {
namespace {

constexpr int kHandshakeTimeoutMs = 30000;
// Waiters re-try their call at least this often even without a wake-up.
constexpr int kWaitSliceMs = 1000;

thread_local std::string t_peer_host;
thread_local bool t_accept_untrusted = false;
thread_local std::string t_last_error;

// ---- a socket BIO that never raises SIGPIPE ----

int FdOf(BIO* b) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b))); }

int SockWrite(BIO* b, const char* data, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n;
  do {
    n = send(FdOf(b), data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(b);
  return static_cast<int>(n);
}

int SockRead(BIO* b, char* buf, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n;
  do {
    n = recv(FdOf(b), buf, static_cast<std::size_t>(len), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(b);
  return static_cast<int>(n);
}

int SockPuts(BIO* b, const char* s) { return SockWrite(b, s, static_cast<int>(std::strlen(s))); }

long SockCtrl(BIO* /*b*/, int cmd, long /*num*/, void* /*ptr*/) {
  switch (cmd) {
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

int SockCreate(BIO* b) {
  BIO_set_init(b, 0);
  return 1;
}
int SockDestroy(BIO* b) { return b ? 1 : 0; }

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vanta socket");
    if (m) {
      BIO_meth_set_write(m, SockWrite);
      BIO_meth_set_read(m, SockRead);
      BIO_meth_set_puts(m, SockPuts);
      BIO_meth_set_ctrl(m, SockCtrl);
      BIO_meth_set_create(m, SockCreate);
      BIO_meth_set_destroy(m, SockDestroy);
    }
    return m;
  }();
  return method;
}

BIO* NewSocketBio(int fd) {
  BIO_METHOD* m = SocketMethod();
  BIO* b = m ? BIO_new(m) : nullptr;
  if (!b) return nullptr;
  BIO_set_data(b, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  BIO_set_init(b, 1);
  return b;
}

// ---- connections and the handle table ----

struct Conn {
  int fd = -1;     // owned by the caller
  int wake = -1;   // eventfd, owned here
  SSL* ssl = nullptr;
  std::mutex mu;   // held around every SSL_* call on `ssl`
  std::atomic<bool> shut{false};
  std::condition_variable turn_cv;  // signalled when `writing` clears or `shut` is set
  bool writing = false;             // guarded by mu: an SSLWrite has the turn

  ~Conn() {
    SSL_free(ssl);  // sends nothing: the socket may already be closed
    if (wake >= 0) close(wake);
  }
};

std::mutex g_table_mutex;
std::unordered_map<int32_t, std::shared_ptr<Conn>> g_table;
int32_t g_next_handle = 1;

int32_t Register(std::shared_ptr<Conn> c) {
  std::lock_guard lock(g_table_mutex);
  for (;;) {
    int32_t h = g_next_handle;
    g_next_handle = g_next_handle == INT32_MAX ? 1 : g_next_handle + 1;
    if (g_table.find(h) == g_table.end()) {
      g_table.emplace(h, std::move(c));
      return h;
    }
  }
}

std::shared_ptr<Conn> Find(int32_t h) {
  std::lock_guard lock(g_table_mutex);
  auto it = g_table.find(h);
  return it == g_table.end() ? nullptr : it->second;
}

std::shared_ptr<Conn> Remove(int32_t h) {
  std::lock_guard lock(g_table_mutex);
  auto it = g_table.find(h);
  if (it == g_table.end()) return nullptr;
  std::shared_ptr<Conn> c = std::move(it->second);
  g_table.erase(it);
  return c;
}

void Wake(Conn& c) {
  c.turn_cv.notify_all();
  uint64_t one = 1;
  ssize_t n = write(c.wake, &one, sizeof one);  // the counter stays set: every later wait wakes too
  (void)n;
}

enum class Wait { kReady, kWoken, kTimeout, kError };

Wait WaitFor(int fd, int wake, short events, int timeout_ms) {
  pollfd p[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
  int n = poll(p, wake >= 0 ? 2 : 1, timeout_ms);
  if (n < 0) return errno == EINTR ? Wait::kTimeout : Wait::kError;
  if (n == 0) return Wait::kTimeout;
  if (wake >= 0 && p[1].revents) return Wait::kWoken;
  if (p[0].revents & POLLNVAL) return Wait::kError;
  return Wait::kReady;  // readable, writable, hang-up or error: the next SSL call tells which
}

// ---- failure texts ----

std::string ErrorText(unsigned long code) {
  const char* reason = ERR_reason_error_string(code);
  if (reason) return reason;
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return buf;
}

std::string VerifyFailure(long result, const std::string& host) {
  if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH)
    return "host name mismatch: the certificate is not valid for " + host;
  return std::string("certificate verify failed: ") + X509_verify_cert_error_string(result);
}

// Why a handshake step failed. `ret` and `err` are the step's result and SSL_get_error().
std::string HandshakeFailure(SSL* ssl, int err, int saved_errno, bool verifying, const std::string& host) {
  long vr = SSL_get_verify_result(ssl);
  unsigned long code = ERR_peek_error();
  std::string text;
  if (verifying && vr != X509_V_OK) {
    text = VerifyFailure(vr, host);
  } else if (err == SSL_ERROR_SSL && code) {
    text = "handshake failed: " + ErrorText(code);
  } else if (err == SSL_ERROR_SYSCALL && saved_errno != 0) {
    text = std::string("handshake failed: ") + std::strerror(saved_errno);
  } else {
    text = "handshake failed: connection closed by the peer";
  }
  ERR_clear_error();
  return text;
}

bool Handshake(SSL* ssl, int fd, bool server, bool verifying, const std::string& host) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandshakeTimeoutMs);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int r = server ? SSL_accept(ssl) : SSL_connect(ssl);
    if (r == 1) return true;
    int saved_errno = errno;
    int e = SSL_get_error(ssl, r);
    short events = 0;
    if (e == SSL_ERROR_WANT_READ) events = POLLIN;
    else if (e == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (!events) {
      t_last_error = HandshakeFailure(ssl, e, saved_errno, verifying, host);
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || WaitFor(fd, -1, events, static_cast<int>(left.count())) == Wait::kError) {
      t_last_error = left.count() <= 0 ? "handshake failed: timed out" : "handshake failed: socket error";
      return false;
    }
  }
}

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Brackets around an IPv6 literal and one trailing dot of a name are not part of what is verified.
std::string NormaliseHost(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.size() > 1 && host.back() == '.') host.pop_back();
  return host;
}

SSL_CTX* NewContext(bool server) {
  SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return ctx;
}

// Runs the handshake on `ssl` (which owns nothing of the socket yet) and registers the connection.
int32_t Start(SSL* ssl, int fd, bool server, bool verifying, const std::string& host) {
  BIO* bio = NewSocketBio(fd);
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!bio || wake < 0) {
    if (bio) BIO_free(bio);
    if (wake >= 0) close(wake);
    SSL_free(ssl);
    t_last_error = "out of resources";
    return 0;
  }
  SSL_set_bio(ssl, bio, bio);
  int old_flags = fcntl(fd, F_GETFL);
  if (old_flags < 0 || fcntl(fd, F_SETFL, old_flags | O_NONBLOCK) < 0) {
    SSL_free(ssl);
    close(wake);
    t_last_error = "invalid socket";
    return 0;
  }
  if (!Handshake(ssl, fd, server, verifying, host)) {
    fcntl(fd, F_SETFL, old_flags);  // the socket goes back to the caller as it came
    SSL_free(ssl);
    close(wake);
    return 0;
  }
  auto c = std::make_shared<Conn>();
  c->fd = fd;
  c->wake = wake;
  c->ssl = ssl;
  return Register(std::move(c));
}

void CopyText(const std::string& s, char* out) {
  if (!out) return;
  std::size_t n = std::min<std::size_t>(s.size(), VANTA_SSL_INFO_SIZE - 1);
  // Do not cut a UTF-8 sequence in half.
  if (n < s.size())
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
}

std::string NameText(X509_NAME* name) {
  if (!name) return {};
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return {};
  // One line, control bytes escaped, UTF-8 kept as is.
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* p = nullptr;
  long n = BIO_get_mem_data(bio, &p);
  std::string s = n > 0 ? std::string(p, static_cast<std::size_t>(n)) : std::string();
  BIO_free(bio);
  return s;
}

}  // namespace
}  // namespace vanta::ssllib

using namespace vanta::ssllib;

extern "C" {

int32_t SSLInitClient(int32_t fd, int32_t /*flag*/, void* /*reserved*/) {
  std::string host = NormaliseHost(std::move(t_peer_host));
  bool accept_untrusted = t_accept_untrusted;
  t_peer_host.clear();
  t_accept_untrusted = false;
  t_last_error.clear();
  if (fd < 0) {
    t_last_error = "invalid socket";
    return 0;
  }
  SSL_CTX* ctx = NewContext(false);
  bool verifying = !host.empty();
  if (ctx && verifying && SSL_CTX_set_default_verify_paths(ctx) != 1) ERR_clear_error();
  SSL* ssl = ctx ? SSL_new(ctx) : nullptr;
  SSL_CTX_free(ctx);  // the connection keeps its own reference
  if (!ssl) {
    ERR_clear_error();
    t_last_error = "out of resources";
    return 0;
  }
  if (verifying) {
    if (IsIpLiteral(host)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl, host.c_str());
      SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      SSL_set1_host(ssl, host.c_str());
    }
    ERR_clear_error();
    // With the override the chain and name are still checked; the result is only reported.
    SSL_set_verify(ssl, accept_untrusted ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
  }
  int32_t h = Start(ssl, fd, false, verifying && !accept_untrusted, host);
  if (h && verifying && accept_untrusted) {
    auto c = Find(h);
    if (c) {
      std::lock_guard lock(c->mu);
      long vr = SSL_get_verify_result(c->ssl);
      if (vr != X509_V_OK) t_last_error = VerifyFailure(vr, host);
    }
  }
  return h;
}

int32_t SSLInitServer(int32_t fd, int32_t /*flag*/, char* /*work1*/, char* /*work2*/, VantaSslPassFn pass) {
  t_last_error.clear();
  if (fd < 0) {
    t_last_error = "invalid socket";
    return 0;
  }
  PkeyPtr key;
  X509Ptr cert;
  std::string error;
  if (!ServerKeys(pass, &key, &cert, &error)) {
    t_last_error = error;
    return 0;
  }
  SSL_CTX* ctx = NewContext(true);
  bool ok = ctx && SSL_CTX_use_certificate(ctx, cert.get()) == 1 && SSL_CTX_use_PrivateKey(ctx, key.get()) == 1;
  SSL* ssl = ok ? SSL_new(ctx) : nullptr;
  SSL_CTX_free(ctx);
  if (!ssl) {
    ERR_clear_error();
    t_last_error = "cannot use the certificate and key";
    return 0;
  }
  return Start(ssl, fd, true, false, std::string());
}

int32_t SSLRead(int32_t h, char* buf, int32_t max) {
  std::shared_ptr<Conn> c = Find(h);
  if (!c || !buf || max <= 0) return -1;
  for (;;) {
    short events = 0;
    {
      std::lock_guard lock(c->mu);
      if (c->shut.load()) return 0;
      ERR_clear_error();
      errno = 0;
      int r = SSL_read(c->ssl, buf, max);
      if (r > 0) return r;
      int saved_errno = errno;
      int e = SSL_get_error(c->ssl, r);
      ERR_clear_error();
      if (e == SSL_ERROR_ZERO_RETURN) return 0;
      if (e == SSL_ERROR_WANT_READ) events = POLLIN;
      else if (e == SSL_ERROR_WANT_WRITE) events = POLLOUT;
      else return (e == SSL_ERROR_SYSCALL && saved_errno == 0) ? 0 : -1;
    }
    Wait w = WaitFor(c->fd, c->wake, events, kWaitSliceMs);
    if (w == Wait::kWoken) return 0;
    if (w == Wait::kError) return -1;
  }
}

int32_t SSLWrite(int32_t h, const char* data, int32_t len) {
  std::shared_ptr<Conn> c = Find(h);
  if (!c || len < 0 || (!data && len > 0)) return -1;
  if (len == 0) return 0;
  {
    std::unique_lock lock(c->mu);
    c->turn_cv.wait(lock, [&] { return !c->writing || c->shut.load(); });
    if (c->shut.load()) return -1;
    c->writing = true;
  }
  struct TurnEnd {
    Conn& c;
    ~TurnEnd() {
      {
        std::lock_guard lock(c.mu);
        c.writing = false;
      }
      c.turn_cv.notify_one();
    }
  } turn_end{*c};
  int32_t done = 0;
  while (done < len) {
    short events = 0;
    {
      std::lock_guard lock(c->mu);
      if (c->shut.load()) return -1;
      ERR_clear_error();
      int r = SSL_write(c->ssl, data + done, len - done);
      if (r > 0) {
        done += r;
        continue;
      }
      int e = SSL_get_error(c->ssl, r);
      ERR_clear_error();
      if (e == SSL_ERROR_WANT_WRITE) events = POLLOUT;
      else if (e == SSL_ERROR_WANT_READ) events = POLLIN;
      else return -1;
    }
    Wait w = WaitFor(c->fd, c->wake, events, kWaitSliceMs);
    if (w == Wait::kWoken || w == Wait::kError) return -1;
  }
  return len;
}

void SSLShutdown(int32_t h) {
  std::shared_ptr<Conn> c = Find(h);
  if (!c) return;
  {
    std::lock_guard lock(c->mu);
    if (!c->shut.exchange(true)) {
      ERR_clear_error();
      SSL_shutdown(c->ssl);  // one attempt to send the closing alert; never waits
      ERR_clear_error();
    }
  }
  Wake(*c);
}

void SSLClose(int32_t h) {
  std::shared_ptr<Conn> c = Remove(h);
  if (!c) return;
  // The caller may already have closed the socket: no more I/O on it, only wake the waiters. The
  // connection is freed when the last call still inside it lets go of it.
  {
    std::lock_guard lock(c->mu);
    c->shut.store(true);
  }
  Wake(*c);
}

void SSLInfo(int32_t h, char* cipher, char* subject, char* issuer) {
  CopyText(std::string(), cipher);
  CopyText(std::string(), subject);
  CopyText(std::string(), issuer);
  std::shared_ptr<Conn> c = Find(h);
  if (!c) return;
  std::lock_guard lock(c->mu);
  if (const SSL_CIPHER* ci = SSL_get_current_cipher(c->ssl)) {
    std::string text = std::string(SSL_CIPHER_get_name(ci)) + " (" + SSL_get_version(c->ssl) + ", " +
                       std::to_string(SSL_CIPHER_get_bits(ci, nullptr)) + " bits)";
    CopyText(text, cipher);
  }
  if (X509* peer = SSL_get0_peer_certificate(c->ssl)) {
    CopyText(NameText(X509_get_subject_name(peer)), subject);
    CopyText(NameText(X509_get_issuer_name(peer)), issuer);
  } else {
    CopyText("(no peer certificate)", subject);
    CopyText("(no peer certificate)", issuer);
  }
  ERR_clear_error();
}

void SSLGenerateCK(const char* nick) {
  std::string error;
  t_last_error.clear();
  if (!PrepareKeys(nick ? nick : "", &error)) t_last_error = error;
}

void SSLSetPeer(const char* host, int32_t accept_untrusted) {
  t_peer_host = host ? host : "";
  t_accept_untrusted = accept_untrusted != 0;
}

int32_t SSLLastError(char* buf, int32_t cap) {
  const std::string& e = t_last_error;
  if (buf && cap > 0) {
    std::size_t n = std::min<std::size_t>(e.size(), static_cast<std::size_t>(cap) - 1);
    std::memcpy(buf, e.data(), n);
    buf[n] = '\0';
  }
  return static_cast<int32_t>(std::min<std::size_t>(e.size(), INT32_MAX));
}

void SSLSetKeyDir(const char* dir) { SetKeyDir(dir ? dir : ""); }

}  // extern "C"
