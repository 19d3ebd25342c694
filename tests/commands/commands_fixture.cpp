#include "commands_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include "commands/execute_line.h"
#include "config/options.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sessions/window_table.h"

namespace vanta::commands {

using sessions::WindowTable;

void CommandsTest::SetUp() {
  CoreTest::SetUp();
  SetPref("MoreOptions", "FloodDelay", "0");
  config::ResetOptionsToDefaults();
  GetCommandHooks() = CommandHooks{};
  SetInputLock(false);
  GetCommandHooks().channel_members = [this](int window) {
    auto slot = WindowTable::Get().Slot(window);
    auto it = slot ? members_.find(slot->Name()) : members_.end();
    return it == members_.end() ? std::vector<std::string>{} : it->second;
  };
  server = MakeServerWindow("irc.test", 6667, "me");
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  auto session = WindowTable::Get().Session(server);
  session->ExchangeSocket(platform::net::Socket::Adopt(sv[0]));
  session->connected.store(1);
  wire_ = sv[1];
  fcntl(wire_, F_SETFL, O_NONBLOCK);
  channel = MakeWindow("#chan", sessions::kChannelWindow, server);
  query = MakeWindow("bob", sessions::kQueryWindow, server);
  Settle();
  Sent();  // the channel's MODE request
  received_.clear();
}

void CommandsTest::TearDown() {
  Settle();
  CoreTest::TearDown();
  GetCommandHooks() = CommandHooks{};
  SetInputLock(false);
  if (wire_ >= 0) close(wire_);
  for (int fd : peers) close(fd);
}

void CommandsTest::Settle() {
  // Alias threads end; lines the flood control held back leave with its timer.
  PumpUntil(
      [this] {
        if (platform::RunningThreads() != 0) return false;
        auto s = WindowTable::Get().Session(server);
        if (!s) return true;
        std::lock_guard lock(s->send_mutex);
        return s->send_queue.empty() && !s->send_queue_active;
      },
      5000);
}

void CommandsTest::Type(int window, const std::string& line, bool literally) {
  TypeInput(window, line, literally);
  Settle();
}

std::string CommandsTest::SentBytes() {
  char buf[65536];
  for (;;) {
    const ssize_t n = read(wire_, buf, sizeof buf);
    if (n <= 0) break;
    received_.append(buf, static_cast<std::size_t>(n));
  }
  return received_;
}

std::vector<std::string> CommandsTest::Sent() {
  const std::string bytes = SentBytes();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(bytes.substr(start, pos - start));
  return lines;
}

int CommandsTest::AttachDcc(int window) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  auto slot = WindowTable::Get().Slot(window);
  slot->ExchangeDccSocket(platform::net::Socket::Adopt(sv[0]));
  slot->active.store(1);
  fcntl(sv[1], F_SETFL, O_NONBLOCK);
  peers.push_back(sv[1]);
  return sv[1];
}

void CommandsTest::SetMembers(const std::string& channel_name, std::vector<std::string> entries) {
  members_[channel_name] = std::move(entries);
}

}  // namespace vanta::commands
