// Sending and reporting for the commands: protocol lines through the flood-controlled send path,
// checked for length; messages split to fit; reports shown in a window or a message box.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vanta::commands {

inline constexpr std::string_view kProductName = "VantaIRC";

// Sends protocol lines (each ending in CR LF) one by one through the send path. When the flood
// queue cannot take more, the rest is dropped and the user told in `report_window`.
void SendLines(int server, std::string_view lines, int report_window);

// Sends one protocol line (without its CR LF; line breaks inside become blanks) to server window
// `server`. A line longer than a server accepts is not sent: the user is told in `report_window`
// (else the server window). Returns true when the line went to the send path.
bool SendLine(int server, std::string_view body, int report_window);

// Sends head + text + tail, split into as many lines as the text needs to fit (a long message
// becomes several messages). False (and the user told) when head and tail alone do not fit.
bool SendSplit(int server, std::string_view head, std::string_view text, std::string_view tail, int report_window);

// Sends one line of text over DCC chat window m: for a secure chat encrypted with the window's
// key in one frame (2-byte length, low byte first, then the ciphertext), else with CR LF added.
// Returns the bytes written, 0 after an error or for a window that is no DCC window.
long SendDccText(int m, std::string_view text);

// Shows text in `window`, else in `fallback`; with neither valid, in a message box.
void Report(int window, int fallback, std::string_view text, uint32_t colour);

// The user's nick on server window `server`: the session's nick, "-Me-" without a valid server.
std::string OwnNickOf(int server);

// Asks for a text on the user-interface thread (from any thread); nullopt when cancelled.
std::optional<std::string> AskTextOnUi(std::string_view title, std::string_view prompt, std::string_view initial,
                                       bool password);

// Makes n the active window on the user-interface thread (from any thread).
void ActivateOnUi(int n);

}  // namespace vanta::commands
