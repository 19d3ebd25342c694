#include <gtest/gtest.h>

#include "sessions/connection.h"

namespace vanta::sessions {
namespace {

std::vector<std::string> Split(const std::vector<std::string>& chunks, LineSplitter* keep = nullptr) {
  LineSplitter local;
  LineSplitter& s = keep ? *keep : local;
  std::vector<std::string> lines;
  for (const auto& c : chunks) s.Feed(c, [&](std::string_view l) { lines.emplace_back(l); });
  return lines;
}

TEST(LineSplitter, Cases) {
  using V = std::vector<std::string>;
  struct Case {
    const char* what;
    V chunks;
    V lines;
  } cases[] = {
      {"ping in three reads", {"PI", "NG :x\r", "\n"}, {"PING :x\r\n"}},
      {"two lines in one read", {"A\r\nB\r\n"}, {"A\r\n", "B\r\n"}},
      {"partial tail waits", {"A\r\nB"}, {"A\r\n"}},
      {"CR is not a separator", {"A\rB\n"}, {"A\rB\n"}},
      {"bare LF", {"\n\n"}, {"\n", "\n"}},
      {"NUL bytes are dropped, later lines kept", {std::string("PING :a\0b\r\nPING :c\r\n", 20)}, {"PING :ab\r\n", "PING :c\r\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.chunks), c.lines) << c.what;
}

TEST(LineSplitter, ReadEndingAtLineEndLeavesBufferEmpty) {
  LineSplitter s;
  Split({"A\r\n"}, &s);
  EXPECT_EQ(s.pending(), 0u);
  Split({"partial"}, &s);
  EXPECT_EQ(s.pending(), 7u);
}

TEST(LineSplitter, OverlongLineIsCutAndRestDropped) {
  LineSplitter s;
  std::vector<std::string> chunks;
  for (int i = 0; i < 30; ++i) chunks.push_back(std::string(1000, 'x'));  // 30000 bytes, no LF
  chunks.push_back("tail\r\nNEXT\r\n");
  auto lines = Split(chunks, &s);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_LT(lines[0].size(), LineSplitter::kBuffer);
  EXPECT_EQ(lines[0].back(), '\n');
  EXPECT_EQ(lines[0].find("tail"), std::string::npos);
  EXPECT_EQ(lines[1], "NEXT\r\n");
}

}  // namespace
}  // namespace vanta::sessions
