// The message catalogue: table layouts, lookups, damaged tables, the language-library loader and the
// English texts of langen.so.
#include "config/catalogue.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config/format.h"
#include "platform/dynlib.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace vanta::config {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using FindResourceFn = const void* (*)(const char*, const char*, std::uint32_t*);

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(Bytes& b, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>((v >> (8 * k)) & 0xFF));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>((v >> (8 * k)) & 0xFF);
}

// Tables in the language library's layouts; numbers without text get an offset outside the table.
Bytes MakeSs(const std::map<int, std::string>& texts, std::uint32_t count) {
  Bytes b;
  Put16(b, 0x0409);
  Put32(b, 1252);
  Put32(b, count);
  std::string area;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto it = texts.find(static_cast<int>(i));
    if (it == texts.end()) {
      Put32(b, 0xFFFFFFFFu);
      continue;
    }
    Put32(b, static_cast<std::uint32_t>(area.size()));
    area += it->second;
    area += '\0';
  }
  b.insert(b.end(), area.begin(), area.end());
  return b;
}

Bytes MakeUss(const std::map<int, std::string>& texts, std::uint32_t count) {
  Bytes b;
  Put16(b, 0x0409);
  Put32(b, 65001);
  b.insert(b.end(), 3, 0);
  Put32(b, count);
  Bytes area;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto it = texts.find(static_cast<int>(i));
    if (it == texts.end()) {
      Put32(b, 0xFFFFFFFFu);
      continue;
    }
    Put32(b, static_cast<std::uint32_t>(area.size()));
    Put16(area, static_cast<std::uint32_t>(it->second.size()));
    area.insert(area.end(), it->second.begin(), it->second.end());
    area.push_back(0);
  }
  b.insert(b.end(), area.begin(), area.end());
  return b;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void TearDown() override {
    UnloadCatalogue();
    UnloadLanguageLibrary();
    SetUnicodeMode(false);
  }
};

// A two-entry table written out byte by byte, so the loader is checked against the layout itself
// rather than against the test's own table builder.
TEST_F(CatalogueTest, ReadsBothLayoutsByteByByte) {
  const Bytes ss = {
      0x09, 0x04,              // language tag
      0xE4, 0x04, 0x00, 0x00,  // code page 1252
      0x02, 0x00, 0x00, 0x00,  // count 2
      0x00, 0x00, 0x00, 0x00,  // offset 0
      0x03, 0x00, 0x00, 0x00,  // offset 3
      'H',  'i',  0x00,        // entry 0
      'Y',  'o',  0x00,        // entry 1
  };
  const Bytes uss = {
      0x09, 0x04, 0xE9, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00,  // 9 header bytes
      0x02, 0x00, 0x00, 0x00,                                // count 2 at byte 9
      0x00, 0x00, 0x00, 0x00,                                // offset 0
      0x05, 0x00, 0x00, 0x00,                                // offset 5
      0x02, 0x00, 'H',  'u',  0x00,                          // entry 0: prefix 2, "Hu"
      0x03, 0x00, 0xC3, 0xA9, 'a',  0x00,                    // entry 1: prefix 3, "\xC3\xA9a"
  };
  ASSERT_TRUE(LoadCatalogueFromTables(ss, uss));
  EXPECT_EQ(CatalogueCodePage(), 1252u);

  EXPECT_EQ(Message(0), "Hi");
  EXPECT_EQ(Message(1), "Yo");
  EXPECT_EQ(Message(1, true), "Yo");  // raw changes nothing in ANSI mode
  SetUnicodeMode(true);
  EXPECT_EQ(Message(0), "Hu");
  EXPECT_EQ(Message(1), "\xC3\xA9" "a");
  EXPECT_EQ(Message(0, true), std::string("\x02\x00Hu", 4));
  EXPECT_EQ(Message(1, true), std::string("\x03\x00\xC3\xA9" "a", 5));
  EXPECT_EQ(Message(2), std::nullopt);
}

