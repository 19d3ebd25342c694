#include "ui/completion.h"

namespace vanta::ui {

namespace {
constexpr std::string_view kPrefixes = ".@%+~&!";

std::string_view Bare(std::string_view entry) {
  while (!entry.empty() && kPrefixes.find(entry.front()) != std::string_view::npos) entry.remove_prefix(1);
  return entry;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}
}  // namespace

std::vector<std::string> CompletionCandidates(const std::vector<std::string>& nick_list) {
  std::vector<std::string> out;
  out.reserve(nick_list.size());
  for (const auto& e : nick_list) {
    std::string_view bare = Bare(e);
    if (!bare.empty()) out.emplace_back(bare);
  }
  return out;
}

bool NickCompleter::Complete(LineEditor& ed, const std::vector<std::string>& candidates,
                             std::string_view start_suffix, std::string_view text_suffix) {
  const bool cycling = active_ && ed.text() == line_after_ && !matches_.empty();
  if (!cycling) {
    active_ = false;
    word_start_ = ed.WordStart();
    word_ = ed.text().substr(word_start_, ed.cursor() - word_start_);
    if (word_.empty()) return false;
    matches_.clear();
    for (const auto& c : candidates) {
      std::string_view bare = Bare(c);
      if (!bare.empty() && StartsWithNoCase(bare, word_)) matches_.emplace_back(bare);
    }
    if (matches_.empty()) return false;
    index_ = 0;
  } else {
    index_ = (index_ + 1) % matches_.size();
  }
  std::string suffix(word_start_ == 0 ? start_suffix : text_suffix);
  if (suffix.empty()) suffix = " ";
  // Rebuild the line: before the word, the match and its suffix, then what followed the cursor.
  const std::string& text = ed.text();
  std::string after = text.substr(ed.cursor());
  std::string line = text.substr(0, word_start_) + matches_[index_] + suffix;
  const std::size_t cursor = line.size();
  line += after;
  ed.Set(line);
  // Put the cursor after the suffix.
  ed.SetCursor(cursor);
  line_after_ = ed.text();
  active_ = true;
  return true;
}

}  // namespace vanta::ui
