#include "dispatch/ban_mask.h"

namespace vanta::dispatch {

namespace {

// Which part of the host a mask keeps.
enum class HostForm {
  kAny,    // "*.*"
  kLabel,  // the host's distinguishing label: the first name label, or the last IPv4 number
  kRest,   // the host without that label: the domain, or the IPv4 network part
  kWhole,  // the whole host
};

struct MaskShape {
  bool nick;
  bool user;
  HostForm host;
};

constexpr std::array<MaskShape, kBanMaskTypes> kShapes = {{
    {true, false, HostForm::kAny},     // 0  nick!*@*.*
    {false, true, HostForm::kAny},     // 1  *!user@*.*
    {false, false, HostForm::kLabel},  // 2
    {false, false, HostForm::kRest},   // 3
    {true, true, HostForm::kAny},      // 4  nick!user@*.*
    {true, false, HostForm::kLabel},   // 5
    {true, false, HostForm::kRest},    // 6
    {false, true, HostForm::kLabel},   // 7
    {false, true, HostForm::kRest},    // 8
    {false, false, HostForm::kWhole},  // 9  *!*@host
    {true, true, HostForm::kLabel},    // 10
    {true, true, HostForm::kRest},     // 11
    {true, false, HostForm::kWhole},   // 12 nick!*@host
    {false, true, HostForm::kWhole},   // 13 *!user@host
    {true, true, HostForm::kWhole},    // 14 nick!user@host
}};

std::string HostPart(std::string_view host, HostForm form) {
  if (form == HostForm::kWhole) return std::string(host);
  if (host.find('.') == std::string_view::npos) {
    // Nothing to split at: "*.*", "*.host" or "host.*" would never match this host.
    return form == HostForm::kAny ? std::string("*") : std::string(host);
  }
  if (form == HostForm::kAny) return "*.*";
  if (IsDottedIPv4(host)) {
    const std::size_t dot = host.rfind('.');
    if (form == HostForm::kLabel) return "*." + std::string(host.substr(dot + 1));
    return std::string(host.substr(0, dot)) + ".*";
  }
  const std::size_t dot = host.find('.');
  if (form == HostForm::kLabel) return std::string(host.substr(0, dot)) + ".*";
  return "*." + std::string(host.substr(dot + 1));
}

}  // namespace

bool IsDottedIPv4(std::string_view host) {
  int groups = 0;
  std::size_t i = 0;
  for (;;) {
    int digits = 0;
    int value = 0;
    while (i < host.size() && host[i] >= '0' && host[i] <= '9' && digits < 4) {
      value = value * 10 + (host[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++groups;
    if (i == host.size()) return groups == 4;
    if (host[i] != '.' || groups == 4) return false;
    ++i;
  }
}

UserAddress SplitAddress(std::string_view address) {
  const std::size_t eol = address.find_first_of(std::string_view("\r\n\0", 3));
  if (eol != std::string_view::npos) address = address.substr(0, eol);

  UserAddress who;
  const std::size_t bang = address.find('!');
  const std::size_t at = address.find('@', bang == std::string_view::npos ? 0 : bang + 1);
  const std::size_t nick_end = bang != std::string_view::npos ? bang : at;
  for (char c : address.substr(0, nick_end)) {
    if (c != ':') who.nick.push_back(c);
  }
  if (bang != std::string_view::npos) {
    const std::size_t user_end = at == std::string_view::npos ? address.size() : at;
    who.user.assign(address.substr(bang + 1, user_end - bang - 1));
  }
  if (at != std::string_view::npos) who.host.assign(address.substr(at + 1));
  return who;
}

std::string BanMask(const UserAddress& who, int type) {
  if (type < 0 || type >= kBanMaskTypes) return "";
  const MaskShape& shape = kShapes[static_cast<std::size_t>(type)];
  std::string mask = shape.nick ? who.nick : "*";
  mask += '!';
  mask += shape.user ? who.user : "*";
  mask += '@';
  mask += HostPart(who.host, shape.host);
  return mask;
}

std::string BanMask(std::string_view address, int type) { return BanMask(SplitAddress(address), type); }

std::array<std::string, kBanMaskTypes> AllBanMasks(const UserAddress& who) {
  std::array<std::string, kBanMaskTypes> masks;
  for (int type = 0; type < kBanMaskTypes; ++type) masks[static_cast<std::size_t>(type)] = BanMask(who, type);
  return masks;
}

}  // namespace vanta::dispatch
