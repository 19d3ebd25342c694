#include "sessions/secure_transport.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dynlib.h"
#include "sessions/ssllib/ssl_api.h"

namespace vanta::sessions::tls {

namespace {

constexpr const char* kDefaultLibraryName = "SSL.DLL";

std::mutex g_mutex;  // guards the three below; never held while the library is called
std::shared_ptr<platform::Library> g_library;
std::string g_library_name = kDefaultLibraryName;
std::string g_key_dir;

// The loaded library, loading it on first use (and again after a failed attempt, so a library
// installed later is found). Callers keep the reference for the duration of their call.
std::shared_ptr<platform::Library> Lib() {
  std::lock_guard lock(g_mutex);
  if (!g_library) g_library = platform::LoadLibraryByName(g_library_name);
  return g_library;
}

template <class Fn>
Fn Entry(const std::shared_ptr<platform::Library>& lib, const char* name) {
  return lib ? lib->Entry<Fn>(name) : nullptr;
}

std::string LastError(const std::shared_ptr<platform::Library>& lib) {
  auto fn = Entry<SSLLastErrorFn>(lib, "SSLLastError");
  if (!fn) return {};
  char buf[1000] = {};
  fn(buf, sizeof buf);
  buf[sizeof buf - 1] = '\0';
  return buf;
}

// Hands the key directory over before an entry that uses the certificate and key.
void PassKeyDir(const std::shared_ptr<platform::Library>& lib) {
  auto fn = Entry<SSLSetKeyDirFn>(lib, "SSLSetKeyDir");
  if (!fn) return;
  std::string dir;
  {
    std::lock_guard lock(g_mutex);
    dir = g_key_dir;
  }
  fn(dir.c_str());
}

int32_t PassPhrase(char* buf, int32_t cap) {
  constexpr int32_t kLen = sizeof kPassPhrase - 1;
  if (!buf || cap <= 0) return 0;
  int32_t n = cap < kLen ? cap : kLen;
  std::memcpy(buf, kPassPhrase, static_cast<std::size_t>(n));
  if (n < cap) buf[n] = '\0';
  return n;
}

void SetReason(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
}

}  // namespace

bool LibraryAvailable() { return Lib() != nullptr; }

int32_t InitClient(int fd, int flag, const std::string& host, bool accept_untrusted, std::string* reason) {
  SetReason(reason, "");
  auto lib = Lib();
  if (!lib) {
    SetReason(reason, "the secure transport library is not available");
    return 0;
  }
  auto init = Entry<SSLInitClientFn>(lib, "SSLInitClient");
  if (!init) {
    SetReason(reason, "the secure transport library has no client entry");
    return 0;
  }
  // The peer settings apply to the next start on this thread, so they go right before it.
  if (auto set_peer = Entry<SSLSetPeerFn>(lib, "SSLSetPeer"))
    set_peer(host.empty() ? nullptr : host.c_str(), accept_untrusted ? 1 : 0);
  int32_t h = init(fd, flag, nullptr);
  std::string why = LastError(lib);
  if (h == 0 && why.empty()) why = "secure handshake failed";
  SetReason(reason, std::move(why));
  return h;
}

int32_t InitServer(int fd, int flag, std::string* reason) {
  SetReason(reason, "");
  auto lib = Lib();
  if (!lib) {
    SetReason(reason, "the secure transport library is not available");
    return 0;
  }
  auto init = Entry<SSLInitServerFn>(lib, "SSLInitServer");
  if (!init) {
    SetReason(reason, "the secure transport library has no server entry");
    return 0;
  }
  PassKeyDir(lib);
  std::vector<char> work1(VANTA_SSL_WORK_SIZE, '\0');
  std::vector<char> work2(VANTA_SSL_WORK_SIZE, '\0');
  int32_t h = init(fd, flag, work1.data(), work2.data(), PassPhrase);
  std::string why = LastError(lib);
  if (h == 0 && why.empty()) why = "secure handshake failed";
  SetReason(reason, std::move(why));
  return h;
}

int32_t Read(int32_t h, char* buf, int32_t max) {
  auto lib = Lib();
  auto fn = Entry<SSLReadFn>(lib, "SSLRead");
  return fn ? fn(h, buf, max) : 0;
}

int32_t Write(int32_t h, const char* data, int32_t len) {
  if (len == 0) return 0;
  auto lib = Lib();
  auto fn = Entry<SSLWriteFn>(lib, "SSLWrite");
  return fn ? fn(h, data, len) : 0;
}

void Shutdown(int32_t h) {
  auto lib = Lib();
  if (auto fn = Entry<SSLShutdownFn>(lib, "SSLShutdown")) fn(h);
}

void Close(int32_t h) {
  auto lib = Lib();
  if (auto fn = Entry<SSLCloseFn>(lib, "SSLClose")) fn(h);
}

bool Info(int32_t h, std::string* cipher, std::string* subject, std::string* issuer) {
  auto lib = Lib();
  auto fn = Entry<SSLInfoFn>(lib, "SSLInfo");
  if (!fn) return false;
  std::vector<char> c(VANTA_SSL_INFO_SIZE, '\0'), s(VANTA_SSL_INFO_SIZE, '\0'), i(VANTA_SSL_INFO_SIZE, '\0');
  fn(h, c.data(), s.data(), i.data());
  c.back() = s.back() = i.back() = '\0';
  if (cipher) *cipher = c.data();
  if (subject) *subject = s.data();
  if (issuer) *issuer = i.data();
  return true;
}

void GenerateCK(const std::string& nick) {
  auto lib = Lib();
  auto fn = Entry<SSLGenerateCKFn>(lib, "SSLGenerateCK");
  if (!fn) return;
  PassKeyDir(lib);
  fn(nick.c_str());
}

void SetKeyDir(const std::string& dir) {
  std::lock_guard lock(g_mutex);
  g_key_dir = dir;
}

void SetLibraryNameForTests(std::string name) {
  std::lock_guard lock(g_mutex);
  g_library_name = name.empty() ? std::string(kDefaultLibraryName) : std::move(name);
  g_library.reset();
}

}  // namespace vanta::sessions::tls
