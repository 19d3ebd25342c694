#include "ui/frontend.h"

#include <unistd.h>

#include <atomic>

namespace vanta::ui {

namespace {
class HeadlessFrontEnd final : public FrontEnd {
 public:
  bool headless() const override { return true; }
  bool MainFrameVisible() const override { return false; }
};

class StdioFrontEnd final : public FrontEnd {
 public:
  explicit StdioFrontEnd(int fd) : fd_(fd) {}
  void LineAppended(const WindowInfo& w, std::string_view plain, uint32_t) override {
    std::string line;
    line.reserve(w.name.size() + plain.size() + 2);
    line += w.name;
    line += '\t';
    for (char c : plain)
      if (c != '\r' && c != '\n') line += c;
    line += '\n';
    WriteAll(line);
  }
  void MessageBox(std::string_view title, std::string_view text) override {
    std::string line = std::string(title) + ": " + std::string(text) + "\n";
    WriteAll(line);
  }
  void Beep() override { WriteAll("\a"); }

 private:
  void WriteAll(std::string_view s) {
    while (!s.empty()) {
      ssize_t n = write(fd_, s.data(), s.size());
      if (n <= 0) return;
      s.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  int fd_;
};

std::unique_ptr<FrontEnd>& Slot() {
  static std::unique_ptr<FrontEnd> fe = std::make_unique<HeadlessFrontEnd>();
  return fe;
}
std::atomic<bool> g_headless{true};
}  // namespace

FrontEnd& Current() { return *Slot(); }

std::unique_ptr<FrontEnd> Install(std::unique_ptr<FrontEnd> fe) {
  if (!fe) fe = std::make_unique<HeadlessFrontEnd>();
  g_headless.store(fe->headless(), std::memory_order_release);
  std::swap(Slot(), fe);
  return fe;
}

bool Headless() { return g_headless.load(std::memory_order_acquire); }

std::unique_ptr<FrontEnd> MakeHeadless() { return std::make_unique<HeadlessFrontEnd>(); }
std::unique_ptr<FrontEnd> MakeStdio(int out_fd) { return std::make_unique<StdioFrontEnd>(out_fd); }

}  // namespace vanta::ui
