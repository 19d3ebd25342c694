// The C interface of the secure transport library (ssl.so, loaded as "SSL.DLL").
//
// The program hands an already connected stream socket to SSLInitClient or SSLInitServer and gets a
// handle back; from then on all traffic goes through SSLRead and SSLWrite with that handle. The
// program resolves every entry by name at run time, so each one has a function-pointer type below.
//
// Handles are small positive numbers from the library's own table; 0 means failure. Calls with a
// handle that is unknown or already closed do nothing and return -1 where they return a value.
// One handle may be used by a reader thread (blocked in SSLRead) and writer threads at the same time.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VANTA_SSL_API __attribute__((visibility("default")))

// Size of each of the two work buffers the caller passes to SSLInitServer.
#define VANTA_SSL_WORK_SIZE 20000
// Size of each text buffer passed to SSLInfo (the texts are NUL-terminated and truncated to fit).
#define VANTA_SSL_INFO_SIZE 1000

// Pass-phrase callback: copies the pass phrase into buf (at most cap bytes) and returns its length.
typedef int32_t (*VantaSslPassFn)(char* buf, int32_t cap);

// Client handshake on a connected socket. flag is the protocol flag of the settings (accepted, no
// effect: only TLS 1.2 and later are ever offered). reserved must be 0. Returns the handle or 0.
VANTA_SSL_API int32_t SSLInitClient(int32_t fd, int32_t flag, void* reserved);
// Server handshake (the accepting side of a secure DCC chat) with the certificate and key of the key
// directory, made on demand. work1/work2 are caller-cleared scratch buffers of VANTA_SSL_WORK_SIZE
// bytes (may be null). pass supplies the pass phrase of a protected key file (may be null).
VANTA_SSL_API int32_t SSLInitServer(int32_t fd, int32_t flag, char* work1, char* work2, VantaSslPassFn pass);
// Blocks until data arrives. Returns the number of bytes read (1..max), 0 when the connection was
// closed in order (or shut down locally), -1 on error.
VANTA_SSL_API int32_t SSLRead(int32_t h, char* buf, int32_t max);
// Writes all len bytes (waiting as needed). Returns len, or -1 on error.
VANTA_SSL_API int32_t SSLWrite(int32_t h, const char* data, int32_t len);
// Sends the closing alert and wakes every thread waiting inside SSLRead or SSLWrite on this handle;
// after it returns the library no longer touches the socket.
VANTA_SSL_API void SSLShutdown(int32_t h);
// Releases the handle (its resources go when the last call still inside it has returned).
VANTA_SSL_API void SSLClose(int32_t h);
// Fills the cipher, peer subject and peer issuer texts (each VANTA_SSL_INFO_SIZE bytes).
VANTA_SSL_API void SSLInfo(int32_t h, char* cipher, char* subject, char* issuer);
// Prepares the self-signed certificate and key (common name = nick) used by SSLInitServer.
VANTA_SSL_API void SSLGenerateCK(const char* nick);

// Host name (or IP address text) for name indication and verification, and whether an untrusted
// certificate is accepted anyway; applies to the next SSLInitClient on the calling thread only.
// A null or empty host means no verification (DCC chats).
VANTA_SSL_API void SSLSetPeer(const char* host, int32_t accept_untrusted);
// Copies the reason of the last failure on the calling thread (NUL-terminated, truncated to cap)
// and returns its full length; 0 when the last call succeeded. After a client handshake that
// succeeded only because an untrusted certificate was accepted, it holds the overridden reason.
VANTA_SSL_API int32_t SSLLastError(char* buf, int32_t cap);
// Directory where SSLGenerateCK writes and SSLInitServer reads the certificate and key files. With
// none set, the certificate and key are kept in memory for the life of the process.
VANTA_SSL_API void SSLSetKeyDir(const char* dir);

typedef int32_t (*SSLInitClientFn)(int32_t, int32_t, void*);
typedef int32_t (*SSLInitServerFn)(int32_t, int32_t, char*, char*, VantaSslPassFn);
typedef int32_t (*SSLReadFn)(int32_t, char*, int32_t);
typedef int32_t (*SSLWriteFn)(int32_t, const char*, int32_t);
typedef void (*SSLShutdownFn)(int32_t);
typedef void (*SSLCloseFn)(int32_t);
typedef void (*SSLInfoFn)(int32_t, char*, char*, char*);
typedef void (*SSLGenerateCKFn)(const char*);
typedef void (*SSLSetPeerFn)(const char*, int32_t);
typedef int32_t (*SSLLastErrorFn)(char*, int32_t);
typedef void (*SSLSetKeyDirFn)(const char*);

#ifdef __cplusplus
}
#endif
