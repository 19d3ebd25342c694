#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/catalogue.h"
#include "config/file_set.h"
#include "output/appearance.h"
#include "output/show_text.h"
#include "platform/ini.h"
#include "sessions/window_table.h"
#include "support/core_fixture.h"

namespace vanta::output {
namespace {

using namespace std::string_literals;

dispatch::ParsedLine Record(std::string prefix, std::string target, std::string command, std::string text) {
  dispatch::ParsedLine p;
  p.kind = dispatch::ParsedLine::kCommand;
  p.prefix = prefix;
  p.nick = prefix.substr(0, prefix.find('!'));
  p.target = std::move(target);
  p.command = std::move(command);
  p.parameters = std::move(text);
  return p;
}

class AppearanceTest : public test::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 0;  // January
    t.tm_mday = 5;
    t.tm_hour = 8;
    t.tm_min = 9;
    t.tm_sec = 3;
    SetAppearanceTimeForTests(&t);
    SetUnicodeDisplay(false);
  }
  void TearDown() override {
    SetAppearanceTimeForTests(nullptr);
    SetChannelViewAccess(nullptr);
    SetUnicodeDisplay(false);
    CoreTest::TearDown();
  }

  // Formats kind 0 (key 101) with `tpl` as its template.
  std::string WithTemplate(const std::string& tpl, const dispatch::ParsedLine& line, int align = 0) {
    SetPref("Appearance", "a101", tpl);
    return Format(kAppearMessage, line, {}, {}, {}, {}, align);
  }
  std::string Format(int kind, const dispatch::ParsedLine& line, std::string_view victim = {},
                     std::string_view kick = {}, std::string_view knock = {}, std::string_view tag = {},
                     int align = 0, int window = -1) {
    std::string out;
    EXPECT_EQ(FormatAppearance(window, kind, out, line, victim, kick, knock, tag, align), 1);
    return out;
  }

  const dispatch::ParsedLine bob = Record("bob!~bu@host.example", "#chan", "PRIVMSG", "hello there");
};

TEST(AppearanceKinds, KindsMapToTheirKeys) {
  const std::map<int, int> expected = {{0, 101},  {1, 102},  {5, 106},  {15, 116}, {16, 100}, {17, 117},
                                       {18, 118}, {19, 119}, {23, 123}, {24, 124}, {-1, 0},   {25, 0}};
  for (auto [kind, key] : expected) EXPECT_EQ(TemplateKey(kind), key) << kind;
  std::set<int> keys;
  for (int kind = 0; kind <= 24; ++kind) keys.insert(TemplateKey(kind));
  EXPECT_EQ(keys.size(), 25u);
  EXPECT_EQ(*keys.begin(), 100);
  EXPECT_EQ(*keys.rbegin(), 124);
}

TEST_F(AppearanceTest, EachKindReadsItsOwnKey) {
  for (int key = 100; key <= 124; ++key) SetPref("Appearance", "a" + std::to_string(key), "K" + std::to_string(key) + " $nick");
  for (int kind = 0; kind <= 24; ++kind)
    EXPECT_EQ(Format(kind, bob), "K" + std::to_string(TemplateKey(kind)) + " bob") << "kind " << kind;
  std::string out = "keep";
  EXPECT_EQ(FormatAppearance(-1, 25, out, bob), 0);
  EXPECT_EQ(FormatAppearance(-1, -1, out, bob), 0);
  EXPECT_EQ(out, "keep");
}

TEST_F(AppearanceTest, UnicodeModeReadsTheUKeys) {
  SetPref("Appearance", "a101", "ansi $nick");
  SetPref("Appearance", "u101", "utf8 $nick");
  EXPECT_EQ(Format(kAppearMessage, bob), "ansi bob");
  SetUnicodeDisplay(true);
  EXPECT_EQ(Format(kAppearMessage, bob), "utf8 bob");
}

struct VarCase {
  const char* tpl;
  const char* expected;
};

