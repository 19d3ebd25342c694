// Profiles and rights: "accounts.ini" in the program directory is a named-record list of profiles
// ("Active", scrambled "Password", rights "i201".."i209"; "Contents" also holds "LastLogin" and
// "ForcePass"). The profile is chosen once at start-up by Login and stays fixed.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace vanta::ui {
class FrontEnd;
}

namespace vanta::config {

inline constexpr const char* kAccountsIni = "accounts.ini";
inline constexpr const char* kAdministrator = "Administrator";
inline constexpr const char* kDefaultProfile = "Default";

// The rights: alias/popup/alarm editors, event editors, macros, plug-ins, skins, script packages,
// languages, the profile editor, updates.
enum Right : int {
  kRightAliases = 201, kRightEvents = 202, kRightMacros = 203, kRightPlugins = 204, kRightSkins = 205,
  kRightScriptPackages = 206, kRightLanguages = 207, kRightProfiles = 208, kRightUpdates = 209,
};

// Logs in at start-up through the front end's prompts (name, then password). Returns the profile
// name, or none when start-up must stop (cancelled while "ForcePass" is 1). A cancelled login
// otherwise gives "Default". Does not set the profile: the caller does (SetProfileName).
std::optional<std::string> Login(ui::FrontEnd& fe);

// True when the current profile is "Administrator" or its key "i<id>" reads 1. Otherwise false, and
// with `tell` the user is shown catalogue message 830 in a warning box.
bool HasRight(int id, bool tell);

// Profile editor operations. Each returns false when the current profile may not do it or the record
// does not allow it (the list operations' own failures included); `error` (when given) receives the
// catalogue message number to show (11: no record selected), 0 otherwise.
struct ProfileRecord {
  std::string name;
  std::string password;  // clear text
  bool rights[9] = {};   // i201..i209
};
// Administrator only: adds a record with "Active"="1".
bool ProfileAdd(std::string_view name, int* error = nullptr);
// Any profile: writes "Password" (only when the current profile is "Administrator" or the record
// itself; otherwise the stored password stays) and the nine rights, and creates the record's folder.
bool ProfileStore(const ProfileRecord& record, int* error = nullptr);
// Administrator only, never "Administrator": list rename; the folder keeps its old name.
bool ProfileRename(std::string_view old_name, std::string_view new_name, int* error = nullptr);
// Administrator only, never "Administrator": asks (catalogue message 14 with the name) through the
// front end, then list delete; the folder and its files stay.
bool ProfileDelete(ui::FrontEnd& fe, std::string_view name, int* error = nullptr);
// Administrator only: writes "ForcePass".
bool ProfileSetForcePass(bool on);
// Reads a record (password unscrambled). None when the name is not listed.
std::optional<ProfileRecord> ProfileLoad(std::string_view name);

}  // namespace vanta::config
