#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vp = vanta::platform;
namespace fs = std::filesystem;

namespace {

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vanta-paths-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    vp::SetProgramDir(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Touch(const std::string& rel) {
    fs::path p = fs::path(root_) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  std::string root_;
};

TEST_F(PathsTest, ProgramDirIsAbsoluteWithoutTrailingSlash) {
  EXPECT_EQ(vp::ProgramDir(), root_);
  vp::SetProgramDir(root_ + "/sub/./deeper/../prog/");
  EXPECT_EQ(vp::ProgramDir(), root_ + "/sub/prog");
  EXPECT_TRUE(fs::is_directory(root_ + "/sub/prog"));

  // Relative to the cwd at the time of the call, and created.
  char old_cwd[4096];
  ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(::chdir(root_.c_str()), 0);
  vp::SetProgramDir("rel/home");
  ASSERT_EQ(::chdir(old_cwd), 0);
  EXPECT_EQ(vp::ProgramDir(), root_ + "/rel/home");
  EXPECT_TRUE(fs::is_directory(root_ + "/rel/home"));
}

TEST_F(PathsTest, ResolvePathMatchesExistingComponentsIgnoringCase) {
  Touch("DYN/Thread.ini");
  Touch("USERS/Bob/pref.ini");
  fs::create_directories(root_ + "/MEDIA");

  struct Case {
    const char* in;
    std::string want;
  } cases[] = {
      {"dyn\\thread.ini", root_ + "/DYN/Thread.ini"},
      {"dyn/THREAD.INI", root_ + "/DYN/Thread.ini"},
      {".\\DYN\\LINKS.INI", root_ + "/DYN/LINKS.INI"},  // missing file keeps its spelling
      {"./users/bob/PREF.INI", root_ + "/USERS/Bob/pref.ini"},
      {"users\\BOB\\new\\Sub.ini", root_ + "/USERS/Bob/new/Sub.ini"},
      {"Missing\\Sub/f.TXT", root_ + "/Missing/Sub/f.TXT"},
      {"media\\", root_ + "/MEDIA"},
      {"dyn//.\\thread.ini", root_ + "/DYN/Thread.ini"},
      {"users/x/../bob/pref.ini", root_ + "/USERS/Bob/pref.ini"},
      {"", root_},
      {".\\", root_},
      {"/etc/../etc/hostname", "/etc/hostname"},  // absolute stays absolute
      {"\\abs\\none", "/abs/none"},
  };
  for (const auto& c : cases) EXPECT_EQ(vp::ResolvePath(c.in), c.want) << "input: " << c.in;
}

TEST_F(PathsTest, ResolvePathPrefersExactSpellingAndIgnoresCwd) {
  fs::create_directories(root_ + "/Sound");
  fs::create_directories(root_ + "/SOUND");
  EXPECT_EQ(vp::ResolvePath("SOUND/a.wav"), root_ + "/SOUND/a.wav");
  EXPECT_EQ(vp::ResolvePath("Sound/a.wav"), root_ + "/Sound/a.wav");
  // Two inexact candidates: the choice is stable (smallest by bytes).
  EXPECT_EQ(vp::ResolvePath("sound/a.wav"), root_ + "/SOUND/a.wav");

  // The process cwd never takes part.
  fs::create_directories(root_ + "/elsewhere/only-here");
  char old_cwd[4096];
  ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(::chdir((root_ + "/elsewhere").c_str()), 0);
  std::string r = vp::ResolvePath("ONLY-HERE");
  ASSERT_EQ(::chdir(old_cwd), 0);
  EXPECT_EQ(r, root_ + "/ONLY-HERE");
}

TEST_F(PathsTest, EnsureDirReusesExistingFoldersIgnoringCase) {
  fs::create_directories(root_ + "/DYN");
  EXPECT_TRUE(vp::EnsureDir("dyn\\cache\\deep"));
  EXPECT_TRUE(fs::is_directory(root_ + "/DYN/cache/deep"));
  EXPECT_FALSE(fs::exists(root_ + "/dyn"));

  EXPECT_TRUE(vp::EnsureParentDir("Users\\alice\\pref.ini"));
  EXPECT_TRUE(fs::is_directory(root_ + "/Users/alice"));
  EXPECT_FALSE(fs::exists(root_ + "/Users/alice/pref.ini"));
  EXPECT_TRUE(vp::EnsureParentDir("users/ALICE/x.ini"));
  EXPECT_FALSE(fs::exists(root_ + "/users"));

  // A file in the way is a failure, not a crash.
  Touch("plain");
  EXPECT_FALSE(vp::EnsureDir("plain/sub"));
}

TEST(PathNames, BaseNameAndDirName) {
  struct Case {
    const char* in;
    const char* base;
    const char* dir;
  } cases[] = {
      {"a/b/c.txt", "c.txt", "a/b"},  {"a\\b\\c.txt", "c.txt", "a\\b"}, {"a\\b/c", "c", "a\\b"},
      {"plain", "plain", ""},         {"dir/", "", "dir"},              {"/top", "top", "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vp::BaseName(c.in), c.base) << c.in;
    EXPECT_EQ(vp::DirName(c.in), c.dir) << c.in;
  }
}

TEST(PathNames, SanitizeNameReducesHostileNamesToPlainNames) {
  using namespace std::string_literals;
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"song.mp3", "song.mp3"},
      {"../../etc/passwd", "passwd"},
      {"/abs", "abs"},
      {"/etc/", "_"},
      {"a\\..\\b", "b"},
      {"C:\\Windows\\win.ini", "win.ini"},
      {"evil.txt\0.exe"s, "evil.txt"},
      {"\0hidden"s, "_"},
      {"ctl\x01\x1f\x7fname", "ctl___name"},
      {"line\r\nbreak", "line__break"},
      {".hidden", "hidden"},
      {"...dots", "dots"},
      {"", "_"},
      {".", "_"},
      {"..", "_"},
      {"sub/..", "_"},
      {"a..b.txt", "a..b.txt"},
      {"caf\xc3\xa9 \xff.txt", "caf\xc3\xa9 \xff.txt"},  // other bytes pass through
  };
  for (const auto& c : cases) {
    std::string got = vp::SanitizeName(c.in);
    EXPECT_EQ(got, c.want) << "input: " << c.in;
    EXPECT_EQ(got.find_first_of("/\\"), std::string::npos);
    EXPECT_NE(got[0], '.');
  }
}

TEST(PathNames, SanitizeNameCapsLongNamesKeepingTheExtension) {
  std::string stem;
  for (int i = 0; i < 200; ++i) stem += "\xc3\xa9";  // 400 bytes of two-byte characters
  std::string got = vp::SanitizeName(stem + ".txt");
  EXPECT_LE(got.size(), 255u);
  EXPECT_EQ(got.substr(got.size() - 4), ".txt");
  // Not cut inside a character: the stem is whole two-byte pairs.
  EXPECT_EQ((got.size() - 4) % 2, 0u);
}

TEST(PathNames, SafeJoinNeverLeavesRoot) {
  using namespace std::string_literals;
  const std::string root = "/srv/files";
  const std::string names[] = {"../../etc/passwd", "/abs", "a\\..\\b", "..", "", ".hidden",
                               "x\0/../../y"s,     "..\\..\\", "ok.txt"};
  for (const auto& n : names) {
    std::string j = vp::SafeJoin(root + "/", n);
    ASSERT_EQ(j.rfind(root + "/", 0), 0u) << n;
    std::string rest = j.substr(root.size() + 1);
    EXPECT_EQ(rest, vp::SanitizeName(n)) << n;
    EXPECT_EQ(rest.find('/'), std::string::npos) << n;
    EXPECT_NE(rest, "..");
  }
}

TEST(PathNames, SafeJoinPathKeepsFoldersInsideRoot) {
  using namespace std::string_literals;
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"sub\\dir\\file.txt", "/srv/files/sub/dir/file.txt"},
      {"../../etc/passwd", "/srv/files/etc/passwd"},
      {"a/../../../b", "/srv/files/b"},
      {"/abs/x", "/srv/files/abs/x"},
      {"./.git/config", "/srv/files/git/config"},
      {"..", "/srv/files"},
      {"", "/srv/files"},
      {"a\0/../../x"s, "/srv/files/a"},
      {"bad\x01name/f", "/srv/files/bad_name/f"},
  };
  for (const auto& c : cases) EXPECT_EQ(vp::SafeJoinPath("/srv/files", c.in), c.want) << c.in;
}

TEST(PathNames, WindowFileNameMapsSeparatorsAndControlBytes) {
  using namespace std::string_literals;
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"#chan", "#chan"},
      {"Nick|away", "Nick|away"},
      {"#a/b\\c", "#a_b_c"},
      {"x\0y"s, "x_y"},
      {"bell\x07tab\t", "bell_tab_"},
      {".hidden", "_hidden"},
      {"..", "_."},
      {"", "_"},
      {"irc.example.org", "irc.example.org"},
  };
  for (const auto& c : cases) EXPECT_EQ(vp::WindowFileName(c.in), c.want) << c.in;
}

}  // namespace