TEST_F(AppearanceTest, Variables) {
  SetPref("MoreOptions", "Prefix", "pre:");
  const VarCase cases[] = {
      {"$nick", "bob"},
      {"$nickname", "bobname"},
      {"$NICK and $Nick", "bob and bob"},
      {"$ident", "~bu"},
      {"$IP", "host.example"},
      {"$ip", "host.example"},
      {"$channel", "#chan"},
      {"$action", "PRIVMSG"},
      {"$actions", "PRIVMSGs"},
      {"$message", "hello there"},
      {"$prefix$message", "pre:hello there"},
      {"$year-$month-$day $_hour:$minute:$second", "2024-1-5 08:09:03"},
      {"$hour", "$hour"},
      {"$victim|$kickmsg|$knockmsg|$noticeid", "|||"},
      {"$$nick", "$bob"},
      {"cost $5 $", "cost $5 $"},
      {"$unknown $nic", "$unknown $nic"},
      {"$h02$nick$h0F", "\x02" "bob\x0F"},
      {"$hZZ$hx", "\xFF$hx"},
      {"$h4", "$h4"},
      {"$h24nick", "bob"},  // the escape gives "$", and the variable follows
      {"", ""},
      {"plain text", "plain text"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithTemplate(c.tpl, bob), c.expected) << c.tpl;
}

TEST_F(AppearanceTest, EmptyPrefixSettingGivesNothing) {
  EXPECT_EQ(WithTemplate("[$prefix]", bob), "[]");
}

TEST_F(AppearanceTest, IdentAndHostFromThePrefix) {
  const struct {
    const char* prefix;
    const char* ident;
    const char* host;
  } cases[] = {
      {"bob!~bu@host", "~bu", "host"},     {"bob@host", "", "host"},       {"bob!user", "", ""},
      {"bob@host!user", "", "host!user"},  {"bob!a@b@c", "a", "b@c"},      {"irc.example", "", ""},
      {"bob!@host", "", "host"},
  };
  for (const auto& c : cases) {
    auto line = Record(c.prefix, "#c", "PRIVMSG", "x");
    EXPECT_EQ(WithTemplate("$ident|$IP", line), std::string(c.ident) + "|" + c.host) << c.prefix;
  }
}

TEST_F(AppearanceTest, ActionText) {
  const VarCase cases[] = {
      {"\x01" "ACTION waves\x01", "waves"},
      {"\x01" "ACTION waves\x01\r\n", "waves"},
      {"\x01" "ACTION waves\r\n", "waves"},
      {"\x01" "ACTION two\x01\x01", "two\x01"},
      {"\x01" "ACTION ", ""},
      {"\x01" "ACT", ""},
      {"", ""},
  };
  SetPref("Appearance", "a117", "* $nick $ACTIONMESSAGE");
  for (const auto& c : cases) {
    auto line = Record("bob!b@h", "#c", "PRIVMSG", c.tpl);
    EXPECT_EQ(Format(kAppearAction, line), "* bob "s + c.expected) << c.tpl;
  }
}

TEST_F(AppearanceTest, ExtraArguments) {
  SetPref("Appearance", "a106", "$victim kicked by $nick ($kickmsg)");
  SetPref("Appearance", "a116", "$nick knocks: $knockmsg");
  SetPref("Appearance", "a123", "<$nick>($noticeid) $message");
  EXPECT_EQ(Format(kAppearKick, bob, "alice", "bye"), "alice kicked by bob (bye)");
  EXPECT_EQ(Format(kAppearKnock, bob, {}, {}, "473 #chan (+i)"), "bob knocks: 473 #chan (+i)");
  EXPECT_EQ(Format(kAppearGroupNotice, bob, {}, {}, {}, "=CHANOPS="), "<bob>(=CHANOPS=) hello there");
  EXPECT_EQ(WithTemplate("<$nick>$align|", bob, 3), "<bob>   |");
  EXPECT_EQ(WithTemplate("<$nick>$align|", bob, -5), "<bob>|");
  EXPECT_EQ(WithTemplate("$align", bob, 1 << 30).size(), 9999u);
}

TEST_F(AppearanceTest, MissingKeysFallBackToTheCatalogue) {
  ASSERT_TRUE(config::Message(36).has_value()) << "catalogue not loaded";
  for (int kind = 0; kind <= 24; ++kind) {
    const int key = TemplateKey(kind);
    const std::string missing = Format(kind, bob, "vic", "kick", "knock", "=WallOp=", 2);
    SetPref("Appearance", "a" + std::to_string(key), config::Message(key - 65).value_or(""));
    const std::string stored = Format(kind, bob, "vic", "kick", "knock", "=WallOp=", 2);
    EXPECT_EQ(missing, stored) << "key " << key;
    EXPECT_FALSE(missing.empty()) << "key " << key;
  }
  platform::ini::DeleteKey(config::PrefIni(), "Appearance", "a102");
  EXPECT_EQ(Format(kAppearJoin, bob), "\x02\x03" "12\x12\xAE\x12 bob (~bu@host.example) has joined #chan");
}

TEST_F(AppearanceTest, AnEmptyTemplateIsNotReplacedByTheDefault) {
  SetPref("Appearance", "a101", "");
  EXPECT_EQ(Format(kAppearMessage, bob), "");
}

TEST_F(AppearanceTest, WithoutCatalogueAMissingKeyGivesNothing) {
  config::UnloadCatalogue();
  EXPECT_EQ(Format(kAppearMessage, bob), "");
  config::LoadCatalogue();
}

TEST_F(AppearanceTest, ChangedSettingsAreSeenAtOnce) {
  for (int i = 0; i < 20; ++i) {
    SetPref("Appearance", "a101", "v" + std::to_string(i) + " $nick");
    EXPECT_EQ(Format(kAppearMessage, bob), "v" + std::to_string(i) + " bob");
  }
  SetPref("MoreOptions", "Prefix", "P");
  EXPECT_EQ(WithTemplate("$prefix", bob), "P");
}

struct HiliteCase {
  const char* words;
  int space;
  const char* text;
  const char* expected;
};

TEST_F(AppearanceTest, Highlighting) {
  SetPref("MoreOptions", "HiliteFormula", "[%s]");
  const HiliteCase cases[] = {
      {"", 1, "hi bob there", "hi bob there"},
      {"bob", 1, "hi bob, bobby", "hi bob, bobby"},
      {"bob", 1, "hi bob there", "hi [bob] there"},
      {"bob", 1, "bob", "[bob]"},
      {"bob", 1, "hi BOB", "hi [bob]"},
      {"bob", 1, "bob and bob", "[bob] and bob"},
      {"bob", 1, "xbob bob", "xbob bob"},
      {"bob", 1, "hi bob\r\n", "hi [bob]\r\n"},
      {"bob", 1, "hi bob0", "hi [bob]0"},
      {"bob", 0, "hi bobby", "hi [bob]by"},
      {"bob", 0, "xbob bob", "xbob bob"},
      {"bob alice", 1, "alice and bob", "[alice] and [bob]"},
      {"bob  alice", 1, "bob alice", "[bob] alice"},
      {"$me", 1, "hey tester look", "hey [tester] look"},
      {"%s %n", 1, "a %s b %n", "a [%s] b [%n]"},
  };
  const int server = MakeServerWindow("127.0.0.1", 6667, "tester");
  ASSERT_EQ(server, 0);
  for (const auto& c : cases) {
    SetPref("MoreOptions", "Hilite", c.words);
    SetPref("MoreOptions", "HiliteSpace", std::to_string(c.space));
    auto line = Record("bob!b@h", "#c", "PRIVMSG", c.text);
    EXPECT_EQ(WithTemplate("$message", line), c.expected) << c.words << " / " << c.text;
  }
}

TEST_F(AppearanceTest, DefaultHighlightFormula) {
  SetPref("MoreOptions", "Hilite", "bob");
  EXPECT_EQ(WithTemplate("$message", Record("x!y@z", "#c", "PRIVMSG", "hi bob")),
            "hi \x02\x04\x03" "4,8bob\x02\x03" "1,0");
}

TEST_F(AppearanceTest, MeIsTheNickOnTheWindowsOwnServer) {
  SetPref("MoreOptions", "HiliteFormula", "[%s]");
  SetPref("MoreOptions", "Hilite", "$me");
  const int first = MakeServerWindow("127.0.0.1", 6667, "alpha");
  const int second = MakeServerWindow("127.0.0.1", 6668, "beta");
  const int chan = MakeWindow("#c", sessions::kChannelWindow, second);
  ASSERT_GE(chan, 0);
  SetPref("Appearance", "a101", "$message");
  auto line = Record("x!y@z", "#c", "PRIVMSG", "alpha beta");
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, chan), "alpha [beta]");
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, first), "[alpha] beta");
  // A window that is gone: the first server's session.
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, 77), "[alpha] beta");
}

