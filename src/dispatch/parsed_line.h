// The fields of one server line as the dispatcher sees it, and the parser that fills them.
//
// A line from the server is outside input: the parser accepts any bytes and never reads past the
// view. A NUL byte ends the line (nothing after it is looked at). Every text field keeps at most
// its limit minus one bytes (the record's fields were fixed-size buffers; the cut is kept as the
// observable behaviour).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vanta::dispatch {

struct ParsedLine {
  // Buffer sizes of the text fields, terminating NUL included: a field holds at most size - 1 bytes.
  static constexpr std::size_t kPrefixSize = 300, kNickSize = 300, kTargetSize = 300, kCommandSize = 300;
  static constexpr std::size_t kParametersSize = 10000, kRawSize = 10000;

  static constexpr int32_t kNumeric = 0, kCommand = 1;

  int32_t kind = kNumeric;  // 0 numeric reply, 1 command
  int32_t numeric = 0;      // the value of the second token; 0 for commands
  std::string prefix;       // first token without its ":" (nick!user@host or a server name)
  std::string nick;         // numerics: the prefix again; commands: the prefix up to the first "!"
  std::string target;       // third token; for JOIN without a leading ":"
  std::string command;      // second token (commands only)
  // Numerics: from the fourth token on. Commands: from the fourth token on (the third for SILENCE,
  // NICK, QUIT and WALLOPS), without a leading ":". Trailing blanks, CR and LF removed.
  std::string parameters;
  // The raw line as received (CR LF kept), three copies: one the scripts may change, one for the
  // raw display modes and one spare, so no consumer sees another's edits.
  std::array<std::string, 3> raw;

  // Empties every field, keeping the strings' storage for the next line.
  void Clear();
};

// Clears `out`, stores the raw line in its three copies and, when the line starts with ":", fills
// the fields: a positive decimal second token (fitting 32 bits) makes a numeric (kind 0), anything
// else a command (kind 1). Returns 1 when the fields were filled, 0 for a line without a prefix
// (PING, ERROR, ...: only the raw copies are set) or a null `out`.
int ParseLine(std::string_view line, ParsedLine* out);

}  // namespace vanta::dispatch
