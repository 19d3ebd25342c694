// The one way protocol text leaves for a server: at most one line per flood delay, the rest queued
// and released by the server window's flood timer. And the unthrottled path to DCC connections.
#pragma once
#include <atomic>
#include <cstddef>
#include <string_view>

namespace vanta::sessions {

inline constexpr int kFloodTimer = 107;

// Sends one or more lines (each ending CR LF, the last may lack it) to server window n.
// Returns -1 when the window is not valid or the text was queued, 0 after a write error (or when the
// queue cannot take the text), else the bytes written for the first line plus the result for the rest.
int SendToServer(std::string_view text, int n);

// Writes one line at once, bypassing the queue (but not the send lock): used for QUIT right before
// the socket closes, so the quit message is not lost behind queued lines. Returns bytes written or 0.
int SendImmediately(std::string_view text, int n);

// Timer 107 of server window n fired (user-interface thread).
void FloodTimerFired(int n);

// Writes data to DCC window m's connection. Unless the window is in raw or secure-message mode the
// length is the text length of data (up to its first NUL). Returns bytes written, or 0 after an error
// (which closes that DCC connection).
long SendToDcc(int m, const char* data, std::size_t length);

// While a script runs its own flood delay applies (set by the script engine; -1 = none running).
extern std::atomic<int> g_script_flood_delay;

// The flood delay in milliseconds now in force.
int CurrentFloodDelay();

// Counts texts refused because the queue was full.
int QueueOverflows();

}  // namespace vanta::sessions
