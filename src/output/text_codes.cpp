#include "output/text_codes.h"

#include <algorithm>

#include "output/strip_codes.h"

namespace vanta::output {

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

constexpr uint32_t kPalette[16] = {
    Rgb(0xFF, 0xFF, 0xFF), Rgb(0x00, 0x00, 0x00), Rgb(0x00, 0x00, 0x80), Rgb(0x00, 0x80, 0x00),
    Rgb(0xFF, 0x00, 0x00), Rgb(0x80, 0x00, 0x00), Rgb(0x80, 0x00, 0x80), Rgb(0xFF, 0x80, 0x00),
    Rgb(0xFF, 0xFF, 0x00), Rgb(0x00, 0xFF, 0x00), Rgb(0x00, 0x80, 0x80), Rgb(0x00, 0xFF, 0xFF),
    Rgb(0x00, 0x00, 0xFF), Rgb(0xFF, 0x00, 0xFF), Rgb(0x80, 0x80, 0x80), Rgb(0xC0, 0xC0, 0xC0),
};

// A text run is flushed once it holds this many bytes.
constexpr std::size_t kRunLimit = 10000;
constexpr std::size_t npos = std::string_view::npos;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

const char* const kIgnoreKeys[kIgnoreKeyCount] = {"IgB0", "IgI0", "IgU0", "IgS0", "IgK0", "IgG0", "IgD0",
                                                  "IgY0", "IgE0", "IgT0", "IgQ0", "IgO0", "IgL0", "IgR0"};

uint32_t PaletteColour(int index) { return kPalette[((index % 16) + 16) % 16]; }

CharFormat ToCharFormat(const LineFormat& f) {
  CharFormat c;
  c.colour = f.colour & 0xFFFFFF;
  c.background = f.background & 0xFFFFFF;
  c.no_background = f.no_background;
  c.bold = f.bold;
  c.italic = f.italic;
  c.strikeout = f.strikeout;
  c.link = f.link;
  c.underline = f.underline;
  c.height = f.height;
  c.font = f.font;
  return c;
}

bool DecodeFontData(std::string_view data, FontSpec* font) {
  // Pairs of characters give one byte each: "0" then the byte plus 32, "1" then anything for 255,
  // any other first character stands for the second character itself.
  unsigned char rec[60] = {};
  std::size_t n = 0;
  for (std::size_t i = 0; i < data.size() && n < sizeof rec; i += 2) {
    const char a = data[i];
    const char b = i + 1 < data.size() ? data[i + 1] : '\0';
    if (a == '0') rec[n++] = static_cast<unsigned char>(static_cast<unsigned char>(b) - 32);
    else if (a == '1') rec[n++] = 255;
    else rec[n++] = static_cast<unsigned char>(b);
  }
  // Layout: five 32-bit integers, eight bytes (italic ... pitch and family), a 32-byte face name.
  if (n <= 28) return false;
  std::string face;
  for (std::size_t i = 28; i < n && rec[i] != 0; ++i)
    if (rec[i] >= 0x20) face.push_back(static_cast<char>(rec[i]));
  if (face.empty()) return false;
  font->face = std::move(face);
  font->charset = rec[23];
  font->pitch_family = rec[27];
  return true;
}

class LineWalker {
 public:
  LineWalker(TextView& view, std::string_view line, LineFormat& fmt, const WalkOptions& opt,
             const MarkupHandler* markup)
      : view_(view), line_(line), fmt_(fmt), opt_(opt), markup_(markup && *markup ? markup : nullptr) {}

  void Run() {
    const std::size_t n = line_.size();
    std::size_t i = 0;
    while (i < n) {
      const auto c = static_cast<unsigned char>(line_[i]);
      if (c >= 0x20 || c == '\r' || c == '\n') {
        if (run_begin_ == npos) run_begin_ = i;
        ++i;
        while (i < n && i - run_begin_ < kRunLimit) {
          const auto d = static_cast<unsigned char>(line_[i]);
          if (d < 0x20 && d != '\r' && d != '\n') break;
          ++i;
        }
        if (i - run_begin_ >= kRunLimit) Flush(i);
        continue;
      }
      Flush(i);
      pos_ = i;
      const std::size_t next = Code(i);
      i = std::min(std::max(next, i + 1), n);
    }
    if (run_begin_ != npos) {
      Flush(n);
      Reset(false);
    }
    if (fmt_.font_created) {
      fmt_.font = 0;
      ApplyFormat();
    }
  }

  void Insert(std::string_view text, std::size_t at) {
    if (text.empty()) return;
    ApplyFormat();
    view_.InsertText(text);
    if (opt_.plain) {
      if (at >= opt_.plain_from) opt_.plain->append(text);
      else if (at + text.size() > opt_.plain_from) opt_.plain->append(text.substr(opt_.plain_from - at));
    }
    if (opt_.at_bottom) view_.ScrollToCaret();
  }
  std::size_t pos() const { return pos_; }

 private:
  bool Ignored(uint32_t bit) const { return (opt_.ignore & bit) != 0; }

