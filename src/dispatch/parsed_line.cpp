#include "dispatch/parsed_line.h"

#include <limits>

namespace vanta::dispatch {

namespace {

std::string_view UpToNul(std::string_view s) {
  const std::size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

// Copies at most size - 1 bytes of `text` into `dst`, reusing its storage.
void Store(std::string& dst, std::string_view text, std::size_t size) {
  dst.assign(text.substr(0, size - 1));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Space-separated tokens of one line; a run of spaces is one separator.
struct Tokens {
  std::string_view text;
  std::size_t pos = 0;

  std::size_t SkipSpaces() {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    return pos;
  }
  std::string_view Next() {
    const std::size_t start = SkipSpaces();
    while (pos < text.size() && text[pos] != ' ') ++pos;
    return text.substr(start, pos - start);
  }
};

// The value of a positive decimal number that fits 32 bits; 0 for anything else.
int32_t PositiveNumber(std::string_view t) {
  if (t.empty()) return 0;
  int64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
    if (v > std::numeric_limits<int32_t>::max()) return 0;
  }
  return static_cast<int32_t>(v);
}

std::string_view StripTrailing(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

}  // namespace

void ParsedLine::Clear() {
  kind = kNumeric;
  numeric = 0;
  prefix.clear();
  nick.clear();
  target.clear();
  command.clear();
  parameters.clear();
  for (auto& r : raw) r.clear();
}

int ParseLine(std::string_view line, ParsedLine* out) {
  if (out == nullptr) return 0;
  out->Clear();
  line = UpToNul(line);
  for (auto& r : out->raw) Store(r, line, ParsedLine::kRawSize);

  // The fields come from the line up to its first line break: a lone CR or LF inside a line
  // ends it here, so no field ever carries one.
  const std::size_t brk = line.find_first_of("\r\n");
  const std::string_view work = brk == std::string_view::npos ? line : line.substr(0, brk);
  if (work.empty() || work[0] != ':') return 0;

  Tokens tok{work};
  const std::string_view first = tok.Next();
  const std::string_view second = tok.Next();
  const std::size_t third_start = tok.SkipSpaces();
  const std::string_view third = tok.Next();
  const std::size_t fourth_start = tok.SkipSpaces();

  const std::string_view prefix = first.substr(1);
  Store(out->prefix, prefix, ParsedLine::kPrefixSize);

  const int32_t number = PositiveNumber(second);
  if (number > 0) {
    out->kind = ParsedLine::kNumeric;
    out->numeric = number;
    Store(out->nick, prefix, ParsedLine::kNickSize);
    Store(out->target, third, ParsedLine::kTargetSize);
    Store(out->parameters, StripTrailing(work.substr(fourth_start)), ParsedLine::kParametersSize);
    return 1;
  }

  out->kind = ParsedLine::kCommand;
  out->numeric = 0;
  Store(out->nick, prefix.substr(0, prefix.find('!')), ParsedLine::kNickSize);
  Store(out->command, second, ParsedLine::kCommandSize);
  std::string_view target = third;
  if (EqualsNoCase(second, "JOIN") && !target.empty() && target[0] == ':') target.remove_prefix(1);
  Store(out->target, target, ParsedLine::kTargetSize);

  const bool from_third = EqualsNoCase(second, "SILENCE") || EqualsNoCase(second, "NICK") ||
                          EqualsNoCase(second, "QUIT") || EqualsNoCase(second, "WALLOPS");
  std::string_view params = work.substr(from_third ? third_start : fourth_start);
  if (!params.empty() && params[0] == ':') params.remove_prefix(1);
  Store(out->parameters, StripTrailing(params), ParsedLine::kParametersSize);
  return 1;
}

}  // namespace vanta::dispatch
