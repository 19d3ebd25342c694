#include "commands/command_text.h"

#include "dispatch/masks.h"
#include "sessions/protocol_text.h"

namespace vanta::commands {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string DecodeHexEscapes(std::string_view line) {
  if (line.size() < 4 || (line.find("\\x") == std::string_view::npos && line.find("\\X") == std::string_view::npos))
    return std::string(line);
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 3 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
      const int hi = HexValue(line[i + 2]), lo = HexValue(line[i + 3]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
        continue;
      }
    }
    out += line[i];
  }
  return out;
}

std::string TokenAt(std::string_view line, int n) {
  std::string out;
  dispatch::Token(line, n, out);
  return out;
}

std::string RestFrom(std::string_view line, int n) {
  std::string out;
  if (dispatch::Token(line, n, out, true) == 0) return {};
  while (!out.empty() && (out.back() == ' ' || out.back() == '\r' || out.back() == '\n')) out.pop_back();
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

std::string_view StripLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

std::string WithLineEnd(std::string_view text) {
  std::string out(StripLineEnd(text));
  out += "\r\n";
  return out;
}

std::string ProtocolLine(std::string_view body) {
  std::string out = sessions::CleanProtocolText(body);
  out += "\r\n";
  return out;
}

std::vector<std::string> SplitToFit(std::string_view head, std::string_view text, std::string_view tail,
                                    std::size_t limit) {
  std::vector<std::string> pieces;
  if (head.size() + tail.size() >= limit) return pieces;
  const std::size_t room = limit - head.size() - tail.size();
  if (text.empty()) {
    pieces.emplace_back();
    return pieces;
  }
  while (!text.empty()) {
    if (text.size() <= room) {
      pieces.emplace_back(text);
      break;
    }
    std::size_t cut = room;
    // Never inside a UTF-8 sequence: back off over continuation bytes to the sequence's start.
    std::size_t back = cut;
    while (back > 0 && back > cut - 4 && IsContinuation(static_cast<unsigned char>(text[back]))) --back;
    if (back > 0 && !IsContinuation(static_cast<unsigned char>(text[back]))) cut = back;
    // Prefer a blank in the latter half of the room.
    const std::size_t blank = text.substr(0, cut).rfind(' ');
    if (blank != std::string_view::npos && blank >= room / 2) cut = blank + 1;
    pieces.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  return pieces;
}

}  // namespace vanta::commands
