#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>
#include <poll.h>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/ui_loop.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::sessions {
namespace {

// Everything that can be read from fd right now, without waiting.
std::string ReadAvailable(int fd) {
  std::string out;
  char buf[4096];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 0) > 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// A server window whose connection is one end of a socket pair; the test reads the other end.
class SendQueueTest : public test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    clock = std::make_unique<platform::FakeClock>(100000);
    SetPref("MoreOptions", "FloodDelay", "500");
    win = MakeServerWindow("srv", 1);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peer = fds[1];
    WindowTable::Get().Session(win)->ExchangeSocket(platform::net::Socket::Adopt(fds[0]));
  }
  void TearDown() override {
    close(peer);
    clock.reset();
    CoreTest::TearDown();
  }
  // Everything written so far (without waiting).
  std::string Received() { return ReadAvailable(peer); }
  // Advances the fake clock and lets due timers fire.
  void Advance(uint32_t ms) {
    clock->Advance(ms);
    platform::UiLoop::Get().RunOnce(0);
  }
  std::unique_ptr<platform::FakeClock> clock;
  int win = -1;
  int peer = -1;
};

TEST_F(SendQueueTest, ThreeLinesLeaveOneDelayApart) {
  SendToServer("A\r\nB\r\nC\r\n", win);
  EXPECT_EQ(Received(), "A\r\n");
  Advance(500);
  EXPECT_EQ(Received(), "");
  Advance(1);  // the timer fires just after the delay
  EXPECT_EQ(Received(), "B\r\n");
  Advance(500);
  EXPECT_EQ(Received(), "");
  Advance(1);
  EXPECT_EQ(Received(), "C\r\n");
}

TEST_F(SendQueueTest, SecondCallSoonAfterIsQueued) {
  SendToServer("ONE\r\n", win);
  Advance(10);
  EXPECT_EQ(SendToServer("TWO\r\n", win), -1);
  EXPECT_EQ(Received(), "ONE\r\n");
  Advance(490);
  EXPECT_EQ(Received(), "");
  Advance(1);  // just over 500 ms after the first line
  EXPECT_EQ(Received(), "TWO\r\n");
}

TEST_F(SendQueueTest, IdleAfterDrainSendsAtOnce) {
  SendToServer("A\r\nB\r\n", win);
  Advance(501);
  EXPECT_EQ(Received(), "A\r\nB\r\n");
  Advance(501);  // the timer finds the queue empty once more and resets the send time
  EXPECT_FALSE(platform::UiLoop::Get().TimerActive(WindowTable::Get().Slot(win)->id, kFloodTimer));
  EXPECT_GT(SendToServer("C\r\n", win), 0);
  EXPECT_EQ(Received(), "C\r\n");
}

TEST_F(SendQueueTest, TextWithoutLineEndIsWrittenUnchanged) {
  EXPECT_EQ(SendToServer("PRIVMSG x :no end", win), 17);
  EXPECT_EQ(Received(), "PRIVMSG x :no end");
}

TEST_F(SendQueueTest, WriteErrorDiscardsQueue) {
  SendToServer("A\r\nB\r\nC\r\n", win);
  EXPECT_EQ(Received(), "A\r\n");
  close(peer);
  peer = -1;
  Advance(501);  // the write of B fails: B and C are dropped
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  peer = fds[1];
  WindowTable::Get().Session(win)->ExchangeSocket(platform::net::Socket::Adopt(fds[0]));
  EXPECT_GT(SendToServer("D\r\n", win), 0);  // written at once
  Advance(2000);
  EXPECT_EQ(Received(), "D\r\n");
}

TEST_F(SendQueueTest, InvalidWindowSendsNothing) {
  EXPECT_EQ(SendToServer("X\r\n", 57), -1);
  EXPECT_EQ(SendToServer("X\r\n", -1), -1);
}

