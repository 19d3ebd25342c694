// The program's side of the secure transport library ("SSL.DLL", ssl.so).
//
// The library is loaded on first use and then kept loaded; every entry is looked up by name each time
// it is used, so a library without an entry behaves as if that operation failed: a missing read or
// write entry counts as 0 bytes (a closed connection), a missing start entry fails the start.
// Messages about the outcome are shown by the callers.
#pragma once

#include <cstdint>
#include <string>

namespace vanta::sessions::tls {

// The fixed pass phrase handed to the library for its key file.
inline constexpr const char kPassPhrase[] = "Qx7LmPravoKelt93Zed";

// True when the library can be loaded (loads it if it is not yet).
bool LibraryAvailable();

// Starts the client side on a connected socket. `host` is the name (or address text) the certificate
// must match; empty for connections that are not verified (DCC chats). `accept_untrusted` accepts a
// certificate that fails verification. Returns the handle, 0 on failure; `reason` (may be null) gets
// the failure's reason, or after a success with an accepted untrusted certificate the reason it was
// untrusted, else "".
int32_t InitClient(int fd, int flag, const std::string& host, bool accept_untrusted, std::string* reason);
// Starts the server side (an accepted secure DCC chat) with the certificate of the key directory.
int32_t InitServer(int fd, int flag, std::string* reason);

// Bytes read; 0 or -1 means closed. 0 when the library or its entry is missing.
int32_t Read(int32_t h, char* buf, int32_t max);
// Bytes written (len), 0 or -1 on error. 0 for len 0 (the library is not called) and when the library
// or its entry is missing.
int32_t Write(int32_t h, const char* data, int32_t len);
void Shutdown(int32_t h);
void Close(int32_t h);
// Fills the cipher, subject and issuer texts; false when the library has no such entry.
bool Info(int32_t h, std::string* cipher, std::string* subject, std::string* issuer);
// Prepares the certificate and key offered with a secure DCC chat.
void GenerateCK(const std::string& nick);
// The profile directory that holds the certificate and key; handed to the library before it needs it.
void SetKeyDir(const std::string& dir);

// Loads a different library name from now on ("" = back to "SSL.DLL"); for tests.
void SetLibraryNameForTests(std::string name);

}  // namespace vanta::sessions::tls
