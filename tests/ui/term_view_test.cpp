#include <gtest/gtest.h>

#include "config/file_set.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "support/core_fixture.h"

#include "output/text_view.h"
#include "ui/accelerators.h"
#include "ui/term_view.h"

namespace vanta::ui {
namespace {

TEST(Layout, RegionsFromSmallToLarge) {
  struct Case {
    int rows, cols, nick_width;
    Rect text, nicks;
  } cases[] = {
      {24, 80, 0, {1, 0, 21, 80}, {}},
      {24, 80, 12, {1, 0, 21, 67}, {1, 68, 21, 12}},
      {24, 80, 40, {1, 0, 21, 59}, {1, 60, 21, 20}},  // a quarter of the width at most
      {24, 39, 12, {1, 0, 21, 39}, {}},               // too narrow for a nick list
      {300, 1000, 16, {1, 0, 297, 983}, {1, 984, 297, 16}},
      {2, 80, 0, {1, 0, 0, 80}, {}},
  };
  for (const auto& c : cases) {
    const Layout l = ComputeLayout(c.rows, c.cols, c.nick_width);
    EXPECT_EQ(l.text, c.text) << c.rows << "x" << c.cols;
    EXPECT_EQ(l.nicks, c.nicks) << c.rows << "x" << c.cols;
    EXPECT_EQ(l.input, (Rect{c.rows - 1, 0, 1, c.cols}));
  }
  const Layout l = ComputeLayout(24, 80, 0);
  EXPECT_EQ(l.title, (Rect{0, 0, 1, 80}));
  EXPECT_EQ(l.windows, (Rect{22, 0, 1, 80}));
}

void Append(output::TextView& v, std::string_view text, uint32_t colour = 0, bool bold = false) {
  output::CharFormat f;
  f.colour = colour;
  f.bold = bold;
  v.CaretToEnd();
  v.SetCaretFormat(f);
  v.InsertText(text);
}

TEST(WrappedView, LinesWrapAndKeepTheirFormats) {
  output::TextView v;
  Append(v, "hello ");
  Append(v, "world", 255, true);
  Append(v, "\r\n");
  Append(v, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n");
  Append(v, "last line without an end");
  WrappedView w;
  ASSERT_TRUE(w.Sync(v, 8));
  std::vector<std::string> rows;
  for (std::size_t r = 0; r < w.RowCount(); ++r) rows.push_back(w.RowText(r));
  EXPECT_EQ(rows, (std::vector<std::string>{"hello ", "world", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "last ",
                                            "line ", "without ", "an end"}));
  std::vector<WrappedView::Piece> pieces;
  w.Row(1, pieces);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].text, "world");
  EXPECT_EQ(pieces[0].format->colour, 255u);
  EXPECT_TRUE(pieces[0].format->bold);
  // Nothing changed: no rebuild. A new width or new text: rebuilt.
  EXPECT_FALSE(w.Sync(v, 8));
  EXPECT_TRUE(w.Sync(v, 40));
  EXPECT_EQ(w.RowCount(), 3u);
  Append(v, "\r\nmore");
  EXPECT_TRUE(w.Sync(v, 40));
  EXPECT_EQ(w.RowCount(), 4u);
}

TEST(WrappedView, ARowSpanningSeveralRuns) {
  output::TextView v;
  Append(v, "ab", 1);
  Append(v, "cd", 2);
  Append(v, "ef", 3);
  WrappedView w;
  w.Sync(v, 3);
  std::vector<WrappedView::Piece> pieces;
  w.Row(1, pieces);  // "def"
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].text, "d");
  EXPECT_EQ(pieces[0].format->colour, 2u);
  EXPECT_EQ(pieces[1].text, "ef");
  EXPECT_EQ(pieces[1].format->colour, 3u);
}

TEST(WrappedView, PlaceholdersAndControlBytesAreVisible) {
  output::TextView v;
  Append(v, "a\x01" "b ");
  v.InsertPicture(3, "[picture]");
  WrappedView w;
  w.Sync(v, 80);
  EXPECT_EQ(w.RowText(0), "a\xE2\x90\x81" "b [picture]");
}

