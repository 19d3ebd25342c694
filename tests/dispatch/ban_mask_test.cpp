#include "dispatch/ban_mask.h"

#include "dispatch/masks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vanta::dispatch {
namespace {

struct BanCase {
  int type;
  const char* name_host;     // nick!user@host.example.com
  const char* numeric_host;  // nick!user@10.1.2.3
  const char* dotless_host;  // nick!user@localhost
};

const std::vector<BanCase> kBanCases = {
    {0, "nick!*@*.*", "nick!*@*.*", "nick!*@*"},
    {1, "*!user@*.*", "*!user@*.*", "*!user@*"},
    {2, "*!*@host.*", "*!*@*.3", "*!*@localhost"},
    {3, "*!*@*.example.com", "*!*@10.1.2.*", "*!*@localhost"},
    {4, "nick!user@*.*", "nick!user@*.*", "nick!user@*"},
    {5, "nick!*@host.*", "nick!*@*.3", "nick!*@localhost"},
    {6, "nick!*@*.example.com", "nick!*@10.1.2.*", "nick!*@localhost"},
    {7, "*!user@host.*", "*!user@*.3", "*!user@localhost"},
    {8, "*!user@*.example.com", "*!user@10.1.2.*", "*!user@localhost"},
    {9, "*!*@host.example.com", "*!*@10.1.2.3", "*!*@localhost"},
    {10, "nick!user@host.*", "nick!user@*.3", "nick!user@localhost"},
    {11, "nick!user@*.example.com", "nick!user@10.1.2.*", "nick!user@localhost"},
    {12, "nick!*@host.example.com", "nick!*@10.1.2.3", "nick!*@localhost"},
    {13, "*!user@host.example.com", "*!user@10.1.2.3", "*!user@localhost"},
    {14, "nick!user@host.example.com", "nick!user@10.1.2.3", "nick!user@localhost"},
};

TEST(BanMask, AllTypesForNameNumericAndDotlessHosts) {
  ASSERT_EQ(kBanCases.size(), static_cast<std::size_t>(kBanMaskTypes));
  for (const auto& c : kBanCases) {
    EXPECT_EQ(BanMask("nick!user@host.example.com", c.type), c.name_host) << "type " << c.type;
    EXPECT_EQ(BanMask("nick!user@10.1.2.3", c.type), c.numeric_host) << "type " << c.type;
    EXPECT_EQ(BanMask("nick!user@localhost", c.type), c.dotless_host) << "type " << c.type;
  }
}

TEST(BanMask, WhoisRecordAndListGiveTheSameMasks) {
  const UserAddress who{"nick", "user", "host.example.com"};
  const auto all = AllBanMasks(who);
  for (const auto& c : kBanCases) {
    EXPECT_EQ(BanMask(who, c.type), c.name_host);
    EXPECT_EQ(all[static_cast<std::size_t>(c.type)], c.name_host);
  }
}

TEST(BanMask, OtherTypesGiveNothing) {
  for (int type : {-1, 15, 42, -2147483647 - 1, 2147483647}) {
    EXPECT_EQ(BanMask("nick!user@host.example.com", type), "") << type;
  }
}

// Every mask built from an address matches that address, whatever shape its host has.
TEST(BanMask, EveryMaskMatchesItsOwnAddress) {
  const std::vector<std::string> addresses = {
      "nick!user@host.example.com", "nick!~user@10.1.2.3",        "nick!user@localhost",
      "nick!user@2001:db8::1",      "nick!user@::ffff:10.1.2.3",  "nick!user@a.",
      "nick!user@.a",               "nick!user@999.1.2.3",        "n!u@h",
      "[n]!u@host-1.isp.example.net",
  };
  for (const auto& address : addresses) {
    for (int type = 0; type < kBanMaskTypes; ++type) {
      const std::string mask = BanMask(address, type);
      EXPECT_TRUE(MaskTest(address, mask, true)) << address << " type " << type << " mask " << mask;
    }
  }
}

TEST(BanMask, HostShapes) {
  // An IPv6 host has no dot to split at.
  EXPECT_EQ(BanMask("n!u@2001:db8::1", 3), "*!*@2001:db8::1");
  EXPECT_EQ(BanMask("n!u@2001:db8::1", 0), "n!*@*");
  // Not a dotted IPv4 address: split as a name.
  EXPECT_EQ(BanMask("n!u@999.1.2.3", 3), "*!*@*.1.2.3");
  EXPECT_EQ(BanMask("n!u@1.2.3", 3), "*!*@*.2.3");
  EXPECT_EQ(BanMask("n!u@::ffff:10.1.2.3", 2), "*!*@::ffff:10.*");
}

struct SplitCase {
  std::string address;
  std::string nick, user, host;
};

TEST(SplitAddress, Table) {
  const std::vector<SplitCase> cases = {
      {"nick!user@host", "nick", "user", "host"},
      {":nick!~user@host.example.com\r\n", "nick", "~user", "host.example.com"},
      {"::n:i:ck!u:x@h:1", "nick", "u:x", "h:1"},  // colons only dropped from the nick
      {"nick!user@host@more", "nick", "user", "host@more"},
      {"nick@host", "nick", "", "host"},
      {"nick!user", "nick", "user", ""},
      {"nick", "nick", "", ""},
      {"", "", "", ""},
      {"!@", "", "", ""},
      {"@x!y", "@x", "y", ""},  // with a "!" the nick always runs to it
      {"a@b!c@d", "a@b", "c", "d"},
      {std::string("n!u@h\0junk", 10), "n", "u", "h"},
      {"n!u@h\nmore", "n", "u", "h"},
  };
  for (const auto& c : cases) {
    const UserAddress who = SplitAddress(c.address);
    EXPECT_EQ(who.nick, c.nick) << c.address;
    EXPECT_EQ(who.user, c.user) << c.address;
    EXPECT_EQ(who.host, c.host) << c.address;
  }
}

TEST(IsDottedIPv4, Table) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"10.1.2.3", true},      {"0.0.0.0", true},    {"255.255.255.255", true}, {"010.001.2.3", true},
      {"256.1.2.3", false},    {"1.2.3", false},     {"1.2.3.4.5", false},      {"1.2.3.", false},
      {".1.2.3", false},       {"1..2.3", false},    {"1.2.3.4a", false},       {"1234.1.2.3", false},
      {"", false},             {"a.b.c.d", false},   {"1.2.3.-4", false},       {"::1", false},
  };
  for (const auto& [host, expected] : cases) EXPECT_EQ(IsDottedIPv4(host), expected) << host;
}

}  // namespace
}  // namespace vanta::dispatch