TEST_F(AppearanceTest, ServerTextIsNeverAFormat) {
  SetPref("MoreOptions", "Hilite", "bob");
  SetPref("MoreOptions", "HiliteFormula", "<%s>");
  auto line = Record("%s%n$nick!%x@$IP", "$message%s", "%n", "bob %s%s%n $nick $message $h02");
  const std::string out = WithTemplate("$nick|$channel|$action|$message|$ident|$IP", line);
  EXPECT_EQ(out, "%s%n$nick|$message%s|%n|<bob> %s%s%n $nick $message $h02|%x|$IP");
  EXPECT_EQ(Format(kAppearKick, line, "$nick%s", "$message"),
            Format(kAppearKick, line, "$nick%s", "$message"));  // stable, no crash
}

TEST_F(AppearanceTest, OutputStaysWithinTheBuffer) {
  const std::string big(20000, 'x');
  auto line = Record(std::string(5000, 'n') + "!u@h", "#c", "PRIVMSG", big);
  line.nick = std::string(5000, 'n');
  EXPECT_EQ(WithTemplate("<$nick> $message", line).size(), 9999u);
  SetPref("Appearance", "a102", "$message$message");
  EXPECT_EQ(Format(kAppearJoin, line).size(), 999u);
  std::string many;
  for (int i = 0; i < 100; ++i) many += "$message";
  EXPECT_EQ(WithTemplate(many, line).size(), 9999u);
  // The limit counts from what the caller already had in the buffer.
  std::string out = "prefix";
  FormatAppearance(-1, kAppearJoin, out, line);
  EXPECT_EQ(out.size(), 6u + 999u);
}

