// Certificate and key of the accepting side of secure DCC chats.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

namespace vanta::ssllib {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

// File names inside the key directory.
inline constexpr const char* kCertFileName = "sslcert.pem";
inline constexpr const char* kKeyFileName = "sslkey.pem";

// Sets the directory of the certificate and key files ("" = keep them in memory only).
void SetKeyDir(std::string dir);

// The common name used for a nick: printable ASCII kept, other bytes as '_', at most 64 bytes,
// "vanta" when nothing is left.
std::string CommonNameForNick(std::string_view nick);

// Makes sure a usable certificate with common name `nick` exists (in the key directory, or in memory
// when none is set): kept when it loads, matches its key, carries that name and stays valid for at
// least another day; otherwise a new one replaces it. Returns false with a reason when nothing usable
// could be made.
bool PrepareKeys(std::string_view nick, std::string* error);

// Pass-phrase source for a protected key file: fills buf (at most cap bytes), returns the length.
using PassSource = int32_t (*)(char* buf, int32_t cap);

// The certificate and key for a server handshake: read from the key directory, made on demand when
// missing or unusable. Returns false with a reason when none could be had.
bool ServerKeys(PassSource pass, PkeyPtr* key, X509Ptr* cert, std::string* error);

}  // namespace vanta::ssllib
