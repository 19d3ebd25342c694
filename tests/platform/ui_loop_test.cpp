#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/ui_loop.h"

namespace vanta::platform {
namespace {

class UiLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.Reset();
    loop.BindToCurrentThread();
  }
  void TearDown() override { loop.Reset(); }
  UiLoop& loop = UiLoop::Get();
};

TEST_F(UiLoopTest, PostedRequestsRunInOrder) {
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) loop.Post([&, i] { order.push_back(i); });
  loop.RunOnce(0);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(UiLoopTest, SyncCallRunsOnUiThreadAndInlineThere) {
  bool inline_ran = false;
  EXPECT_TRUE(loop.CallSync([&] { inline_ran = true; }));
  EXPECT_TRUE(inline_ran);

  std::atomic<bool> done{false};
  std::thread::id ran_on;
  std::thread worker([&] {
    loop.CallSync([&] { ran_on = std::this_thread::get_id(); });
    done = true;
  });
  while (!done) loop.RunOnce(10);
  worker.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST_F(UiLoopTest, SyncCallsFailOnceStopped) {
  std::atomic<int> result{-1};
  loop.Post([&] { loop.Quit(7); });
  std::thread late([&] {
    while (!loop.stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    result = loop.CallSync([] {}) ? 1 : 0;
  });
  EXPECT_EQ(loop.Run(), 7);
  late.join();
  EXPECT_EQ(result.load(), 0);
}

TEST_F(UiLoopTest, WaitingWorkersAreReleasedWhenTheLoopStops) {
  std::atomic<int> results{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 3; ++i)
    workers.emplace_back([&] {
      if (!loop.CallSync([] {})) results.fetch_add(1);
    });
  // Quit before serving anything: queued requests must fail, not hang.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  loop.Quit(0);
  loop.Run();
  for (auto& w : workers) w.join();
  EXPECT_LE(results.load(), 3);  // each either ran or failed, none hung
}

TEST_F(UiLoopTest, TimersByTargetAndNumber) {
  FakeClock clock(1000);
  int a = 0, b = 0;
  loop.SetTimer(5, 107, 500, [&] { ++a; });
  loop.SetTimer(6, 107, 200, [&] { ++b; });
  loop.RunOnce(0);
  EXPECT_EQ(a + b, 0);
  clock.Advance(200);
  loop.RunOnce(0);
  EXPECT_EQ(b, 0);  // due, but a timer fires only once its period is over
  clock.Advance(1);
  loop.RunOnce(0);
  EXPECT_EQ(b, 1);
  clock.Advance(300);
  loop.RunOnce(0);
  EXPECT_EQ(a, 1);
  loop.KillTimers(6);
  EXPECT_FALSE(loop.TimerActive(6, 107));
  EXPECT_TRUE(loop.TimerActive(5, 107));
  // A handler that stops its own timer runs once.
  loop.SetTimer(5, 101, 100, [&] {
    ++a;
    loop.KillTimer(5, 101);
  });
  clock.Advance(1000);
  loop.RunOnce(0);
  clock.Advance(1000);
  loop.RunOnce(0);
  EXPECT_EQ(a, 4);  // 107 fired twice more, 101 once
}

TEST_F(UiLoopTest, TimersSurviveTickWrap) {
  FakeClock clock(0xFFFFFF00u);
  int fired = 0;
  loop.SetTimer(1, 1, 0x200, [&] { ++fired; });
  clock.Advance(0x100);  // wrapped past zero, not yet due
  loop.RunOnce(0);
  EXPECT_EQ(fired, 0);
  clock.Advance(0x101);
  loop.RunOnce(0);
  EXPECT_EQ(fired, 1);
}

TEST_F(UiLoopTest, PumpingWaitServesSynchronousRequests) {
  // The UI thread waits for a worker that itself needs the UI thread: no deadlock.
  std::atomic<bool> worker_done{false};
  std::thread worker([&] {
    loop.CallSync([] {});
    worker_done = true;
  });
  EXPECT_TRUE(loop.PumpUntil([&] { return worker_done.load(); }, 5000));
  worker.join();
}

}  // namespace
}  // namespace vanta::platform
