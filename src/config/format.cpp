#include "config/format.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "config/catalogue.h"
#include "platform/codec.h"

namespace vanta::config {
namespace {

constexpr int kMaxField = 4096;  // cap for widths and precisions

struct Spec {
  std::string flags;  // any of "-+ #0", as written
  int width = -1;     // -1: none
  int precision = -1; // -1: none
  int narrow = 0;     // 8 for hh, 16 for h, 0 otherwise
  bool wide = false;  // l (for %lc)
  char conv = 0;
};

bool HasFlag(const Spec& s, char f) { return s.flags.find(f) != std::string::npos; }

// The printf format for one conversion of known type: "%" flags width .precision length conv.
std::string CFormat(const Spec& s, const char* length, char conv) {
  std::string f = "%" + s.flags;
  if (s.width >= 0) f += std::to_string(s.width);
  if (s.precision >= 0) f += "." + std::to_string(s.precision);
  f += length;
  f += conv;
  return f;
}

template <class T>
void AppendPrintf(std::string& out, const std::string& cfmt, T value) {
  // The format was built here from checked parts, with exactly one conversion matching T.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(nullptr, 0, cfmt.c_str(), value);
  if (n <= 0) return;
  std::string buf(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(buf.data(), buf.size(), cfmt.c_str(), value);
#pragma GCC diagnostic pop
  buf.resize(static_cast<std::size_t>(n));
  out += buf;
}

// Pads `text` to the width (left-justified with "-"), as %s does.
void AppendPadded(std::string& out, const Spec& s, std::string_view text) {
  const std::size_t width = s.width > 0 ? static_cast<std::size_t>(s.width) : 0;
  const std::size_t pad = width > text.size() ? width - text.size() : 0;
  if (!HasFlag(s, '-')) out.append(pad, ' ');
  out += text;
  if (HasFlag(s, '-')) out.append(pad, ' ');
}


std::int64_t ClampToSigned(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(d);
}

std::uint64_t Mask(int bits) { return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1; }

// An argument as a signed value for %d/%i; nullopt for text. Unsigned values above the signed range
// come back in `big` instead.
std::optional<std::int64_t> SignedValue(const FmtArg& a, std::optional<std::uint64_t>& big) {
  switch (a.kind()) {
    case FmtArg::Kind::kSigned: return a.as_signed();
    case FmtArg::Kind::kUnsigned:
      if (a.as_unsigned() > static_cast<std::uint64_t>(INT64_MAX)) {
        big = a.as_unsigned();
        return std::nullopt;
      }
      return static_cast<std::int64_t>(a.as_unsigned());
    case FmtArg::Kind::kDouble: return ClampToSigned(a.as_double());
    case FmtArg::Kind::kText: return std::nullopt;
  }
  return std::nullopt;
}

// An argument as an unsigned value for %u/%x/%o/%c; nullopt for text.
std::optional<std::uint64_t> UnsignedValue(const FmtArg& a) {
  switch (a.kind()) {
    case FmtArg::Kind::kSigned: return static_cast<std::uint64_t>(a.as_signed()) & Mask(a.bits());
    case FmtArg::Kind::kUnsigned: return a.as_unsigned();
    case FmtArg::Kind::kDouble: {
      const double d = a.as_double();
      if (std::isnan(d) || d <= 0) return static_cast<std::uint64_t>(ClampToSigned(d));
      if (d >= 18446744073709551615.0) return ~std::uint64_t{0};
      return static_cast<std::uint64_t>(d);
    }
    case FmtArg::Kind::kText: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<double> DoubleValue(const FmtArg& a) {
  switch (a.kind()) {
    case FmtArg::Kind::kSigned: return static_cast<double>(a.as_signed());
    case FmtArg::Kind::kUnsigned: return static_cast<double>(a.as_unsigned());
    case FmtArg::Kind::kDouble: return a.as_double();
    case FmtArg::Kind::kText: return std::nullopt;
  }
  return std::nullopt;
}

// The text of an argument for %s: text up to its first NUL, numbers in decimal.
std::string TextValue(const FmtArg& a) {
  switch (a.kind()) {
    case FmtArg::Kind::kSigned: return std::to_string(a.as_signed());
    case FmtArg::Kind::kUnsigned: return std::to_string(a.as_unsigned());
    case FmtArg::Kind::kDouble: {
      std::string s;
      AppendPrintf(s, "%g", a.as_double());
      return s;
    }
    case FmtArg::Kind::kText: {
      std::string_view t = a.text();
      const auto nul = t.find('\0');
      return std::string(nul == std::string_view::npos ? t : t.substr(0, nul));
    }
  }
  return {};
}

// Cuts a text to at most `max` bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view t, std::size_t max) {
  if (t.size() <= max) return t;
  std::size_t cut = max;
  // Back off over continuation bytes (at most three) when the cut falls inside a sequence.
  for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80; ++k) --cut;
  if (cut < max) {
    const auto lead = static_cast<unsigned char>(t[cut]);
    const std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead < 0xC0 || cut + len <= max) cut = max;  // not a real sequence, or it fits after all
  }
  return t.substr(0, cut);
}

// Reads digits at fmt[j] into a value capped at kMaxField.
int ReadNumber(std::string_view fmt, std::size_t& j) {
  int v = 0;
  while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') {
    v = v * 10 + (fmt[j] - '0');
    if (v > kMaxField) v = kMaxField + 1;  // keep reading; clamped below
    ++j;
  }
  return v > kMaxField ? kMaxField : v;
}

// The value of a "*" width or precision argument; nullopt when missing or text.
std::optional<int> StarValue(const FmtArg* a) {
  if (a == nullptr) return std::nullopt;
  std::optional<std::uint64_t> big;
  const auto v = SignedValue(*a, big);
  if (big) return kMaxField;
  if (!v) return std::nullopt;
  if (*v > kMaxField) return kMaxField;
  if (*v < -kMaxField) return -kMaxField;
  return static_cast<int>(*v);
}

void AppendInteger(std::string& out, Spec s, const FmtArg& a) {
  // "#" has a meaning for %x and %o only.
  if (s.conv == 'd' || s.conv == 'i' || s.conv == 'u') std::erase(s.flags, '#');
  const bool is_signed = s.conv == 'd' || s.conv == 'i';
  if (is_signed) {
    std::optional<std::uint64_t> big;
    const auto v = SignedValue(a, big);
    if (big) {
      AppendPrintf(out, CFormat(s, "ll", 'u'), static_cast<unsigned long long>(*big));
      return;
    }
    if (!v) return;
    std::int64_t x = *v;
    if (s.narrow == 8) x = static_cast<std::int8_t>(x);
    if (s.narrow == 16) x = static_cast<std::int16_t>(x);
    AppendPrintf(out, CFormat(s, "ll", 'd'), static_cast<long long>(x));
    return;
  }
  const auto v = UnsignedValue(a);
  if (!v) return;
  std::uint64_t x = *v;
  if (s.narrow) x &= Mask(s.narrow);
  AppendPrintf(out, CFormat(s, "ll", s.conv), static_cast<unsigned long long>(x));
}

void AppendChar(std::string& out, const Spec& s, const FmtArg& a) {
  std::string c;
  if (a.kind() == FmtArg::Kind::kText) {
    const std::string t = TextValue(a);
    if (!t.empty()) c = t.substr(0, 1);
  } else if (const auto v = UnsignedValue(a)) {
    if (s.wide) {
      if (*v != 0 && *v <= 0x10FFFF && !(*v >= 0xD800 && *v <= 0xDFFF))
        platform::AppendUtf8(c, static_cast<std::uint32_t>(*v));
    } else if ((*v & 0xFF) != 0) {
      c = std::string(1, static_cast<char>(*v & 0xFF));
    }
  }
  if (c.empty()) return;
  Spec plain = s;
  plain.flags = HasFlag(s, '-') ? "-" : "";
  AppendPadded(out, plain, c);
}

void AppendString(std::string& out, const Spec& s, const FmtArg& a) {
  const std::string t = TextValue(a);
  std::string_view v = t;
  if (s.precision >= 0) v = CutUtf8(v, static_cast<std::size_t>(s.precision));
  AppendPadded(out, s, v);
}

void AppendFloating(std::string& out, const Spec& s, const FmtArg& a) {
  const auto v = DoubleValue(a);
  if (!v) return;
  AppendPrintf(out, CFormat(s, "", s.conv), *v);
}

}  // namespace

