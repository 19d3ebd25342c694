// The option table: the preferences the program keeps cached in memory. Each entry names its file
// (page 5 lives in "fserv.ini", every other page in "pref.ini"), section, key, kind and built-in
// default. LoadOptions reads them all (start-up, "/reloadoptions"); the cached values are read from
// any thread without locks on the integer path. SetOption* changes only the cached copy ("/_set").
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vanta::config {

enum class OptionKind : uint8_t {
  kControl = 0,    // read straight into a dialog control, no cached copy
  kText = 1,       // "$h" escapes in the file, bytes in memory
  kInt = 2,        // integers and check boxes
  kMultiLine = 4,  // FF FF joined in the file, CR LF in memory
};

struct OptionEntry {
  uint16_t id;         // control id; the preferences page is id / 100 (at most 20)
  OptionKind kind;
  uint16_t size;       // cached size in bytes: 4, or 100 / 1000 / 10000 for texts
  const char* section;
  const char* key;
  const char* def;     // built-in default; integers go through atol
  uint32_t flags1;     // dialog flags
  uint32_t flags2;
};

inline constexpr int kOptionCount = 147;

std::span<const OptionEntry> OptionTable();
int OptionPage(const OptionEntry& e);
// "USERS/<profile>/fserv.ini" for page 5, else the profile's "pref.ini".
std::string OptionFile(const OptionEntry& e);

// Index of (section, key), ASCII case-insensitive; -1 when not in the table. Look indices up once
// and keep them: reading by index is the cheap path.
int OptionIndex(std::string_view section, std::string_view key);

// Cached values. An index outside the table reads 0 / "". Reading an integer entry as text gives its
// decimal form; a text entry read as an integer goes through atol.
int OptionInt(int index);
std::string OptionText(int index);
int OptionInt(std::string_view section, std::string_view key, int def = 0);
std::string OptionText(std::string_view section, std::string_view key, std::string_view def = "");

// Changes the cached copy only. False when the index is not an entry of that kind.
bool SetOptionInt(int index, int value);
bool SetOptionText(int index, std::string_view value);

// Every entry back to its built-in default (before the first load; tests).
void ResetOptionsToDefaults();
// Reads every entry from its file (missing key: built-in default), then reads and normalises
// "FilesDir", "SoundDir", "LogDir" and reads "NickPrefix" from "General".
void LoadOptions();
// Reads the entries of one preferences page the same way.
void LoadOptionsPage(int page);

// A directory setting made usable: blanks trimmed, "\" read as "/", trailing separators dropped,
// empty -> def; relative names are relative to the program directory. The result is an absolute
// native path.
std::string NormaliseDir(std::string_view value, std::string_view def);
// The normalised directories and the nick prefix of the last LoadOptions.
std::string FilesDir();
std::string SoundDir();
std::string LogDir();
std::string NickPrefix();
// Re-reads the three directories from "General" and normalises them (after one of them was written).
void ReloadDirectories();

}  // namespace vanta::config
