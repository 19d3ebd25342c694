#include "support/recording_frontend.h"

namespace vanta::test {

void RecordingFrontEnd::LineAppended(const ui::WindowInfo& w, std::string_view plain, uint32_t colour) {
  std::lock_guard lock(mutex_);
  lines_.push_back(ShownLine{w.number, w.id, w.name, std::string(plain), colour});
}

bool RecordingFrontEnd::CreateWindow(const ui::WindowInfo& w) {
  if (fail_create) return false;
  std::lock_guard lock(mutex_);
  created_.push_back(w.name);
  return true;
}

void RecordingFrontEnd::DestroyWindow(const ui::WindowInfo& w) {
  std::lock_guard lock(mutex_);
  destroyed_.push_back(w.name);
}

void RecordingFrontEnd::ActivateWindow(const ui::WindowInfo&) {}

void RecordingFrontEnd::TrayNotify(std::string_view title, std::string_view text, int) {
  std::lock_guard lock(mutex_);
  tray_.push_back(std::string(title) + ": " + std::string(text));
}

void RecordingFrontEnd::OpenDocument(std::string_view path) {
  std::lock_guard lock(mutex_);
  documents_.emplace_back(path);
}

bool RecordingFrontEnd::AskYesNo(std::string_view, std::string_view, bool default_answer) {
  std::lock_guard lock(mutex_);
  if (yes_no_answers.empty()) return default_answer;
  bool a = yes_no_answers.front();
  yes_no_answers.pop_front();
  return a;
}

std::optional<std::string> RecordingFrontEnd::AskText(std::string_view, std::string_view, std::string_view, bool) {
  std::lock_guard lock(mutex_);
  if (text_answers.empty()) return std::nullopt;
  auto a = text_answers.front();
  text_answers.pop_front();
  return a;
}

std::vector<ShownLine> RecordingFrontEnd::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}
std::vector<std::string> RecordingFrontEnd::created() const {
  std::lock_guard lock(mutex_);
  return created_;
}
std::vector<std::string> RecordingFrontEnd::destroyed() const {
  std::lock_guard lock(mutex_);
  return destroyed_;
}
std::vector<std::string> RecordingFrontEnd::documents() const {
  std::lock_guard lock(mutex_);
  return documents_;
}
void RecordingFrontEnd::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  created_.clear();
  destroyed_.clear();
  documents_.clear();
  tray_.clear();
}

}  // namespace vanta::test
