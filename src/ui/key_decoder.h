// Terminal input: the bytes a terminal sends decoded into keys and pastes.
//
// Understood: UTF-8 text (a byte that is not part of a valid sequence is a character of its own),
// control keys, ESC-prefixed keys as Alt, the CSI and SS3 sequences of xterm-like terminals (arrows,
// Home, End, Insert, Delete, PageUp, PageDown, F1-F12, with their modifier parameter), and bracketed
// paste (ESC [200~ ... ESC [201~).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::ui {

enum class KeyCode : uint8_t {
  None, Char, Enter, Tab, Backspace, Delete, Insert, Escape,
  Up, Down, Left, Right, Home, End, PageUp, PageDown,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
};

enum KeyMod : uint8_t { kModShift = 1, kModAlt = 2, kModCtrl = 4 };

struct Key {
  KeyCode code = KeyCode::None;
  uint8_t mods = 0;   // KeyMod bits
  char32_t ch = 0;    // Char: the character (Ctrl+letter: the lower-case letter with kModCtrl)
  std::string text;   // Char without Ctrl: the bytes to insert
  bool operator==(const Key&) const = default;
};

struct InputEvent {
  enum Kind : uint8_t { kKey, kPaste } kind = kKey;
  Key key;
  std::string paste;  // kPaste: the pasted bytes as sent
};

class KeyDecoder {
 public:
  // A paste keeps at most this many bytes; the rest of an overlong paste is dropped.
  static constexpr std::size_t kMaxPaste = 1 << 20;

  // Decodes bytes; complete events are appended to out. An incomplete sequence at the end is kept
  // for the next call.
  void Feed(std::string_view bytes, std::vector<InputEvent>& out);
  // True when bytes of an unfinished key are held (a lone ESC, part of a sequence or character).
  // The caller flushes them when nothing follows within a short time.
  bool Pending() const { return !pending_.empty() && !in_paste_; }
  bool InPaste() const { return in_paste_; }
  // Ends what is held: a lone ESC becomes Escape, ESC and one character Alt+character, part of a
  // character its bytes; part of an escape sequence is dropped.
  void Flush(std::vector<InputEvent>& out);

 private:
  // Decodes one event at pending_[0]; returns the bytes used, 0 when more bytes are needed.
  std::size_t DecodeOne(std::string_view s, bool final, std::vector<InputEvent>& out);
  std::size_t DecodePaste(std::string_view s, std::vector<InputEvent>& out);

  std::string pending_;
  bool in_paste_ = false;
  std::string paste_;
};

// Canonical name of a key for the accelerator tables: "Ctrl+Alt+Shift+" in that order before
// "A".."Z", "0".."9", a punctuation character, "Enter", "Tab", "Backspace", "Delete", "Insert",
// "Escape", "Up", "Down", "Left", "Right", "Home", "End", "PageUp", "PageDown", "F1".."F12" or
// "Space". Empty for keys without a name.
std::string KeyName(const Key& key);

// The lines of a paste: CR LF, a lone LF and a lone CR each end a line. When the text does not end
// with a line end, the last element is the unfinished rest (possibly empty when it does).
std::vector<std::string> SplitPasteLines(std::string_view text);

}  // namespace vanta::ui
