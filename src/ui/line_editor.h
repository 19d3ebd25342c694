// The input line: editing of one line of UTF-8 text (a byte that is not part of a valid sequence is
// a character of its own) and the history of lines typed in a window.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace vanta::ui {

class LineEditor {
 public:
  // The line keeps at most this many bytes; typing beyond it is ignored.
  static constexpr std::size_t kMaxBytes = 10000;

  const std::string& text() const { return text_; }
  std::size_t cursor() const { return cursor_; }  // byte offset, always at a character boundary
  // Replaces the text; the cursor goes to its end.
  void Set(std::string_view text);
  void Clear() { Set({}); }
  // Moves the cursor to a byte offset (clamped, and moved back to the start of its character).
  void SetCursor(std::size_t pos);

  // Inserts at the cursor (line ends and other control bytes below 32 are kept as typed: the
  // caller decides what may be inserted). Returns false when the text would be cut.
  bool Insert(std::string_view text);
  void Left();
  void Right();
  void Home() { cursor_ = 0; }
  void End() { cursor_ = text_.size(); }
  void WordLeft();
  void WordRight();
  void Backspace();
  void Delete();
  // Ctrl+K, Ctrl+U, Ctrl+W (the word before the cursor and the blanks after it), Alt+D (the word
  // after the cursor). The removed text goes to the kill buffer.
  void KillToEnd();
  void KillToStart();
  void DeleteWordBack();
  void DeleteWordForward();
  // Ctrl+Y: inserts the kill buffer.
  void Yank() { Insert(kill_); }

  // The word before the cursor, as completion sees it: [start, cursor).
  std::size_t WordStart() const;

  // Horizontal scrolling for a field of `width` cells: the byte offset of the first visible
  // character, chosen so the cursor stays visible (kept from the last call where possible).
  std::size_t VisibleStart(int width);

 private:
  std::size_t PrevChar(std::size_t pos) const;
  std::size_t NextChar(std::size_t pos) const;

  std::string text_;
  std::size_t cursor_ = 0;
  std::size_t view_start_ = 0;
  std::string kill_;
};

// Lines typed in one window, newest last. Browsing keeps the line being written: Older saves it on
// the first step and Newer gives it back after the newest entry.
class InputHistory {
 public:
  static constexpr std::size_t kMaxEntries = 200;

  // A line was entered: empty lines and a repeat of the newest entry are not kept; browsing ends.
  void Add(std::string_view line);
  // One step back (Up): the entry to show, or false at the oldest entry (nothing changes).
  bool Older(std::string_view current, std::string* out);
  // One step forward (Down): the next newer entry, then the saved line; false when not browsing.
  bool Newer(std::string* out);
  void Reset() { pos_ = entries_.size(); }
  std::size_t size() const { return entries_.size(); }

 private:
  std::deque<std::string> entries_;
  std::size_t pos_ = 0;  // entries_.size() = not browsing
  std::string draft_;
};

}  // namespace vanta::ui
