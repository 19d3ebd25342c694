// What the client knows about each channel window beyond its slot: the nick list, the topic and the
// topic-pending flag. The connection thread of the channel's server writes it; the user-interface
// thread (nick-list view, title) and the formatter read it. Every function takes a window number,
// re-checks it, and is safe to call from any thread; nothing here calls out while holding its lock.
//
// Nick-list entries are the nick with one status prefix: "." owner, "@" operator, "%" half-operator,
// "+" voice, or none. Lookups by nick try the prefixes in that order, then the bare nick.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vanta::dispatch {

inline constexpr std::size_t kTopicSize = 2000;    // topic buffer, terminating NUL included
inline constexpr std::size_t kTopicStored = 1990;  // a topic of kTopicSize bytes or more is cut here

// One entry of a nick list. `user` and `host` are the extra columns the address book fills.
struct NickEntry {
  std::string text;  // status prefix + nick
  std::string user;
  std::string host;
};

// The status prefix of an entry text ('\0' when it has none) and its nick.
char EntryPrefix(std::string_view entry);
std::string_view EntryNick(std::string_view entry);
// Standing of an entry: 4 owner, 3 operator, 2 half-operator, 1 voice, 0 plain.
int EntryStanding(std::string_view entry);

// ---- nick lists ----
// The entries of a channel window, sorted (owners first, then operators, half-operators, voiced,
// plain; each group by nick, ASCII case-insensitively). Empty for a window without one.
std::vector<std::string> NickListEntries(int window);
std::vector<NickEntry> NickListRows(int window);
// The entry text of `nick` in the list ("" when absent).
std::string NickListFind(int window, std::string_view nick);
// Whether the list holds exactly `entry` (prefix included).
bool NickListHas(int window, std::string_view entry);
// Standing of `nick` in the window's list: 4 owner, 3 operator, 2 half-operator, 1 voice, 0 plain;
// -1 when the nick is not listed.
int NickStanding(int window, std::string_view nick);
// Adds an entry (any earlier entry of the same nick is replaced). False for a window that is not a
// valid channel window or an empty nick.
bool NickListInsert(int window, std::string_view entry);
// Removes the entry of `nick` (whatever its prefix); true when there was one.
bool NickListRemove(int window, std::string_view nick);
// Renames the entry of `old_nick` keeping its prefix and columns; true when there was one.
bool NickListRename(int window, std::string_view old_nick, std::string_view new_nick);
// Gives the entry of `nick` a new prefix ('\0' = none); true when the entry changed.
bool NickListSetPrefix(int window, std::string_view nick, char prefix);
// Sets the user and host columns of `nick`'s entry; true when there was one.
bool NickListSetAddress(int window, std::string_view nick, std::string_view user, std::string_view host);
// Replaces the whole list (end of a names reply). Duplicate nicks keep their last entry.
void NickListReplace(int window, const std::vector<std::string>& entries);
void NickListClear(int window);

// ---- topic ----
std::string Topic(int window);
// Stores a topic, cut to kTopicStored bytes when it has kTopicSize bytes or more.
void SetTopic(int window, std::string_view topic);
// Set by the own JOIN that opened the window; the first topic reply then shows the topic.
void SetTopicPending(int window, bool on);
// Returns the flag and clears it.
bool TakeTopicPending(int window);

// ---- front end ----
// Tells the front end, through a posted request, that the window's nick list changed. Several
// changes before the request runs are told once.
void PostNickListChanged(int window);
// Tells the front end that the window's title (name, topic, modes, or a server's status) changed.
void PostTitleChanged(int window);
// Tells the front end that the window's name changed.
void PostRenamed(int window);

// Installs the nick-list access used by the appearance formatter ("$colornick", "$align").
void InstallChannelViewAccess();

}  // namespace vanta::dispatch
