// Where the program's files live (the program directory and the logged-in profile's directory),
// the resource library that carries their seeds, and the preparation of the file set at start-up.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vanta::platform {
class Library;
}

namespace vanta::config {

// The profile chosen at login; "Administrator" until then. Fixed for the rest of the run.
void SetProfileName(std::string name);
std::string ProfileName();

// A file of the program directory, or (in_profile) of "USERS/<profile>/", as a program-form path.
std::string BuildPath(std::string_view file, bool in_profile);

// The profile's preferences file, "USERS/<profile>/pref.ini".
std::string PrefIni();

// Shorthands for reading preferences, the most common INI access.
std::string PrefString(std::string_view section, std::string_view key, std::string_view def = "",
                       std::size_t cap = 1000);
int PrefInt(std::string_view section, std::string_view key, int def);

// The files of the program with their place and seed resource ("" = none).
struct FileSetEntry {
  const char* file;
  bool in_profile;
  const char* seed;
};
std::span<const FileSetEntry> FileSetTable();
// The path of a file of the table in its place; files not in the table are in the program directory.
std::string FileSetPath(std::string_view file);

// The resource library ("libvres.so"). Loaded once at start-up; false when it cannot be loaded.
inline constexpr const char* kResourceLibrary = "libvres.so";
bool LoadResourceLibrary();
std::shared_ptr<platform::Library> ResourceLibrary();
void UnloadResourceLibrary();
// A resource of the loaded library by type and name; none without the library or the resource.
std::optional<std::span<const uint8_t>> FindResource(std::string_view type, std::string_view name);

// Writes DATA resource `resource` byte for byte to `path` when the file does not exist yet. True
// when the file exists afterwards. A missing resource or an unwritable place reports nothing.
bool SeedFile(std::string_view path, std::string_view resource);
// Seeds "pref.ini", "alias.ini", "event.ini", "server.ini", "font.dat", "symbol.dat", "voice.dat",
// "easy.ini" and "accounts.ini", in that order, each only when missing.
void SeedFiles();
// "USERS", the profile's directory, "FILES", "SOUND", "DYN" and "MEDIA".
void CreateStartupDirectories();
// Deletes the files of "DYN" with the extensions TMP TXT DAT RTF INI DLG BMP JPG STG HTM GIF SWF SKI
// KEY (any case); other files and folders stay. Returns the number deleted.
int CleanDyn();
// Deletes section "ProxyX" of the profile's "pref.ini".
void DeleteProxyX();
// Everything above in start-up order: seeds, directories, "DYN", "ProxyX".
void PrepareFileSet();

// "fixed.dat": one 60-byte font record for the fixed-pitch font, seeded from the program's own copy.
std::span<const uint8_t> FixedFontResource();
bool SeedFixedFont();

// The resource library's start and close entries ("VantaIRCInit" with the control socket's path,
// "VantaIRCClose"). Nothing happens without the library or the entry.
bool CallResourceInit(std::string_view control_socket);
void CallResourceClose();

}  // namespace vanta::config