  void ApplyFormat() {
    const CharFormat cf = ToCharFormat(fmt_);
    if (!applied_valid_ || !(cf == applied_)) {
      view_.SetCaretFormat(cf);
      applied_ = cf;
      applied_valid_ = true;
    }
  }

  void Flush(std::size_t end) {
    if (run_begin_ == npos) return;
    const std::size_t b = run_begin_;
    run_begin_ = npos;
    Insert(line_.substr(b, end - b), b);
  }

  // 0x0F and a bare 0x03.
  void Reset(bool bare_colour) {
    if (fmt_.colour_changed || fmt_.background_changed) {
      fmt_.colour = opt_.reset_colour;
      fmt_.background = opt_.reset_background;
    }
    if (fmt_.font_switch || opt_.mode != 0) {
      if (fmt_.size_changed) fmt_.height = fmt_.base_height;
      if (fmt_.font_switch) {
        fmt_.font = 0;
        fmt_.font_switch = false;
        if (bare_colour) {
          fmt_.bold = fmt_.italic = fmt_.strikeout = false;
          fmt_.underline = Underline::None;
        }
      }
    }
  }

  std::size_t Colour(std::size_t i) {
    if (codes::IsColourRestore(line_, i)) {
      if (!Ignored(kIgnoreColour)) fmt_.colour = opt_.request_colour;
      return i + 4;
    }
    const std::size_t len = codes::ColourLength(line_, i);
    if (len == 1) {
      Reset(true);
      return i + 1;
    }
    std::size_t j = i + 1;
    int fg = line_[j++] - '0';
    if (j < line_.size() && codes::IsDigit(line_[j])) fg = fg * 10 + (line_[j++] - '0');
    int bg = -1;
    if (j < i + len && line_[j] == ',') {
      ++j;
      if (j < i + len) {
        bg = line_[j++] - '0';
        if (j < i + len) bg = bg * 10 + (line_[j++] - '0');
      }
    }
    if (Ignored(kIgnoreColour)) return i + len;
    fmt_.colour = PaletteColour(fg);
    fmt_.colour_changed = true;
    if (bg >= 0) {
      fmt_.background = PaletteColour(bg);
      fmt_.background_changed = true;
      fmt_.no_background = false;
    } else if (fmt_.background < 16) {
      fmt_.background = PaletteColour(static_cast<int>(fmt_.background));
    }
    return i + len;
  }

  std::size_t HexColour(std::size_t i) {
    const std::size_t len = codes::HexColourLength(line_, i);
    if (len == 1 || Ignored(kIgnoreHexColour)) return i + len;
    fmt_.colour = codes::ParseHex8(line_, i + 1) & 0xFFFFFF;
    fmt_.colour_changed = true;
    if (len == 18) {
      fmt_.background = codes::ParseHex8(line_, i + 10) & 0xFFFFFF;
      fmt_.background_changed = true;
      fmt_.no_background = false;
    }
    return i + len;
  }

  std::size_t Size(std::size_t i) {
    const std::size_t len = codes::SizeLength(line_, i);
    if (len == 1 || Ignored(kIgnoreSize)) return i + len;
    int number = 0;
    for (std::size_t k = i + 1; k < i + len; ++k) number = number * 10 + (line_[k] - '0');
    if (!fmt_.base_captured) {
      fmt_.base_height = fmt_.height;
      fmt_.base_captured = true;
    }
    fmt_.height = static_cast<int16_t>(std::clamp(fmt_.base_height + number, 1, 2000));
    fmt_.size_changed = true;
    return i + len;
  }

  std::size_t Font(std::size_t i) {
    const std::size_t len = codes::FontLength(line_, i);
    if (len == 1 || Ignored(kIgnoreFont)) return i + len;
    FontSpec font;
    if (DecodeFontData(line_.substr(i + 2, len - 2), &font)) {
      fmt_.font = view_.AddFont(font);
      fmt_.font_created = true;
    } else {
      fmt_.font = 0;
    }
    return i + len;
  }

  // Built-in handling of the extended markup when no handler took the code: the bytes of the code
  // are consumed and only the effects that need nothing beyond this view happen.
  std::size_t Alert(std::size_t i) {
    const std::size_t n = line_.size();
    if (i + 1 < n && line_[i + 1] == '\x02') {
      // Inline tunes: groups "\x04\x02 digits \x02" one after another.
      std::size_t j = i;
      while (j + 1 < n && line_[j] == '\x04' && line_[j + 1] == '\x02') {
        std::size_t k = j + 2;
        while (k < n && line_[k] != '\x02' && !IsLineEnd(line_[k])) ++k;
        j = (k < n && line_[k] == '\x02') ? k + 1 : k;
      }
      return j;
    }
    std::size_t j = i + 1;
    while (j < n && line_[j] == '\x04') ++j;
    if (!Ignored(kIgnoreAlert) && opt_.beep) opt_.beep();
    return j;
  }

