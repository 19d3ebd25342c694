// A server window whose connection is one end of a socket pair, so the lines the client sends can
// be read back, and helpers that feed server lines to the numeric handler and the built-in stage
// the way the dispatcher does.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "dispatch/numerics.h"
#include "dispatch/parsed_line.h"
#include "dispatch/registration.h"
#include "platform/net.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::dispatch::test {

class NumericFixture : public vanta::test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    SetPref("MoreOptions", "FloodDelay", "0");
    ResetAlternateNickToggle();
    ReloadRegistrationSettings();
    server = AddServer("irc.test", "me");
  }
  void TearDown() override {
    for (int fd : peers_) ::close(fd);
    CoreTest::TearDown();
  }

  // A server window with nick `nick` whose socket is a socket pair; returns its number.
  int AddServer(const std::string& name, const std::string& nick) {
    int n = MakeServerWindow(name, 6667, nick);
    int sv[2];
    if (n < 0 || socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return -1;
    fcntl(sv[1], F_SETFL, O_NONBLOCK);
    auto s = Session(n);
    s->ExchangeSocket(platform::net::Socket::Adopt(sv[0]));
    s->socket_number.store(sv[0]);
    s->connected.store(1);
    peer_of_[n] = sv[1];
    peers_.push_back(sv[1]);
    return n;
  }
  std::shared_ptr<sessions::ServerSession> Session(int n) const { return sessions::WindowTable::Get().Session(n); }
  int Channel(const std::string& name, int srv = -1) {
    return MakeWindow(name, sessions::kChannelWindow, srv < 0 ? server : srv);
  }

  // As the dispatcher: the numeric-still-to-show flag from show-numerics, then the handler.
  static constexpr int kThis = -1000;  // "the fixture's server window"
  bool Numeric(const std::string& line, int srv = kThis) {
    if (srv == kThis) srv = server;
    ParsedLine pl;
    ParseLine(line + "\r\n", &pl);
    if (auto s = Session(srv)) s->numeric_pending.store(s->show_numerics.load());
    bool r = pl.kind == ParsedLine::kNumeric && pl.numeric > 0 ? HandleNumeric(srv, pl) : false;
    Pump();
    return r;
  }
  bool Stage(const std::string& line, int srv = kThis) {
    if (srv == kThis) srv = server;
    ParsedLine pl;
    pl.raw[0] = pl.raw[1] = pl.raw[2] = line + "\r\n";
    bool r = RegistrationStage(srv, pl);
    Pump();
    return r;
  }
  // Runs what was posted to the user-interface thread.
  void Pump() {
    for (int i = 0; i < 3; ++i) platform::UiLoop::Get().RunOnce(0);
  }

  // Lines the client sent on server window n since the last call, without line ends. Lines the
  // flood control queued are released by its timer meanwhile: this waits until nothing more came
  // for a while.
  std::vector<std::string> Sent(int srv = kThis) {
    int fd = peer_of_[srv == kThis ? server : srv];
    char buf[65536];
    for (int quiet = 0; quiet < 10;) {
      long got = ::read(fd, buf, sizeof buf);
      if (got > 0) {
        pending_[fd].append(buf, static_cast<size_t>(got));
        quiet = 0;
      } else {
        platform::UiLoop::Get().RunOnce(5);
        ++quiet;
      }
    }
    std::vector<std::string> out;
    std::string& p = pending_[fd];
    for (size_t e; (e = p.find("\r\n")) != std::string::npos; p.erase(0, e + 2)) out.push_back(p.substr(0, e));
    return out;
  }
  // The texts shown in the window named `window` (all windows when empty), in order.
  std::vector<std::string> Texts(const std::string& window = "") const {
    std::vector<std::string> out;
    for (auto& l : fe->lines())
      if (window.empty() || l.window_name == window) out.push_back(l.text);
    return out;
  }

  int server = -1;

 private:
  std::map<int, int> peer_of_;
  std::map<int, std::string> pending_;
  std::vector<int> peers_;
};

}  // namespace vanta::dispatch::test