TEST_F(CatalogueTest, IndexBounds) {
  std::map<int, std::string> texts = {{0, "first"}, {1, "second"}, {501, "label one"}, {1299, "last"}};
  ASSERT_TRUE(LoadCatalogueFromTables(MakeSs(texts, 1300), MakeUss(texts, 1300)));
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "unicode" : "ansi");
    SetUnicodeMode(unicode);
    EXPECT_EQ(Message(0), "first");
    EXPECT_EQ(Message(1299), "last");
    EXPECT_EQ(Message(1300), std::nullopt);
    EXPECT_EQ(Message(-1), std::nullopt);
    EXPECT_EQ(Message(2), std::nullopt);  // below the count, but without text
    EXPECT_EQ(Message500(1), "label one");
    EXPECT_EQ(Message500(0), std::nullopt);
    EXPECT_EQ(Message500(2147483647), std::nullopt);
  }
  // An index at or after the table's own count has no text even when another table is longer.
  ASSERT_TRUE(LoadCatalogueFromTables(MakeSs(texts, 2), MakeUss(texts, 1300)));
  SetUnicodeMode(false);
  EXPECT_EQ(Message(1), "second");
  EXPECT_EQ(Message(2), std::nullopt);
  EXPECT_EQ(Message500(1), std::nullopt);
  SetUnicodeMode(true);
  EXPECT_EQ(Message500(1), "label one");
}

TEST_F(CatalogueTest, NothingLoaded) {
  EXPECT_EQ(Message(0), std::nullopt);
  EXPECT_EQ(Message500(0), std::nullopt);
  EXPECT_EQ(Msg(0), "");
  EXPECT_EQ(CatalogueCodePage(), 0u);
  LoadCatalogue();  // no language library loaded: both tables empty
  EXPECT_EQ(Message(0), std::nullopt);
}

TEST_F(CatalogueTest, MsgFormatsTheCurrentTable) {
  std::map<int, std::string> ansi = {{93, "Resolving %s..."}};
  std::map<int, std::string> wide = {{93, "R\xC3\xA9solution de %s..."}};
  ASSERT_TRUE(LoadCatalogueFromTables(MakeSs(ansi, 94), MakeUss(wide, 94)));
  EXPECT_EQ(Msg(93, {"irc.example.org"}), "Resolving irc.example.org...");
  SetUnicodeMode(true);
  EXPECT_EQ(Msg(93, {"h"}), "R\xC3\xA9solution de h...");
  EXPECT_EQ(Msg(92, {"h"}), "");
}

