// The INI store: private-profile style reading and writing of "key=value" lines in "[section]"s.
//
// Every `path` goes through ResolvePath(). A missing file reads as empty. Section and key names are
// ASCII case-insensitive and the first occurrence wins. Values are trimmed of surrounding blanks and
// of one pair of surrounding double quotes; their bytes pass through untouched (FF FF, "$h" escapes,
// UTF-8). A value ends at a NUL byte.
//
// Writes keep the rest of the file byte for byte, write CR LF line ends, create the file, its folders,
// the section and the key on demand, and replace the file atomically (temporary file in the same
// folder, fsync, rename; through a symbolic link to its target). Parsed files are cached and
// re-validated by one stat per read. All functions may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanta::platform::ini {

// `cap` is the caller's buffer size: the result holds at most cap-1 bytes (cap 0 gives "").
std::string ReadString(std::string_view path, std::string_view section, std::string_view key,
                       std::string_view def = "", std::size_t cap = 1000);
// Optional sign, then decimal digits or "0x" and hexadecimal digits (wrapping at 32 bits, so
// "4294967295" reads as -1); anything else, an empty value or a missing key gives def.
int ReadInt(std::string_view path, std::string_view section, std::string_view key, int def);

// False (and the file untouched) when the value holds CR, LF or NUL, when the key is empty, holds "=",
// CR, LF or NUL or starts with ";" or "[", when the section name holds "]", CR, LF or NUL, or when the
// file cannot be written.
bool WriteString(std::string_view path, std::string_view section, std::string_view key, std::string_view value);
bool WriteInt(std::string_view path, std::string_view section, std::string_view key, long long value);
// Removes every line of the key in the section. True when the key is gone afterwards.
bool DeleteKey(std::string_view path, std::string_view section, std::string_view key);
// Removes the section (every occurrence of it) with all its lines. True when it is gone afterwards.
bool DeleteSection(std::string_view path, std::string_view section);

// True when the path names a file that can be opened for reading (not a directory).
bool FileExists(std::string_view path);

// Section names in file order, each once (first spelling).
std::vector<std::string> SectionNames(std::string_view path);
// The keys of a section in file order, each once with its first value (as ReadString returns it).
std::vector<std::pair<std::string, std::string>> SectionEntries(std::string_view path, std::string_view section);
// The key=value lines of a section joined with "\r\n" (values as stored, quotes kept, so the text can
// be written back unchanged); at most cap-1 bytes, cut before a line that would not fit whole.
// "" when absent.
std::string ReadSectionText(std::string_view path, std::string_view section, std::size_t cap = 10000);
// Replaces a whole section (in place when it exists, else appended) with the given key=value lines,
// separated by CR LF or LF; blank lines are skipped. False and nothing written when a line is not a
// valid key=value line.
bool WriteSectionText(std::string_view path, std::string_view section, std::string_view lines);

// Drops the parsed-file cache (tests; and after an external tool rewrote files).
void FlushCache();

}  // namespace vanta::platform::ini
