// The option table: its shape, loading with and without keys, reloading, the directory settings.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include "config/config_fixture.h"
#include "config/ini_store.h"
#include "config/options.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace vanta::config {
namespace {

namespace ini = platform::ini;

class OptionsTest : public test::ConfigTest {};

TEST_F(OptionsTest, TableHasItsSectionsAndUniqueKeys) {
  std::map<std::string, int> per_section;
  std::set<std::string> keys;
  int fserv = 0;
  for (const auto& e : OptionTable()) {
    ++per_section[e.section];
    EXPECT_TRUE(keys.insert(std::string(e.section) + "/" + e.key).second) << e.key;
    if (OptionPage(e) == 5) {
      ++fserv;
      EXPECT_NE(OptionFile(e).find("fserv.ini"), std::string::npos);
    }
  }
  EXPECT_EQ(OptionTable().size(), 147u);
  EXPECT_EQ(per_section, (std::map<std::string, int>{{"General", 56}, {"Appearance", 22}, {"Metrics", 26},
                                                     {"MoreOptions", 35}, {"Media", 2}, {"Syntax", 6}}));
  EXPECT_EQ(fserv, 6);
}

TEST_F(OptionsTest, MissingKeysGiveBuiltInDefaultsAndStoredKeysWin) {
  LoadOptions();  // no files at all
  EXPECT_EQ(OptionInt("MoreOptions", "FloodDelay"), 100);
  EXPECT_EQ(OptionText("MoreOptions", "LogDCCFile"), "dcc_*.log");
  EXPECT_EQ(OptionText("General", "FingerMsg"), "Uh , finger ?");
  EXPECT_EQ(OptionText("MoreOptions", "TimeStampFormula"), "\x03" "1\x02$hour:$minute | \x02\x03\x07\x03\x07");

  SetPref("MoreOptions", "floodDELAY", "500");
  SetPref("General", "QuitMsg", "$h02bye");
  WriteMultiLine(PrefIni(), "General", "KickMsg", "one\r\ntwo");
  ini::WriteString(BuildPath("fserv.ini", true), "General", "MaxUsers", "3");
  SetPref("General", "MaxUsers", "99");  // page 5 is read from fserv.ini only
  LoadOptions();
  EXPECT_EQ(OptionInt("MoreOptions", "FloodDelay"), 500);
  EXPECT_EQ(OptionText("General", "QuitMsg"), "\x02" "bye");
  EXPECT_EQ(OptionText("General", "KickMsg"), "one\r\ntwo");
  EXPECT_EQ(OptionInt("General", "MaxUsers"), 3);
}

TEST_F(OptionsTest, ReloadPicksUpChangesAndDropsCachedSets) {
  const int i = OptionIndex("Metrics", "ErrColor");
  ASSERT_GE(i, 0);
  LoadOptions();
  EXPECT_EQ(OptionInt(i), 255);
  EXPECT_TRUE(SetOptionInt(i, 7));  // "/_set": the cached copy only
  EXPECT_EQ(OptionInt(i), 7);
  EXPECT_EQ(ini::ReadString(PrefIni(), "Metrics", "ErrColor", "none"), "none");
  SetPref("Metrics", "ErrColor", "128");
  LoadOptions();
  EXPECT_EQ(OptionInt(i), 128);
  EXPECT_FALSE(SetOptionText(i, "x"));
  EXPECT_EQ(OptionIndex("Nope", "ErrColor"), -1);
  EXPECT_EQ(OptionInt(-1), 0);
  EXPECT_EQ(OptionText(9999), "");
}

TEST_F(OptionsTest, DirectoriesAreNormalised) {
  const std::string& home = platform::ProgramDir();
  SetPref("General", "FilesDir", "  downloads\\sub\\ ");
  SetPref("General", "SoundDir", "");
  SetPref("General", "LogDir", "/var/tmp/");
  SetPref("General", "NickPrefix", "@");
  LoadOptions();
  EXPECT_EQ(FilesDir(), home + "/downloads/sub");
  EXPECT_EQ(SoundDir(), home + "/SOUND");
  EXPECT_EQ(LogDir(), "/var/tmp");
  EXPECT_EQ(NickPrefix(), "@");
}

TEST_F(OptionsTest, ReadersAndAReloadRaceFree) {
  const int text = OptionIndex("General", "QuitMsg"), num = OptionIndex("MoreOptions", "FloodDelay");
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::size_t n = 0;
    while (!stop.load()) n += OptionText(text).size() + static_cast<std::size_t>(OptionInt(num));
    EXPECT_GT(n, 0u);
  });
  for (int i = 0; i < 50; ++i) {
    SetPref("General", "QuitMsg", "bye " + std::to_string(i));
    LoadOptions();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(OptionText(text), "bye 49");
}

}  // namespace
}  // namespace vanta::config