TEST_F(AppearanceTest, CutNeverSplitsAUtf8Character) {
  std::string text;
  for (int i = 0; i < 6000; ++i) text += "\xC3\xA9";  // é
  auto line = Record("bob!b@h", "#c", "PRIVMSG", text);
  for (const char* tpl : {"$message", "a$message", "ab$message"}) {
    const std::string out = WithTemplate(tpl, line);
    ASSERT_FALSE(out.empty());
    EXPECT_LE(out.size(), 9999u);
    EXPECT_EQ(static_cast<unsigned char>(out.back()), 0xA9) << tpl;
  }
}

TEST_F(AppearanceTest, NulEndsTheFields) {
  auto line = Record("bob!b@h", "#c", "PRIVMSG", "he\0llo"s);
  line.nick = "bo\0b"s;
  EXPECT_EQ(WithTemplate("<$nick> $message", line), "<bo> he");
  SetPref("Appearance", "a106", "$victim $kickmsg");
  EXPECT_EQ(Format(kAppearKick, line, "vi\0ctim"s, "re\0ason"s), "vi re");
}

// A nick list kept by the test, measured one column per byte unless given pixel widths.
struct FakeLists {
  std::map<int, std::vector<std::string>> lists;
  std::map<std::string, int> widths;  // text -> pixels; empty = columns
  bool broken = false;

  std::shared_ptr<const ChannelViewAccess> Access() {
    auto a = std::make_shared<ChannelViewAccess>();
    a->has_entry = [this](int w, std::string_view e) {
      for (const auto& x : lists[w])
        if (x == e) return true;
      return false;
    };
    a->for_each_entry = [this](int w, const std::function<void(std::string_view)>& visit) {
      for (const auto& x : lists[w]) visit(x);
    };
    if (!widths.empty() || broken)
      a->text_width = [this](int, std::string_view t) {
        if (broken) return -1;
        auto it = widths.find(std::string(t));
        return it == widths.end() ? 0 : it->second;
      };
    return a;
  }
};

TEST_F(AppearanceTest, ColourNickFollowsTheNickListPrefix) {
  const int server = MakeServerWindow("127.0.0.1", 6667, "tester");
  const int chan = MakeWindow("#c", sessions::kChannelWindow, server);
  const int query = MakeWindow("bob", sessions::kQueryWindow, server);
  ASSERT_GE(query, 0);
  SetPref("Skins", "LV1", "1");
  SetPref("Skins", "LV2", "2");
  SetPref("Skins", "LV3", "3");
  SetPref("Skins", "LV5", "5");
  SetPref("Skins", "cLVI", "255");
  SetPref("Appearance", "a101", "$colornick:");
  FakeLists fake;
  fake.lists[chan] = {".owner", "@op", "%half", "+voice", "plain"};
  SetChannelViewAccess(fake.Access());
  const struct {
    const char* nick;
    const char* colour;
  } cases[] = {{"owner", "00000001"}, {"op", "00000002"},    {"half", "00000005"},
               {"voice", "00000003"}, {"plain", "000000FF"}, {"stranger", "000000FF"}};
  for (const auto& c : cases) {
    auto line = Record(std::string(c.nick) + "!u@h", "#c", "PRIVMSG", "x");
    EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, chan),
              "\x07"s + c.colour + c.nick + "\x07" "00000000:")
        << c.nick;
  }
  auto line = Record("op!u@h", "#c", "PRIVMSG", "x");
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, query), "op:");
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, 500), "op:");
  SetChannelViewAccess(nullptr);
  EXPECT_EQ(Format(kAppearMessage, line, {}, {}, {}, {}, 0, chan), "op:");
}

