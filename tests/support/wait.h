// Bounded waiting and the simple line patterns the test harness matches against.
#pragma once

#include <chrono>
#include <string_view>
#include <thread>

namespace vanta::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Polls `pred` until it returns true or `timeout` has passed. Returns the last result,
// so a condition that becomes true exactly at the deadline still counts.
template <class Pred>
bool wait_until(Pred&& pred, Ms timeout, Ms step = Ms(5)) {
  const auto deadline = Clock::now() + timeout;
  while (!pred()) {
    if (Clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(step);
  }
  return true;
}

// Milliseconds left until `deadline`, 0 once it has passed.
inline int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// The command word of an IRC line, skipping a ":prefix"; `rest` (optional) gets what follows it.
inline std::string_view command_of(std::string_view line, std::string_view* rest = nullptr) {
  if (!line.empty() && line[0] == ':') {
    size_t sp = line.find(' ');
    line = sp == std::string_view::npos ? std::string_view{} : line.substr(sp + 1);
  }
  size_t sp = line.find(' ');
  std::string_view cmd = line.substr(0, sp);
  if (rest) *rest = sp == std::string_view::npos ? std::string_view{} : line.substr(sp + 1);
  return cmd;
}

// Matches `text` against `pattern`, where "*" stands for any run of bytes (also none)
// and every other byte stands for itself. A pattern without "*" is an exact comparison.
inline bool line_matches(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      // Let the last "*" swallow one more byte and try again from there.
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace vanta::test
