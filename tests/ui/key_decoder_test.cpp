#include <gtest/gtest.h>

#include "ui/key_decoder.h"

namespace vanta::ui {
namespace {

std::vector<std::string> Names(const std::vector<InputEvent>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) {
    if (e.kind == InputEvent::kPaste) out.push_back("paste:" + e.paste);
    else if (e.key.code == KeyCode::Char && e.key.mods == 0) out.push_back("'" + e.key.text + "'");
    else out.push_back(KeyName(e.key));
  }
  return out;
}

std::vector<std::string> Decode(std::string_view bytes, bool flush = true) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed(bytes, out);
  if (flush) d.Flush(out);
  return Names(out);
}

TEST(KeyDecoder, Sequences) {
  struct Case {
    const char* bytes;
    std::vector<std::string> keys;
  } cases[] = {
      {"a", {"'a'"}},
      {"\r", {"Enter"}},
      {"\n", {"Enter"}},
      {"\x1b\r", {"Alt+Enter"}},
      {"\t", {"Tab"}},
      {"\x1b[Z", {"Shift+Tab"}},
      {"\x7f", {"Backspace"}},
      {"\x08", {"Backspace"}},
      {"\x01\x05\x0b\x15\x17", {"Ctrl+A", "Ctrl+E", "Ctrl+K", "Ctrl+U", "Ctrl+W"}},
      {"\x0e\x10", {"Ctrl+N", "Ctrl+P"}},
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {"Up", "Down", "Right", "Left"}},
      {"\x1bOA\x1bOH\x1bOF", {"Up", "Home", "End"}},
      {"\x1b[H\x1b[F\x1b[1~\x1b[4~\x1b[7~\x1b[8~", {"Home", "End", "Home", "End", "Home", "End"}},
      {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {"Insert", "Delete", "PageUp", "PageDown"}},
      {"\x1bOP\x1b[15~\x1b[24~", {"F1", "F5", "F12"}},
      {"\x1b[1;3D\x1b[1;3C", {"Alt+Left", "Alt+Right"}},
      {"\x1b[1;5C\x1b[1;2A\x1b[3;5~", {"Ctrl+Right", "Shift+Up", "Ctrl+Delete"}},
      {"\x1b\x1b[A", {"Alt+Up"}},
      {"\x1b" "1\x1b" "9", {"Alt+1", "Alt+9"}},
      {"\x1b\x7f", {"Alt+Backspace"}},
      {"\x1b" "d", {"Alt+D"}},
      {"\x1b", {"Escape"}},
      {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", {"'\xC3\xA9'", "'\xE6\x97\xA5'", "'\xF0\x9F\x98\x80'"}},
      {"\xE9x", {"'\xE9'", "'x'"}},  // a byte that is no UTF-8: a character of its own
      {"\x1b[97;5u", {"Ctrl+A"}},    // CSI u encoding
      {"\x1b[I\x1b[Oz", {"'z'"}},    // focus reports are ignored
      {"\x1b[?1;2c", {}},            // a device attribute reply is ignored
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes), c.keys) << testing::PrintToString(std::string(c.bytes));
}

TEST(KeyDecoder, SequencesSplitAcrossReadsAreJoined) {
  const std::string all = "x\x1b[1;3C\xE6\x97\xA5\x1bOB\x1b[200~pa\r\nste\x1b[201~y";
  KeyDecoder d;
  std::vector<InputEvent> out;
  for (char c : all) d.Feed(std::string_view(&c, 1), out);
  EXPECT_FALSE(d.Pending());
  EXPECT_EQ(Names(out), (std::vector<std::string>{"'x'", "Alt+Right", "'\xE6\x97\xA5'", "Down", "paste:pa\r\nste", "'y'"}));
}

TEST(KeyDecoder, LoneEscapeWaitsForFlush) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed("\x1b", out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(d.Pending());
  d.Flush(out);
  EXPECT_EQ(Names(out), std::vector<std::string>{"Escape"});
  EXPECT_FALSE(d.Pending());
}

TEST(KeyDecoder, BracketedPaste) {
  struct Case {
    const char* bytes;
    std::vector<std::string> events;
  } cases[] = {
      {"\x1b[200~one\r\ntwo\r\n\x1b[201~", {"paste:one\r\ntwo\r\n"}},
      {"\x1b[200~one\ntwo\x1b[201~", {"paste:one\ntwo"}},
      // Escape bytes and key sequences inside a paste are text.
      {"\x1b[200~a\x1b[Ab\x1b[201~\x1b[A", {"paste:a\x1b[Ab", "Up"}},
      {"\x1b[200~\x1b[201~", {"paste:"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes), c.events);
  // Without its end marker the paste is still open: nothing comes out, even at a flush.
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed("\x1b[200~never ends", out);
  d.Flush(out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(d.InPaste());
  d.Feed("\x1b[20", out);
  d.Feed("1~", out);
  EXPECT_EQ(Names(out), std::vector<std::string>{"paste:never ends"});
}

TEST(KeyDecoder, OverlongPasteIsCut) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed("\x1b[200~", out);
  const std::string chunk(64 * 1024, 'x');
  for (std::size_t sent = 0; sent < KeyDecoder::kMaxPaste + chunk.size(); sent += chunk.size()) d.Feed(chunk, out);
  d.Feed("\x1b[201~", out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].paste.size(), KeyDecoder::kMaxPaste);
}

TEST(KeyDecoder, PasteLines) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {""}},
      {"one", {"one"}},
      {"one\r\ntwo\r\n", {"one", "two", ""}},
      {"one\ntwo", {"one", "two"}},
      {"one\rtwo\r", {"one", "two", ""}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
  };
  for (const auto& c : cases) EXPECT_EQ(SplitPasteLines(c.text), c.lines) << testing::PrintToString(std::string(c.text));
}

}  // namespace
}  // namespace vanta::ui
