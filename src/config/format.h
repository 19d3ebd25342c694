// Safe printf-style formatting of catalogue texts.
//
// A catalogue text comes from a language library, so its placeholders may not match what the caller
// passes. FormatText takes its arguments as a typed list and never reads past it:
// - Supported: %s %d %i %u %x %X %o %c and %f %F %e %E %g %G %a %A, with the flags "-+ #0", a width
//   and a precision (digits or "*", which takes the next argument), and the length modifiers
//   hh h l ll L q j z t I I32 I64 (accepted; hh and h narrow integers as printf does, the others
//   change nothing because every argument keeps its full value). %S is %s, %C is %lc. %% gives "%".
// - Arguments are taken in order. A conversion whose argument is missing prints nothing.
// - Type mismatches: a number for %s prints its decimal text (a double as "%g" would); text for a
//   numeric conversion (%d, %u, %x, %f, ...) prints nothing and still uses up the argument; a double
//   for an integer conversion prints its integral part (clamped to the 64-bit range, NaN as 0); an
//   integer for a floating conversion prints it as a double; a negative integer for %u/%x/%o prints
//   it modulo 2^width of the original type, as printf does.
// - %c with 0 prints nothing (a NUL would cut the text); %c with text prints its first byte; %lc and
//   %C print the code point in UTF-8.
// - %s stops at a NUL byte of its text; a precision never cuts a UTF-8 sequence in half.
// - %n, %p and unknown conversions print nothing and use up no argument; a "%" at the very end
//   prints nothing.
// - Widths and precisions are capped at 4096.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace vanta::config {

// One argument of FormatText. Text arguments are views: an FmtArg is meant to live only as part of
// the argument list of a call (temporaries such as std::string results live until the call ends).
class FmtArg {
 public:
  enum class Kind : std::uint8_t { kSigned, kUnsigned, kDouble, kText };

  template <std::integral T>
  FmtArg(T v) : bits_(static_cast<std::uint8_t>(sizeof(T) * 8)) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::kSigned;
      signed_ = static_cast<std::int64_t>(v);
    } else {
      kind_ = Kind::kUnsigned;
      unsigned_ = static_cast<std::uint64_t>(v);
    }
  }
  FmtArg(double v) : kind_(Kind::kDouble), double_(v) {}                      // NOLINT
  FmtArg(std::string_view v) : kind_(Kind::kText), text_(v) {}                // NOLINT
  FmtArg(const char* v) : kind_(Kind::kText), text_(v ? v : "") {}            // NOLINT
  FmtArg(const std::string& v) : kind_(Kind::kText), text_(v) {}              // NOLINT

  Kind kind() const { return kind_; }
  int bits() const { return bits_; }
  std::int64_t as_signed() const { return signed_; }
  std::uint64_t as_unsigned() const { return unsigned_; }
  double as_double() const { return double_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_ = Kind::kText;
  std::uint8_t bits_ = 64;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double double_ = 0;
  std::string_view text_;
};

// Formats `fmt` with `args` by the rules above.
std::string FormatText(std::string_view fmt, std::initializer_list<FmtArg> args);

// Catalogue message n formatted with `args`; "" when the message has no text.
std::string Msg(int n, std::initializer_list<FmtArg> args = {});

}  // namespace vanta::config
