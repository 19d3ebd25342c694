#include "platform/ini.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"

namespace vp = vanta::platform;
namespace ini = vanta::platform::ini;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vanta-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    vp::SetProgramDir(root_);
    ini::FlushCache();
  }
  void TearDown() override {
    ini::FlushCache();
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  std::string Abs(const std::string& rel) const { return root_ + "/" + rel; }
  void WriteRaw(const std::string& rel, const std::string& text) {
    fs::create_directories(fs::path(Abs(rel)).parent_path());
    std::ofstream(Abs(rel), std::ios::binary) << text;
  }
  // Replaces the file the way an external editor that saves atomically does (new inode).
  void ReplaceRaw(const std::string& rel, const std::string& text) {
    WriteRaw(rel + ".new", text);
    fs::rename(Abs(rel + ".new"), Abs(rel));
  }
  std::string ReadRaw(const std::string& rel) const {
    std::ifstream in(Abs(rel), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> DirEntries(const std::string& rel = "") const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(rel.empty() ? root_ : Abs(rel))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string root_;
};

constexpr const char* kMissing = "\x01<missing>";

TEST_F(IniTest, ReadsLooseFiles) {
  WriteRaw("pref.ini",
           "\xEF\xBB\xBF"
           "orphan=before any section\n"
           "[General]\r\n"
           "; a comment=not a key\r\n"
           "\r\n"
           "Nick=Alice\r\n"
           "  Spaced Key  =   spaced value  \n"
           "no equals sign here\n"
           "Quoted=\"  keep inner blanks  \"\n"
           "HalfQuoted=\"open\n"
           "Eq=a=b=c\n"
           "Empty=\n"
           "nick=second occurrence loses\n"
           "Multi=line1\xff\xffline2\n"
           "Escaped=$h02bold$h02\n"
           "Utf8=caf\xc3\xa9\r"
           "AfterCr=lone CR ends a line\n"
           "[ Spaced Section ]\n"
           "k=v\n"
           "[general]\n"
           "Nick=duplicate section loses\n"
           "Other=not seen either\n"
           "[Last]\n"
           "NoNewline=end");
  struct Case {
    const char* section;
    const char* key;
    std::string want;
  } cases[] = {
      {"General", "Nick", "Alice"},
      {"GENERAL", "NICK", "Alice"},
      {"General", "Spaced Key", "spaced value"},
      {"General", "spaced key", "spaced value"},
      {"General", "Quoted", "  keep inner blanks  "},
      {"General", "HalfQuoted", "\"open"},
      {"General", "Eq", "a=b=c"},
      {"General", "Empty", ""},
      {"General", "Multi", "line1\xff\xffline2"},
      {"General", "Escaped", "$h02bold$h02"},
      {"General", "Utf8", "caf\xc3\xa9"},
      {"General", "AfterCr", "lone CR ends a line"},
      {"General", "; a comment", kMissing},
      {"General", "no equals sign here", kMissing},
      {"General", "Other", kMissing},
      {"General", "orphan", kMissing},
      {"Spaced Section", "k", "v"},
      {"Last", "NoNewline", "end"},
      {"Nope", "Nick", kMissing},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ini::ReadString("pref.ini", c.section, c.key, kMissing), c.want) << c.section << "/" << c.key;
}

TEST_F(IniTest, MissingFileDefaultsAndBufferCaps) {
  EXPECT_EQ(ini::ReadString("nope.ini", "A", "B", "dflt"), "dflt");
  EXPECT_EQ(ini::ReadInt("nope.ini", "A", "B", 42), 42);
  EXPECT_TRUE(ini::SectionNames("nope.ini").empty());
  EXPECT_FALSE(ini::FileExists("nope.ini"));
  EXPECT_FALSE(fs::exists(Abs("nope.ini")));

  WriteRaw("a.ini", "[S]\r\nK=0123456789\r\n");
  struct Case {
    std::size_t cap;
    const char* want;
  } cases[] = {{1000, "0123456789"}, {11, "0123456789"}, {10, "012345678"}, {2, "0"}, {1, ""}, {0, ""}};
  for (const auto& c : cases) EXPECT_EQ(ini::ReadString("a.ini", "S", "K", "", c.cap), c.want) << c.cap;
  EXPECT_EQ(ini::ReadString("a.ini", "S", "Missing", "long default", 5), "long");
}

TEST_F(IniTest, ReadIntSemantics) {
  WriteRaw("n.ini",
           "[N]\nplain=12\nneg=-5\nplus=+7\nhex=0x1F\nupperHex=0XfF\nnegHex=-0x10\ntrail=12abc\nalpha=abc\n"
           "empty=\nblank=   \nsign=-\nbarehex=0x\nwrap=4294967295\nbig=4294967297\nquoted=\"33\"\n"
           "padded=   42   \ncolour=16711680\n");
  struct Case {
    const char* key;
    int want;
  } cases[] = {{"plain", 12},   {"neg", -5},     {"plus", 7},     {"hex", 31},       {"upperHex", 255},
               {"negHex", -16}, {"trail", 12},   {"alpha", -99},  {"empty", -99},    {"blank", -99},
               {"sign", -99},   {"barehex", 0},  {"wrap", -1},    {"big", 1},        {"quoted", 33},
               {"padded", 42},  {"colour", 16711680}, {"missing", -99}};
  for (const auto& c : cases) EXPECT_EQ(ini::ReadInt("n.ini", "N", c.key, -99), c.want) << c.key;
}

// Each edit must touch only what it names and keep every other byte of the file.
TEST_F(IniTest, WritesEditInPlaceAndKeepTheRestByteIdentical) {
  struct Case {
    const char* name;
    std::string before;
    std::function<bool()> edit;
    std::string after;
  } cases[] = {
      {"update keeps order, spelling and line end", "; top\r\n[A]\r\nx = 1\r\nKey=old\r\ny=2\r\n",
       [] { return ini::WriteString("t.ini", "a", "KEY", "new"); }, "; top\r\n[A]\r\nx = 1\r\nKey=new\r\ny=2\r\n"},
      {"update in an LF file keeps LF", "[A]\nKey=old\nz=3\n", [] { return ini::WriteString("t.ini", "A", "Key", "v"); },
       "[A]\nKey=v\nz=3\n"},
      {"new key goes after the section's last key", "[A]\r\nx=1\r\nodd line\r\n\r\n[B]\r\ny=2\r\n",
       [] { return ini::WriteString("t.ini", "A", "New", "n"); },
       "[A]\r\nx=1\r\nNew=n\r\nodd line\r\n\r\n[B]\r\ny=2\r\n"},
      {"new key in a section without keys", "[A]\r\n\r\n[B]\r\n", [] { return ini::WriteString("t.ini", "A", "k", "v"); },
       "[A]\r\nk=v\r\n\r\n[B]\r\n"},
      {"new key when the file lacks its final line end", "[A]\r\nx=1",
       [] { return ini::WriteString("t.ini", "A", "k", "v"); }, "[A]\r\nx=1\r\nk=v\r\n"},
      {"new section goes at the end", "[A]\r\nx=1\r\n; tail comment", [] { return ini::WriteString("t.ini", "B", "k", "v"); },
       "[A]\r\nx=1\r\n; tail comment\r\n\r\n[B]\r\nk=v\r\n"},
      {"new section after a blank last line", "[A]\r\nx=1\r\n\r\n", [] { return ini::WriteString("t.ini", "B", "k", "v"); },
       "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
      {"only the first of duplicate sections is edited", "[A]\r\nx=1\r\n[a]\r\nk=dup\r\n",
       [] { return ini::WriteString("t.ini", "A", "k", "v"); }, "[A]\r\nx=1\r\nk=v\r\n[a]\r\nk=dup\r\n"},
      {"BOM is kept", "\xEF\xBB\xBF[A]\r\nx=1\r\n", [] { return ini::WriteString("t.ini", "A", "x", "2"); },
       "\xEF\xBB\xBF[A]\r\nx=2\r\n"},
      {"unchanged value rewrites nothing", "[A]\nx = 1 \n", [] { return ini::WriteString("t.ini", "A", "x", "1"); },
       "[A]\nx = 1 \n"},
      {"WriteInt", "[A]\r\n", [] { return ini::WriteInt("t.ini", "A", "n", -1234567890123LL); },
       "[A]\r\nn=-1234567890123\r\n"},
      {"delete key removes every line of it", "[A]\r\nk=1\r\nx=2\r\nK=3\r\n[B]\r\nk=4\r\n",
       [] { return ini::DeleteKey("t.ini", "a", "K"); }, "[A]\r\nx=2\r\n[B]\r\nk=4\r\n"},
      {"delete missing key changes nothing", "[A]\r\nx=2\r\n", [] { return ini::DeleteKey("t.ini", "A", "k"); },
       "[A]\r\nx=2\r\n"},
      {"delete section removes all its occurrences", "; c\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n[a]\r\nz=3\r\n",
       [] { return ini::DeleteSection("t.ini", "A"); }, "; c\r\n[B]\r\ny=2\r\n"},
      {"delete missing section changes nothing", "[A]\r\n", [] { return ini::DeleteSection("t.ini", "Q"); }, "[A]\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRaw("t.ini", c.before);
    ini::FlushCache();
    EXPECT_TRUE(c.edit());
    EXPECT_EQ(ReadRaw("t.ini"), c.after);
  }
}

TEST_F(IniTest, FirstWriteCreatesFileAndFolders) {
  EXPECT_TRUE(ini::WriteString("users\\bob\\pref.ini", "General", "Nick", "bob"));
  EXPECT_TRUE(ini::WriteString("users/BOB/PREF.INI", "Metrics", "InfColor", "0"));
  EXPECT_EQ(ReadRaw("users/bob/pref.ini"), "[General]\r\nNick=bob\r\n\r\n[Metrics]\r\nInfColor=0\r\n");
  EXPECT_TRUE(ini::FileExists(".\\Users\\Bob\\Pref.ini"));
  EXPECT_EQ(DirEntries("users/bob"), std::vector<std::string>{"pref.ini"});  // no temporary files left

  // Deleting from a missing file succeeds without creating it.
  EXPECT_TRUE(ini::DeleteKey("gone.ini", "A", "B"));
  EXPECT_TRUE(ini::DeleteSection("gone.ini", "A"));
  EXPECT_FALSE(fs::exists(Abs("gone.ini")));
}

TEST_F(IniTest, RefusesWritesThatWouldBreakTheFile) {
  const std::string before = "[A]\r\nk=v\r\n";
  struct Case {
    std::string section, key, value;
  } cases[] = {
      {"A", "k", "two\r\nlines"}, {"A", "k", "lone\nLF"}, {"A", "k", "lone\rCR"}, {"A", "k", "nul\0byte"s},
      {"A", "", "v"},             {"A", "   ", "v"},      {"A", "a=b", "v"},      {"A", ";c", "v"},
      {"A", "[x]", "v"},          {"A", "k\n", "v"},      {"A]", "k", "v"},       {"A\r\n[B", "k", "v"},
      {"A\0"s, "k", "v"},
  };
  for (const auto& c : cases) {
    WriteRaw("r.ini", before);
    EXPECT_FALSE(ini::WriteString("r.ini", c.section, c.key, c.value)) << c.section << "/" << c.key << "/" << c.value;
    EXPECT_EQ(ReadRaw("r.ini"), before);
  }
  EXPECT_FALSE(ini::WriteSectionText("r.ini", "A", "ok=1\r\nnot a key line"));
  EXPECT_FALSE(ini::WriteSectionText("r.ini", "A", "ok=1\r\n[B]"));
  EXPECT_FALSE(ini::WriteSectionText("r.ini", "A", "ok=1\rx=2"));
  EXPECT_EQ(ReadRaw("r.ini"), before);
}

TEST_F(IniTest, ValueBytesRoundTrip) {
  const std::string values[] = {"\xff\xff", "a\xff\xff" "b\xff\xff", "$h02bold$h0F", "caf\xc3\xa9 \xe2\x82\xac",
                                "x=y;z[w]", "\"quoted\"",  "tab\tinside", "\x01\x02\x1f"};
  int i = 0;
  for (const auto& v : values) ASSERT_TRUE(ini::WriteString("b.ini", "S", "k" + std::to_string(i++), v));
  for (int pass = 0; pass < 2; ++pass) {
    i = 0;
    for (const auto& v : values) {
      std::string want = v == "\"quoted\"" ? "quoted" : v;  // one pair of quotes is removed on reading
      EXPECT_EQ(ini::ReadString("b.ini", "s", "K" + std::to_string(i++)), want) << "pass " << pass;
    }
    ini::FlushCache();
  }
}

TEST_F(IniTest, SectionListing) {
  WriteRaw("l.ini", "[One]\nb=2\na=1\nB=dup\n[two]\n[ONE]\nc=3\n[Three]\nx=\"q\"\n");
  EXPECT_EQ(ini::SectionNames("l.ini"), (std::vector<std::string>{"One", "two", "Three"}));
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(ini::SectionEntries("l.ini", "one"), (Entries{{"b", "2"}, {"a", "1"}}));
  EXPECT_EQ(ini::SectionEntries("l.ini", "Three"), (Entries{{"x", "q"}}));
  EXPECT_TRUE(ini::SectionEntries("l.ini", "two").empty());
  EXPECT_TRUE(ini::SectionEntries("l.ini", "none").empty());
}

TEST_F(IniTest, SectionTextSupportsRecordRename) {
  WriteRaw("alias.ini",
           "[Contents]\r\nNum=1\r\nName1=/old\r\n\r\n[/old]\r\nText=  \"  padded  \"\r\nFlags=3\r\n\r\n[Next]\r\nk=v\r\n");
  std::string text = ini::ReadSectionText("alias.ini", "/OLD");
  EXPECT_EQ(text, "Text=\"  padded  \"\r\nFlags=3");
  EXPECT_EQ(ini::ReadSectionText("alias.ini", "absent"), "");

  ASSERT_TRUE(ini::WriteString("alias.ini", "Contents", "Name1", "/new"));
  ASSERT_TRUE(ini::DeleteSection("alias.ini", "/old"));
  ASSERT_TRUE(ini::WriteSectionText("alias.ini", "/new", text));
  EXPECT_EQ(ini::ReadString("alias.ini", "/new", "Text"), "  padded  ");
  EXPECT_EQ(ini::ReadInt("alias.ini", "/new", "Flags", 0), 3);
  EXPECT_EQ(ReadRaw("alias.ini"),
            "[Contents]\r\nNum=1\r\nName1=/new\r\n\r\n[Next]\r\nk=v\r\n\r\n[/new]\r\nText=\"  padded  \"\r\nFlags=3\r\n");

  // Replacing an existing section keeps its place and the blank line before the next section.
  ASSERT_TRUE(ini::WriteSectionText("alias.ini", "Contents", "Num=0\nExtra = 1\n\n"));
  EXPECT_EQ(ReadRaw("alias.ini"),
            "[Contents]\r\nNum=0\r\nExtra=1\r\n\r\n[Next]\r\nk=v\r\n\r\n[/new]\r\nText=\"  padded  \"\r\nFlags=3\r\n");

  // The cap cuts before a line that would not fit whole.
  EXPECT_EQ(ini::ReadSectionText("alias.ini", "/new", 20), "Text=\"  padded  \"");
  EXPECT_EQ(ini::ReadSectionText("alias.ini", "/new", 5), "");
}

TEST_F(IniTest, NoticesExternalChanges) {
  WriteRaw("e.ini", "[A]\r\nk=one\r\n");
  EXPECT_EQ(ini::ReadString("e.ini", "A", "k"), "one");
  ReplaceRaw("e.ini", "[A]\r\nk=two\r\n");  // same size, new inode
  EXPECT_EQ(ini::ReadString("e.ini", "A", "k"), "two");
  WriteRaw("e.ini", "[A]\r\nk=three\r\n");  // in place, other size
  EXPECT_EQ(ini::ReadString("e.ini", "A", "k"), "three");
  // A write after an external change builds on the changed file.
  ASSERT_TRUE(ini::WriteString("e.ini", "A", "j", "x"));
  EXPECT_EQ(ReadRaw("e.ini"), "[A]\r\nk=three\r\nj=x\r\n");
  fs::remove(Abs("e.ini"));
  EXPECT_EQ(ini::ReadString("e.ini", "A", "k", "gone"), "gone");
  // A file that appears later under another spelling is found.
  EXPECT_EQ(ini::ReadString("late.ini", "A", "k", "none"), "none");
  WriteRaw("LATE.INI", "[A]\nk=found\n");
  EXPECT_EQ(ini::ReadString("late.ini", "A", "k", "none"), "found");
  // ... and so is one that a delete should act on.
  EXPECT_EQ(ini::ReadString("later.ini", "A", "k", "none"), "none");
  WriteRaw("LATER.INI", "[A]\nk=1\nj=2\n");
  EXPECT_TRUE(ini::DeleteKey("later.ini", "A", "k"));
  EXPECT_EQ(ReadRaw("LATER.INI"), "[A]\nj=2\n");
}

// A missing file is remembered by the state of its folder; a file created there later under another
// spelling changes that state and is found. The pause lets the folder's time settle first, so the
// remembered state is trusted rather than re-checked on every read.
TEST_F(IniTest, MissingFileIsRememberedUntilItsFolderChanges) {
  fs::create_directories(Abs("USERS/bob"));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(ini::ReadString("users/bob/pref.ini", "General", "Nick", "none"), "none");
  EXPECT_EQ(ini::ReadString("users/bob/pref.ini", "General", "Nick", "none"), "none");
  WriteRaw("USERS/bob/PREF.ini", "[General]\r\nNick=bob\r\n");
  EXPECT_EQ(ini::ReadString("users/bob/pref.ini", "General", "Nick", "none"), "bob");
  EXPECT_TRUE(ini::WriteString("users/bob/pref.ini", "General", "Away", "1"));
  EXPECT_EQ(DirEntries("USERS/bob"), std::vector<std::string>{"PREF.ini"});
}

TEST_F(IniTest, PathSpellingsShareOneFile) {
  ASSERT_TRUE(ini::WriteString("dyn\\thread.ini", "ids", "ServerThread", "1"));
  ASSERT_TRUE(ini::WriteString("DYN/THREAD.INI", "ids", "DCCThread", "2"));
  ASSERT_TRUE(ini::WriteString(root_ + "/Dyn/Thread.Ini", "ids", "CheckMail", "3"));
  EXPECT_EQ(DirEntries(), std::vector<std::string>{"dyn"});
  EXPECT_EQ(DirEntries("dyn"), std::vector<std::string>{"thread.ini"});
  EXPECT_EQ(ini::ReadInt(".\\dyn\\THREAD.ini", "IDS", "dccthread", 0), 2);
  EXPECT_EQ(ini::SectionEntries("dyn/thread.ini", "ids").size(), 3u);
}

TEST_F(IniTest, SymlinkIsWrittenThroughItsTarget) {
  WriteRaw("real/target.ini", "[A]\r\nk=1\r\n");
  fs::create_symlink("real/target.ini", Abs("link.ini"));
  ASSERT_TRUE(ini::WriteString("link.ini", "A", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(Abs("link.ini")));
  EXPECT_EQ(ReadRaw("real/target.ini"), "[A]\r\nk=2\r\n");
  EXPECT_EQ(ini::ReadString("link.ini", "A", "k"), "2");
  EXPECT_EQ(DirEntries("real"), std::vector<std::string>{"target.ini"});
}

TEST_F(IniTest, WriteKeepsFileMode) {
  WriteRaw("secret.ini", "[A]\r\n");
  fs::permissions(Abs("secret.ini"), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(ini::WriteString("secret.ini", "A", "pw", "x"));
  EXPECT_EQ(fs::status(Abs("secret.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(IniTest, FilesThatCannotBeUsedFailSafely) {
  fs::create_directories(Abs("adir.ini"));
  EXPECT_EQ(ini::ReadString("adir.ini", "A", "k", "d"), "d");
  EXPECT_FALSE(ini::WriteString("adir.ini", "A", "k", "v"));
  EXPECT_FALSE(ini::FileExists("adir.ini"));

  WriteRaw("file", "x");
  EXPECT_FALSE(ini::WriteString("file/sub.ini", "A", "k", "v"));

  if (::geteuid() != 0) {
    // A file that exists but cannot be read is never replaced by a file holding only the new key.
    WriteRaw("locked.ini", "[A]\r\nkeep=1\r\n");
    fs::permissions(Abs("locked.ini"), fs::perms::none);
    EXPECT_FALSE(ini::WriteString("locked.ini", "A", "k", "v"));
    fs::permissions(Abs("locked.ini"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadRaw("locked.ini"), "[A]\r\nkeep=1\r\n");
  }
}

// Threads writing different keys of one (initially missing) file, under different spellings of its
// path, while others read: no write is lost and only one file appears.
TEST_F(IniTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 6, kKeys = 30;
  const char* spellings[] = {"pref.ini", "PREF.INI", "Pref.ini"};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([t, &spellings] {
      for (int k = 0; k < kKeys; ++k) {
        std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
        EXPECT_TRUE(ini::WriteString(spellings[(t + k) % 3], t % 2 ? "General" : "Metrics", key, std::to_string(k)));
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&stop] {
      while (!stop.load()) {
        (void)ini::ReadString("pref.ini", "General", "T1K0");
        (void)ini::SectionNames("PREF.ini");
      }
    });
  }
  for (int t = 0; t < kWriters; ++t) threads[t].join();
  stop = true;
  for (std::size_t t = kWriters; t < threads.size(); ++t) threads[t].join();

  // One file, spelled as whichever writer created it first.
  auto names = DirEntries();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(strcasecmp(names[0].c_str(), "pref.ini") == 0) << names[0];
  for (int flush = 0; flush < 2; ++flush) {
    for (int t = 0; t < kWriters; ++t)
      for (int k = 0; k < kKeys; ++k)
        EXPECT_EQ(ini::ReadInt("pref.ini", t % 2 ? "General" : "Metrics", "T" + std::to_string(t) + "K" + std::to_string(k), -1), k);
    ini::FlushCache();
  }
}

// A process killed at any moment of a write leaves either the old or the new file, never a torn one.
TEST_F(IniTest, KillDuringWriteLeavesOldOrNewFile) {
  auto content = [](int n) {
    return "[S]\r\nN=" + std::to_string(n) + "\r\nBody=" + std::string(200000, static_cast<char>('a' + n % 26)) +
           "\r\nEnd=" + std::to_string(n) + "\r\n";
  };
  ASSERT_TRUE(ini::WriteString("k.ini", "S", "N", "0"));
  ASSERT_TRUE(ini::WriteString("k.ini", "S", "Body", std::string(200000, 'a')));
  ASSERT_TRUE(ini::WriteString("k.ini", "S", "End", "0"));
  ASSERT_EQ(ReadRaw("k.ini"), content(0));

  for (int round = 0; round < 8; ++round) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Child: rewrite the whole section over and over (bounded), then exit.
      ini::FlushCache();
      for (int n = 1; n < 2000; ++n) {
        std::string lines = "N=" + std::to_string(n) + "\r\nBody=" + std::string(200000, static_cast<char>('a' + n % 26)) +
                            "\r\nEnd=" + std::to_string(n);
        if (!ini::WriteSectionText("k.ini", "S", lines)) ::_exit(2);
      }
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + round * 7));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::string raw = ReadRaw("k.ini");
    auto pos = raw.find("N=");
    ASSERT_NE(pos, std::string::npos) << "round " << round;
    int n = std::atoi(raw.c_str() + pos + 2);
    EXPECT_EQ(raw, content(n)) << "round " << round;
    ini::FlushCache();
    EXPECT_EQ(ini::ReadInt("k.ini", "S", "End", -1), n);
  }
}

}  // namespace
