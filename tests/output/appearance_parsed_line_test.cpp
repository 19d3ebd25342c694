#include <gtest/gtest.h>

#include <string>

#include "dispatch/parsed_line.h"

namespace vanta::dispatch {
namespace {

using namespace std::string_literals;

struct ParseCase {
  const char* name;
  std::string line;
  int result;
  int32_t kind;
  int32_t numeric;
  std::string prefix, nick, command, target, parameters;
};

class ParseLineTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseLineTable, FillsTheFields) {
  const ParseCase& c = GetParam();
  ParsedLine p;
  EXPECT_EQ(ParseLine(c.line, &p), c.result);
  EXPECT_EQ(p.kind, c.kind);
  EXPECT_EQ(p.numeric, c.numeric);
  EXPECT_EQ(p.prefix, c.prefix);
  EXPECT_EQ(p.nick, c.nick);
  EXPECT_EQ(p.command, c.command);
  EXPECT_EQ(p.target, c.target);
  EXPECT_EQ(p.parameters, c.parameters);
}

const ParseCase kParseCases[] = {
    {"privmsg", ":bob!~b@host.example PRIVMSG #chan :hello  world\r\n", 1, 1, 0, "bob!~b@host.example", "bob",
     "PRIVMSG", "#chan", "hello  world"},
    {"ctcp_keeps_01", ":bob!b@h PRIVMSG me :\x01" "ACTION waves\x01\r\n", 1, 1, 0, "bob!b@h", "bob", "PRIVMSG", "me",
     "\x01" "ACTION waves\x01"},
    {"numeric_keeps_colon", ":irc.example 001 me :Welcome to IRC\r\n", 1, 0, 1, "irc.example", "irc.example", "", "me",
     ":Welcome to IRC"},
    {"numeric_three_digits", ":srv 433 * bob :Nickname is already in use", 1, 0, 433, "srv", "srv", "", "*",
     "bob :Nickname is already in use"},
    {"join_drops_colon", ":bob!b@h JOIN :#chan\r\n", 1, 1, 0, "bob!b@h", "bob", "JOIN", "#chan", ""},
    {"join_lower_case", ":bob!b@h join :#chan", 1, 1, 0, "bob!b@h", "bob", "join", "#chan", ""},
    {"part_keeps_target", ":bob!b@h PART :#chan", 1, 1, 0, "bob!b@h", "bob", "PART", ":#chan", ""},
    {"nick_from_third", ":bob!b@h NICK :robert\r\n", 1, 1, 0, "bob!b@h", "bob", "NICK", ":robert", "robert"},
    {"quit_from_third", ":bob!b@h QUIT :Bye now   \r\n", 1, 1, 0, "bob!b@h", "bob", "QUIT", ":Bye", "Bye now"},
    {"wallops_from_third", ":oper WALLOPS :net split", 1, 1, 0, "oper", "oper", "WALLOPS", ":net", "net split"},
    {"silence_from_third", ":srv SILENCE +*!*@spam", 1, 1, 0, "srv", "srv", "SILENCE", "+*!*@spam", "+*!*@spam"},
    {"kick", ":op!o@h KICK #chan bob :go away", 1, 1, 0, "op!o@h", "op", "KICK", "#chan", "bob :go away"},
    {"mode_spaces_runs", ":op!o@h  MODE   #chan   +o bob  ", 1, 1, 0, "op!o@h", "op", "MODE", "#chan", "+o bob"},
    {"server_prefix", ":irc.example NOTICE * :*** Looking up", 1, 1, 0, "irc.example", "irc.example", "NOTICE", "*",
     "*** Looking up"},
    {"no_prefix", "PING :irc.example\r\n", 0, 0, 0, "", "", "", "", ""},
    {"empty", "", 0, 0, 0, "", "", "", "", ""},
    {"only_crlf", "\r\n", 0, 0, 0, "", "", "", "", ""},
    {"only_prefix", ":bob!b@h\r\n", 1, 1, 0, "bob!b@h", "bob", "", "", ""},
    {"only_colon", ":", 1, 1, 0, "", "", "", "", ""},
    {"zero_is_not_numeric", ":srv 000 me x", 1, 1, 0, "srv", "srv", "000", "me", "x"},
    {"huge_number_is_a_command", ":srv 99999999999 me x", 1, 1, 0, "srv", "srv", "99999999999", "me", "x"},
    {"digits_and_letters", ":srv 12a me x", 1, 1, 0, "srv", "srv", "12a", "me", "x"},
    {"nul_ends_line", ":bob!b@h PRIVMSG #c :he\0llo"s, 1, 1, 0, "bob!b@h", "bob", "PRIVMSG", "#c", "he"},
    {"lone_cr_ends_fields", ":bob!b@h PRIVMSG #c :he\rllo", 1, 1, 0, "bob!b@h", "bob", "PRIVMSG", "#c", "he"},
    {"lone_lf_ends_fields", ":bob!b@h PRIVMSG #c :he\nPRIVMSG", 1, 1, 0, "bob!b@h", "bob", "PRIVMSG", "#c", "he"},
    {"many_parameters", ":s 005 me a b c d e f g h i j k l m n o p q r :are supported", 1, 0, 5, "s", "s", "", "me",
     "a b c d e f g h i j k l m n o p q r :are supported"},
};

INSTANTIATE_TEST_SUITE_P(Lines, ParseLineTable, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseLine, RawCopiesKeepTheLineEnd) {
  ParsedLine p;
  ParseLine(":a PRIVMSG #c :x\r\n", &p);
  for (const auto& r : p.raw) EXPECT_EQ(r, ":a PRIVMSG #c :x\r\n");
  ParseLine("PING :x\r\n", &p);
  for (const auto& r : p.raw) EXPECT_EQ(r, "PING :x\r\n");
}

TEST(ParseLine, FieldsAreCutAtTheirLimits) {
  const std::string long_prefix(400, 'n');
  const std::string text(12000, 'x');
  ParsedLine p;
  ASSERT_EQ(ParseLine(":" + long_prefix + " PRIVMSG " + std::string(500, '#') + " :" + text, &p), 1);
  EXPECT_EQ(p.prefix, std::string(299, 'n'));
  EXPECT_EQ(p.nick, std::string(299, 'n'));
  EXPECT_EQ(p.target.size(), 299u);
  EXPECT_EQ(p.parameters, std::string(9999, 'x'));
  for (const auto& r : p.raw) EXPECT_EQ(r.size(), 9999u);
  ParseLine(":a " + std::string(1000, 'C') + " t", &p);
  EXPECT_EQ(p.command.size(), 299u);
}

TEST(ParseLine, ANewLineLeavesNothingOfTheOldOne) {
  ParsedLine p;
  ParseLine(":bob!b@h PRIVMSG #chan :a long message here", &p);
  ParseLine(":srv 001 me", &p);
  EXPECT_EQ(p.kind, ParsedLine::kNumeric);
  EXPECT_EQ(p.command, "");
  EXPECT_EQ(p.parameters, "");
  ParseLine("PING :x", &p);
  EXPECT_EQ(p.prefix, "");
  EXPECT_EQ(p.numeric, 0);
  EXPECT_EQ(p.target, "");
}

TEST(ParseLine, NullRecordIsRefused) { EXPECT_EQ(ParseLine(":a b c", nullptr), 0); }

}  // namespace
}  // namespace vanta::dispatch
