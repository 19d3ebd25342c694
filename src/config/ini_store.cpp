#include "config/ini_store.h"

#include <strings.h>

#include <array>
#include <cstdint>

#include "platform/ini.h"

namespace vanta::config {

namespace ini = platform::ini;

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The scrambler's key; each byte is mixed with the key, its position and the previous output byte.
constexpr std::array<uint8_t, 11> kKey = {0x56, 0xA3, 0x1D, 0x7E, 0xC4, 0x39, 0x92, 0x05, 0xE8, 0x6B, 0x2F};

uint8_t Mask(std::size_t i, uint8_t prev) {
  return static_cast<uint8_t>(kKey[i % kKey.size()] ^ static_cast<uint8_t>(i * 73 + 19) ^ prev);
}

std::string Base64Encode(std::string_view in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16 | static_cast<uint8_t>(in[i + 1]) << 8 | static_cast<uint8_t>(in[i + 2]);
    out += kBase64[v >> 18 & 63];
    out += kBase64[v >> 12 & 63];
    out += kBase64[v >> 6 & 63];
    out += kBase64[v & 63];
  }
  if (i < in.size()) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    out += kBase64[v >> 18 & 63];
    out += kBase64[v >> 12 & 63];
    out += i + 1 < in.size() ? kBase64[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict: length a multiple of 4, padding only at the end, unused bits zero.
bool Base64Decode(std::string_view in, std::string* out) {
  out->clear();
  if (in.size() % 4 != 0) return false;
  out->reserve(in.size() / 4 * 3);
  for (std::size_t i = 0; i < in.size(); i += 4) {
    const bool last = i + 4 == in.size();
    int pad = 0;
    if (last) pad = (in[i + 3] == '=') + (in[i + 2] == '=' && in[i + 3] == '=');
    int v[4];
    for (int k = 0; k < 4; ++k) {
      if (k >= 4 - pad) { v[k] = 0; continue; }
      v[k] = Base64Value(in[i + static_cast<std::size_t>(k)]);
      if (v[k] < 0) return false;
    }
    uint32_t w = static_cast<uint32_t>(v[0]) << 18 | static_cast<uint32_t>(v[1]) << 12 |
                 static_cast<uint32_t>(v[2]) << 6 | static_cast<uint32_t>(v[3]);
    if ((pad == 1 && (w & 0xFF)) || (pad == 2 && (w & 0xFFFF))) return false;
    out->push_back(static_cast<char>(w >> 16));
    if (pad < 2) out->push_back(static_cast<char>(w >> 8 & 0xFF));
    if (pad < 1) out->push_back(static_cast<char>(w & 0xFF));
  }
  return true;
}

std::string NameKey(int n) { return "Name" + std::to_string(n); }

}  // namespace

std::string EncodeLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      const char pair = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == pair) ++i;
      out += "\xFF\xFF";
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xFF) {
      out += "\r\n";
      ++i;  // the byte after FF belongs to the break
    } else {
      out += text[i];
    }
  }
  return out;
}

bool WriteMultiLine(std::string_view path, std::string_view section, std::string_view key, std::string_view text) {
  return ini::WriteString(path, section, key, EncodeLines(text));
}

std::string ReadMultiLine(std::string_view path, std::string_view section, std::string_view key,
                          std::string_view def, std::size_t cap) {
  return DecodeLines(ini::ReadString(path, section, key, EncodeLines(def), cap));
}

std::string EncodeStoredText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\r' && c != '\n') {
      out += "$h";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string DecodeStoredText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$' && i + 3 < text.size() && text[i + 1] == 'h' && text[i + 2] != 'o' && text[i + 2] != 'O') {
      const int hi = HexDigit(text[i + 2]), lo = HexDigit(text[i + 3]);
      out += hi < 0 || lo < 0 ? '\xFF' : static_cast<char>(hi << 4 | lo);
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Scramble(std::string_view secret) {
  if (secret.empty()) return "";
  std::string mixed(secret.size(), '\0');
  uint8_t prev = 0;
  for (std::size_t i = 0; i < secret.size(); ++i) {
    prev = static_cast<uint8_t>(static_cast<uint8_t>(secret[i]) ^ Mask(i, prev));
    mixed[i] = static_cast<char>(prev);
  }
  return Base64Encode(mixed);
}

