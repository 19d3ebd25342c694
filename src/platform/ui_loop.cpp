#include "platform/ui_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace vanta::platform {

namespace {
struct SyncRequest {
  std::function<void()> fn;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  bool ran = false;
};

struct Timer {
  uint32_t period = 0;
  uint32_t due = 0;
  uint64_t generation = 0;
  std::shared_ptr<std::function<void()>> handler;
};

// Signed distance from a to b in wrapping 32-bit ticks.
int32_t TickDiff(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from); }
}  // namespace

struct UiLoop::Impl {
  mutable std::mutex mutex;
  std::deque<SyncRequest*> sync_queue;  // each lives on its waiting caller's stack
  std::deque<std::function<void()>> posted;
  std::map<std::pair<uint64_t, int>, Timer> timers;
  std::map<int, std::shared_ptr<std::function<void()>>> watches;
  uint64_t timer_generation = 0;
  std::atomic<std::thread::id> ui_thread{};
  int wake_fd = -1;
  bool quit_requested = false;
  int quit_code = 0;

  Impl() { wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
  ~Impl() {
    if (wake_fd >= 0) close(wake_fd);
  }

  void Wake() {
    uint64_t one = 1;
    ssize_t r = write(wake_fd, &one, sizeof one);
    (void)r;
  }
  void DrainWake() {
    uint64_t v;
    while (read(wake_fd, &v, sizeof v) > 0) {
    }
  }

  static void Complete(SyncRequest* req, bool ran) {
    std::lock_guard lock(req->m);
    req->done = true;
    req->ran = ran;
    req->cv.notify_all();
  }

  // Serves every synchronous request queued so far. Returns true when it ran any.
  bool ServeSync() {
    bool any = false;
    for (;;) {
      SyncRequest* req;
      {
        std::lock_guard lock(mutex);
        if (sync_queue.empty()) break;
        req = sync_queue.front();
        sync_queue.pop_front();
      }
      req->fn();
      Complete(req, true);
      any = true;
    }
    return any;
  }

  bool ServePosted() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(posted);
    }
    for (auto& fn : batch) {
      fn();
      ServeSync();  // a long batch must not starve waiting workers
    }
    return !batch.empty();
  }

  bool ServeTimers() {
    bool any = false;
    const uint32_t now = Ticks();
    std::vector<std::pair<std::pair<uint64_t, int>, uint64_t>> due;
    {
      std::lock_guard lock(mutex);
      // A timer fires once strictly more than its period has passed, never at the very tick it is due:
      // code that compares "last time + period >= now" must see the period as over.
      for (auto& [key, t] : timers)
        if (TickDiff(t.due, now) > 0) due.push_back({key, t.generation});
    }
    for (auto& [key, gen] : due) {
      std::shared_ptr<std::function<void()>> handler;
      {
        std::lock_guard lock(mutex);
        auto it = timers.find(key);
        if (it == timers.end() || it->second.generation != gen) continue;  // killed or restarted meanwhile
        it->second.due = now + std::max<uint32_t>(it->second.period, 1);
        handler = it->second.handler;
      }
      (*handler)();
      any = true;
    }
    return any;
  }

  int NextTimerTimeout(int cap) const {
    std::lock_guard lock(mutex);
    if (timers.empty()) return cap;
    const uint32_t now = Ticks();
    int best = cap;
    for (auto& [key, t] : timers) {
      int32_t d = TickDiff(now, t.due) + 1;
      int ms = d < 0 ? 0 : static_cast<int>(d);
      if (best < 0 || ms < best) best = ms;
    }
    return best;
  }
};

UiLoop::UiLoop() : impl_(std::make_unique<Impl>()) {}

UiLoop& UiLoop::Get() {
  static UiLoop* loop = new UiLoop();  // never destroyed: workers may still call it during exit
  return *loop;
}

void UiLoop::BindToCurrentThread() {
  impl_->ui_thread.store(std::this_thread::get_id());
  stopped_.store(false, std::memory_order_release);
  std::lock_guard lock(impl_->mutex);
  impl_->quit_requested = false;
}

bool UiLoop::OnUiThread() const { return impl_->ui_thread.load() == std::this_thread::get_id(); }

void UiLoop::Post(std::function<void()> fn) {
  if (stopped()) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->posted.push_back(std::move(fn));
  }
  impl_->Wake();
}

bool UiLoop::CallSync(std::function<void()> fn) {
  if (OnUiThread()) {
    fn();
    return true;
  }
  if (stopped()) return false;
  // The request lives on this stack frame: the caller waits until the UI thread has completed it,
  // so no allocation is needed per call.
  SyncRequest req;
  req.fn = std::move(fn);
  {
    std::lock_guard lock(impl_->mutex);
    // Checked under the queue lock: Run drains the queue under the same lock after setting stopped_.
    if (stopped()) return false;
    impl_->sync_queue.push_back(&req);
  }
  impl_->Wake();
  std::unique_lock lock(req.m);
  req.cv.wait(lock, [&] { return req.done; });
  return req.ran;
}