TEST_F(AppearanceTest, ColourNickDefaultsToMinusOne) {
  const int server = MakeServerWindow("127.0.0.1", 6667, "tester");
  const int chan = MakeWindow("#c", sessions::kChannelWindow, server);
  FakeLists fake;
  fake.lists[chan] = {"@op"};
  SetChannelViewAccess(fake.Access());
  SetPref("Appearance", "a101", "$colornick");
  EXPECT_EQ(Format(kAppearMessage, Record("op!u@h", "#c", "PRIVMSG", "x"), {}, {}, {}, {}, 0, chan),
            "\x07" "FFFFFFFFop\x07" "00000000");
}

TEST_F(AppearanceTest, AlignmentCount) {
  const int server = MakeServerWindow("127.0.0.1", 6667, "tester");
  const int chan = MakeWindow("#c", sessions::kChannelWindow, server);
  const int query = MakeWindow("bob", sessions::kQueryWindow, server);
  FakeLists fake;
  fake.lists[chan] = {"@alice_long", "bob", "+x"};
  SetChannelViewAccess(fake.Access());
  EXPECT_EQ(AlignmentCount("bob", chan), 8);
  EXPECT_EQ(AlignmentCount("@alice_long", chan), 0);
  EXPECT_EQ(AlignmentCount("a_nick_wider_than_all", chan), 0);
  EXPECT_EQ(AlignmentCount("bob", query), 0);
  EXPECT_EQ(AlignmentCount("bob", server), 0);
  EXPECT_EQ(AlignmentCount("bob", 900), 0);

  // Pixel widths: the difference in spaces, rounded; exactly half a space rounds down.
  fake.widths = {{" ", 4}, {"a", 10}, {"b", 16}, {"c", 17}, {"d", 19}, {"wide", 22}};
  fake.lists[chan] = {"wide"};
  SetChannelViewAccess(fake.Access());
  EXPECT_EQ(AlignmentCount("a", chan), 3);  // 12 / 4
  EXPECT_EQ(AlignmentCount("b", chan), 1);  // 6 = 1 space + half: down
  EXPECT_EQ(AlignmentCount("c", chan), 1);  // 5
  EXPECT_EQ(AlignmentCount("d", chan), 1);  // 3 = more than half a space: up
  fake.broken = true;
  SetChannelViewAccess(fake.Access());
  EXPECT_EQ(AlignmentCount("a", chan), 0);
  SetChannelViewAccess(nullptr);
  EXPECT_EQ(AlignmentCount("a", chan), 0);
}

TEST_F(AppearanceTest, ColumnWidthCountsCharacters) {
  EXPECT_EQ(ColumnWidth(""), 0);
  EXPECT_EQ(ColumnWidth("bob"), 3);
  EXPECT_EQ(ColumnWidth("b\xC3\xA9" "b"), 3);
  EXPECT_EQ(ColumnWidth("\xE2\x82\xAC"), 1);
}

