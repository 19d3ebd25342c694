#include "ui/key_decoder.h"

#include "ui/term_text.h"

namespace vanta::ui {

namespace {
constexpr std::string_view kPasteEnd = "\x1b[201~";
constexpr std::size_t kMaxSequence = 64;  // longer escape sequences are dropped

InputEvent KeyEvent(KeyCode code, uint8_t mods = 0) {
  InputEvent e;
  e.key.code = code;
  e.key.mods = mods;
  return e;
}

InputEvent CharEvent(char32_t ch, std::string_view text, uint8_t mods = 0) {
  InputEvent e;
  e.key.code = KeyCode::Char;
  e.key.ch = ch;
  e.key.mods = mods;
  if (!(mods & kModCtrl)) e.key.text.assign(text);
  return e;
}

// Parameters of a CSI sequence: numbers separated by ';' (missing ones are 0; sub-parameters after
// ':' are ignored).
std::vector<int> Params(std::string_view s) {
  std::vector<int> out{0};
  bool sub = false;
  for (char c : s) {
    if (c == ';') {
      out.push_back(0);
      sub = false;
    } else if (c == ':') {
      sub = true;
    } else if (c >= '0' && c <= '9' && !sub) {
      if (out.back() < 100000) out.back() = out.back() * 10 + (c - '0');
    }
  }
  return out;
}

uint8_t ModsOf(const std::vector<int>& p, std::size_t index) {
  if (p.size() <= index || p[index] < 2) return 0;
  const int m = p[index] - 1;
  uint8_t mods = 0;
  if (m & 1) mods |= kModShift;
  if (m & (2 | 8)) mods |= kModAlt;
  if (m & 4) mods |= kModCtrl;
  return mods;
}

KeyCode TildeKey(int n) {
  switch (n) {
    case 1: case 7: return KeyCode::Home;
    case 4: case 8: return KeyCode::End;
    case 2: return KeyCode::Insert;
    case 3: return KeyCode::Delete;
    case 5: return KeyCode::PageUp;
    case 6: return KeyCode::PageDown;
    case 11: return KeyCode::F1;
    case 12: return KeyCode::F2;
    case 13: return KeyCode::F3;
    case 14: return KeyCode::F4;
    case 15: return KeyCode::F5;
    case 17: return KeyCode::F6;
    case 18: return KeyCode::F7;
    case 19: return KeyCode::F8;
    case 20: return KeyCode::F9;
    case 21: return KeyCode::F10;
    case 23: return KeyCode::F11;
    case 24: return KeyCode::F12;
    default: return KeyCode::None;
  }
}

KeyCode LetterKey(char f) {
  switch (f) {
    case 'A': return KeyCode::Up;
    case 'B': return KeyCode::Down;
    case 'C': return KeyCode::Right;
    case 'D': return KeyCode::Left;
    case 'H': return KeyCode::Home;
    case 'F': return KeyCode::End;
    case 'P': return KeyCode::F1;
    case 'Q': return KeyCode::F2;
    case 'R': return KeyCode::F3;
    case 'S': return KeyCode::F4;
    case 'M': return KeyCode::Enter;  // keypad Enter (SS3 M)
    default: return KeyCode::None;
  }
}

std::size_t Utf8Length(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 1;
}
}  // namespace

std::size_t KeyDecoder::DecodeOne(std::string_view s, bool final, std::vector<InputEvent>& out) {
  const auto b = static_cast<unsigned char>(s[0]);
  if (b == 0x1B) {
    if (s.size() == 1) {
      if (!final) return 0;
      out.push_back(KeyEvent(KeyCode::Escape));
      return 1;
    }
    const char c = s[1];
    if (c == '[') {
      std::size_t j = 2;
      while (j < s.size() && j < kMaxSequence && !(s[j] >= 0x40 && s[j] <= 0x7E)) ++j;
      if (j >= kMaxSequence) return j;  // runaway sequence: dropped
      if (j >= s.size()) return final ? s.size() : 0;
      const std::string_view body = s.substr(2, j - 2);
      const char f = s[j];
      const auto p = Params(body);
      if (f == '~') {
        if (p[0] == 200) {
          in_paste_ = true;
          paste_.clear();
        } else if (KeyCode k = TildeKey(p[0]); k != KeyCode::None) {
          out.push_back(KeyEvent(k, ModsOf(p, 1)));
        }
      } else if (f == 'Z') {
        out.push_back(KeyEvent(KeyCode::Tab, kModShift));
      } else if (f == 'u') {
        const uint8_t mods = ModsOf(p, 1);
        const int code = p[0];
        if (code == 13) out.push_back(KeyEvent(KeyCode::Enter, mods));
        else if (code == 9) out.push_back(KeyEvent(KeyCode::Tab, mods));
        else if (code == 127) out.push_back(KeyEvent(KeyCode::Backspace, mods));
        else if (code == 27) out.push_back(KeyEvent(KeyCode::Escape, mods));
        else if (code > 32 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
          std::string text;
          AppendUtf8(text, static_cast<char32_t>(code));
          char32_t ch = static_cast<char32_t>(code);
          if ((mods & kModCtrl) && ch >= 'A' && ch <= 'Z') ch += 'a' - 'A';
          out.push_back(CharEvent(ch, text, mods));
        }
      } else if (body.find_first_of("<>=?") == std::string_view::npos) {
        if (KeyCode k = LetterKey(f); k != KeyCode::None && k != KeyCode::Enter)
          out.push_back(KeyEvent(k, ModsOf(p, 1)));
      }
      return j + 1;
    }
    if (c == 'O') {
      if (s.size() < 3) {
        if (!final) return 0;
        out.push_back(CharEvent('O', "O", kModAlt));
        return 2;
      }
      if (KeyCode k = LetterKey(s[2]); k != KeyCode::None) out.push_back(KeyEvent(k));
      return 3;
    }
    // ESC before a key: that key with Alt.
    std::vector<InputEvent> inner;
    const bool was_paste = in_paste_;
    const std::size_t n = DecodeOne(s.substr(1), final, inner);
    if (n == 0) return 0;
    if (in_paste_ != was_paste) return n + 1;  // ESC ESC [200~: the paste starts
    for (auto& e : inner) {
      if (e.kind == InputEvent::kKey) e.key.mods |= kModAlt;
      out.push_back(std::move(e));
    }
    return n + 1;
  }
  if (b == '\r' || b == '\n') {
    out.push_back(KeyEvent(KeyCode::Enter));
    return 1;
  }
  if (b == '\t') {
    out.push_back(KeyEvent(KeyCode::Tab));
    return 1;
  }
  if (b == 0x7F || b == 0x08) {
    out.push_back(KeyEvent(KeyCode::Backspace));
    return 1;
  }
  if (b == 0) {
    out.push_back(CharEvent(' ', "", kModCtrl));
    return 1;
  }
  if (b < 0x1B) {
    out.push_back(CharEvent(U'a' + (b - 1), "", kModCtrl));
    return 1;
  }
  if (b < 0x20) {
    static constexpr char kCtrl[4] = {'\\', ']', '^', '_'};
    out.push_back(CharEvent(static_cast<char32_t>(kCtrl[b - 0x1C]), "", kModCtrl));
    return 1;
  }
  if (b < 0x80) {
    out.push_back(CharEvent(b, s.substr(0, 1)));
    return 1;
  }
  // A UTF-8 sequence, or a byte of its own.
  const std::size_t len = Utf8Length(b);
  std::size_t have = 1;
  while (have < len && have < s.size() && (static_cast<unsigned char>(s[have]) & 0xC0) == 0x80) ++have;
  if (have < len && have == s.size() && !final) return 0;
  if (have == len && len > 1) {
    const auto glyphs = DecodeGlyphs(s.substr(0, len));
    if (glyphs.size() == 1) {
      out.push_back(CharEvent(glyphs[0].code, s.substr(0, len)));
      return len;
    }
  }
  out.push_back(CharEvent(b, s.substr(0, 1)));
  return 1;
}

std::size_t KeyDecoder::DecodePaste(std::string_view s, std::vector<InputEvent>& out) {
  auto keep = [&](std::string_view part) {
    if (paste_.size() < kMaxPaste) paste_.append(part.substr(0, kMaxPaste - paste_.size()));
  };
  const std::size_t end = s.find(kPasteEnd);
  if (end == std::string_view::npos) {
    // Hold back what could be the start of the end marker.
    std::size_t hold = 0;
    for (std::size_t k = std::min(s.size(), kPasteEnd.size() - 1); k > 0; --k)
      if (s.substr(s.size() - k) == kPasteEnd.substr(0, k)) {
        hold = k;
        break;
      }
    keep(s.substr(0, s.size() - hold));
    return s.size() - hold;
  }
  keep(s.substr(0, end));
  InputEvent e;
  e.kind = InputEvent::kPaste;
  e.paste.swap(paste_);
  out.push_back(std::move(e));
  in_paste_ = false;
  return end + kPasteEnd.size();
}

void KeyDecoder::Feed(std::string_view bytes, std::vector<InputEvent>& out) {
  pending_.append(bytes);
  std::size_t pos = 0;
  while (pos < pending_.size()) {
    const std::string_view rest = std::string_view(pending_).substr(pos);
    const std::size_t n = in_paste_ ? DecodePaste(rest, out) : DecodeOne(rest, false, out);
    if (n == 0) break;
    pos += n;
  }
  pending_.erase(0, pos);
}

void KeyDecoder::Flush(std::vector<InputEvent>& out) {
  if (in_paste_) return;  // a paste ends only with its end marker
  std::size_t pos = 0;
  while (pos < pending_.size()) {
    const std::string_view rest = std::string_view(pending_).substr(pos);
    const std::size_t n = in_paste_ ? DecodePaste(rest, out) : DecodeOne(rest, true, out);
    if (n == 0) break;
    pos += n;
  }
  pending_.erase(0, pos);
}

std::string KeyName(const Key& key) {
  std::string name;
  uint8_t mods = key.mods;
  std::string base;
  switch (key.code) {
    case KeyCode::Char: {
      char32_t ch = key.ch;
      if (ch >= 'A' && ch <= 'Z') {
        mods |= kModShift;
      } else if (ch >= 'a' && ch <= 'z') {
        ch -= 'a' - 'A';
      }
      if (ch == ' ') base = "Space";
      else AppendUtf8(base, ch);
      break;
    }
    case KeyCode::Enter: base = "Enter"; break;
    case KeyCode::Tab: base = "Tab"; break;
    case KeyCode::Backspace: base = "Backspace"; break;
    case KeyCode::Delete: base = "Delete"; break;
    case KeyCode::Insert: base = "Insert"; break;
    case KeyCode::Escape: base = "Escape"; break;
    case KeyCode::Up: base = "Up"; break;
    case KeyCode::Down: base = "Down"; break;
    case KeyCode::Left: base = "Left"; break;
    case KeyCode::Right: base = "Right"; break;
    case KeyCode::Home: base = "Home"; break;
    case KeyCode::End: base = "End"; break;
    case KeyCode::PageUp: base = "PageUp"; break;
    case KeyCode::PageDown: base = "PageDown"; break;
    default:
      if (key.code >= KeyCode::F1 && key.code <= KeyCode::F12)
        base = "F" + std::to_string(static_cast<int>(key.code) - static_cast<int>(KeyCode::F1) + 1);
      break;
  }
  if (base.empty()) return {};
  if (mods & kModCtrl) name += "Ctrl+";
  if (mods & kModAlt) name += "Alt+";
  if (mods & kModShift) name += "Shift+";
  return name + base;
}

std::vector<std::string> SplitPasteLines(std::string_view text) {
  std::vector<std::string> lines{std::string()};
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

}  // namespace vanta::ui
