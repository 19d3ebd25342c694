// The built-in cipher of secure queries and secure DCC chats, and the escaping that lets a
// ciphertext travel inside a PRIVMSG.
#pragma once
#include <string>
#include <string_view>

namespace vanta::commands {

// The key offer that starts a secure query, and the one of secure DCC chats (16 bytes each).
inline constexpr std::string_view kSecureMessageMarker = "\x03-SECUREMSGKEY-\x03";
inline constexpr std::string_view kSecureDccMarker = "\x01-SECUREDCCKEY-\x01";

inline constexpr std::size_t kCipherKeySize = 128;

// The cipher with a 128-byte key (a shorter key is padded with zero bytes, a longer one cut). Each
// byte at index i is shifted by the sum of k over the set key bits k = (i mod 1024) .. 1023.
// Encryption stops at the first NUL of the text. Decryption undoes it.
std::string CipherEncrypt(std::string_view text, std::string_view key);
std::string CipherDecrypt(std::string_view data, std::string_view key);

// Ciphertext as message text: 00 -> "!!", CR -> two double quotes, LF -> "##", 01 -> "$$", any other
// byte b -> "%" b. DecodeSecureText reverses it (an incomplete pair at the end is dropped).
std::string EncodeSecureText(std::string_view ciphertext);
std::string DecodeSecureText(std::string_view text);

// CipherEncrypt followed by EncodeSecureText: what a secure query sends.
std::string EncryptQueryText(std::string_view text, std::string_view key);

}  // namespace vanta::commands