bool Unscramble(std::string_view stored, std::string* out) {
  std::string mixed;
  if (!Base64Decode(stored, &mixed)) {
    out->clear();
    return false;
  }
  out->assign(mixed.size(), '\0');
  uint8_t prev = 0;
  for (std::size_t i = 0; i < mixed.size(); ++i) {
    const auto c = static_cast<uint8_t>(mixed[i]);
    (*out)[i] = static_cast<char>(c ^ Mask(i, prev));
    prev = c;
  }
  return true;
}

std::string Unscramble(std::string_view stored) {
  std::string out;
  Unscramble(stored, &out);
  return out;
}

bool WriteSecret(std::string_view path, std::string_view section, std::string_view key, std::string_view secret) {
  return ini::WriteString(path, section, key, Scramble(secret));
}

std::string ReadSecret(std::string_view path, std::string_view section, std::string_view key) {
  // A scrambled value of a 1000-byte buffer's worth of Base64 holds at most 748 bytes.
  return Unscramble(ini::ReadString(path, section, key, "", kValueCap));
}

bool ValidRecordName(std::string_view name) {
  if (name.empty() || name.size() > kRecordNameMax) return false;
  for (char c : name)
    if (c == ']' || c == '\r' || c == '\n' || c == '\0') return false;
  // The INI reader trims values and section names: a name with surrounding blanks would not read back.
  return name.front() != ' ' && name.front() != '\t' && name.back() != ' ' && name.back() != '\t';
}

int ListCount(std::string_view path) {
  // A damaged count must not send a scan through billions of keys.
  const int n = ini::ReadInt(path, "Contents", "Num", 0);
  return n < 0 ? 0 : n > kMaxRecords ? kMaxRecords : n;
}

int ListFind(std::string_view path, std::string_view name) {
  const int num = ListCount(path);
  for (int k = 1; k <= num; ++k)
    if (EqualNoCase(ini::ReadString(path, "Contents", NameKey(k), "", kRecordNameMax + 1), name)) return k;
  return 0;
}

bool ListAdd(std::string_view path, std::string_view name,
             const std::vector<std::pair<std::string, std::string>>& first_keys) {
  if (!ValidRecordName(name)) return false;
  const int num = ListCount(path);
  if (!ini::WriteInt(path, "Contents", "Num", num + 1)) return false;
  if (!ini::WriteString(path, "Contents", NameKey(num + 1), name)) return false;
  bool ok = true;
  for (const auto& [k, v] : first_keys) ok = ini::WriteString(path, name, k, v) && ok;
  return ok;
}

bool ListDelete(std::string_view path, std::string_view name) {
  const int k = ListFind(path, name);
  if (k == 0) return false;
  const int num = ListCount(path);
  ini::DeleteSection(path, name);
  ini::DeleteKey(path, "Contents", NameKey(k));
  const int now = num - 1;
  ini::WriteInt(path, "Contents", "Num", now);
  for (int j = 1; j <= now; ++j) {
    if (!ini::ReadString(path, "Contents", NameKey(j), "", kRecordNameMax + 1).empty()) continue;
    const std::string next = ini::ReadString(path, "Contents", NameKey(j + 1), "", kRecordNameMax + 1);
    ini::WriteString(path, "Contents", NameKey(j), next);
    ini::DeleteKey(path, "Contents", NameKey(j + 1));
  }
  return true;
}

bool ListRename(std::string_view path, std::string_view old_name, std::string_view new_name) {
  if (!ValidRecordName(new_name)) return false;
  const int k = ListFind(path, old_name);
  if (k == 0) return false;
  const bool same_section = EqualNoCase(old_name, new_name);
  const int other = ListFind(path, new_name);
  if (!same_section && other != 0) return false;  // would merge into another record's section
  const std::string lines = ini::ReadSectionText(path, old_name, kLongValueCap);
  if (same_section) {
    ini::DeleteSection(path, old_name);
    if (!lines.empty() && !ini::WriteSectionText(path, new_name, lines)) return false;
    return ini::WriteString(path, "Contents", NameKey(k), new_name);
  }
  // The new section is written before the old one goes, so an interruption never loses the keys.
  if (!lines.empty() && !ini::WriteSectionText(path, new_name, lines)) return false;
  if (!ini::WriteString(path, "Contents", NameKey(k), new_name)) return false;
  ini::DeleteSection(path, old_name);
  return true;
}

std::vector<std::string> ListEnumerate(std::string_view path) {
  std::vector<std::string> names;
  const int num = ListCount(path);
  for (int k = 1; k <= num; ++k) {
    std::string n = ini::ReadString(path, "Contents", NameKey(k), "", kRecordNameMax + 1);
    if (!n.empty()) names.push_back(std::move(n));
  }
  return names;
}

}  // namespace vanta::config
