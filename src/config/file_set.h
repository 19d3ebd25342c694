// Where the program's files live: the program directory and the logged-in profile's directory.
#pragma once
#include <string>
#include <string_view>

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

}  // namespace vanta::config
