// The text view of a window: an in-memory model of styled runs that every front end renders.
//
// Positions and lengths count characters: a UTF-8 sequence is one character, a byte that is not
// part of a valid sequence is one character, a line end (CR LF, a lone CR or a lone LF, stored as
// "\n") is one character and a picture or object placeholder is one character.
//
// The model is changed on the user-interface thread only. Every member function takes the view's
// own lock, so other threads may read it (Runs, PlainText, Length ...) at any time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanta::output {

enum class Underline : uint8_t { None, Single, Dotted, Double };

// The character format of a run (and of the caret).
struct CharFormat {
  static constexpr int16_t kDefaultHeight = 10;  // points

  uint32_t colour = 0;              // 0x00BBGGRR
  uint32_t background = 0xFFFFFF;   // 0x00BBGGRR; ignored when no_background is set
  bool no_background = false;       // draw no background (a background picture shows through)
  bool bold = false;
  bool italic = false;
  bool strikeout = false;
  bool link = false;
  Underline underline = Underline::None;
  int16_t height = kDefaultHeight;  // points
  uint16_t font = 0;                // index into the view's font table; 0 is the default font

  bool operator==(const CharFormat&) const = default;
};

// A font of the view's font table.
struct FontSpec {
  std::string face;           // empty: the view's default face
  uint8_t charset = 1;        // 1 = the default character set
  uint8_t pitch_family = 0;
  bool operator==(const FontSpec&) const = default;
};

enum class RunKind : uint8_t { Text, Picture, Object };

// A run as handed out to readers.
struct StyledRun {
  RunKind kind = RunKind::Text;
  CharFormat format;
  std::string text;  // text runs: the text ("\n" for line ends); placeholders: their visible label
  int number = 0;    // pictures: the picture number
};

class TextView {
 public:
  TextView();
  TextView(const TextView&) = delete;
  TextView& operator=(const TextView&) = delete;

  // Length in characters.
  std::size_t Length() const;

  // Selection [start, end), clamped to the text; start > end is swapped. The caret moves to end.
  void SetSelection(std::size_t start, std::size_t end);
  std::pair<std::size_t, std::size_t> Selection() const;
  // Replaces the selection with text in the caret's format; the caret ends after it, the selection
  // becomes empty there.
  void ReplaceSelection(std::string_view text);
  // Deletes [start, end) (select and replace with nothing).
  void DeleteRange(std::size_t start, std::size_t end);

  // The caret (an empty selection) and its format.
  std::size_t Caret() const;
  void SetCaret(std::size_t pos);
  void CaretToEnd();
  void SetCaretFormat(const CharFormat& format);
  CharFormat CaretFormat() const;

  // Insert at the caret in the caret's format (a selection is replaced); the caret moves after the
  // inserted text. UTF-16 text is stored as UTF-8.
  void InsertText(std::string_view text);
  void InsertUtf16(std::u16string_view text);
  // Placeholders: one character each, shown by their label.
  void InsertPicture(int number, std::string_view label);
  void InsertObject(std::string_view name);
  // True when the character at pos is a picture or object placeholder.
  bool IsObjectAt(std::size_t pos) const;

  // Font table: index 0 is the default font. AddFont returns the index of an equal font when there
  // is one. The table holds at most kMaxFonts entries; beyond that the default font is returned.
  static constexpr std::size_t kMaxFonts = 256;
  uint16_t AddFont(const FontSpec& font);
  FontSpec Font(uint16_t index) const;

  // Automatic URL detection.
  void SetAutoUrlDetect(bool on);
  bool AutoUrlDetect() const;

  // Scrolling. The front end reports whether the user has scrolled the view away from its end (false
  // also when everything fits the page); ScrollToCaret brings the caret into view.
  void SetScrolledAway(bool away);
  bool ScrolledAway() const;
  void ScrollToCaret();
  uint64_t ScrollCount() const;  // how often ScrollToCaret ran (front ends redraw on change)

  // Reading.
  std::vector<StyledRun> Runs() const;
  std::string PlainText() const;
  // Calls fn for every run under the view's lock (no copies); fn must not call back into the view.
  void ForEachRun(const std::function<void(RunKind, const CharFormat&, std::string_view text)>& fn) const;
  std::size_t RunCount() const;
  // Bytes held by the model's buffers (capacity, not just content).
  std::size_t MemoryBytes() const;
  // Bumps on every change.
  uint64_t Generation() const;

  void Clear();

 private:
  struct Run {
    uint32_t offset;  // into buffer_
    uint32_t bytes;
    uint32_t chars;
    int32_t number;
    RunKind kind;
    CharFormat format;
  };

  std::size_t FindRunLocked(std::size_t pos, std::size_t* run_start) const;
  std::size_t SplitAtLocked(std::size_t pos);
  void DeleteLocked(std::size_t start, std::size_t end);
  void DropSelectionLocked();
  void InsertLocked(std::size_t offset, std::size_t chars, RunKind kind, int number);
  void InsertTextLocked(std::string_view text);
  void CompactLocked();
  std::string_view RunText(const Run& r) const {
    return std::string_view(buffer_).substr(r.offset, r.bytes);
  }

  mutable std::mutex mutex_;
  std::string buffer_;  // run bytes; runs point into it (not necessarily in order)
  std::string spare_;   // the other half of the compaction ping-pong (keeps its capacity)
  std::vector<Run> runs_;  // live runs are runs_[head_..]
  std::size_t head_ = 0;
  std::size_t length_ = 0;      // characters
  std::size_t live_bytes_ = 0;  // bytes referenced by runs
  std::size_t caret_ = 0;
  std::size_t sel_start_ = 0, sel_end_ = 0;
  CharFormat caret_format_;
  std::vector<FontSpec> fonts_;
  bool auto_url_ = true;
  bool scrolled_away_ = false;
  uint64_t scroll_count_ = 0;
  uint64_t generation_ = 0;
};

// Characters in a byte string as the view counts them (line ends not folded).
std::size_t CountChars(std::string_view text);
// Byte offset of character `chars` in text (text.size() when past the end).
std::size_t ByteOffsetOfChar(std::string_view text, std::size_t chars);

}  // namespace vanta::output