std::string FormatText(std::string_view fmt, std::initializer_list<FmtArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  const FmtArg* next = args.begin();
  const FmtArg* const end = args.end();
  auto take = [&]() -> const FmtArg* { return next != end ? next++ : nullptr; };

  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      out += fmt[i];
      continue;
    }
    Spec s;
    std::size_t j = i + 1;
    while (j < fmt.size() && std::string_view("-+ #0").find(fmt[j]) != std::string_view::npos) {
      if (!HasFlag(s, fmt[j])) s.flags += fmt[j];
      ++j;
    }
    if (j < fmt.size() && fmt[j] == '*') {
      ++j;
      if (const auto w = StarValue(take())) {
        if (*w < 0) {
          if (!HasFlag(s, '-')) s.flags += '-';
          s.width = -*w;
        } else {
          s.width = *w;
        }
      }
    } else if (j < fmt.size() && fmt[j] >= '1' && fmt[j] <= '9') {
      s.width = ReadNumber(fmt, j);
    }
    if (j < fmt.size() && fmt[j] == '.') {
      ++j;
      if (j < fmt.size() && fmt[j] == '*') {
        ++j;
        const auto p = StarValue(take());
        s.precision = (p && *p >= 0) ? *p : -1;  // a negative precision counts as none
      } else {
        s.precision = ReadNumber(fmt, j);
      }
    }
    // Length modifiers.
    while (j < fmt.size()) {
      const char m = fmt[j];
      if (m == 'h') {
        s.narrow = (j + 1 < fmt.size() && fmt[j + 1] == 'h') ? 8 : 16;
        j += s.narrow == 8 ? 2 : 1;
      } else if (m == 'l') {
        s.wide = true;
        ++j;
      } else if (m == 'L' || m == 'q' || m == 'j' || m == 'z' || m == 't' || m == 'w') {
        ++j;
      } else if (m == 'I') {
        ++j;
        if (fmt.substr(j, 2) == "64" || fmt.substr(j, 2) == "32") j += 2;
      } else {
        break;
      }
    }
    if (j >= fmt.size()) break;  // a conversion cut off at the end prints nothing
    s.conv = fmt[j];
    i = j;
    switch (s.conv) {
      case '%':
        out += '%';
        break;
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        if (const FmtArg* a = take()) AppendInteger(out, s, *a);
        break;
      case 'C':
        s.wide = true;
        [[fallthrough]];
      case 'c':
        if (const FmtArg* a = take()) AppendChar(out, s, *a);
        break;
      case 's': case 'S':
        if (const FmtArg* a = take()) AppendString(out, s, *a);
        break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        if (const FmtArg* a = take()) AppendFloating(out, s, *a);
        break;
      default:  // %n, %p and anything unknown: nothing, and no argument used
        break;
    }
  }
  return out;
}

std::string Msg(int n, std::initializer_list<FmtArg> args) {
  const auto text = Message(n);
  return text ? FormatText(*text, args) : std::string();
}

}  // namespace vanta::config
