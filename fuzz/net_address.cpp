// Arbitrary bytes as numeric address text (as peers send it in offers): the parse must never crash, and
// what it accepts must print back to text that parses to the same address. No name is ever resolved here.
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/net.h"

namespace net = vanta::platform::net;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int family = (data[0] & 1) ? AF_INET6 : AF_INET;
  const uint16_t port = static_cast<uint16_t>(data[0] * 257u);
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  bool dotted = net::IsDottedAddress(text);
  sockaddr_storage ss{};
  socklen_t len = net::MakeAddress(family, text, port, &ss);
  if (family == AF_INET && dotted != (len != 0)) std::abort();
  if (len == 0) {
    if (!net::AddressText(ss).empty() || net::Port(ss) != 0) std::abort();
    return 0;
  }
  if (len != net::AddressLength(ss) || net::Port(ss) != port) std::abort();
  std::string shown = net::AddressText(ss);
  if (shown.empty()) std::abort();
  if (family == AF_INET && shown != text) std::abort();

  sockaddr_storage again{};
  if (net::MakeAddress(family, shown, port, &again) != len) std::abort();
  if (family == AF_INET) {
    auto& a = reinterpret_cast<sockaddr_in&>(ss);
    auto& b = reinterpret_cast<sockaddr_in&>(again);
    if (a.sin_addr.s_addr != b.sin_addr.s_addr) std::abort();
  } else {
    auto& a = reinterpret_cast<sockaddr_in6&>(ss);
    auto& b = reinterpret_cast<sockaddr_in6&>(again);
    if (std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) != 0) std::abort();
  }
  return 0;
}
