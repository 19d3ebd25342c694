#include "platform/clock.h"

#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace vanta::platform {

namespace {
std::mutex g_source_mutex;
std::shared_ptr<std::function<uint32_t()>> g_tick_source;
std::shared_ptr<std::function<LocalTime()>> g_local_source;
std::atomic<bool> g_has_tick_source{false};
std::atomic<bool> g_has_local_source{false};

uint32_t RealTicks() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

uint32_t Ticks() {
  if (!g_has_tick_source.load(std::memory_order_acquire)) return RealTicks();
  std::shared_ptr<std::function<uint32_t()>> src;
  {
    std::lock_guard lock(g_source_mutex);
    src = g_tick_source;
  }
  return src ? (*src)() : RealTicks();
}

LocalTime Local() {
  if (g_has_local_source.load(std::memory_order_acquire)) {
    std::shared_ptr<std::function<LocalTime()>> src;
    {
      std::lock_guard lock(g_source_mutex);
      src = g_local_source;
    }
    if (src) return (*src)();
  }
  LocalTime out;
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  localtime_r(&t, &out.tm);
  out.millis = static_cast<int>(tv.tv_usec / 1000);
  return out;
}

void SetTickSource(std::function<uint32_t()> source) {
  std::lock_guard lock(g_source_mutex);
  g_tick_source = source ? std::make_shared<std::function<uint32_t()>>(std::move(source)) : nullptr;
  g_has_tick_source.store(g_tick_source != nullptr, std::memory_order_release);
}

void SetLocalTimeSource(std::function<LocalTime()> source) {
  std::lock_guard lock(g_source_mutex);
  g_local_source = source ? std::make_shared<std::function<LocalTime()>>(std::move(source)) : nullptr;
  g_has_local_source.store(g_local_source != nullptr, std::memory_order_release);
}

struct FakeClock::State {
  std::atomic<uint32_t> ticks;
};

FakeClock::FakeClock(uint32_t start) : state_(new State{{start}}) {
  State* s = state_;
  SetTickSource([s] { return s->ticks.load(); });
}

FakeClock::~FakeClock() {
  SetTickSource(nullptr);
  delete state_;
}

void FakeClock::Advance(uint32_t ms) { state_->ticks.fetch_add(ms); }
void FakeClock::Set(uint32_t ticks) { state_->ticks.store(ticks); }
uint32_t FakeClock::now() const { return state_->ticks.load(); }

}  // namespace vanta::platform