TEST_F(AppearanceTest, FormattingFromSeveralThreadsWhileSettingsChange) {
  // Under the thread sanitizer this shows that the settings cache is shared safely.
  SetPref("Appearance", "a101", "<$nick> $message");
  SetPref("MoreOptions", "Hilite", "bob");
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        std::string out;
        FormatAppearance(-1, kAppearMessage, out, bob);
        if (out.size() < 5 || out.substr(1, 4) != "bob>") ++wrong;
      }
    });
  for (int i = 0; i < 20; ++i) SetPref("Appearance", "a101", (i % 2 ? "<" : "[") + "$nick> $message"s);
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(StoredEscapes, Decoding) {
  const VarCase cases[] = {
      {"$h02bold", "\x02" "bold"}, {"$h7f$h7F", "\x7F\x7F"}, {"$hour", "$hour"},  {"$hOur", "$hOur"},
      {"$hg1", "\xFF"},           {"$h1", "$h1"},           {"$h", "$h"},        {"$H02", "$H02"},
      {"$$h41", "$A"},            {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeStoredEscapes(c.tpl), c.expected) << c.tpl;
}

class SkinAssemblyTest : public AppearanceTest {
 protected:
  std::string Stored(const std::string& key) {
    return platform::ini::ReadString(config::PrefIni(), "Appearance", key, "<missing>", 10000);
  }
};

TEST_F(SkinAssemblyTest, DefaultsGiveSkinHalfSpaceLanguageHalf) {
  SetPref("Appearance", "RAWSERVER", "3");
  EXPECT_EQ(ApplySkinAppearance(), 50);
  EXPECT_EQ(Stored("a102"), "$h02$h0312$h12$hAE$h12 " + config::Message(1062).value_or("?"));
  EXPECT_EQ(Stored("a101"), "$h031$h02<$nick>$h02 $message");
  EXPECT_EQ(Stored("u117"), "$h0312$h02*$nick$h02 $actionmessage");
  EXPECT_EQ(Stored("RAWSERVER"), "3");
  EXPECT_EQ(Format(kAppearMessage, bob), "\x03" "1\x02<bob>\x02 hello there");
  // Running it again changes nothing.
  const std::string before = platform::ini::ReadSectionText(config::PrefIni(), "Appearance", 100000);
  ApplySkinAppearance();
  EXPECT_EQ(platform::ini::ReadSectionText(config::PrefIni(), "Appearance", 100000), before);
}

TEST_F(SkinAssemblyTest, OwnPrefixOnlyInFrontOfOwnMessages) {
  ApplySkinAppearance();
  SetPref("MoreOptions", "Prefix", "P>");
  EXPECT_EQ(Format(kAppearOwnMessage, bob), "\x03" "1\x02<bob>\x02 P>hello there");
  EXPECT_EQ(Format(kAppearSecureOwn, bob), "\x03" "1\x02<bob>\x02 P>hello there");
  EXPECT_EQ(Format(kAppearMessage, bob), "\x03" "1\x02<bob>\x02 hello there");
  EXPECT_EQ(Format(kAppearSecureMessage, bob), "\x03" "1\x02<bob>\x02 hello there");
}

TEST_F(SkinAssemblyTest, SkinAndLanguageHalvesFromTheProfile) {
  SetPref("SkinAppear", "a103", "S103");
  SetPref("AppearA", "4", "L103 $nick");
  SetPref("AppearU", "4", "U103 $nick");
  SetPref("SkinAppear", "u104", "SU104");
  SetPref("SkinAppear", "a105", "");
  SetPref("Appearance", "a105", "untouched");
  SetPref("Appearance", "u105", "untouched too");
  SetPref("Appearance", "A103", "old value");
  ApplySkinAppearance();
  EXPECT_EQ(Stored("a103"), "S103 L103 $nick");
  EXPECT_EQ(Stored("u103"), "S103 U103 $nick");
  EXPECT_EQ(Stored("a104"), "$h02$h0700408000$h12$hAC$h12 " + config::Message(1064).value_or("?"));
  EXPECT_EQ(Stored("u104"), "SU104 " + config::Message(1064).value_or("?"));
  EXPECT_EQ(Stored("a105"), "untouched");
  EXPECT_EQ(Stored("u105"), "untouched too");
  const std::string section = platform::ini::ReadSectionText(config::PrefIni(), "Appearance", 100000);
  EXPECT_EQ(section.find("old value"), std::string::npos);
}

TEST_F(SkinAssemblyTest, TimeStampFormulaIsCopiedWhenTheSkinHasOne) {
  SetPref("MoreOptions", "TimeStampFormula", "mine");
  ApplySkinAppearance();
  EXPECT_EQ(config::PrefString("MoreOptions", "TimeStampFormula"), "mine");
  SetPref("SkinAppear", "TimeStampFormula", "$h02$hour");
  ApplySkinAppearance();
  EXPECT_EQ(config::PrefString("MoreOptions", "TimeStampFormula"), "$h02$hour");
}

// The seed preferences must hold what the assembly makes from the built-in halves, so a fresh
// profile and a re-applied default skin look the same.
TEST_F(SkinAssemblyTest, SeedTemplatesMatchTheAssembly) {
  const char* source = std::getenv("VANTA_SOURCE");
  if (source == nullptr) GTEST_SKIP() << "VANTA_SOURCE not set";
  const std::string seed = std::string(source) + "/src/vres/seed/prefini/30-templates.ini";
  ASSERT_TRUE(platform::ini::FileExists(seed));
  ApplySkinAppearance();
  int compared = 0;
  for (const auto& [key, value] : platform::ini::SectionEntries(seed, "Appearance")) {
    EXPECT_EQ(value, Stored(key)) << key;
    ++compared;
  }
  EXPECT_EQ(compared, 50);
}

}  // namespace
}  // namespace vanta::output
