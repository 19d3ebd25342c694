// The code walker and StripCodes on arbitrary bytes.
// Input layout: byte 0 and 1 give the ignore switches, byte 2 the mode and the strip flags' low
// bits; the rest is the line. Checks: the walk ends, the view's length matches its runs, and
// stripping everything leaves no one-byte code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "output/strip_codes.h"
#include "output/text_codes.h"
#include "output/text_view.h"

namespace {

using namespace vanta::output;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const uint32_t ignore = (static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8)) & 0x3FFF;
  const int mode = data[2] & 1;
  const unsigned flags = (data[2] & 0x80) ? kStripAll : (static_cast<unsigned>(data[2]) << 3) & 0x7FF;
  const std::string_view line(reinterpret_cast<const char*>(data + 3), size - 3);

  TextView view;
  LineFormat format;
  WalkOptions options;
  options.ignore = ignore;
  options.mode = mode;
  std::string plain;
  options.plain = &plain;
  WalkLine(view, line, format, options);
  WalkLine(view, line, format, options);  // a second line onto the first
  // Every run counts its own characters; the view's length is their sum.
  auto counted = [&] {
    std::size_t n = 0;
    view.ForEachRun([&](RunKind kind, const CharFormat&, std::string_view text) {
      n += kind == RunKind::Text ? CountChars(text) : 1;
    });
    return n;
  };
  Check(view.Length() == counted());
  Check(plain.size() <= 2 * line.size());
  if (view.Length() > 4) {
    view.DeleteRange(0, view.Length() / 2);
    Check(view.Length() == counted());
    view.SetSelection(1, view.Length() / 2 + 1);
    view.ReplaceSelection(line.substr(0, 7));
    Check(view.Length() == counted());
  }

  const std::string stripped = StripCodes(line, flags);
  Check(stripped.size() <= line.size());
  const std::string all = StripCodes(line, kStripAll);
  // Nothing that strips as a one-byte code survives a full strip.
  for (char c : all) Check(c != '\x02' && c != '\x16' && c != '\x1F' && c != '\x1D' && c != '\x0F' && c != '\x04' &&
                           c != '\x01');
  return 0;
}
