// The user-interface thread's event loop: posted requests, synchronous requests, window timers and
// file-descriptor watches. Every thread may post or call into it; handlers always run on the UI thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace vanta::platform {

// Timer targets: 0 is the main window; any other value is a window's stable id (it survives renumbering).
inline constexpr uint64_t kMainWindowTarget = 0;

class UiLoop {
 public:
  static UiLoop& Get();

  // Makes the calling thread the user-interface thread (start-up, test fixtures) and clears the
  // stopped state left by an earlier Run.
  void BindToCurrentThread();
  bool OnUiThread() const;

  // Queues fn to run on the UI thread (FIFO). Dropped once the loop has stopped.
  void Post(std::function<void()> fn);

  // Runs fn on the UI thread and waits until it has run. Inline when called on the UI thread.
  // Returns false (fn not run) when the loop has stopped or stops while the caller waits.
  bool CallSync(std::function<void()> fn);

  // Repeating timer keyed by (target, number); setting an existing timer restarts it with the new period.
  // It fires once more than period_ms have passed since it was set (or last fired).
  void SetTimer(uint64_t target, int number, uint32_t period_ms, std::function<void()> handler);
  void KillTimer(uint64_t target, int number);
  void KillTimers(uint64_t target);
  bool TimerActive(uint64_t target, int number) const;

  // Calls on_ready on the UI thread whenever fd is readable (or hung up).
  void Watch(int fd, std::function<void()> on_ready);
  void Unwatch(int fd);

  // Runs until Quit (also one requested before Run); returns the code given to Quit. Afterwards the
  // loop is stopped: waiting and later synchronous calls fail at once.
  int Run();
  void Quit(int code = 0);
  bool stopped() const { return stopped_.load(std::memory_order_acquire); }

  // One round: synchronous requests, posted requests, due timers and ready descriptors, waiting at most
  // timeout_ms for something to happen. For tests and nested loops.
  void RunOnce(int timeout_ms);

  // A blocking wait on the UI thread that keeps serving synchronous requests (so a worker blocked in a
  // synchronous call never deadlocks against it). Returns pred() at the end.
  bool PumpUntil(const std::function<bool()>& pred, int timeout_ms);

  // Test support: drops every queued request, timer and watch and clears the stopped state.
  void Reset();

 private:
  UiLoop();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> stopped_{false};
};

}  // namespace vanta::platform
