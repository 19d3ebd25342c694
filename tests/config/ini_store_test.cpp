// INI conventions: record lists, multi-line values, stored texts, the scrambler, and durability of
// writes under concurrency and kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "config/ini_store.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "support/core_fixture.h"

namespace vanta::config {
namespace {

namespace ini = platform::ini;

class IniStoreTest : public test::CoreTest {};

TEST_F(IniStoreTest, DeleteMiddleOfThreeKeepsNamesContiguous) {
  for (auto n : {"alpha", "beta", "gamma"}) ASSERT_TRUE(ListAdd("l.ini", n, {{"Active", "1"}}));
  ASSERT_TRUE(ListDelete("l.ini", "BETA"));
  EXPECT_EQ(ini::ReadInt("l.ini", "Contents", "Num", 0), 2);
  EXPECT_EQ(ini::ReadString("l.ini", "Contents", "Name1"), "alpha");
  EXPECT_EQ(ini::ReadString("l.ini", "Contents", "Name2"), "gamma");
  EXPECT_EQ(ini::ReadString("l.ini", "Contents", "Name3", "absent"), "absent");
  EXPECT_EQ(ini::ReadString("l.ini", "beta", "Active", "gone"), "gone");
  EXPECT_EQ(ini::ReadString("l.ini", "gamma", "Active"), "1");
}

TEST_F(IniStoreTest, DeleteOfAnUnlistedNameChangesNothing) {
  ASSERT_TRUE(ListAdd("l.ini", "one"));
  EXPECT_FALSE(ListDelete("l.ini", "two"));
  EXPECT_EQ(ListCount("l.ini"), 1);
}

TEST_F(IniStoreTest, RenameMovesKeysAndRefusesToMergeIntoAnotherRecord) {
  ASSERT_TRUE(ListAdd("l.ini", "old", {{"Address", "127.0.0.1"}, {"Port", "6667"}}));
  ASSERT_TRUE(ListAdd("l.ini", "other", {{"Port", "7000"}}));
  ASSERT_TRUE(ListRename("l.ini", "old", "new"));
  EXPECT_EQ(ini::ReadString("l.ini", "Contents", "Name1"), "new");
  EXPECT_EQ(ini::ReadString("l.ini", "new", "Address"), "127.0.0.1");
  EXPECT_EQ(ini::ReadString("l.ini", "old", "Port", "gone"), "gone");
  EXPECT_FALSE(ListRename("l.ini", "new", "other"));
  EXPECT_EQ(ini::ReadString("l.ini", "other", "Port"), "7000");
  EXPECT_TRUE(ListRename("l.ini", "new", "NEW"));  // only the spelling changes
  EXPECT_EQ(ini::ReadString("l.ini", "Contents", "Name1"), "NEW");
  EXPECT_EQ(ini::ReadString("l.ini", "new", "Port"), "6667");
  EXPECT_FALSE(ListRename("l.ini", "missing", "x"));
  EXPECT_FALSE(ListRename("l.ini", "NEW", "bad]name"));
}

TEST_F(IniStoreTest, EnumerateSkipsGapsAndCapsADamagedCount) {
  ini::WriteString("l.ini", "Contents", "Num", "4");
  ini::WriteString("l.ini", "Contents", "Name1", "a");
  ini::WriteString("l.ini", "Contents", "Name3", "c");
  ini::WriteString("l.ini", "Contents", "Name4", "d");
  EXPECT_EQ(ListEnumerate("l.ini"), (std::vector<std::string>{"a", "c", "d"}));
  ini::WriteString("l.ini", "Contents", "Num", "2000000000");
  EXPECT_EQ(ListCount("l.ini"), kMaxRecords);
}

TEST_F(IniStoreTest, AddRefusesNamesThatCannotBeSections) {
  for (std::string bad : {std::string(""), std::string("a]b"), std::string("a\nb"), std::string(100, 'x'), std::string(" x")})
    EXPECT_FALSE(ListAdd("l.ini", bad)) << bad;
  EXPECT_EQ(ListCount("l.ini"), 0);
  EXPECT_TRUE(ListAdd("l.ini", std::string(99, 'x')));
}

TEST_F(IniStoreTest, MultiLineValuesRoundTrip) {
  struct Case {
    std::string in, stored, back;
  } cases[] = {
      {"one\r\ntwo\r\nthree", "one\xFF\xFFtwo\xFF\xFFthree", "one\r\ntwo\r\nthree"},
      {"lf-cr\n\rnext", "lf-cr\xFF\xFFnext", "lf-cr\r\nnext"},
      // A lone LF would split the INI line: it is stored as a break too.
      {"lone\nlf", "lone\xFF\xFFlf", "lone\r\nlf"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteMultiLine("m.ini", "S", "K", c.in));
    EXPECT_EQ(ini::ReadString("m.ini", "S", "K"), c.stored);
    EXPECT_EQ(ReadMultiLine("m.ini", "S", "K"), c.back);
  }
  ini::WriteString("m.ini", "S", "After", "intact");
  WriteMultiLine("m.ini", "S", "K", "x\ny");
  EXPECT_EQ(ini::ReadString("m.ini", "S", "After"), "intact");
  EXPECT_EQ(DecodeLines("end\xFF"), "end\r\n");
}

TEST_F(IniStoreTest, StoredTextEscapes) {
  EXPECT_EQ(EncodeStoredText("\x02" "bold\x03" "4\r\n"), "$h02bold$h034\r\n");
  EXPECT_EQ(DecodeStoredText("$h02$h034/M $hour $h4"), "\x02\x03" "4/M $hour $h4");
  EXPECT_EQ(DecodeStoredText("$hzz"), "\xFF");
  const std::string all = [] {
    std::string s;
    for (int c = 1; c < 256; ++c) s += static_cast<char>(c);
    return s;
  }();
  EXPECT_EQ(DecodeStoredText(EncodeStoredText(all)), all);
}

TEST_F(IniStoreTest, ScramblerRoundTrips) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  for (const std::string& v : {std::string(""), std::string("a"), std::string("secret"), std::string(700, 'q'), binary}) {
    const std::string s = Scramble(v);
    EXPECT_EQ(Unscramble(s), v);
    EXPECT_EQ(s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="), std::string::npos);
    if (!v.empty()) EXPECT_EQ(s.find(v), std::string::npos);
  }
  EXPECT_EQ(Scramble(""), "");
  ASSERT_TRUE(WriteSecret("s.ini", "A", "Password", "pw"));
  EXPECT_NE(ini::ReadString("s.ini", "A", "Password"), "pw");
  EXPECT_EQ(ReadSecret("s.ini", "A", "Password"), "pw");
  ASSERT_TRUE(WriteSecret("s.ini", "A", "Password", ""));
  EXPECT_EQ(ini::ReadString("s.ini", "A", "Password", "x"), "");
  std::string out = "junk";
  for (const char* bad : {"abc", "a===", "!!!!", "QQ=A"}) {
    EXPECT_FALSE(Unscramble(bad, &out)) << bad;
    EXPECT_EQ(out, "");
  }
}

TEST_F(IniStoreTest, TwoThreadsWritingDifferentKeysLoseNothing) {
  auto writer = [](const char* key) {
    for (int i = 0; i < 200; ++i) ini::WriteInt("race.ini", "S", std::string(key) + std::to_string(i), i);
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  ini::FlushCache();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(ini::ReadInt("race.ini", "S", "a" + std::to_string(i), -1), i);
    EXPECT_EQ(ini::ReadInt("race.ini", "S", "b" + std::to_string(i), -1), i);
  }
}

// A child rewrites a section of two keys (and another key) in a loop and is killed at random moments: the file always
// holds a complete old or new state.
TEST_F(IniStoreTest, KilledWriterLeavesOldOrNewFile) {
  ASSERT_TRUE(ini::WriteString("k.ini", "S", "A", "0"));
  ASSERT_TRUE(ini::WriteString("k.ini", "S", "B", "0"));
  ASSERT_TRUE(ini::WriteString("k.ini", "T", "Keep", std::string(3000, 'k')));
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 1;; ++i) {
        const std::string v = std::to_string(round * 1000000 + i);
        ini::WriteSectionText("k.ini", "S", "A=" + v + "\r\nB=" + v);
        ini::WriteInt("k.ini", "U", "Last", i);
      }
    }
    usleep(1000 + rng() % 20000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ini::FlushCache();
    const int a = ini::ReadInt("k.ini", "S", "A", -1), b = ini::ReadInt("k.ini", "S", "B", -1);
    EXPECT_GE(a, 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(ini::ReadString("k.ini", "T", "Keep", "", 4000), std::string(3000, 'k'));
  }
}

}  // namespace
}  // namespace vanta::config
