#include "sessions/ssllib/keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

namespace vanta::ssllib {

namespace {

constexpr long kValiditySeconds = 30L * 24 * 3600;  // a month; renewed when less than a day is left
constexpr long kRenewMargin = 24L * 3600;
constexpr std::size_t kMaxPemFile = 64 * 1024;

std::mutex g_key_mutex;  // guards everything below and serialises file writes
std::string g_key_dir;
std::string g_last_nick;  // common name of the last prepared certificate
PkeyPtr g_mem_key;        // key material when no directory is set
X509Ptr g_mem_cert;

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::string OpenSslError(const char* what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string s = what;
  if (code) {
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    s += ": ";
    s += buf;
  }
  return s;
}

std::string CommonName(X509* cert) {
  char buf[256] = {};
  int n = X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// True when the certificate matches the key, is valid now and stays valid for another day.
bool Usable(EVP_PKEY* key, X509* cert) {
  if (!cert) return false;
  if (key && X509_check_private_key(cert, key) != 1) {
    ERR_clear_error();
    return false;
  }
  time_t now = time(nullptr);
  time_t soon = now + kRenewMargin;
  return X509_cmp_time(X509_get0_notBefore(cert), &now) <= 0 && X509_cmp_time(X509_get0_notAfter(cert), &soon) > 0;
}

bool Generate(const std::string& cn, PkeyPtr* key_out, X509Ptr* cert_out, std::string* error) {
  PkeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  if (!key || !cert) {
    *error = OpenSslError("key generation failed");
    return false;
  }
  unsigned char serial_bytes[8];
  if (RAND_bytes(serial_bytes, sizeof serial_bytes) != 1) {
    *error = OpenSslError("key generation failed");
    return false;
  }
  serial_bytes[0] &= 0x7F;  // positive serial
  BIGNUM* serial = BN_bin2bn(serial_bytes, sizeof serial_bytes, nullptr);
  bool ok = serial && BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(serial);
  X509_NAME* name = X509_get_subject_name(cert.get());
  ok = ok && X509_set_version(cert.get(), 2) == 1 &&
       X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
       X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValiditySeconds) != nullptr &&
       X509_set_pubkey(cert.get(), key.get()) == 1 &&
       X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()), -1,
                                  -1, 0) == 1 &&
       X509_set_issuer_name(cert.get(), name) == 1 && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
  if (!ok) {
    *error = OpenSslError("certificate generation failed");
    return false;
  }
  *key_out = std::move(key);
  *cert_out = std::move(cert);
  return true;
}

bool ReadSmallFile(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buf[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    out->append(buf, static_cast<std::size_t>(n));
    if (out->size() > kMaxPemFile) { ok = false; break; }
  }
  close(fd);
  return ok;
}

