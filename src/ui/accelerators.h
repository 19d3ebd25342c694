// Keyboard accelerators: per window kind, keys that run a command line.
//
// Table text, one binding a line ("#" or ";" starts a comment line, blank lines are skipped):
//     <key> = <command>
// <key> is a key name as KeyName writes it ("Ctrl+L", "Alt+Shift+F3", "PageUp"; case does not
// matter). <command> is a line for the input handler ("/motd"), or one of the front end's own
// actions: "@redraw", "@next-window", "@previous-window", "@scroll-top", "@scroll-bottom".
//
// The tables are "MENU_MAIN" (tried first, in every window), "MENU_SERVER", "MENU_CHANNEL",
// "MENU_QUERY" and "MENU_DCC" (all other kinds). Each is read from the resource library (type
// "ACCELERATOR") and falls back to a built-in table when the library has none.
#pragma once
#include <map>
#include <string>
#include <string_view>

#include "ui/key_decoder.h"

namespace vanta::ui {

// A key name in canonical form ("ctrl+ALT+x" -> "Ctrl+Alt+X"); empty when it names no key.
std::string NormaliseKeyName(std::string_view name);

class AcceleratorTable {
 public:
  // Adds the bindings of a table text (a later binding of a key replaces an earlier one); returns
  // the number of lines that were not understood (they are ignored).
  int Parse(std::string_view text);
  // The command bound to a key, or nullptr.
  const std::string* Find(const Key& key) const;
  std::size_t size() const { return bindings_.size(); }

 private:
  std::map<std::string, std::string> bindings_;  // canonical key name -> command
};

// The table name of a window kind (1 server, 2 channel, 3 query, other DCC).
const char* AcceleratorTableName(int kind);

class Accelerators {
 public:
  // Loads the five tables (resource library, else built in).
  void Load();
  // Loads one table from text (tests, or a table from elsewhere).
  void SetTable(std::string_view table, std::string_view text);
  // The command for a key in a window of `kind`: the main table first, then the kind's table.
  const std::string* Lookup(int kind, const Key& key) const;

 private:
  std::map<std::string, AcceleratorTable, std::less<>> tables_;
};

}  // namespace vanta::ui
