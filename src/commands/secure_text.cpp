#include "commands/secure_text.h"

#include "dispatch/dispatcher.h"

#include <array>
#include <cstdint>

namespace vanta::commands {
namespace {

// shift[s] = sum of k over the set key bits k >= s, modulo 256.
std::array<uint8_t, 1025> Shifts(std::string_view key) {
  std::array<uint8_t, 1025> shift{};
  unsigned sum = 0;
  for (int k = 1023; k >= 0; --k) {
    const std::size_t byte = static_cast<std::size_t>(k) / 8;
    const unsigned char kb = byte < key.size() && byte < kCipherKeySize ? static_cast<unsigned char>(key[byte]) : 0;
    if ((kb >> (k % 8)) & 1) sum += static_cast<unsigned>(k);
    shift[static_cast<std::size_t>(k)] = static_cast<uint8_t>(sum & 0xFF);
  }
  return shift;
}

}  // namespace

std::string CipherEncrypt(std::string_view text, std::string_view key) {
  const auto shift = Shifts(key);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i)
    out += static_cast<char>(static_cast<unsigned char>(text[i]) + shift[i % 1024]);
  return out;
}

std::string CipherDecrypt(std::string_view data, std::string_view key) {
  const auto shift = Shifts(key);
  std::string out;
  out.reserve(data.size());
  for (std::size_t i = 0; i < data.size(); ++i)
    out += static_cast<char>(static_cast<unsigned char>(data[i]) - shift[i % 1024]);
  return out;
}

std::string EncodeSecureText(std::string_view ciphertext) { return dispatch::EncodeSecureBytes(ciphertext); }

std::string DecodeSecureText(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const char a = text[i], b = text[i + 1];
    if (a == '!' && b == '!') out += '\0';
    else if (a == '"' && b == '"') out += '\r';
    else if (a == '#' && b == '#') out += '\n';
    else if (a == '$' && b == '$') out += '\x01';
    else out += b;
  }
  return out;
}

std::string EncryptQueryText(std::string_view text, std::string_view key) {
  return EncodeSecureText(CipherEncrypt(text, key));
}

}  // namespace vanta::commands
