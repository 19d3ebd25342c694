// Feeds arbitrary bytes, cut into chunks of arbitrary sizes, to the receive loop's line splitter.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sessions/connection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  vanta::sessions::LineSplitter splitter;
  const std::size_t step = 1 + data[0] % 997;  // the first byte picks the chunk size
  std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t total = 0;
  for (std::size_t pos = 0; pos < all.size(); pos += step) {
    splitter.Feed(all.substr(pos, step), [&](std::string_view line) {
      if (line.empty() || line.back() != '\n' || line.size() >= vanta::sessions::LineSplitter::kBuffer ||
          line.find('\0') != std::string_view::npos)
        __builtin_trap();
      total += line.size();
    });
    if (splitter.pending() >= vanta::sessions::LineSplitter::kBuffer) __builtin_trap();
  }
  return 0;
}
