// Appearance templates: the user-editable texts that turn a chat line (a message, a join, a kick,
// a notice ...) into the formatted line a window shows.
//
// Templates live in the profile's "pref.ini", section "Appearance": "a100".."a124" for the system
// code page, "u100".."u124" for the Unicode display mode. A missing key falls back to catalogue
// message (key - 65). Stored templates carry control bytes as "$h" escapes, decoded before use.
//
// Text from the server (nick, message, extra arguments) is only ever inserted as a value, never
// used as a template or as a format, and inserted values are not scanned again.
//
// All functions may be called from any thread. Settings are cached and re-read when "pref.ini"
// changes on disk.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dispatch/parsed_line.h"

namespace vanta::output {

// Template kinds as callers name them; the comment gives the template key.
enum AppearanceKind : int {
  kAppearMessage = 0,        // 101 incoming message (channel, query, DCC chat)
  kAppearJoin = 1,           // 102
  kAppearMode = 2,           // 103
  kAppearPart = 3,           // 104
  kAppearTopic = 4,          // 105
  kAppearKick = 5,           // 106 (victim, kick message)
  kAppearQuit = 6,           // 107
  kAppearNotice = 7,         // 108
  kAppearNick = 8,           // 109
  kAppearInvite = 9,         // 110
  kAppearProp = 10,          // 111
  kAppearSilence = 11,       // 112
  kAppearWallops = 12,       // 113
  kAppearKill = 13,          // 114
  kAppearWhisper = 14,       // 115
  kAppearKnock = 15,         // 116 (knock message)
  kAppearOwnMessage = 16,    // 100 own message
  kAppearAction = 17,        // 117 CTCP ACTION, received or own
  kAppearSecureMessage = 18, // 118 incoming message in a secured query or DCC chat
  kAppearSecureOwn = 19,     // 119 own message in a secured query or DCC chat
  kAppearData = 20,          // 120
  kAppearRequest = 21,       // 121
  kAppearReply = 22,         // 122
  kAppearGroupNotice = 23,   // 123 (notice tag)
  kAppearWallEcho = 24,      // 124 (notice tag)
};

inline constexpr int kFirstTemplateKey = 100;
inline constexpr int kLastTemplateKey = 124;

// The template key (100..124) of a kind; 0 for a kind outside 0..24.
int TemplateKey(int kind);

// Output limits (the callers' buffers, terminating NUL included): 10000 bytes for the message kinds
// (own, incoming, action, notice, secured, group notices), 1000 for the others.
std::size_t AppearanceCapacity(int kind);

// Fills the template of `kind` with the fields of `line` and the extra texts and appends the result
// to `out`, cut so that `out` grows by at most AppearanceCapacity(kind) - 1 bytes (never inside a
// UTF-8 sequence). `window` is used by "$colornick" and to pick the session whose nick "$me" in the
// highlight words stands for. Returns 1, or 0 (nothing appended) for an unknown kind.
int FormatAppearance(int window, int kind, std::string& out, const dispatch::ParsedLine& line,
                     std::string_view victim = {}, std::string_view kick_message = {},
                     std::string_view knock_message = {}, std::string_view notice_tag = {},
                     int alignment = 0);

// The same with a template given by the caller (already decoded: no "$h" escapes are expanded),
// for previews and tests. Returns 1, or 0 for an unknown kind.
int ExpandAppearance(std::string_view decoded_template, int window, int kind, std::string& out,
                     const dispatch::ParsedLine& line, std::string_view victim = {},
                     std::string_view kick_message = {}, std::string_view knock_message = {},
                     std::string_view notice_tag = {}, int alignment = 0);

// Spaces for "$align": in a channel window, the width of the widest nick-list entry minus the
// width of `nick`, in spaces, rounded to the nearest space. 0 outside channel windows, for the
// widest nick, and when the widths cannot be measured.
int AlignmentCount(std::string_view nick, int window);

// Rebuilds every "Appearance" template from its skin half ("SkinAppear"/"a<key>", "u<key>") and
// language half ("AppearA"/"AppearU", keys "1".."25"), and copies a skin's "TimeStampFormula".
// Returns the number of templates written.
int ApplySkinAppearance();

// The built-in skin half of a template key (as stored, "$h" escapes undecoded); "" outside 100..124.
std::string_view DefaultSkinHalf(int key);

// The "$h" escapes of stored texts: "$h" and two characters, the first not "o"/"O", stand for the
// byte they give in hexadecimal, or FF when they are not hexadecimal ("$hour" stays as it is).
std::string DecodeStoredEscapes(std::string_view text);

// What the formatter needs from the channel views: their nick lists and text measuring. The owner
// of the nick lists installs it; the functions must be safe to call from any thread.
struct ChannelViewAccess {
  // Whether the nick list of `window` holds exactly `entry` (status prefix included).
  std::function<bool(int window, std::string_view entry)> has_entry;
  // Calls `visit` for every entry of the nick list of `window`.
  std::function<void(int window, const std::function<void(std::string_view)>& visit)> for_each_entry;
  // Width of `text` in the window's text-view font; negative when it cannot be measured.
  // When unset, every character counts as one column (the terminal front ends).
  std::function<int(int window, std::string_view text)> text_width;
};
// Installs (or with nullptr removes) the access. Without it "$colornick" gives the plain nick and
// alignment is 0.
void SetChannelViewAccess(std::shared_ptr<const ChannelViewAccess> access);

// Width of a text in columns: one per UTF-8 character (a continuation byte adds nothing).
int ColumnWidth(std::string_view text);

// Tests: a fixed local time for the date and time variables (nullptr: the clock again).
void SetAppearanceTimeForTests(const std::tm* t);

}  // namespace vanta::output
