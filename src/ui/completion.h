// Tab completion of nicks in the input line.
//
// The word before the cursor is completed to the first candidate that starts with it (ASCII case
// ignored, status prefixes such as "@" and "+" of nick-list entries skipped); pressing Tab again
// right away replaces it by the next candidate, in the order given, wrapping around. The completed
// nick is followed by the start suffix when the word began the line, else by the text suffix; an
// empty suffix stands for a single space.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ui/line_editor.h"

namespace vanta::ui {

class NickCompleter {
 public:
  // Completes or cycles; false when nothing matched (the line is unchanged).
  bool Complete(LineEditor& editor, const std::vector<std::string>& candidates, std::string_view start_suffix,
                std::string_view text_suffix);
  // Any key other than Tab ends a completion cycle.
  void Reset() { active_ = false; }

 private:
  bool active_ = false;
  std::string word_;               // what the user typed
  std::size_t word_start_ = 0;     // byte offset of the completed word
  std::vector<std::string> matches_;
  std::size_t index_ = 0;
  std::string line_after_;         // the line as the last completion left it
};

// The candidates of a window: the bare nicks of a nick list (status prefixes removed), with the
// query partner for query windows.
std::vector<std::string> CompletionCandidates(const std::vector<std::string>& nick_list);

}  // namespace vanta::ui
