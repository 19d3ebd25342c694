// A server window whose connection is one end of a socket pair, for feeding server lines to the
// dispatcher directly and reading back what the client sent.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config/options.h"
#include "dispatch/dispatch_channels.h"
#include "dispatch/dispatcher.h"
#include "platform/net.h"
#include "platform/ui_loop.h"
#include "sessions/server_session.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::dispatch::test {

class DispatchTest : public vanta::test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    config::ResetOptionsToDefaults();
    GetDispatcherHooks() = DispatcherHooks{};
    SetPref("MoreOptions", "FloodDelay", "0");
    server = MakeServerWindow("irc.test", 6667, "me");
    ASSERT_GE(server, 0);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    peer_ = fds[1];
    fcntl(peer_, F_SETFL, O_NONBLOCK);
    Session()->ExchangeSocket(platform::net::Socket::Adopt(fds[0]));
    Session()->registered.store(1);
  }
  void TearDown() override {
    GetDispatcherHooks() = DispatcherHooks{};
    CoreTest::TearDown();
    if (peer_ >= 0) close(peer_);
  }

  std::shared_ptr<sessions::ServerSession> Session() { return sessions::WindowTable::Get().Session(server); }

  // Feeds one line as the receive loop would hand it over (with CR LF).
  void Feed(const std::string& line) { Dispatch(server, line + "\r\n"); }

  // A channel window of the server with a nick list.
  int Channel(const std::string& name, const std::vector<std::string>& nicks = {}) {
    int w = MakeWindow(name, sessions::kChannelWindow, server);
    NickListReplace(w, nicks);
    return w;
  }
  int Query(const std::string& name) { return MakeWindow(name, sessions::kQueryWindow, server); }
  int Find(const std::string& name) { return sessions::WindowTable::Get().FindByName(name, server); }

  // Everything the client wrote so far, after letting queued lines go out.
  const std::string& Bytes() {
    char buf[65536];
    // Queued lines leave on the flood timer: run the loop until the pair stays quiet.
    for (int quiet = 0; quiet < 6;) {
      platform::UiLoop::Get().RunOnce(5);
      ssize_t n = read(peer_, buf, sizeof buf);
      if (n > 0) {
        bytes_.append(buf, static_cast<std::size_t>(n));
        quiet = 0;
      } else {
        ++quiet;
      }
    }
    return bytes_;
  }
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    const std::string& b = Bytes();
    std::size_t start = 0;
    for (std::size_t at; (at = b.find("\r\n", start)) != std::string::npos; start = at + 2)
      out.push_back(b.substr(start, at - start));
    return out;
  }
  bool WasSent(const std::string& line) {
    for (auto& l : Sent())
      if (l == line) return true;
    return false;
  }
  void ClearSent() {
    Bytes();
    bytes_.clear();
  }

  // Lines shown in the window called `window` that contain `needle`.
  std::vector<vanta::test::ShownLine> In(const std::string& window, const std::string& needle = "") {
    std::vector<vanta::test::ShownLine> out;
    for (auto& l : fe->lines())
      if (l.window_name == window && l.text.find(needle) != std::string::npos) out.push_back(l);
    return out;
  }

  int server = -1;

 private:
  int peer_ = -1;
  std::string bytes_;
};

}  // namespace vanta::dispatch::test
