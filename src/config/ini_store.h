// Conventions every INI file of the program shares, on top of the platform INI reader and writer:
// multi-line values (line breaks stored as the bytes FF FF), stored texts with "$h" escapes, the
// password scrambler, and lists of named records ("Contents"/"Num"/"Name1".. plus one section per
// record). All functions may be called from any thread; list edits belong to the user-interface
// thread (other threads only read lists).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanta::config {

// Read buffer sizes: ordinary values, and script text or multi-line values.
inline constexpr std::size_t kValueCap = 1000;
inline constexpr std::size_t kLongValueCap = 10000;
// Record names are read into 100-byte buffers.
inline constexpr std::size_t kRecordNameMax = 99;
// A "Num" above this is read as this many records.
inline constexpr int kMaxRecords = 100000;

// Line breaks to FF FF. CR LF and LF CR are one break each; a lone CR or LF is a break too (a raw
// line end inside a value would split the INI line and damage the file).
std::string EncodeLines(std::string_view text);
// Every byte FF and the byte after it become CR LF (a trailing lone FF as well).
std::string DecodeLines(std::string_view text);

// Multi-line values: encoded on write, decoded on read (cap applies to the stored bytes).
bool WriteMultiLine(std::string_view path, std::string_view section, std::string_view key, std::string_view text);
std::string ReadMultiLine(std::string_view path, std::string_view section, std::string_view key,
                          std::string_view def = "", std::size_t cap = kLongValueCap);

// Stored texts: bytes below 0x20 other than CR and LF written as "$h" and two upper-case hex digits.
std::string EncodeStoredText(std::string_view text);
// "$h" and two characters, the first not "o"/"O", become the byte they give in hex (a pair that is
// not hexadecimal gives FF); "$hour" and a short tail stay as they are.
std::string DecodeStoredText(std::string_view text);

// The password scrambler: a reversible byte transform under standard Base64. "" stays "".
std::string Scramble(std::string_view secret);
// False (out cleared) when the text is not the scrambler's Base64.
bool Unscramble(std::string_view stored, std::string* out);
// "" for anything that does not decode.
std::string Unscramble(std::string_view stored);

// Secret values of an INI file.
bool WriteSecret(std::string_view path, std::string_view section, std::string_view key, std::string_view secret);
std::string ReadSecret(std::string_view path, std::string_view section, std::string_view key);

// Named-record lists. A valid record name is 1..99 bytes without "]", CR, LF or NUL.
bool ValidRecordName(std::string_view name);
// Appends a record and writes its first keys into its section. Does not look for a record of the
// same name. False when the name is not valid or a write failed.
bool ListAdd(std::string_view path, std::string_view name,
             const std::vector<std::pair<std::string, std::string>>& first_keys = {});
// Removes the record: its section, its name key, "Num" lowered, then one compaction pass closing the
// gap. False (nothing changed) when no name key holds the name.
bool ListDelete(std::string_view path, std::string_view name);
// Renames a record, moving its keys (at most 10000 bytes of key=value lines) to the new section.
// False (nothing changed) when the old name is not listed, the new name is not valid, or another
// record already has the new name.
bool ListRename(std::string_view path, std::string_view old_name, std::string_view new_name);
// The names in display order, empty name keys skipped.
std::vector<std::string> ListEnumerate(std::string_view path);
// The 1-based position of the first name key equal (ASCII case-insensitively) to name, 0 when none.
int ListFind(std::string_view path, std::string_view name);
int ListCount(std::string_view path);

}  // namespace vanta::config
