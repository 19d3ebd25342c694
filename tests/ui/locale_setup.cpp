// Display widths come from the C library's character tables: the tests run in a UTF-8 locale,
// as the terminal front end does.
#include <clocale>

namespace {
const bool kUtf8Locale = [] {
  return std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr || std::setlocale(LC_CTYPE, "en_US.UTF-8") != nullptr;
}();
}  // namespace