// Replaces `path` atomically with `data`, readable by the owner only.
bool WriteFileAtomic(const std::string& dir, const std::string& path, const std::string& data) {
  std::string tmp = dir + "/.sslkey.XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);  // created with mode 0600
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  std::size_t done = 0;
  while (ok && done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { ok = false; break; }
    done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

std::string ToPem(EVP_PKEY* key, X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  int ok = key ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
               : PEM_write_bio_X509(bio.get(), cert);
  if (ok != 1) {
    ERR_clear_error();
    return {};
  }
  char* p = nullptr;
  long n = BIO_get_mem_data(bio.get(), &p);
  return n > 0 ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

// Writes certificate first, then key: a crash in between leaves a pair that does not match, which
// the next use detects and replaces.
bool Save(const std::string& dir, EVP_PKEY* key, X509* cert) {
  std::string cert_pem = ToPem(nullptr, cert);
  std::string key_pem = ToPem(key, nullptr);
  if (cert_pem.empty() || key_pem.empty()) return false;
  return WriteFileAtomic(dir, dir + "/" + kCertFileName, cert_pem) &&
         WriteFileAtomic(dir, dir + "/" + kKeyFileName, key_pem);
}

struct PassContext {
  PassSource pass;
};

int PemPass(char* buf, int size, int /*rwflag*/, void* u) {
  auto* ctx = static_cast<PassContext*>(u);
  if (!ctx || !ctx->pass || size <= 0) return -1;
  int32_t n = ctx->pass(buf, size);
  if (n < 0) return -1;
  return n > size ? size : n;
}

X509Ptr LoadCert(const std::string& dir) {
  std::string pem;
  if (!ReadSmallFile(dir + "/" + kCertFileName, &pem) || pem.empty()) return nullptr;
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  return cert;
}

// Reads the key file; `*is_protected` tells whether it is encrypted with a pass phrase.
PkeyPtr LoadKey(const std::string& dir, PassSource pass, bool* is_protected) {
  *is_protected = false;
  std::string pem;
  if (!ReadSmallFile(dir + "/" + kKeyFileName, &pem) || pem.empty()) return nullptr;
  *is_protected = pem.find("ENCRYPTED") != std::string::npos;
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  PassContext ctx{pass};
  PkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, PemPass, &ctx) : nullptr);
  ERR_clear_error();
  return key;
}

PkeyPtr RefKey(EVP_PKEY* k) {
  EVP_PKEY_up_ref(k);
  return PkeyPtr(k);
}
X509Ptr RefCert(X509* c) {
  X509_up_ref(c);
  return X509Ptr(c);
}

// Generates a new pair named `cn` and stores it (files or memory). Caller holds g_key_mutex.
bool Renew(const std::string& cn, PkeyPtr* key, X509Ptr* cert, std::string* error) {
  PkeyPtr k;
  X509Ptr c;
  if (!Generate(cn, &k, &c, error)) return false;
  if (g_key_dir.empty()) {
    g_mem_key = RefKey(k.get());
    g_mem_cert = RefCert(c.get());
  } else {
    // A pair that could not be saved is still good for this handshake.
    Save(g_key_dir, k.get(), c.get());
  }
  if (key) *key = std::move(k);
  if (cert) *cert = std::move(c);
  return true;
}

std::string DefaultName() { return g_last_nick.empty() ? std::string("vanta") : g_last_nick; }

}  // namespace

void SetKeyDir(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::lock_guard lock(g_key_mutex);
  g_key_dir = std::move(dir);
}

std::string CommonNameForNick(std::string_view nick) {
  std::string cn;
  for (char ch : nick) {
    if (cn.size() >= 64) break;
    unsigned char u = static_cast<unsigned char>(ch);
    cn += (u > 0x20 && u < 0x7F) ? ch : '_';
  }
  return cn.empty() ? std::string("vanta") : cn;
}

bool PrepareKeys(std::string_view nick, std::string* error) {
  std::string cn = CommonNameForNick(nick);
  std::lock_guard lock(g_key_mutex);
  g_last_nick = cn;
  if (g_key_dir.empty()) {
    if (g_mem_cert && Usable(g_mem_key.get(), g_mem_cert.get()) && CommonName(g_mem_cert.get()) == cn) return true;
    return Renew(cn, nullptr, nullptr, error);
  }
  X509Ptr cert = LoadCert(g_key_dir);
  bool is_protected = false;
  PkeyPtr key = LoadKey(g_key_dir, nullptr, &is_protected);
  // A key protected by a pass phrase cannot be checked here; it is kept when its certificate is fine.
  if ((key || is_protected) && Usable(key.get(), cert.get()) && CommonName(cert.get()) == cn) return true;
  PkeyPtr k;
  X509Ptr c;
  if (!Generate(cn, &k, &c, error)) return false;
  if (!Save(g_key_dir, k.get(), c.get())) {
    *error = "cannot write the certificate and key to " + g_key_dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ServerKeys(PassSource pass, PkeyPtr* key, X509Ptr* cert, std::string* error) {
  std::lock_guard lock(g_key_mutex);
  if (g_key_dir.empty()) {
    if (g_mem_cert && Usable(g_mem_key.get(), g_mem_cert.get())) {
      *key = RefKey(g_mem_key.get());
      *cert = RefCert(g_mem_cert.get());
      return true;
    }
    return Renew(DefaultName(), key, cert, error);
  }
  X509Ptr c = LoadCert(g_key_dir);
  bool is_protected = false;
  PkeyPtr k = LoadKey(g_key_dir, pass, &is_protected);
  if (k && Usable(k.get(), c.get())) {
    *key = std::move(k);
    *cert = std::move(c);
    return true;
  }
  if (is_protected && c && !k) {
    // A protected key we cannot open is left alone; this handshake uses a fresh pair kept in memory.
    return Generate(CommonName(c.get()).empty() ? DefaultName() : CommonName(c.get()), key, cert, error);
  }
  return Renew(c && !CommonName(c.get()).empty() ? CommonName(c.get()) : DefaultName(), key, cert, error);
}

}  // namespace vanta::ssllib
