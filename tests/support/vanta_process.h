// The vanta program as a child process with pipes on its standard input and output, for
// tests that drive it as a user would (usually with --ui=stdio, where every line shown in a
// window is printed as "window<TAB>text" and each input line is typed into the active window).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vanta::test {

class VantaProcess {
 public:
  // Runs $VANTA_BIN/vanta (or the vanta next to the test program) with args, VANTA_HOME set to
  // home, and standard output and error on one pipe.
  VantaProcess(const std::vector<std::string>& args, const std::string& home);
  ~VantaProcess();
  VantaProcess(const VantaProcess&) = delete;
  VantaProcess& operator=(const VantaProcess&) = delete;

  // Reads output until it contains needle or the time is up.
  bool WaitOutput(const std::string& needle, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads output until needle appears after position from; returns where it starts, or npos.
  std::size_t WaitOutputFrom(std::size_t from, const std::string& needle,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Writes text to its standard input as it stands (add the "\n" yourself).
  void Type(const std::string& text);
  void CloseInput();
  void Signal(int sig);
  // Exit status (128 + signal number when killed), or -1 when it did not end in time.
  int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  const std::string& output() const { return output_; }
  bool started() const { return pid_ > 0; }

 private:
  // Appends whatever arrives within timeout; false at end of output.
  bool ReadSome(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  bool reaped_ = false;
  bool eof_ = false;
  std::string output_;
};

}  // namespace vanta::test