void UiLoop::SetTimer(uint64_t target, int number, uint32_t period_ms, std::function<void()> handler) {
  {
    std::lock_guard lock(impl_->mutex);
    Timer& t = impl_->timers[{target, number}];
    t.period = period_ms;
    t.due = Ticks() + period_ms;
    t.generation = ++impl_->timer_generation;
    t.handler = std::make_shared<std::function<void()>>(std::move(handler));
  }
  impl_->Wake();
}

void UiLoop::KillTimer(uint64_t target, int number) {
  std::lock_guard lock(impl_->mutex);
  impl_->timers.erase({target, number});
}

void UiLoop::KillTimers(uint64_t target) {
  std::lock_guard lock(impl_->mutex);
  auto& timers = impl_->timers;
  for (auto it = timers.lower_bound({target, INT32_MIN}); it != timers.end() && it->first.first == target;)
    it = timers.erase(it);
}

bool UiLoop::TimerActive(uint64_t target, int number) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->timers.count({target, number}) != 0;
}

void UiLoop::Watch(int fd, std::function<void()> on_ready) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->watches[fd] = std::make_shared<std::function<void()>>(std::move(on_ready));
  }
  impl_->Wake();
}

void UiLoop::Unwatch(int fd) {
  std::lock_guard lock(impl_->mutex);
  impl_->watches.erase(fd);
}

void UiLoop::RunOnce(int timeout_ms) {
  bool worked = impl_->ServeSync();
  worked |= impl_->ServePosted();
  worked |= impl_->ServeTimers();

  std::vector<pollfd> fds;
  fds.push_back({impl_->wake_fd, POLLIN, 0});
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& [fd, fn] : impl_->watches) fds.push_back({fd, POLLIN, 0});
    if (!impl_->sync_queue.empty() || !impl_->posted.empty()) worked = true;
  }
  int wait = worked ? 0 : impl_->NextTimerTimeout(timeout_ms);
  if (timeout_ms >= 0 && (wait < 0 || wait > timeout_ms)) wait = timeout_ms;
  int n = poll(fds.data(), fds.size(), wait);
  if (n <= 0) return;
  if (fds[0].revents) impl_->DrainWake();
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    std::shared_ptr<std::function<void()>> fn;
    {
      std::lock_guard lock(impl_->mutex);
      auto it = impl_->watches.find(fds[i].fd);
      if (it != impl_->watches.end()) fn = it->second;
    }
    if (fn) (*fn)();
  }
}

int UiLoop::Run() {
  // The running thread is the UI thread. A Quit that came before Run still counts.
  impl_->ui_thread.store(std::this_thread::get_id());
  stopped_.store(false, std::memory_order_release);
  for (;;) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->quit_requested) break;
    }
    RunOnce(1000);
  }
  // Stop: requests still queued, and every later one, fail at once.
  std::deque<SyncRequest*> pending;
  {
    std::lock_guard lock(impl_->mutex);
    stopped_.store(true, std::memory_order_release);
    pending.swap(impl_->sync_queue);
    impl_->posted.clear();
  }
  for (auto& req : pending) Impl::Complete(req, false);
  std::lock_guard lock(impl_->mutex);
  return impl_->quit_code;
}

void UiLoop::Quit(int code) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->quit_requested = true;
    impl_->quit_code = code;
  }
  impl_->Wake();
}

bool UiLoop::PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  const uint32_t start = Ticks();
  bool drained = false;
  while (!pred()) {
    if (timeout_ms >= 0 && TickDiff(start, Ticks()) >= timeout_ms) break;
    if (!OnUiThread()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    impl_->ServeSync();
    pollfd p{impl_->wake_fd, POLLIN, 0};
    if (poll(&p, 1, 5) > 0) {
      impl_->DrainWake();
      drained = true;
    }
  }
  // Posted requests and timers that arrived meanwhile stay queued: make the outer loop look again.
  if (drained) impl_->Wake();
  return pred();
}

void UiLoop::Reset() {
  std::deque<SyncRequest*> pending;
  {
    std::lock_guard lock(impl_->mutex);
    pending.swap(impl_->sync_queue);
    impl_->posted.clear();
    impl_->timers.clear();
    impl_->watches.clear();
    impl_->quit_requested = false;
  }
  for (auto& req : pending) Impl::Complete(req, false);
  stopped_.store(false, std::memory_order_release);
}

}  // namespace vanta::platform
