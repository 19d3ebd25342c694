// The order of tests: which command word a line is taken by.
#include <gtest/gtest.h>

#include "commands/run_command.h"

namespace vanta::commands {
namespace {

struct OrderCase {
  const char* line;
  const char* word;  // "" = no command
};

class Order : public ::testing::TestWithParam<OrderCase> {};

TEST_P(Order, FirstMatchWins) {
  EXPECT_EQ(MatchCommand(GetParam().line), std::string_view(GetParam().word)) << GetParam().line;
}

const OrderCase kOrder[] = {
    {"/joinx #a\r\n", "/join"},          {"/JOIN #a\r\n", "/join"},
    {"/part\r\n", "/part\r\n"},          {"/part", "/part\r\n"},
    {"/part #a bye\r\n", ""},            {"/leave\r\n", "/leave\r\n"},
    {"/msgtarget\r\n", "/msgtarget"},    {"/msg x y\r\n", "/msg "},
    {"/msg\r\n", ""},                    {"/MSG x\r\n", "/msg "},
    {"/ctcpreply a b\r\n", "/ctcpreply "}, {"/ctcp a b\r\n", "/ctcp "},
    {"/list\r\n", "/list"},              {"/list #a\r\n", ""},
    {"/listx\r\n", ""},                  {"/listing\r\n", "/list"},
    {"/names\r\n", "/names"},            {"/names #a\r\n", ""},
    {"/prop\r\n", "/prop"},              {"/prop #a x\r\n", ""},
    {"/access #a\r\n", ""},              {"/links\r\n", "/links"},
    {"/clearall\r\n", "/clearall"},      {"/clear #\r\n", "/clear"},
    {"/close\r\n", "/close"},            {"/playsound x\r\n", "/playsound "},
    {"/play x y\r\n", "/play "},         {"/playstop\r\n", "/playstop"},
    {"/who\r\n", "/who\r\n"},            {"/who x\r\n", ""},
    {"/whois x\r\n", "/whois "},         {"/me x\r\n", "/me "},
    {"/mme x y\r\n", "/mme "},           {"/mquery a b\r\n", "/mquery "},
    {"/dccmsg 1 x\r\n", "/dccmsg "},     {"/dcc chat x\r\n", "/dcc "},
    {"/dcc4 chat x\r\n", "/dcc4 "},      {"/sendkey\r\n", "/sendkey"},
    {"/send a b\r\n", "/send "},         {"/soundmanager\r\n", "/soundmanager"},
    {"/sound a b\r\n", "/sound "},       {"/reconnect\r\n", "/reconnect"},
    {"/reconnectnow h\r\n", "/reconnect"}, {"/running x\r\n", "/run"},
    {"/reset #a\r\n", "/reset "},        {"/server h\r\n", "/server "},
    {"/server\r\n", ""},                 {"/shutdownall\r\n", "/shutdownall"},
    {"/shutdown\r\n", "/shutdown"},      {"/addtextw # x\r\n", "/addtextw "},
    {"/addtext # x\r\n", "/addtext "},   {"/addon\r\n", "/addon\r\n"},
    {"/addon x\r\n", ""},                {"/addressbook\r\n", "/addressbook"},
    {"/wallexo #a x\r\n", "/wallexo "},  {"/wallo #a x\r\n", "/wallo "},
    {"/loadplugins\r\n", "/loadplugins"}, {"/load x\r\n", "/load "},
    {"/disconnect\r\n", "/disconnect"},  {"/display * x\r\n", "/display "},
    {"/query x\r\n", "/query "},         {"/fquery x\r\n", "/fquery "},
    {"/quitting now\r\n", "/quit"},      {"/quote x\r\n", "/quote "},
    {"// 1\r\n", "// "},                 {"/eval 1\r\n", "/eval "},
    {"/target #a\r\n", "/target"},       {"/tchat a\r\n", "/tchat "},
    {"/topic #a\r\n", "/topic "},        {"/timer\r\n", "/timer"},
    {"/_set x y\r\n", "/_set "},         {"/dns x\r\n", "/dns"},
    {"/connect\r\n", "/connect"},        {"/control\r\n", "/control"},
    {"/\\x6Dsg a b\r\n", "/msg "},       {"/frobnicate\r\n", ""},
    {"plain text\r\n", ""},              {"/\r\n", ""},
};

INSTANTIATE_TEST_SUITE_P(Commands, Order, ::testing::ValuesIn(kOrder));

}  // namespace
}  // namespace vanta::commands
