#include "platform/threads.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ini.h"

namespace vanta::platform {

namespace {
// The count of running threads outlives every thread: detached threads may still be finishing while
// the process exits, so these are never destroyed.
struct RunningCount {
  std::mutex mutex;
  std::condition_variable cv;
  int running = 0;
};
RunningCount& Count() {
  static RunningCount* count = new RunningCount();
  return *count;
}

struct StartArgs {
  std::string role;
  std::function<void()> fn;
  std::shared_ptr<ThreadHandle> handle;
};
}  // namespace

unsigned long CurrentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

void RegisterThread(std::string_view role) {
  ini::WriteString("dyn/thread.ini", "ids", std::to_string(CurrentThreadId()), role);
}

bool ThreadHandle::JoinFor(int timeout_ms) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!finished()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::shared_ptr<ThreadHandle> StartThread(std::string role, std::size_t stack, std::function<void()> fn) {
  auto handle = std::shared_ptr<ThreadHandle>(new ThreadHandle());
  auto* args = new StartArgs{std::move(role), std::move(fn), handle};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, stack < kSmallStack ? kSmallStack : stack);
  {
    std::lock_guard lock(Count().mutex);
    ++Count().running;
  }
  pthread_t tid;
  int rc = pthread_create(
      &tid, &attr,
      [](void* p) -> void* {
        std::unique_ptr<StartArgs> a(static_cast<StartArgs*>(p));
        a->handle->id_.store(CurrentThreadId(), std::memory_order_release);
        RegisterThread(a->role);
        a->fn();
        a->fn = nullptr;  // release captured state before the thread counts as finished
        a->handle->finished_.store(true, std::memory_order_release);
        {
          std::lock_guard lock(Count().mutex);
          --Count().running;
          Count().cv.notify_all();
        }
        return nullptr;
      },
      args);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete args;
    std::lock_guard lock(Count().mutex);
    --Count().running;
    return nullptr;
  }
  return handle;
}

int RunningThreads() {
  std::lock_guard lock(Count().mutex);
  return Count().running;
}

bool WaitForThreads(int timeout_ms) {
  std::unique_lock lock(Count().mutex);
  return Count().cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] { return Count().running == 0; });
}

}  // namespace vanta::platform
