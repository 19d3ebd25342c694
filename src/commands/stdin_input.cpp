#include "commands/stdin_input.h"

#include <unistd.h>

#include <cerrno>

#include "commands/execute_line.h"
#include "platform/ui_loop.h"
#include "sessions/window_table.h"

namespace vanta::commands {

namespace {
void Type(std::string_view line) { TypeInput(sessions::WindowTable::Get().Active(), line); }
}  // namespace

void TypedInput::Start() {
  platform::UiLoop::Get().Watch(fd_, [this] { OnReadable(); });
}

void TypedInput::OnReadable() {
  char buf[4096];
  const ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    Finish();
    return;
  }
  Feed(std::string_view(buf, static_cast<std::size_t>(n)));
}

void TypedInput::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::size_t start = 0;
  for (std::size_t pos; (pos = pending_.find('\n', start)) != std::string::npos; start = pos + 1)
    Type(std::string_view(pending_).substr(start, pos - start));
  pending_.erase(0, start);
  // A line without an end in sight is typed in pieces rather than kept growing.
  while (pending_.size() >= kMaxPending) {
    Type(std::string_view(pending_).substr(0, kMaxPending));
    pending_.erase(0, kMaxPending);
  }
}

void TypedInput::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!pending_.empty()) Type(pending_);
  pending_.clear();
  auto& loop = platform::UiLoop::Get();
  loop.Unwatch(fd_);
  loop.Quit(0);
}

}  // namespace vanta::commands
