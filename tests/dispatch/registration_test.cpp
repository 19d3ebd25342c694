// The built-in stage: server information, login event, nick collisions while registering,
// repeating USER, address learning, the secure-key acknowledgement and the user's bypass.
#include <gtest/gtest.h>

#include <cctype>

#include "config/file_set.h"
#include "dispatch/numerics_fixture.h"
#include "output/show_text.h"
#include "sessions/hooks.h"

namespace vanta::dispatch::test {
namespace {

using sessions::ServerSession;

// Answers the timed nick prompt from a list and records each prompt.
class PromptFrontEnd : public vanta::test::RecordingFrontEnd {
 public:
  std::optional<std::string> AskTextTimed(std::string_view, std::string_view, std::string_view initial,
                                          int timeout_ms) override {
    prompts.emplace_back(initial);
    timeouts.push_back(timeout_ms);
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> prompts;
  std::vector<int> timeouts;
  std::deque<std::optional<std::string>> answers;
};

class RegistrationTest : public NumericFixture {
 protected:
  void SetUp() override {
    NumericFixture::SetUp();
    auto p = std::make_unique<PromptFrontEnd>();
    prompt = p.get();
    fe = p.get();
    ui::Install(std::move(p));
  }
  void TearDown() override {
    GetRegistrationHooks() = RegistrationHooks{};
    NumericFixture::TearDown();
  }
  std::string Nick() { return Session(server)->Get(&ServerSession::nick); }
  PromptFrontEnd* prompt = nullptr;
};

bool RandomNickForm(const std::string& n) {
  if (n.size() != 8) return false;
  for (char c : n)
    if (c < 'a' || c > 'z') return false;
  return true;
}

TEST_F(RegistrationTest, CollisionsAlternateBetweenAlternateAndRandomNick) {
  SetPref("General", "AlternateNick", "me_alt");
  EXPECT_FALSE(Stage(":irc.test 433 * me :Nickname is already in use")) << "not consumed";
  EXPECT_EQ(Sent(), (std::vector<std::string>{"NICK me_alt"}));
  EXPECT_TRUE(prompt->prompts.empty()) << "the alternate nick needs no prompt";

  Stage(":irc.test 433 * me_alt :Nickname is already in use");
  ASSERT_EQ(prompt->prompts.size(), 1u);
  EXPECT_TRUE(RandomNickForm(prompt->prompts[0])) << prompt->prompts[0];
  EXPECT_EQ(prompt->timeouts[0], 60000);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"NICK " + prompt->prompts[0]})) << "a timed-out prompt keeps it";
  EXPECT_EQ(Nick(), prompt->prompts[0]);

  Stage(":irc.test 432 * x :Erroneous nickname");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"NICK me_alt"}));
}

TEST_F(RegistrationTest, WithoutAlternateEveryCollisionPrompts) {
  prompt->answers = {std::string("chosen"), std::string("  two words\r\nQUIT"), std::nullopt};
  Stage(":irc.test 433 * me :in use");
  Stage(":irc.test 433 * chosen :in use");
  Stage(":irc.test 433 * two :in use");
  EXPECT_EQ(prompt->prompts.size(), 3u);
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "NICK chosen");
  EXPECT_EQ(sent[1], "NICK two") << "an edited nick never carries a line break into the line";
  EXPECT_TRUE(RandomNickForm(sent[2].substr(5))) << sent[2];
}

TEST_F(RegistrationTest, CollisionAfterRegistrationIsLeftToTheUser) {
  SetPref("General", "AlternateNick", "me_alt");
  Session(server)->registered.store(1);
  Stage(":irc.test 433 me newnick :Nickname is already in use");
  Stage(":irc.test 432 me b@d :Erroneous nickname");
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(Nick(), "me");
}

TEST_F(RegistrationTest, ServerInformationRenamesWindowAndAdoptsNick) {
  auto s = Session(server);
  s->Set(&ServerSession::current_host, "");
  EXPECT_TRUE(Stage(":real.server.example 004 me2 real.server.example ngircd-26 abBcCiIoqrRswx abehiIklmMnoOPqQrRstvVz"));
  EXPECT_EQ(sessions::WindowTable::Get().Slot(server)->Name(), "real.server.example");
  EXPECT_EQ(Nick(), "me2");
  EXPECT_EQ(s->Get(&ServerSession::address_as_entered), "real.server.example");
  EXPECT_EQ(s->Get(&ServerSession::current_host), "irc.test") << "the old address is kept as the current host";
  EXPECT_TRUE(WaitShown("Server name : real.server.example - Nick Modes : abBcCiIoqrRswx - Channel Modes : "
                        "abehiIklmMnoOPqQrRstvVz",
                        "real.server.example"))
      << AllShown();
}

