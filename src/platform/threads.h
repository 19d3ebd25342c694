// Worker threads. Every thread the program starts carries a role name ("ServerThread", "DCCThread",
// "AliasFormatInput" ...) and registers its id under it in section "ids" of "dyn/thread.ini".
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vanta::platform {

// Stack sizes: the smallest the program asks for, and the one for threads that run scripts.
inline constexpr std::size_t kSmallStack = 256 * 1024;
inline constexpr std::size_t kScriptStack = 1024 * 1024;
inline constexpr std::size_t kDefaultStack = 8 * 1024 * 1024;

// The calling thread's id as the program writes it (the kernel thread id).
unsigned long CurrentThreadId();

// Writes key = this thread's id, value = role into section "ids" of "dyn/thread.ini".
void RegisterThread(std::string_view role);

// A started thread. The thread runs detached; the handle only observes it.
class ThreadHandle {
 public:
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  unsigned long id() const { return id_.load(std::memory_order_acquire); }
  // Waits up to timeout_ms for the thread to end; true when it has.
  bool JoinFor(int timeout_ms) const;

 private:
  friend std::shared_ptr<ThreadHandle> StartThread(std::string, std::size_t, std::function<void()>);
  std::atomic<bool> finished_{false};
  std::atomic<unsigned long> id_{0};
};

// Starts fn on a new thread with the given role and stack size (raised to kSmallStack at least).
// The role is registered in the thread registry before fn runs. Returns nullptr when no thread could
// be started.
std::shared_ptr<ThreadHandle> StartThread(std::string role, std::size_t stack, std::function<void()> fn);

// Number of threads started with StartThread that are still running.
int RunningThreads();
// Waits up to timeout_ms until every such thread has ended; true when they all have.
bool WaitForThreads(int timeout_ms);

}  // namespace vanta::platform
