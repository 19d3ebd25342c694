// Fuzzes the catalogue loader and the formatter with arbitrary language-library tables.
// Input: a 2-byte little-endian length L, then L bytes of "SS" table, then the "USS" table.
#include <cstddef>
#include <cstdint>
#include <span>

#include "config/catalogue.h"
#include "config/format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vanta::config;
  if (size < 2) return 0;
  std::size_t split = static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8);
  data += 2;
  size -= 2;
  if (split > size) split = size;
  LoadCatalogueFromTables(std::span(data, split), std::span(data + split, size - split));

  for (bool unicode : {false, true}) {
    SetUnicodeMode(unicode);
    // Every low index, then a sample up to past the capacity (the boundaries included).
    for (int n = -2; n <= kCatalogueCapacity + 2; n += (n < 64 || n >= kCatalogueCapacity - 2) ? 1 : 13) {
      const auto text = Message(n);
      Message(n, true);
      // A library's text used as a format, with the kinds of arguments callers pass.
      if (text && n < 64) FormatText(*text, {"host", 6667u, -1, 2.5, 'x'});
    }
    Message500(0);
    Message500(799);
  }
  SetUnicodeMode(false);
  UnloadCatalogue();
  return 0;
}
