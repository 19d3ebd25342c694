#include "ui/accelerators.h"

#include <strings.h>

#include <vector>

#include "config/file_set.h"

namespace vanta::ui {

namespace {
std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool Equal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

constexpr std::string_view kNamedKeys[] = {"Enter", "Tab",  "Backspace", "Delete", "Insert", "Escape",
                                           "Up",    "Down", "Left",      "Right",  "Home",   "End",
                                           "PageUp", "PageDown", "Space"};

}  // namespace

std::string NormaliseKeyName(std::string_view name) {
  name = Trim(name);
  bool ctrl = false, alt = false, shift = false;
  std::string base;
  while (!name.empty()) {
    const std::size_t plus = name.find('+', 1);  // "Ctrl++" binds the plus key
    std::string_view part = name.substr(0, plus);
    if (plus == std::string_view::npos) {
      name = {};
    } else {
      name.remove_prefix(plus + 1);
      if (Equal(part, "Ctrl")) { ctrl = true; continue; }
      if (Equal(part, "Alt")) { alt = true; continue; }
      if (Equal(part, "Shift")) { shift = true; continue; }
      return {};
    }
    part = Trim(part);
    for (std::string_view k : kNamedKeys)
      if (Equal(part, k)) base.assign(k);
    if (base.empty() && part.size() >= 2 && (part[0] == 'F' || part[0] == 'f')) {
      int n = 0;
      for (char c : part.substr(1)) n = (c >= '0' && c <= '9' && n < 100) ? n * 10 + (c - '0') : -1000;
      if (n >= 1 && n <= 12) base = "F" + std::to_string(n);
    }
    if (base.empty()) {
      if (part.size() == 1 && part[0] >= 'a' && part[0] <= 'z') base.assign(1, static_cast<char>(part[0] - 32));
      else if (part.size() == 1 && part[0] > ' ' && part[0] < 0x7F) base.assign(part);
      else if (part.size() > 1 && static_cast<unsigned char>(part[0]) >= 0x80) base.assign(part);
      else return {};
    }
  }
  if (base.empty()) return {};
  std::string out;
  if (ctrl) out += "Ctrl+";
  if (alt) out += "Alt+";
  if (shift) out += "Shift+";
  return out + base;
}

int AcceleratorTable::Parse(std::string_view text) {
  int bad = 0;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    // The key ends at the first " = " or "=" after its first character ("==" binds the = key).
    const std::size_t eq = line.find('=', 1);
    if (eq == std::string_view::npos) {
      ++bad;
      continue;
    }
    const std::string key = NormaliseKeyName(line.substr(0, eq));
    const std::string_view command = Trim(line.substr(eq + 1));
    if (key.empty() || command.empty()) {
      ++bad;
      continue;
    }
    bindings_[key] = std::string(command);
  }
  return bad;
}

const std::string* AcceleratorTable::Find(const Key& key) const {
  const std::string name = KeyName(key);
  if (name.empty()) return nullptr;
  auto it = bindings_.find(name);
  return it == bindings_.end() ? nullptr : &it->second;
}

const char* AcceleratorTableName(int kind) {
  switch (kind) {
    case 1: return "MENU_SERVER";
    case 2: return "MENU_CHANNEL";
    case 3: return "MENU_QUERY";
    default: return "MENU_DCC";
  }
}

void Accelerators::Load() {
  for (const char* name : {"MENU_MAIN", "MENU_SERVER", "MENU_CHANNEL", "MENU_QUERY", "MENU_DCC"}) {
    // The tables ship in the resource library; without one a window kind simply has no keys of its own.
    auto data = config::FindResource("ACCELERATOR", name);
    SetTable(name, data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size())
                        : std::string_view());
  }
}

void Accelerators::SetTable(std::string_view table, std::string_view text) {
  AcceleratorTable t;
  t.Parse(text);
  tables_[std::string(table)] = std::move(t);
}

const std::string* Accelerators::Lookup(int kind, const Key& key) const {
  if (auto it = tables_.find("MENU_MAIN"); it != tables_.end())
    if (const std::string* c = it->second.Find(key)) return c;
  if (auto it = tables_.find(AcceleratorTableName(kind)); it != tables_.end()) return it->second.Find(key);
  return nullptr;
}

}  // namespace vanta::ui
