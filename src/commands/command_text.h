// Text helpers of the command interpreter: the argument words of a command line, the "\x" escapes
// of command lines, and building outgoing protocol lines that never carry a line break inside and
// never exceed what a server accepts.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::commands {

// The longest protocol line a server accepts, without its CR LF.
inline constexpr std::size_t kMaxProtocolLine = 510;

// "\x" escapes of a command line: when the line is at least 4 bytes long and holds "\x" or "\X",
// every backslash, "x" or "X" and two hexadecimal digits become that byte. Anything else stays.
std::string DecodeHexEscapes(std::string_view line);

// Word n of a command line (the command word is word 0): words are separated by runs of spaces and
// end at a space, CR, LF or the end. A missing word is empty.
std::string TokenAt(std::string_view line, int n);
// The text from the start of word n to the end of the line, spaces included, without the line end
// and without trailing spaces, CR and LF. Empty when word n is missing.
std::string RestFrom(std::string_view line, int n);

bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EqualNoCase(std::string_view a, std::string_view b);
// Text without its trailing CR and LF bytes.
std::string_view StripLineEnd(std::string_view text);
// Text with exactly one CR LF at its end.
std::string WithLineEnd(std::string_view text);

// One protocol line: CR and LF inside become blanks, NUL bytes go, and CR LF is added.
std::string ProtocolLine(std::string_view body);

// Splits `text` so that every line head + piece + tail stays within `limit` bytes. Pieces end at
// a blank where one lies in the latter half of the room, never inside a UTF-8 sequence. An empty
// text gives one empty piece. No pieces at all when head and tail alone leave no room.
std::vector<std::string> SplitToFit(std::string_view head, std::string_view text, std::string_view tail,
                                    std::size_t limit = kMaxProtocolLine);

}  // namespace vanta::commands