TEST_F(SendQueueTest, OverfullQueueRefusesWholeText) {
  SendToServer("FIRST\r\n", win);
  std::string big;
  while (big.size() < 9000) big += "PRIVMSG #c :" + std::string(80, 'x') + "\r\n";
  EXPECT_EQ(SendToServer(big, win), -1);  // queued
  const int before = QueueOverflows();
  EXPECT_EQ(SendToServer(big, win), 0);   // does not fit: refused whole
  EXPECT_EQ(QueueOverflows(), before + 1);
  // What was queued drains line by line and nothing of the refused text appears.
  std::string all = Received();
  for (int i = 0; i < 200; ++i) {
    Advance(501);
    all += Received();
  }
  EXPECT_EQ(all, "FIRST\r\n" + big);
}

TEST_F(SendQueueTest, ConcurrentSendersNeverInterleave) {
  SetPref("MoreOptions", "FloodDelay", "0");
  clock.reset();  // real time: the flood delay of 0 still queues lines sent within one millisecond
  std::vector<std::thread> threads;  // 4 x 15 lines of 115 bytes fit the queue at once
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 15; ++i) SendToServer("PRIVMSG #t :" + std::to_string(t) + std::string(100, 'a' + t) + "\r\n", win);
    });
  }
  std::string all;
  PumpUntil([&] {
    all += Received();
    return std::count(all.begin(), all.end(), '\n') >= 60;
  }, 20000);
  for (auto& th : threads) th.join();
  all += Received();
  ASSERT_EQ(std::count(all.begin(), all.end(), '\n'), 60);
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = all.substr(pos, end - pos);
    ASSERT_EQ(line.size(), 13u + 100u) << line;
    char c = line.back();
    EXPECT_EQ(line.find_first_not_of(c, 13), std::string::npos) << line;
    pos = end + 2;
  }
}

class HeadlessSendTest : public SendQueueTest {
 protected:
  HeadlessSendTest() { headless = true; }
};

TEST_F(HeadlessSendTest, NothingIsDelayed) {
  SendToServer("A\r\nB\r\nC\r\n", win);
  EXPECT_EQ(Received(), "A\r\nB\r\nC\r\n");
  SendToServer("D\r\n", win);
  EXPECT_EQ(Received(), "D\r\n");
}

}  // namespace
}  // namespace vanta::sessions

namespace vanta::sessions {
namespace {

class SendToDccTest : public test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    win = MakeWindow("peer", kDccWindow, -1);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peer = fds[1];
    slot = WindowTable::Get().Slot(win);
    slot->ExchangeDccSocket(platform::net::Socket::Adopt(fds[0]));
    slot->active.store(1);
  }
  void TearDown() override {
    if (peer >= 0) close(peer);
    CoreTest::TearDown();
  }
  std::string Drain() { return ReadAvailable(peer); }
  int win = -1;
  int peer = -1;
  std::shared_ptr<WindowSlot> slot;
};

TEST_F(SendToDccTest, TextLengthUnlessRawOrSecure) {
  const char data[] = {'h', 'i', '\0', 'x', 'y'};
  EXPECT_EQ(SendToDcc(win, data, sizeof data), 2);  // text mode stops at the NUL
  EXPECT_EQ(Drain(), "hi");
  slot->raw_mode.store(1);
  EXPECT_EQ(SendToDcc(win, data, sizeof data), 5);  // raw mode sends every byte
  EXPECT_EQ(Drain(), std::string(data, sizeof data));
}

TEST_F(SendToDccTest, WriteErrorClosesTheConnection) {
  close(peer);
  peer = -1;
  EXPECT_EQ(SendToDcc(win, "lost", 4), 0);
  EXPECT_EQ(slot->dcc_socket_number.load(), 0);
  EXPECT_FALSE(slot->active.load());
  EXPECT_EQ(SendToDcc(win, "again", 5), 0);  // no socket any more: nothing loops
  EXPECT_EQ(SendToDcc(999, "x", 1), 0);
}

}  // namespace
}  // namespace vanta::sessions
