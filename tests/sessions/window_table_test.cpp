#include <gtest/gtest.h>

#include <thread>

#include "config/file_set.h"
#include "platform/ini.h"
#include "sessions/hooks.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::sessions {
namespace {

using test::CoreTest;

class WindowTableTest : public CoreTest {
 protected:
  WindowTable& table = WindowTable::Get();
  std::string NameOf(int n) {
    auto s = table.Slot(n);
    return s ? s->Name() : "<invalid>";
  }
};

TEST_F(WindowTableTest, ValidityBounds) {
  EXPECT_FALSE(table.Valid(-1));
  EXPECT_FALSE(table.Valid(0));
  int s = MakeServerWindow("irc.example.invalid", 6667);
  ASSERT_EQ(s, 0);
  EXPECT_TRUE(table.Valid(0));
  EXPECT_FALSE(table.Valid(table.Count()));
  EXPECT_FALSE(table.Valid(-5));
  // A server window without a session cannot exist.
  CreateRequest r;
  r.name = "nosession";
  r.kind = kServerWindow;
  EXPECT_EQ(table.Create(r), -1);
  EXPECT_EQ(table.Count(), 1);
}

TEST_F(WindowTableTest, FindByNameRules) {
  int srv = MakeServerWindow("same", 6667);
  EXPECT_EQ(table.FindByName("same", srv), srv);  // only the server window
  EXPECT_EQ(table.FindByName("SAME", srv), srv);
  int chan = MakeWindow("same", kChannelWindow, srv);
  EXPECT_EQ(table.FindByName("same", srv), chan);  // a channel of the same name wins
  int q = MakeWindow("alice,bob", kQueryWindow, srv);
  int q0 = MakeWindow("carol,dave0", kQueryWindow, srv);
  struct Case {
    const char* name;
    int expected;
  } cases[] = {
      {"bob", q},        // element at the end of a list
      {"alice", q},      // element at the start
      {"ALICE,BOB", q},  // exact, case-insensitive
      {"dave", -1},      // "dave0" is not the element "dave"
      {"carol", q0},
      {"lic", -1},       // not an element
      {"nobody", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(table.FindByName(c.name, srv), c.expected) << c.name;
  // Other servers' windows are not found.
  int srv2 = MakeServerWindow("other", 6667);
  EXPECT_EQ(table.FindByName("bob", srv2), -1);
}

TEST_F(WindowTableTest, RemovalRenumbersAndShiftsOwners) {
  int s0 = MakeServerWindow("s0", 1);
  int c1 = MakeWindow("#one", kChannelWindow, s0);
  int s2 = MakeServerWindow("s2", 1);
  int c3 = MakeWindow("#three", kChannelWindow, s0);
  int s4 = MakeServerWindow("s4", 1);
  int c5 = MakeWindow("#five", kChannelWindow, s4);
  int d6 = MakeWindow("peer", kDccWindow, s4);
  ASSERT_EQ(std::vector<int>({s0, c1, s2, c3, s4, c5, d6}), std::vector<int>({0, 1, 2, 3, 4, 5, 6}));
  auto dcc = table.Slot(d6);
  EXPECT_EQ(dcc->dcc_started_from.load(), 4);

  table.Close(c1, true);  // closes window 1 of 7
  EXPECT_EQ(table.Count(), 6);
  EXPECT_EQ(NameOf(1), "s2");
  EXPECT_EQ(NameOf(2), "#three");
  EXPECT_EQ(NameOf(4), "#five");
  EXPECT_EQ(table.OwningServer(1), 1);  // the server window names itself
  EXPECT_EQ(table.OwningServer(2), 0);  // owner before the removed window: unchanged
  EXPECT_EQ(table.OwningServer(4), 3);  // owner after it: moved down with it
  EXPECT_EQ(dcc->dcc_started_from.load(), 3);
  EXPECT_EQ(table.FindById(dcc->id), 5);

  // Closing a server window leaves its channel without an owner rather than naming the next window.
  table.Close(0, true);
  EXPECT_EQ(NameOf(1), "#three");
  EXPECT_EQ(table.OwningServer(1), -1);
}

TEST_F(WindowTableTest, DccWindowOwnNick) {
  int d = MakeWindow("peer", kDccWindow, -1);
  auto slot = table.Slot(d);
  ASSERT_TRUE(slot);
  EXPECT_EQ(slot->dcc_own_nick, "-Me-");
  EXPECT_EQ(slot->dcc_started_from.load(), -1);
  EXPECT_EQ(slot->dcc_peer_name, "peer");
  EXPECT_EQ(table.OwningServer(d), -1);
  int s = MakeServerWindow("srv", 1, "mynick");
  int d2 = MakeWindow("peer2", kDccWindow, s);
  EXPECT_EQ(table.Slot(d2)->dcc_own_nick, "mynick");
  EXPECT_EQ(table.Slot(d2)->dcc_started_from.load(), s);
}

TEST_F(WindowTableTest, RecentChannels) {
  int s = MakeServerWindow("srv", 1);
  const std::string pref = config::PrefIni();
  for (int i = 0; i < 10; ++i) MakeWindow("#c" + std::to_string(i), kChannelWindow, s);
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch0"), "#c9");
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch9"), "#c0");
  MakeWindow("#C5", kChannelWindow, s);  // already listed (case-insensitive): nothing moves
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch0"), "#c9");
  MakeWindow("#new", kChannelWindow, s);  // the oldest falls off
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch0"), "#new");
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch1"), "#c9");
  EXPECT_EQ(platform::ini::ReadString(pref, "LastChannels", "Ch9"), "#c1");
}

TEST_F(WindowTableTest, CloseWithoutDestroyReconnects) {
  int s = MakeServerWindow("irc.example.invalid", 6667);
  auto session = table.Session(s);
  session->reconnect.store(1);
  session->Set(&ServerSession::current_host, "10.1.2.3");
  std::vector<std::string> executed;
  GetHooks().execute_line = [&](int w, std::string_view line) {
    executed.push_back(std::to_string(w) + " " + std::string(line));
  };
  table.Close(s, false);
  ASSERT_EQ(executed.size(), 1u);
  EXPECT_EQ(executed[0], "0 /reconnect 10.1.2.3");
  EXPECT_TRUE(table.Valid(s));
  EXPECT_FALSE(Shown("").empty());
}

TEST_F(WindowTableTest, CreationLimitsAndFailures) {
  fe->fail_create = true;
  EXPECT_EQ(MakeServerWindow("x", 1), -1);
  EXPECT_EQ(table.Count(), 0);  // the slot of a window that could not be made is gone again
  fe->fail_create = false;
  int s = MakeServerWindow("x", 1);
  for (int i = 1; i < WindowTable::kCapacity; ++i) ASSERT_EQ(MakeWindow("q" + std::to_string(i), kQueryWindow, s), i);
  EXPECT_EQ(MakeWindow("one-too-many", kQueryWindow, s), -1);
  EXPECT_EQ(table.Count(), WindowTable::kCapacity);
}

TEST_F(WindowTableTest, CreateFromAnotherThreadIsSynchronous) {
  int s = MakeServerWindow("srv", 1);
  std::atomic<int> result{-2};
  std::thread t([&] { result = MakeWindow("nick", kQueryWindow, s); });
  ASSERT_TRUE(PumpUntil([&] { return result.load() != -2; }));
  t.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(table.FindByName("nick", s), 1);
}

TEST_F(WindowTableTest, NeighbourActivation) {
  int s = MakeServerWindow("srv", 1);
  int a = MakeWindow("#a", kChannelWindow, s);
  int b = MakeWindow("#b", kChannelWindow, s);
  MakeWindow("#c", kChannelWindow, s);
  EXPECT_EQ(table.Active(), 3);
  table.Close(3, true);  // the active one closes: the one before it takes over
  EXPECT_EQ(table.Active(), b);
  table.Close(a, true);  // a window before the active one closes: the active one moves down
  EXPECT_EQ(table.Active(), 1);
  EXPECT_EQ(NameOf(table.Active()), "#b");
  table.Close(1, true);
  table.Close(0, true);
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.Active(), -1);
}

TEST_F(WindowTableTest, QueryDoesNotTakeFocus) {
  int s = MakeServerWindow("srv", 1);
  MakeWindow("#chan", kChannelWindow, s);
  MakeWindow("friend", kQueryWindow, s);
  EXPECT_EQ(NameOf(table.Active()), "#chan");
}

TEST_F(WindowTableTest, NamesAreCutAndStripped) {
  int s = MakeServerWindow("srv", 1);
  int w = MakeWindow("nick\r\n", kQueryWindow, s);
  EXPECT_EQ(NameOf(w), "nick");
  int long_one = MakeWindow(std::string(5000, 'x'), kQueryWindow, s);
  EXPECT_EQ(NameOf(long_one).size(), WindowSlot::kNameCap - 1);
}

class HeadlessWindowTest : public CoreTest {
 protected:
  HeadlessWindowTest() { headless = true; }
};

TEST_F(HeadlessWindowTest, SlotsAreValidWithoutWindows) {
  int s = MakeServerWindow("srv", 1);
  int c = MakeWindow("#c", kChannelWindow, s);
  EXPECT_TRUE(WindowTable::Get().Valid(s));
  EXPECT_TRUE(WindowTable::Get().Valid(c));
  EXPECT_TRUE(fe->created().empty());
  EXPECT_EQ(WindowTable::Get().Active(), c);
}

}  // namespace
}  // namespace vanta::sessions
