// Ban masks: the 15 address-mask variants built from a user's nick, user name and host.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vanta::dispatch {

inline constexpr int kBanMaskTypes = 15;
// The type used when the "General"/"BanType" setting is missing.
inline constexpr int kDefaultBanType = 9;

// A user address split into its parts (the fields of a whois record, or of "nick!user@host").
struct UserAddress {
  std::string nick;
  std::string user;
  std::string host;
};

// Splits "nick!user@host". ":" bytes in the nick part are dropped (a line prefix keeps its colon),
// the user runs from the first "!" to the next "@", the host from there to the end of the line
// (CR, LF or NUL). Without "!" the nick runs to the first "@" and the user is empty; without
// "@" the host is empty.
UserAddress SplitAddress(std::string_view address);

// Mask of `type` (0..14) for the user; "" for any other type.
// Hosts are split into two parts for the partial forms: a name host at its first "." ("A" the
// first label, "B" the rest), a dotted IPv4 host at its last "." ("B" the network part, "A" the
// last number). A host without any "." (IPv6 addresses, "localhost") cannot be split, so the
// partial forms use the whole host and "*.*" becomes "*": every mask matches the user it came from.
std::string BanMask(const UserAddress& who, int type);
std::string BanMask(std::string_view address, int type);

// All 15 variants in type order, as the whois view lists them.
std::array<std::string, kBanMaskTypes> AllBanMasks(const UserAddress& who);

// True for a dotted IPv4 address: four decimal numbers 0..255 of one to three digits each.
bool IsDottedIPv4(std::string_view host);

}  // namespace vanta::dispatch
