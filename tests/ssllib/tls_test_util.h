// Helpers for the secure transport tests: temporary directories, certificates made with the
// openssl command, an `openssl s_server` child on a free loopback port, socket pairs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ssltest {

// A fresh directory under the temp dir, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a program (argument vector, searched in PATH) with output discarded; its exit status, or -1
// when it could not start or did not finish within the time limit (it is killed then).
int Run(const std::vector<std::string>& argv, int timeout_ms = 30000);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

// Certificates for "localhost" (DNS:localhost and IP:127.0.0.1 in the alternative names).
struct Certs {
  std::string ca_cert;           // the test's own CA
  std::string self_cert, self_key;  // self-signed
  std::string leaf_cert, leaf_key;  // signed by the CA
};
// Makes all of them in `dir`; false when the openssl command failed.
bool MakeCerts(const std::string& dir, Certs* out);

// `openssl s_server` on 127.0.0.1 with a port chosen by the system; killed and reaped on destruction.
class SServer {
 public:
  // Extra arguments go after the certificate options. Returns false when it did not come up.
  bool Start(const std::string& cert, const std::string& key, const std::vector<std::string>& extra);
  ~SServer();
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
};

// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);

// A connected pair of stream sockets.
bool SocketPair(int fds[2]);

}  // namespace ssltest
