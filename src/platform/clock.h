// Time sources. Everything that needs the tick counter or the local time asks here, so tests can
// substitute a fake clock.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>

namespace vanta::platform {

// Milliseconds of a monotonic clock, truncated to 32 bits (wraps after about 49.7 days).
uint32_t Ticks();

// Local calendar time with milliseconds.
struct LocalTime {
  std::tm tm{};
  int millis = 0;
};
LocalTime Local();

// Test hooks: replace the sources (nullptr restores the real ones).
void SetTickSource(std::function<uint32_t()> source);
void SetLocalTimeSource(std::function<LocalTime()> source);

// A manually advanced clock for tests; installs itself as the tick source while alive.
class FakeClock {
 public:
  explicit FakeClock(uint32_t start = 1000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void Advance(uint32_t ms);
  void Set(uint32_t ticks);
  uint32_t now() const;

 private:
  struct State;
  State* state_;
};

}  // namespace vanta::platform