TEST_F(RegistrationTest, WelcomeRunsLoginEvent) {
  std::vector<std::pair<std::string, std::string>> events;
  sessions::GetHooks().special_event = [&](std::string_view e, std::string_view a, int w) {
    if (w == server) events.emplace_back(e, a);
  };
  EXPECT_FALSE(Stage(":irc.test 001 me :Welcome to the net"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, "OnLogin");
  EXPECT_EQ(events[0].second.substr(0, 35), ":irc.test 001 me :Welcome to the ne");
}

TEST_F(RegistrationTest, NotRegisteredRepeatsUser) {
  EXPECT_FALSE(Stage(":irc.test 451 * :You have not registered"));
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].rfind("USER me \"", 0), 0u) << sent[0];
  EXPECT_NE(sent[0].find("\"irc.test\" :Test User"), std::string::npos) << sent[0];
}

TEST_F(RegistrationTest, AddressesLearntFromWhoisAndUserhost) {
  std::vector<std::string> learnt;
  GetRegistrationHooks().learn_address = [&](int n, const UserAddress& a) {
    if (n == server) learnt.push_back(a.nick + "!" + a.user + "@" + a.host);
  };
  EXPECT_FALSE(Stage(":irc.test 311 me bob ~bob host.example * :Bob"));
  EXPECT_FALSE(Stage(":irc.test 302 me :op*=+~o@op.example carl=-c@away.example"));
  EXPECT_EQ(learnt, (std::vector<std::string>{"bob!~bob@host.example", "op!~o@op.example", "carl!c@away.example"}));
}

TEST(UserhostReply, Entries) {
  struct Case {
    const char* line;
    std::vector<std::string> want;
  } cases[] = {
      {":s 302 me :a=+u@h", {"a!u@h"}},
      {":s 302 me :a*=+u@h b=-v@w", {"a!u@h", "b!v@w"}},
      {":s 302 me a=+u@h :", {"a!u@h"}},
      {":s 302 me :", {}},
      {":s 302 me :noequals nosign=u@h a=+u@h", {"a!u@h"}},
      {":s 302 me :=+u@h", {}},
      {":s 302 me :ip6=+u@::1\r\n", {"ip6!u@::1"}},
  };
  for (auto& k : cases) {
    std::vector<std::string> got;
    for (auto& a : ParseUserhostReply(k.line)) got.push_back(a.nick + "!" + a.user + "@" + a.host);
    EXPECT_EQ(got, k.want) << k.line;
  }
}

TEST_F(RegistrationTest, SecureKeyAcknowledgement) {
  int q = MakeWindow("bob", sessions::kQueryWindow, server);
  auto slot = sessions::WindowTable::Get().Slot(q);
  // Without an offered key the acknowledgement changes nothing.
  EXPECT_TRUE(Stage(":bob!b@h NOTICE me :\x03-SECUREMSGKEY-\x03"));
  EXPECT_EQ(slot->secure_message.load(), 0);
  std::string key(128, 'k');
  SetPendingSecureKey(q, key);
  EXPECT_TRUE(Stage(":bob!b@h NOTICE me :\x03-SECUREMSGKEY-\x03"));
  EXPECT_EQ(slot->secure_message.load(), 1);
  {
    std::lock_guard lock(slot->mutex);
    EXPECT_EQ(slot->secure_key, key);
  }
  EXPECT_EQ(PendingSecureKey(q), "");
  EXPECT_FALSE(Texts("bob").empty()) << AllShown();
}

TEST_F(RegistrationTest, BypassListSkipsBuiltInHandlers) {
  SetPref("DefaultEvents", "IsUnlocking", "1");
  SetPref("DefaultEvents", "1", ":* PRIVMSG * :\x01VERSION*");
  SetPref("DefaultEvents", "2", ":* 004 *");
  SetPref("DefaultEvents", "4", ":* 433 *");  // after the gap: not part of the list
  ReloadRegistrationSettings();
  EXPECT_TRUE(BuiltInBypassed(":bob!b@h PRIVMSG me :\x01VERSION\x01"));
  EXPECT_FALSE(Stage(":s 004 me s v a b"));
  EXPECT_EQ(sessions::WindowTable::Get().Slot(server)->Name(), "irc.test");
  EXPECT_FALSE(BuiltInBypassed(":s 433 * me :in use"));
  SetPref("General", "AlternateNick", "alt");
  Stage(":s 433 * me :in use");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"NICK alt"}));
}

TEST_F(RegistrationTest, InvalidWindowOrEmptyLine) {
  EXPECT_FALSE(Stage("", server));
  EXPECT_FALSE(Stage(":s 004 me s v a b", 999));
  EXPECT_FALSE(Stage(":s 004 me s v a b", -1));
}

}  // namespace
}  // namespace vanta::dispatch::test