// Damaged tables: every case keeps the good entries it can and gives no text for the rest.
TEST_F(CatalogueTest, DamagedTables) {
  const std::map<int, std::string> texts = {{0, "zero"}, {1, "one"}, {2, "two"}};
  const Bytes good_ss = MakeSs(texts, 3);
  const Bytes good_uss = MakeUss(texts, 3);
  struct Case {
    const char* name;
    Bytes ss;
    Bytes uss;
    std::vector<std::optional<std::string>> ansi;     // expected Message(0..2) in ANSI mode
    std::vector<std::optional<std::string>> unicode;  // and in Unicode mode
  };
  auto with = [](Bytes b, auto&& change) {
    change(b);
    return b;
  };
  const std::optional<std::string> none;
  const std::vector<std::optional<std::string>> all = {"zero", "one", "two"};
  const std::vector<std::optional<std::string>> nothing = {none, none, none};
  const std::size_t ss_area = 10 + 12;
  const std::size_t uss_area = 13 + 12;
  const std::vector<Case> cases = {
      {"empty resources", {}, {}, nothing, nothing},
      {"header cut short", Bytes(good_ss.begin(), good_ss.begin() + 7),
       Bytes(good_uss.begin(), good_uss.begin() + 12), nothing, nothing},
      {"count 5000", with(good_ss, [](Bytes& b) { Set32(b, 6, 5000); }),
       with(good_uss, [](Bytes& b) { Set32(b, 9, 5000); }), nothing, nothing},
      {"count above capacity with the bytes for it",
       with(MakeSs(texts, 1301), [](Bytes&) {}), with(MakeUss(texts, 1301), [](Bytes&) {}), nothing, nothing},
      {"offsets run past the end", Bytes(good_ss.begin(), good_ss.begin() + 16),
       Bytes(good_uss.begin(), good_uss.begin() + 20), nothing, nothing},
      {"offset past the end", with(good_ss, [](Bytes& b) { Set32(b, 14, 1000); }),
       with(good_uss, [](Bytes& b) { Set32(b, 17, 0x7FFFFFFF); }), {"zero", none, "two"}, {"zero", none, "two"}},
      {"offset at the last byte", with(good_ss, [&](Bytes& b) { Set32(b, 10, static_cast<std::uint32_t>(b.size() - ss_area - 1)); }),
       with(good_uss, [&](Bytes& b) { Set32(b, 13, static_cast<std::uint32_t>(b.size() - uss_area - 1)); }),
       {"", "one", "two"}, {none, "one", "two"}},
      {"missing final NUL", Bytes(good_ss.begin(), good_ss.end() - 1), Bytes(good_uss.begin(), good_uss.end() - 1),
       {"zero", "one", none}, {"zero", "one", none}},
      {"prefix cut off", good_ss, Bytes(good_uss.begin(), good_uss.begin() + static_cast<long>(uss_area) + 1),
       all, nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadCatalogueFromTables(c.ss, c.uss);
    for (bool unicode : {false, true}) {
      SetUnicodeMode(unicode);
      const auto& want = unicode ? c.unicode : c.ansi;
      for (int n = 0; n < 3; ++n) {
        EXPECT_EQ(Message(n), want[static_cast<std::size_t>(n)]) << (unicode ? "unicode " : "ansi ") << n;
        Message(n, true);
      }
      EXPECT_EQ(Message(3), std::nullopt);
    }
  }
}

TEST_F(CatalogueTest, ReadersAndReloadsDoNotRace) {
  const std::map<int, std::string> a = {{0, "alpha"}};
  const std::map<int, std::string> b = {{0, "beta"}};
  ASSERT_TRUE(LoadCatalogueFromTables(MakeSs(a, 1), MakeUss(a, 1)));
  std::thread reader([] {
    for (int i = 0; i < 2000; ++i) {
      const auto m = Message(0);
      ASSERT_TRUE(m == "alpha" || m == "beta" || m == std::nullopt);
    }
  });
  for (int i = 0; i < 200; ++i) {
    LoadCatalogueFromTables(i % 2 ? MakeSs(a, 1) : MakeSs(b, 1), MakeUss(a, 1));
    SetUnicodeMode(i % 3 == 0);
    if (i % 50 == 0) UnloadCatalogue();
  }
  reader.join();
}

// ---------------------------------------------------------------------------------------------------
// The language library loader, with a fresh program directory per case.

class LanguageLibraryTest : public CatalogueTest {
 protected:
  void SetUp() override {
    const char* bin = getenv("VANTA_BIN");
    ASSERT_NE(bin, nullptr) << "VANTA_BIN must name the build's bin directory";
    bin_ = bin;
    char tmpl[] = "/tmp/vanta-cat-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    platform::SetProgramDir(dir_);
    platform::SetLibraryDir(bin_);
    platform::ini::FlushCache();
  }
  void TearDown() override {
    CatalogueTest::TearDown();
    platform::ini::FlushCache();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteIlang(const std::string& text) {
    std::ofstream(dir_ + "/ilang.ini") << text;
    platform::ini::FlushCache();
  }

  std::string bin_;
  std::string dir_;
};

TEST_F(LanguageLibraryTest, FindsTheLibraryByIlangIni) {
  struct Case {
    const char* name;
    const char* ilang;  // nullptr: no ilang.ini
    const char* copy_as;  // a copy of langen.so in the program directory, or nullptr
    const char* expect_file;
  };
  const Case cases[] = {
      {"no ilang.ini", nullptr, nullptr, "langen.so"},
      {"no DefaultLanguage key", "[General]\r\nOther=1\r\n", nullptr, "langen.so"},
      {"named library missing", "[General]\r\nDefaultLanguage=LANGFR.DLL\r\n", nullptr, "langen.so"},
      {"named library is no language library", "[General]\r\nDefaultLanguage=SSL.DLL\r\n", nullptr, "langen.so"},
      {"empty name", "[General]\r\nDefaultLanguage=\r\n", nullptr, "langen.so"},
      {"named library present", "[general]\r\ndefaultlanguage=MyLang.dll\r\n", "mylang.so", "mylang.so"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove(dir_ + "/ilang.ini", ec);
    platform::ini::FlushCache();
    if (c.ilang) WriteIlang(c.ilang);
    if (c.copy_as) fs::copy_file(bin_ + "/langen.so", dir_ + "/" + c.copy_as, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(LoadLanguageLibrary());
    ASSERT_NE(LanguageLibrary(), nullptr);
    EXPECT_EQ(std::string(platform::BaseName(LanguageLibrary()->path())), c.expect_file);
    LoadCatalogue();
    EXPECT_EQ(Message(0), "English");
    UnloadCatalogue();
  }
}

TEST_F(LanguageLibraryTest, NoLanguageLibraryAtAll) {
  const std::string empty = dir_ + "/empty-bin";
  fs::create_directory(empty);
  platform::SetLibraryDir(empty);
  WriteIlang("[General]\r\nDefaultLanguage=LANGFR.DLL\r\n");
  EXPECT_FALSE(LoadLanguageLibrary());
  EXPECT_EQ(LanguageLibrary(), nullptr);
  LoadCatalogue();
  EXPECT_EQ(Message(0), std::nullopt);
}

TEST_F(LanguageLibraryTest, CatalogueOutlivesTheLibrary) {
  ASSERT_TRUE(LoadLanguageLibrary());
  LoadCatalogue();
  UnloadLanguageLibrary();
  EXPECT_EQ(Message(0), "English");
  SetUnicodeMode(true);
  EXPECT_EQ(Message(93), "Resolving %s...");
}

// The resources of langen.so in their binary layouts: headers, offsets, prefixes.
TEST_F(LanguageLibraryTest, LangenResourceLayout) {
  auto lib = platform::LoadLibraryByName("LANGEN.DLL");
  ASSERT_NE(lib, nullptr);
  auto find = lib->Entry<FindResourceFn>("VantaFindResource");
  ASSERT_NE(find, nullptr);

  std::uint32_t size = 123;
  EXPECT_EQ(find("DATA", "NOPE", &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(find("ICON", "SS", &size), nullptr);
  EXPECT_EQ(find(nullptr, "SS", &size), nullptr);
  EXPECT_EQ(find("DATA", nullptr, nullptr), nullptr);

  std::uint32_t ss_size = 0, uss_size = 0;
  auto* ss = static_cast<const std::uint8_t*>(find("DATA", "SS", &ss_size));
  auto* uss = static_cast<const std::uint8_t*>(find("DATA", "USS", &uss_size));
  ASSERT_NE(ss, nullptr);
  ASSERT_NE(uss, nullptr);

  // SS: tag, code page 1252, count, offsets, string area.
  ASSERT_GT(ss_size, 10u);
  EXPECT_EQ(ss[0] | (ss[1] << 8), 0x0409);
  EXPECT_EQ(Get32(ss + 2), 1252u);
  const std::uint32_t count = Get32(ss + 6);
  EXPECT_GT(count, 1103u);  // at least the highest number the program cites, + 1
  EXPECT_LE(count, 1300u);
  ASSERT_GE(ss_size, 10 + 4 * count);
  const std::uint8_t* ss_area = ss + 10 + 4 * count;
  EXPECT_EQ(Get32(ss + 10), 0u);                      // entry 0 at the start of the area
  EXPECT_EQ(std::memcmp(ss_area, "English\0", 8), 0);
  EXPECT_EQ(Get32(ss + 10 + 4 * 1), 0xFFFFFFFFu);     // number 1 has no text
  EXPECT_EQ(Get32(ss + 10 + 4 * 11), 8u);             // entry 11 right after "English\0"
  EXPECT_EQ(ss[ss_size - 1], 0);

  // USS: 9 header bytes, count at 9, offsets from 13, entries with a 2-byte length prefix.
  EXPECT_EQ(uss[0] | (uss[1] << 8), 0x0409);
  EXPECT_EQ(Get32(uss + 9), count);
  ASSERT_GE(uss_size, 13 + 4 * count);
  const std::uint8_t* uss_area = uss + 13 + 4 * count;
  EXPECT_EQ(Get32(uss + 13), 0u);
  EXPECT_EQ(uss_area[0] | (uss_area[1] << 8), 7);
  EXPECT_EQ(std::memcmp(uss_area + 2, "English\0", 8), 0);
  EXPECT_EQ(Get32(uss + 13 + 4 * 1), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(uss + 13 + 4 * 11), 10u);            // prefix + 7 bytes + NUL
  // Every USS prefix holds its text's byte length.
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t off = Get32(uss + 13 + 4 * i);
    if (off == 0xFFFFFFFFu) continue;
    ASSERT_LT(13 + 4 * count + off + 2, uss_size);
    const std::uint8_t* e = uss_area + off;
    const std::size_t len = e[0] | (e[1] << 8);
    ASSERT_LT(13 + 4 * count + off + 2 + len, uss_size) << i;
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(e + 2)), len) << i;
  }
}

// ---------------------------------------------------------------------------------------------------
// The English catalogue: every number the program cites has a text, and its placeholders take the
// argument kinds its callers pass ('s' text, 'd' integer).

// The kinds of the printf conversions of a text, in order.
std::string PlaceholderKinds(const std::string& text) {
  std::string kinds;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    std::size_t j = i + 1;
    while (j < text.size() && std::strchr("-+ #0123456789.*hlLqjztI", text[j]) != nullptr) ++j;
    if (j >= text.size()) {
      kinds += '?';
      break;
    }
    const char c = text[j];
    if (c == 's') kinds += 's';
    else if (std::strchr("diuxXoc", c)) kinds += 'd';
    else if (std::strchr("feEgG", c)) kinds += 'f';
    else if (c != '%') kinds += '?';
    i = j;
  }
  return kinds;
}

struct Cited {
  int number;
  const char* kinds;
};

// Every catalogue number the program's callers use, with the arguments they format into it.
const Cited kCited[] = {
    {0, ""},       {11, ""},      {14, "s"},     {15, ""},      {16, ""},      {62, ""},
    {63, ""},      {66, ""},      {67, ""},      {73, "sd"},    {74, ""},      {75, ""},
    {86, ""},      {87, ""},      {88, ""},      {89, ""},      {90, ""},      {91, ""},
    {92, "ssdds"}, {93, "s"},     {94, "s"},     {95, ""},      {96, ""},      {97, ""},
    {98, ""},      {100, ""},     {101, ""},     {102, ""},     {103, "sdddddd"}, {104, ""},
    {105, ""},     {106, ""},     {107, ""},     {108, ""},     {109, ""},     {110, ""},
    {111, "ssds"}, {113, "ssd"},  {114, "ssd"},  {115, "ssd"},  {116, ""},     {117, ""},
    {118, ""},     {119, "sss"},  {134, "s"},    {155, "ss"},   {157, ""},     {158, ""},
    {159, ""},     {160, "d"},    {161, "d"},    {162, "d"},    {163, "d"},    {164, ""},
    {165, "s"},    {166, ""},     {167, ""},     {168, ""},     {169, ""},     {170, ""},
    {171, ""},     {172, ""},     {173, ""},     {175, "s"},    {176, "s"},    {177, ""},
    {178, ""},     {195, ""},     {196, ""},     {197, ""},     {198, ""},     {199, "sdddddd"},
    {200, ""},     {201, ""},     {202, ""},     {203, ""},     {204, ""},     {205, "sd"},
    {219, ""},     {220, ""},     {221, ""},     {222, ""},     {223, ""},     {224, ""},
    {225, ""},     {226, ""},     {227, ""},     {228, ""},     {229, ""},     {230, ""},
    {231, ""},     {233, ""},     {235, ""},     {236, ""},     {237, ""},     {240, "s"},
    {241, "ss"},   {242, "dss"},  {243, ""},     {244, ""},     {249, "sd"},   {250, "s"},
    {251, "ss"},   {252, ""},     {253, "s"},    {329, ""},     {330, ""},     {331, ""},
    {332, ""},     {334, ""},     {335, ""},     {351, ""},     {352, ""},     {353, ""},
    {354, ""},     {355, ""},     {361, ""},     {373, ""},     {376, ""},     {377, ""},
    {380, "d"},    {381, ""},     {383, ""},     {384, ""},     {385, ""},     {389, "s"},
    {395, ""},     {671, ""},     {672, ""},     {673, ""},     {674, ""},     {675, ""},
    {810, ""},     {811, ""},     {830, ""},     {880, ""},     {930, "s"},    {931, "s"},
    {960, "sd"},   {1103, "s"},
};

// Template variables the appearance formatter knows (matched case-insensitively).
const char* const kTemplateVariables[] = {
    "prefix", "nick",    "colornick", "ident", "IP",      "channel",  "actionmessage",
    "action", "message", "year",      "month", "day",     "_hour",    "minute",
    "second", "victim",  "kickmsg",   "knockmsg", "noticeid", "align",
};

// "" when every "$" of the template starts a "$hNN" escape, a known variable or a lone "$";
// otherwise the offending part.
std::string UnknownTemplateWord(const std::string& t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '$') continue;
    if (i + 3 < t.size() && (t[i + 1] == 'h' || t[i + 1] == 'H') && std::isxdigit(static_cast<unsigned char>(t[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(t[i + 3]))) {
      i += 3;
      continue;
    }
    bool known = false;
    for (const char* v : kTemplateVariables) {
      const std::size_t n = std::strlen(v);
      if (t.size() - (i + 1) >= n && strncasecmp(t.c_str() + i + 1, v, n) == 0) {
        known = true;
        break;
      }
    }
    if (!known && i + 1 < t.size() && (std::isalpha(static_cast<unsigned char>(t[i + 1])) || t[i + 1] == '_'))
      return t.substr(i, 12);
  }
  return "";
}

TEST_F(LanguageLibraryTest, EnglishCatalogue) {
  ASSERT_TRUE(LoadLanguageLibrary());
  LoadCatalogue();
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "unicode" : "ansi");
    SetUnicodeMode(unicode);
    for (const Cited& c : kCited) {
      const auto text = Message(c.number);
      ASSERT_TRUE(text.has_value()) << "message " << c.number << " has no text";
      EXPECT_FALSE(text->empty()) << c.number;
      EXPECT_EQ(PlaceholderKinds(*text), c.kinds) << "message " << c.number << ": \"" << *text << "\"";
    }
    // Script errors: 218 + every code that is raised.
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 17, 18, 19})
      EXPECT_TRUE(Message(218 + code).has_value()) << code;
    // Appearance templates (35-59) and their language halves (1060-1084): no printf placeholders,
    // only known template variables; the full templates are never empty.
    for (int key = 100; key <= 124; ++key) {
      for (int n : {key - 65, key + 960}) {
        const auto t = Message(n);
        ASSERT_TRUE(t.has_value()) << n;
        EXPECT_EQ(PlaceholderKinds(*t), "") << n;
        EXPECT_EQ(UnknownTemplateWord(*t), "") << n << ": " << *t;
        if (n < 100) {
          EXPECT_FALSE(t->empty()) << n;
        }
      }
    }
  }
  // Both tables come from one source: with ASCII texts they agree entry for entry.
  for (int n = 0; n < kCatalogueCapacity; ++n) {
    SetUnicodeMode(false);
    const auto ansi = Message(n);
    SetUnicodeMode(true);
    EXPECT_EQ(Message(n), ansi) << n;
  }
}

}  // namespace
}  // namespace vanta::config
