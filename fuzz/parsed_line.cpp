// The server line parser on arbitrary bytes: every field within its limit, no line break in any
// field, the numeric kind only with a positive number, and the same result on a second parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dispatch/parsed_line.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool NoBreaks(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vanta::dispatch::ParsedLine;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  ParsedLine p;
  const int r = vanta::dispatch::ParseLine(line, &p);
  Check(r == 0 || r == 1);
  Check(p.prefix.size() < ParsedLine::kPrefixSize && p.nick.size() < ParsedLine::kNickSize);
  Check(p.target.size() < ParsedLine::kTargetSize && p.command.size() < ParsedLine::kCommandSize);
  Check(p.parameters.size() < ParsedLine::kParametersSize);
  for (const auto& raw : p.raw) Check(raw.size() < ParsedLine::kRawSize && raw == p.raw[0]);
  Check(NoBreaks(p.prefix) && NoBreaks(p.nick) && NoBreaks(p.target) && NoBreaks(p.command) &&
        NoBreaks(p.parameters));
  if (r == 1 && p.kind == ParsedLine::kNumeric) Check(p.numeric > 0 && p.command.empty());
  if (p.kind == ParsedLine::kCommand) Check(r == 1 && p.numeric == 0);
  if (r == 0) Check(p.prefix.empty() && p.parameters.empty());
  ParsedLine q;
  vanta::dispatch::ParseLine(line, &q);
  Check(q.prefix == p.prefix && q.parameters == p.parameters && q.kind == p.kind && q.numeric == p.numeric);
  return 0;
}
