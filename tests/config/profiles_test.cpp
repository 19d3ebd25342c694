// Login outcomes and rights.
#include <gtest/gtest.h>

#include "config/config_fixture.h"
#include "config/ini_store.h"
#include "config/profiles.h"
#include "platform/ini.h"

namespace vanta::config {
namespace {

namespace ini = platform::ini;

class ProfilesTest : public test::ConfigTest {
 protected:
  void SetUp() override {
    ConfigTest::SetUp();
    SeedFile(kAccountsIni, "ACCOUNTSINI");
  }
  void AddProfile(const std::string& name, const std::string& password, bool active = true) {
    ASSERT_TRUE(ListAdd(kAccountsIni, name, {{"Active", active ? "1" : "0"}}));
    WriteSecret(kAccountsIni, name, "Password", password);
  }
};

TEST_F(ProfilesTest, EmptyAdministratorPasswordNeverAsks) {
  fe->text_answers = {std::string("bob"), std::string("pw")};
  EXPECT_EQ(Login(*fe), "Administrator");
  EXPECT_EQ(fe->text_answers.size(), 2u);
}

TEST_F(ProfilesTest, LoginOutcomes) {
  using Answers = std::deque<std::optional<std::string>>;
  struct Case {
    const char* what;
    Answers answers;
    bool force_pass;
    std::optional<std::string> expect;
  } cases[] = {
      {"right password", {"bob", "secret"}, false, "bob"},
      {"name in another case", {"BOB", "secret"}, false, "bob"},
      {"wrong then right", {"bob", "Secret", "bob", "secret"}, false, "bob"},
      {"wrong then cancel", {"bob", "nope", std::nullopt}, false, "Default"},
      {"cancel at the name", {std::nullopt}, false, "Default"},
      {"cancel with ForcePass", {std::nullopt}, true, std::nullopt},
      {"inactive profile, right password", {"sleepy", "zz", std::nullopt}, false, "Default"},
      {"unknown profile", {"nobody", "", std::nullopt}, false, "Default"},
      {"profile without password", {"open", ""}, false, "open"},
      {"administrator with its password", {"Administrator", "root"}, false, "Administrator"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();  // fresh accounts for every case
    WriteSecret(kAccountsIni, "Administrator", "Password", "root");
    AddProfile("bob", "secret");
    AddProfile("sleepy", "zz", false);
    AddProfile("open", "");
    if (c.force_pass) ini::WriteString(kAccountsIni, "Contents", "ForcePass", "1");
    fe->text_answers = c.answers;
    EXPECT_EQ(Login(*fe), c.expect);
    if (c.expect && *c.expect != "Default")
      EXPECT_EQ(ini::ReadString(kAccountsIni, "Contents", "LastLogin"), *c.expect);
    TearDown();
  }
  SetUp();
}

TEST_F(ProfilesTest, HeadlessCannotAnswerAndFallsBackLikeCancel) {
  WriteSecret(kAccountsIni, "Administrator", "Password", "root");
  ui::FrontEnd headless;  // the default answers: cancelled
  EXPECT_EQ(Login(headless), "Default");
  ini::WriteString(kAccountsIni, "Contents", "ForcePass", "1");
  EXPECT_EQ(Login(headless), std::nullopt);
}

TEST_F(ProfilesTest, RightsAndTheEditor) {
  AddProfile("carol", "");
  ini::WriteString(kAccountsIni, "carol", "i201", "1");
  ini::WriteString(kAccountsIni, "Administrator", "i205", "0");
  EXPECT_TRUE(HasRight(kRightSkins, false));  // Administrator has everything
  EXPECT_TRUE(ProfileAdd("dave"));
  EXPECT_EQ(ini::ReadString(kAccountsIni, "dave", "Active"), "1");

  SetProfileName("carol");
  EXPECT_TRUE(HasRight(kRightAliases, false));
  EXPECT_FALSE(HasRight(kRightSkins, false));
  EXPECT_FALSE(HasRight(kRightProfiles, true));
  EXPECT_FALSE(ProfileAdd("eve"));
  EXPECT_FALSE(ProfileSetForcePass(true));
  ProfileRecord own{"carol", "mine", {true, true}};
  EXPECT_TRUE(ProfileStore(own));
  EXPECT_EQ(ProfileLoad("carol")->password, "mine");
  ProfileRecord other{"dave", "hijack", {}};
  EXPECT_TRUE(ProfileStore(other));  // rights written, the password is not hers to change
  EXPECT_EQ(ProfileLoad("dave")->password, "");
  int error = 0;
  EXPECT_FALSE(ProfileStore(ProfileRecord{}, &error));
  EXPECT_EQ(error, 11);

  SetProfileName("Administrator");
  EXPECT_FALSE(ProfileRename("Administrator", "Boss"));
  EXPECT_TRUE(ProfileRename("dave", "david"));
  EXPECT_TRUE(ProfileLoad("david"));
  EXPECT_FALSE(ProfileDelete(*fe, "Administrator"));
  fe->yes_no_answers = {false};
  EXPECT_FALSE(ProfileDelete(*fe, "david"));
  fe->yes_no_answers = {true};
  EXPECT_TRUE(ProfileDelete(*fe, "david"));
  EXPECT_FALSE(ProfileLoad("david"));
  EXPECT_TRUE(ProfileSetForcePass(true));
  EXPECT_EQ(ini::ReadString(kAccountsIni, "Contents", "ForcePass"), "1");
}

}  // namespace
}  // namespace vanta::config
