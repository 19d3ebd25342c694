#include "config/profiles.h"

#include <strings.h>

#include "config/file_set.h"
#include "config/format.h"
#include "config/ini_store.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "ui/frontend.h"

namespace vanta::config {

namespace ini = platform::ini;

namespace {

constexpr const char* kProduct = "VantaIRC";
// A prompt that keeps answering without ever confirming a valid login must not keep start-up forever.
constexpr int kMaxLoginAttempts = 100;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool IsAdministrator(std::string_view name) { return SameName(name, kAdministrator); }

std::string ListedName(std::string_view typed) {
  const int k = ListFind(kAccountsIni, typed);
  if (k == 0) return "";
  return ini::ReadString(kAccountsIni, "Contents", "Name" + std::to_string(k), "", kRecordNameMax + 1);
}

void SetError(int* error, int n) {
  if (error) *error = n;
}

}  // namespace

std::optional<std::string> Login(ui::FrontEnd& fe) {
  const std::string admin_stored = ini::ReadString(kAccountsIni, kAdministrator, "Password", "", kValueCap);
  if (admin_stored.empty()) return std::string(kAdministrator);

  auto cancelled = [&]() -> std::optional<std::string> {
    if (ini::ReadInt(kAccountsIni, "Contents", "ForcePass", 0) == 1) return std::nullopt;
    return std::string(kDefaultProfile);
  };

  if (ListCount(kAccountsIni) == 0) return cancelled();
  std::string name = ini::ReadString(kAccountsIni, "Contents", "LastLogin", "", kValueCap);
  if (IsAdministrator(name) && admin_stored.empty()) return std::string(kAdministrator);

  for (int attempt = 0; attempt < kMaxLoginAttempts; ++attempt) {
    auto typed_name = fe.AskText(kProduct, "Profile name", name, false);
    if (!typed_name) return cancelled();
    auto typed_password = fe.AskText(kProduct, "Password for " + *typed_name, "", true);
    if (!typed_password) return cancelled();
    name = *typed_name;
    const std::string listed = ListedName(name);
    if (listed.empty() || ini::ReadInt(kAccountsIni, listed, "Active", 0) != 1) continue;
    std::string stored = ini::ReadString(kAccountsIni, listed, "Password", "", kValueCap);
    std::string clear;
    // A value that is not the scrambler's never matches (it is not an empty password either).
    if (!stored.empty() && !Unscramble(stored, &clear)) continue;
    if (clear != *typed_password) continue;
    ini::WriteString(kAccountsIni, "Contents", "LastLogin", listed);
    return listed;
  }
  return cancelled();
}

bool HasRight(int id, bool tell) {
  const std::string profile = ProfileName();
  if (IsAdministrator(profile)) return true;
  if (ini::ReadInt(kAccountsIni, profile, "i" + std::to_string(id), 0) == 1) return true;
  if (tell) ui::Current().MessageBox(kProduct, Msg(830));
  return false;
}

std::optional<ProfileRecord> ProfileLoad(std::string_view name) {
  const std::string listed = ListedName(name);
  if (listed.empty()) return std::nullopt;
  ProfileRecord r;
  r.name = listed;
  r.password = ReadSecret(kAccountsIni, listed, "Password");
  for (int i = 0; i < 9; ++i) r.rights[i] = ini::ReadInt(kAccountsIni, listed, "i" + std::to_string(201 + i), 0) == 1;
  return r;
}

bool ProfileAdd(std::string_view name, int* error) {
  SetError(error, 0);
  if (!IsAdministrator(ProfileName())) return false;
  return ListAdd(kAccountsIni, name, {{"Active", "1"}});
}

bool ProfileStore(const ProfileRecord& record, int* error) {
  SetError(error, 0);
  const std::string listed = record.name.empty() ? "" : ListedName(record.name);
  if (listed.empty()) {
    SetError(error, 11);
    return false;
  }
  bool ok = true;
  if (IsAdministrator(ProfileName()) || SameName(ProfileName(), listed))
    ok = WriteSecret(kAccountsIni, listed, "Password", record.password);
  for (int i = 0; i < 9; ++i)
    ok = ini::WriteString(kAccountsIni, listed, "i" + std::to_string(201 + i), record.rights[i] ? "1" : "0") && ok;
  platform::EnsureDir("USERS/" + platform::WindowFileName(listed));
  return ok;
}

bool ProfileRename(std::string_view old_name, std::string_view new_name, int* error) {
  SetError(error, 0);
  if (old_name.empty()) {
    SetError(error, 11);
    return false;
  }
  if (!IsAdministrator(ProfileName()) || IsAdministrator(old_name) || IsAdministrator(new_name)) return false;
  return ListRename(kAccountsIni, old_name, new_name);
}

bool ProfileDelete(ui::FrontEnd& fe, std::string_view name, int* error) {
  SetError(error, 0);
  if (name.empty()) {
    SetError(error, 11);
    return false;
  }
  if (!IsAdministrator(ProfileName()) || IsAdministrator(name)) return false;
  if (ListFind(kAccountsIni, name) == 0) return false;
  if (!fe.AskYesNo(kProduct, Msg(14, {name}), false)) return false;
  return ListDelete(kAccountsIni, name);
}

bool ProfileSetForcePass(bool on) {
  if (!IsAdministrator(ProfileName())) return false;
  return ini::WriteString(kAccountsIni, "Contents", "ForcePass", on ? "1" : "0");
}

}  // namespace vanta::config
