// Typed input of the line-oriented front end: each line read from a descriptor (standard input)
// is typed into the active window. The end of the input ends the program.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace vanta::commands {

class TypedInput {
 public:
  // A line longer than this without a line end is typed in pieces of this size.
  static constexpr std::size_t kMaxPending = 65536;

  explicit TypedInput(int fd = 0) : fd_(fd) {}
  // Watches the descriptor on the user-interface loop.
  void Start();
  // The descriptor is readable (user-interface thread).
  void OnReadable();
  // Bytes read: complete lines are typed into the active window, the rest is kept.
  void Feed(std::string_view bytes);
  // End of input: what is left is typed, the watch ends and the loop is asked to quit.
  void Finish();

 private:
  int fd_;
  std::string pending_;
  bool finished_ = false;
};

}  // namespace vanta::commands
