// A front end that records what the program shows, for tests.
#pragma once
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/frontend.h"

namespace vanta::test {

struct ShownLine {
  int window = -1;
  uint64_t window_id = 0;
  std::string window_name;
  std::string text;  // formatting codes removed
  uint32_t colour = 0;
};

class RecordingFrontEnd : public ui::FrontEnd {
 public:
  void LineAppended(const ui::WindowInfo& w, std::string_view plain, uint32_t colour) override;
  bool CreateWindow(const ui::WindowInfo& w) override;
  void DestroyWindow(const ui::WindowInfo& w) override;
  void ActivateWindow(const ui::WindowInfo& w) override;
  void TrayNotify(std::string_view title, std::string_view text, int seconds) override;
  void OpenDocument(std::string_view path) override;
  bool AskYesNo(std::string_view title, std::string_view text, bool default_answer) override;
  std::optional<std::string> AskText(std::string_view title, std::string_view prompt, std::string_view initial,
                                     bool password) override;
  bool MainFrameVisible() const override { return main_frame_visible; }

  std::vector<ShownLine> lines() const;
  std::vector<std::string> created() const;
  std::vector<std::string> destroyed() const;
  std::vector<std::string> documents() const;
  void Clear();

  // Settings for a test.
  bool fail_create = false;
  bool main_frame_visible = true;
  std::deque<bool> yes_no_answers;                    // consumed in order; empty = the default
  std::deque<std::optional<std::string>> text_answers;  // consumed in order; empty = cancel

 private:
  mutable std::mutex mutex_;
  std::vector<ShownLine> lines_;
  std::vector<std::string> created_, destroyed_, documents_, tray_;
};

}  // namespace vanta::test
