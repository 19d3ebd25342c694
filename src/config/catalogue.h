// The language library and its message catalogue.
//
// The language library (default "LANGEN.DLL", i.e. langen.so) is chosen by "DefaultLanguage" in
// section "General" of "ilang.ini" in the program directory. It exports
//   extern "C" const void* VantaFindResource(const char* type, const char* name, uint32_t* size)
// and carries two DATA resources: "SS", the ANSI table, and "USS", the Unicode table (layouts in
// config/langen/langen.cpp). LoadCatalogue copies both, so texts stay valid after the library goes.
//
// Tables from a library are outside input: every count, offset and prefix is checked against the
// resource's size. A table whose count exceeds 1300 or whose offsets do not fit is empty; an entry
// whose offset lies outside the string area, whose text has no NUL before the end, or (Unicode)
// whose 2-byte prefix does not fit, has no text.
//
// All functions may be called from any thread; loading replaces the catalogue as a whole, so a
// reader sees either the old or the new one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vanta::platform {
class Library;
}

namespace vanta::config {

// Name of the language library used when "ilang.ini" names none, or names one that cannot be loaded.
inline constexpr const char* kDefaultLanguageLibrary = "LANGEN.DLL";
// Number of catalogue entries a table can hold (indices 0..1299).
inline constexpr int kCatalogueCapacity = 1300;

// Loads the language library named by "ilang.ini" ("General"/"DefaultLanguage", default
// "LANGEN.DLL"), falling back to "LANGEN.DLL" silently. False when neither loads: the caller then
// reports the missing library. A library loaded earlier is replaced.
bool LoadLanguageLibrary();
// The loaded language library (nullptr before LoadLanguageLibrary or after UnloadLanguageLibrary).
std::shared_ptr<platform::Library> LanguageLibrary();
// Releases the language library (the catalogue copies stay).
void UnloadLanguageLibrary();

// Copies the "SS" and "USS" resources of the loaded language library and indexes them. A missing
// resource (or library) leaves that table empty.
void LoadCatalogue();
// Frees both tables; Message then returns none.
void UnloadCatalogue();
// Loads the catalogue from the given table bytes (copied). True when both tables were usable.
bool LoadCatalogueFromTables(std::span<const std::uint8_t> ss, std::span<const std::uint8_t> uss);

// The text mode: false = ANSI table, true = Unicode table ("UnicodeApproach").
void SetUnicodeMode(bool unicode);
bool UnicodeMode();

// Entry n of the current mode's table. In Unicode mode the 2-byte prefix is skipped unless `raw` is
// set (then the result starts with the two prefix bytes). None when n is outside 0..count-1, the
// entry is damaged or missing, or no catalogue is loaded.
std::optional<std::string> Message(int n, bool raw = false);
// The second block of the catalogue (labels): Message(n + 500).
std::optional<std::string> Message500(int n);

// The code page of the ANSI table's header (0 when no ANSI table is loaded).
std::uint32_t CatalogueCodePage();

}  // namespace vanta::config
