// The configuration parsers on arbitrary bytes: scrambled values, stored-text escapes, line
// decoding, and record lists read from an arbitrary "Contents" file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "config/ini_store.h"
#include "platform/ini.h"
#include "platform/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/vanta-fuzz-config-XXXXXX";
    const char* d = mkdtemp(tmpl);
    vanta::platform::SetProgramDir(d ? d : "/tmp");
    return std::string(d ? d : "/tmp");
  }();
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string clear;
  if (vanta::config::Unscramble(in, &clear) && vanta::config::Scramble(clear) != in) {
    // A value that decodes must be the scrambler's own encoding of what it decodes to.
    if (in.find('=') == std::string_view::npos) abort();
  }
  if (vanta::config::Unscramble(vanta::config::Scramble(in)) != in) abort();
  (void)vanta::config::DecodeStoredText(in);
  if (vanta::config::DecodeStoredText(vanta::config::EncodeStoredText(in)).size() < in.size() / 4) abort();
  (void)vanta::config::DecodeLines(in);

  {
    std::ofstream f(dir + "/list.ini", std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  vanta::platform::ini::FlushCache();
  auto names = vanta::config::ListEnumerate("list.ini");
  if (!names.empty()) {
    vanta::config::ListRename("list.ini", names.front(), "renamed");
    vanta::config::ListDelete("list.ini", names.back());
  }
  return 0;
}