  std::size_t Link(std::size_t i) {
    const std::size_t n = line_.size();
    if (fmt_.link_seen) return i + 1;  // only the first 0x18 of a line starts a link
    fmt_.link_seen = true;
    if (!Ignored(kIgnoreLink)) {
      fmt_.link = true;
      view_.SetAutoUrlDetect(false);
    }
    std::size_t j = i + 1;
    if (j < n && line_[j] == '{') {
      while (j < n && line_[j] != '}' && !IsLineEnd(line_[j])) ++j;
      if (j < n && line_[j] == '}') ++j;
    }
    return j;
  }

  std::size_t Animation(std::size_t i) {
    // m[m],s,a[a],b[b]: consumed when complete; the text after it is shown as it is.
    const std::size_t n = line_.size();
    std::size_t j = i + 1;
    auto digits = [&](std::size_t max) {
      std::size_t k = 0;
      while (j < n && k < max && codes::IsDigit(line_[j])) ++j, ++k;
      return k > 0;
    };
    auto comma = [&] {
      if (j < n && line_[j] == ',') return ++j, true;
      return false;
    };
    if (digits(2) && comma() && digits(1) && comma() && digits(2) && comma() && digits(2)) return j;
    return i + 1;
  }

  std::size_t Media(std::size_t i) {
    // 0x11 0x01 k and the announcement: the rest of the line is not shown (its line end stays).
    std::size_t j = i + 2;
    while (j < line_.size() && !IsLineEnd(line_[j])) ++j;
    return j;
  }

  std::size_t Markup(std::size_t i) {
    std::size_t j = i + 1;
    while (j < line_.size()) {
      const char c = line_[j];
      if (c != '\x02' && c != '\x1D' && c != '\x1F' && c != '\x0F' && c != '\x09' && c != '\x12' && c != '\x1E') break;
      ++j;
    }
    return j;
  }

  std::size_t Extended(std::size_t i, uint32_t ignore_bit) {
    if (markup_) {
      MarkupContext ctx{view_, fmt_, opt_, Ignored(ignore_bit), this};
      const std::size_t next = (*markup_)(ctx, line_, i);
      if (next > i) return next;
    }
    switch (line_[i]) {
      case '\x04': return Alert(i);
      case '\x05': return Font(i);
      case '\x11': return Media(i);
      case '\x12': return Markup(i);
      case '\x18': return Link(i);
      case '\x1E': return Animation(i);
      default: return i + 1;
    }
  }

  std::size_t Other(std::size_t i) {
    if (line_[i] == '\0' || Ignored(kIgnoreOther)) return i + 1;
    run_begin_ = i;  // shown as a literal byte, with the text that follows
    return i + 1;
  }

  std::size_t Code(std::size_t i) {
    const std::size_t n = line_.size();
    switch (line_[i]) {
      case '\x02':
        if (!Ignored(kIgnoreBold)) fmt_.bold = !fmt_.bold;
        return i + 1;
      case '\x16':
        if (!Ignored(kIgnoreItalic)) fmt_.italic = !fmt_.italic;
        return i + 1;
      case '\x1D':
        if (!Ignored(kIgnoreStrikeout)) fmt_.strikeout = !fmt_.strikeout;
        return i + 1;
      case '\x1F': {
        std::size_t k = 1;
        while (k < 3 && i + k < n && line_[i + k] == '\x1F') ++k;
        if (!Ignored(kIgnoreUnderline)) {
          if (fmt_.underline != Underline::None) fmt_.underline = Underline::None;
          else fmt_.underline = k == 1 ? Underline::Single : k == 2 ? Underline::Dotted : Underline::Double;
        }
        return i + k;
      }
      case '\x03': return Colour(i);
      case '\x07': return HexColour(i);
      case '\x19': return Size(i);
      case '\x0F':
        Reset(false);
        return i + 1;
      case '\x05': return Extended(i, kIgnoreFont);
      case '\x04': return Extended(i, kIgnoreAlert);
      case '\x18': return Extended(i, kIgnoreLink);
      case '\x1E': return Extended(i, kIgnoreAnimation);
      case '\x11':
        if (i + 1 < n && line_[i + 1] == '\x01') return Extended(i, kIgnoreMedia);
        return Other(i);
      case '\x12':
        if (i + 1 < n && line_[i + 1] == '\x04') return i + 2;  // the attention marker's pair
        return Extended(i, kIgnoreMarkup);
      default: return Other(i);
    }
  }

  TextView& view_;
  std::string_view line_;
  LineFormat& fmt_;
  const WalkOptions& opt_;
  const MarkupHandler* markup_;
  std::size_t run_begin_ = npos;
  std::size_t pos_ = 0;
  CharFormat applied_;
  bool applied_valid_ = false;
};

void MarkupContext::Insert(std::string_view text) { walker->Insert(text, walker->pos()); }

void WalkLine(TextView& view, std::string_view line, LineFormat& format, const WalkOptions& options,
              const MarkupHandler* markup) {
  LineWalker walker(view, line, format, options, markup);
  walker.Run();
}

}  // namespace vanta::output
