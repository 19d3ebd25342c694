// The file set: seeds from the resource library, start-up folders, "DYN" cleaning, "ProxyX".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "config/config_fixture.h"
#include "config/file_set.h"
#include "config/ini_store.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace vanta::config {
namespace {

namespace ini = platform::ini;

std::string Slurp(const std::string& path) {
  std::ifstream f(platform::ResolvePath(path), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Touch(const std::string& path, const std::string& text = "x") {
  std::ofstream(platform::ResolvePath(path), std::ios::binary) << text;
}

class FileSetTest : public test::ConfigTest {};

TEST_F(FileSetTest, FreshProfileIsSeededByteForByteAndKeptOnTheNextStart) {
  SetProfileName("Alice");
  PrepareFileSet();
  struct {
    const char* path;
    const char* resource;
  } seeds[] = {{"USERS/Alice/pref.ini", "PREFINI"},    {"USERS/Alice/alias.ini", "ALIASINI"},
               {"USERS/Alice/event.ini", "EVENTINI"},  {"USERS/Alice/server.ini", "SERVERINI"},
               {"USERS/Alice/font.dat", "FONTDAT"},    {"symbol.dat", "SYMBOLDAT"},
               {"voice.dat", "VOICEDAT"},              {"easy.ini", "EASYINI"},
               {"accounts.ini", "ACCOUNTSINI"}};
  for (const auto& s : seeds) {
    auto res = FindResource("DATA", s.resource);
    ASSERT_TRUE(res) << s.resource;
    EXPECT_EQ(Slurp(s.path), std::string(reinterpret_cast<const char*>(res->data()), res->size())) << s.path;
  }
  for (const char* dir : {"USERS/Alice", "FILES", "SOUND", "DYN", "MEDIA"})
    EXPECT_TRUE(platform::ResolvePath(dir).size() && access(platform::ResolvePath(dir).c_str(), W_OK) == 0) << dir;

  // The user's own changes survive the next start.
  ini::WriteString(PrefIni(), "MoreOptions", "FloodDelay", "42");
  Touch("USERS/Alice/alias.ini", "mine");
  PrepareFileSet();
  EXPECT_EQ(ini::ReadInt(PrefIni(), "MoreOptions", "FloodDelay", 0), 42);
  EXPECT_EQ(Slurp("USERS/Alice/alias.ini"), "mine");
  SetProfileName("Administrator");
}

TEST_F(FileSetTest, SeedsHoldTheDefaultsTheProgramReliesOn) {
  PrepareFileSet();
  const std::string pref = PrefIni();
  EXPECT_EQ(ini::ReadInt(pref, "MoreOptions", "FloodDelay", 0), 500);
  EXPECT_EQ(ini::ReadString(pref, "General", "LogDir"), "LOG");
  EXPECT_EQ(ini::ReadInt(pref, "General", "BanType", 0), 9);
  EXPECT_EQ(ReadMultiLine(pref, "General", "BlackListScript"),
            "/MODE $channel -o $nick\r\n/MODE $channel +b %DefaultBanFromMask(\"$0\")%\r\n/KICK $channel $nick :Black Listed");
  EXPECT_EQ(ini::ReadString(pref, "File Masks", "4"), "*.scr");
  EXPECT_EQ(ini::ReadString(pref, "status-673", "NickChange"), "*_away");
  EXPECT_EQ(ini::ReadInt(pref, "status-672", "DCCReceptionMode", 0), 1);
  EXPECT_EQ(ini::ReadInt(pref, "Metrics", "VTabW", 0), 80);
  const std::string text = Slurp(pref);
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;

  // The server list: no record connects by itself; the local test network is there.
  const std::string servers = BuildPath("server.ini", true);
  auto names = ListEnumerate(servers);
  ASSERT_FALSE(names.empty());
  for (const auto& n : names) EXPECT_NE(ini::ReadInt(servers, n, "AutoConnect", 0), 1) << n;
  EXPECT_EQ(ini::ReadString(servers, "Local test network", "Address"), "127.0.0.1");
  EXPECT_EQ(ini::ReadString(servers, "Local test network", "Port"), "6667");

  EXPECT_EQ(ini::ReadString("accounts.ini", "Contents", "LastLogin"), "Administrator");
  for (int i = 201; i <= 209; ++i) EXPECT_EQ(ini::ReadInt("accounts.ini", "Administrator", "i" + std::to_string(i), 0), 1);
  EXPECT_EQ(ListEnumerate(BuildPath("alias.ini", true)).size(), 24u);
  EXPECT_EQ(ini::ReadInt(BuildPath("event.ini", true), "GENERALIGNORE", "Locked", 0), 1);
  auto font = FindResource("DATA", "FONTDAT");
  ASSERT_TRUE(font);
  EXPECT_EQ(font->size() % 60, 0u);
  EXPECT_FALSE(FindResource("DATA", "NOSUCH"));
}

TEST_F(FileSetTest, DynKeepsOnlyFilesWithOtherExtensions) {
  CreateStartupDirectories();
  for (const char* f : {"a.tmp", "LINKS.INI", "b.Txt", "c.dat", "d.rtf", "e.dlg", "f.bmp", "g.jpg", "h.stg", "i.htm",
                        "j.gif", "k.swf", "l.ski", "m.key"})
    Touch(std::string("DYN/") + f);
  for (const char* f : {"keep.log", "keep.ini.bak", "noext", ".ini"}) Touch(std::string("DYN/") + f);
  platform::EnsureDir("DYN/sub.ini");
  EXPECT_EQ(CleanDyn(), 14);
  for (const char* f : {"keep.log", "keep.ini.bak", "noext", ".ini"})
    EXPECT_TRUE(ini::FileExists(std::string("DYN/") + f)) << f;
  EXPECT_FALSE(ini::FileExists("DYN/LINKS.INI"));
  struct stat st;
  EXPECT_EQ(stat(platform::ResolvePath("DYN/sub.ini").c_str(), &st), 0);
}

TEST_F(FileSetTest, ProxyXIsDeletedAtStart) {
  PrepareFileSet();
  ini::WriteString(PrefIni(), "ProxyX", "Server", "127.0.0.1");
  ini::WriteString(PrefIni(), "Proxy", "Enabled", "1");
  PrepareFileSet();
  EXPECT_TRUE(ini::SectionEntries(PrefIni(), "ProxyX").empty());
  EXPECT_EQ(ini::ReadString(PrefIni(), "Proxy", "Enabled"), "1");
}

TEST_F(FileSetTest, FixedFontAndHostileProfileNames) {
  EXPECT_TRUE(SeedFixedFont());
  EXPECT_EQ(Slurp("fixed.dat").size(), 60u);
  SetProfileName("../../etc");
  const std::string path = platform::ResolvePath(BuildPath("pref.ini", true));
  EXPECT_EQ(path.rfind(platform::ProgramDir() + "/USERS/", 0), 0u) << path;
  EXPECT_EQ(std::count(path.begin(), path.end(), '/'), std::count(platform::ProgramDir().begin(), platform::ProgramDir().end(), '/') + 3);
  SetProfileName("Administrator");
}

TEST_F(FileSetTest, WithoutTheLibraryNothingIsSeeded) {
  UnloadResourceLibrary();
  SeedFiles();
  EXPECT_FALSE(ini::FileExists(PrefIni()));
  EXPECT_FALSE(SeedFile("x.ini", "PREFINI"));
}

}  // namespace
}  // namespace vanta::config