TEST(Scrolling, FirstVisibleRow) {
  std::size_t back = 0;
  EXPECT_EQ(FirstVisibleRow(100, 20, &back), 80u);
  back = 30;
  EXPECT_EQ(FirstVisibleRow(100, 20, &back), 50u);
  back = 500;  // clamped to the top
  EXPECT_EQ(FirstVisibleRow(100, 20, &back), 0u);
  EXPECT_EQ(back, 80u);
  back = 5;
  EXPECT_EQ(FirstVisibleRow(10, 20, &back), 0u);  // everything fits: never scrolled
  EXPECT_EQ(back, 0u);
}

TEST(Accelerators, TableText) {
  AcceleratorTable t;
  const int bad = t.Parse(
      "# comment\n"
      "; another\n"
      "\n"
      "ctrl+alt+x = /say hi\r\n"
      "F5=/motd\n"
      "Shift+F13 = /nothing\n"  // no such key
      "Hyper+A = /nothing\n"    // no such modifier
      "Ctrl++ = /plus\n"
      "no equals sign\n"
      "PageUp =\n"              // no command
      "F5 = /lusers\n");        // a later binding wins
  EXPECT_EQ(bad, 4);
  EXPECT_EQ(t.size(), 3u);
  Key k;
  k.code = KeyCode::Char;
  k.ch = 'x';
  k.mods = kModCtrl | kModAlt;
  ASSERT_NE(t.Find(k), nullptr);
  EXPECT_EQ(*t.Find(k), "/say hi");
  k = {};
  k.code = KeyCode::F5;
  EXPECT_EQ(*t.Find(k), "/lusers");
  k = {};
  k.code = KeyCode::Char;
  k.ch = '+';
  k.mods = kModCtrl;
  EXPECT_EQ(*t.Find(k), "/plus");
  EXPECT_EQ(NormaliseKeyName(" alt+shift+pageup "), "Alt+Shift+PageUp");
  EXPECT_EQ(NormaliseKeyName("Alt+Ctrl+a"), "Ctrl+Alt+A");
  EXPECT_EQ(NormaliseKeyName("Ctrl+"), "");
}

TEST(Accelerators, MainTableFirstThenTheWindowKind) {
  Accelerators a;
  a.SetTable("MENU_MAIN", "F1 = /main\n");
  a.SetTable("MENU_CHANNEL", "F1 = /channel\nF2 = /names\n");
  a.SetTable("MENU_DCC", "F2 = /dcc\n");
  Key f1, f2;
  f1.code = KeyCode::F1;
  f2.code = KeyCode::F2;
  EXPECT_EQ(*a.Lookup(2, f1), "/main");
  EXPECT_EQ(*a.Lookup(2, f2), "/names");
  EXPECT_EQ(*a.Lookup(4, f2), "/dcc");
  EXPECT_EQ(*a.Lookup(99, f2), "/dcc");  // any other kind uses the DCC table
  EXPECT_EQ(a.Lookup(1, f2), nullptr);
}

TEST(Accelerators, ShippedTablesParse) {
  test::TempDir home;
  platform::SetProgramDir(home.path());
  if (const char* bin = getenv("VANTA_BIN")) platform::SetLibraryDir(bin);
  ASSERT_TRUE(config::LoadResourceLibrary());
  for (const char* name : {"MENU_MAIN", "MENU_SERVER", "MENU_CHANNEL", "MENU_QUERY", "MENU_DCC"}) {
    auto data = config::FindResource("ACCELERATOR", name);
    ASSERT_TRUE(data) << name;
    AcceleratorTable t;
    EXPECT_EQ(t.Parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size())), 0) << name;
  }
  Accelerators a;
  a.Load();
  Key f2;
  f2.code = KeyCode::F2;
  ASSERT_NE(a.Lookup(1, f2), nullptr);
  EXPECT_EQ(*a.Lookup(1, f2), "/motd");
}

}  // namespace
}  // namespace vanta::ui
