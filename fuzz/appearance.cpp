// Template expansion on arbitrary templates and fields, with highlight words and a prefix set:
// no crash, and the output stays within its limit.
// Input layout: byte 0 picks the kind, byte 1 the alignment; the rest is split at 0x1E into
// template, prefix, target, command, text, victim, kick message, knock message, notice tag.
#include <ftw.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/file_set.h"
#include "dispatch/parsed_line.h"
#include "output/appearance.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Setup() {
  static char tmpl[] = "/tmp/vanta-fuzz-appearance-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) return false;
  vanta::platform::SetProgramDir(dir);
  const std::string pref = vanta::config::PrefIni();
  vanta::platform::ini::WriteString(pref, "MoreOptions", "Hilite", "bob $me a %s");
  vanta::platform::ini::WriteString(pref, "MoreOptions", "Prefix", "%n$message");
  std::atexit([] {
    nftw(tmpl, [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
         FTW_DEPTH | FTW_PHYS);
  });
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  if (!ready || size < 2) return 0;
  const int kind = data[0] % 26;
  const int align = static_cast<int8_t>(data[1]) * 100;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::vector<std::string_view> parts;
  while (parts.size() < 8) {
    const std::size_t cut = rest.find('\x1e');
    parts.push_back(rest.substr(0, cut));
    if (cut == std::string_view::npos) {
      rest = {};
      break;
    }
    rest.remove_prefix(cut + 1);
  }
  parts.push_back(rest);
  parts.resize(9);

  vanta::dispatch::ParsedLine line;
  line.prefix = parts[1];
  line.nick = parts[1].substr(0, parts[1].find('!'));
  line.target = parts[2];
  line.command = parts[3];
  line.parameters = parts[4];
  const std::string tpl = vanta::output::DecodeStoredEscapes(parts[0]);
  std::string out;
  const int r = vanta::output::ExpandAppearance(tpl, -1, kind, out, line, parts[5], parts[6], parts[7], parts[8],
                                                align);
  Check(r == (vanta::output::TemplateKey(kind) != 0 ? 1 : 0));
  Check(out.size() < vanta::output::AppearanceCapacity(kind));
  return 0;
}
