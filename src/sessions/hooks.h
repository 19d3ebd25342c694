// Points where the window table and the connection code hand work to subsystems that are built on
// top of them (events, logging, watch lists, placements, patches, command lines, line dispatch).
// Each hook has a harmless default; the owning subsystem installs its implementation at start-up,
// before any worker thread exists, and never changes it afterwards.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace vanta::sessions {

struct WindowSlot;
struct ServerSession;

struct Hooks {
  // Runs a special event ("OnWindowCreate", "BeforeConnect", "OnConnect", "OnDisconnect",
  // "OnWindowDestroy") with its argument text in the context of a window.
  std::function<void(std::string_view event, std::string_view arg, int context_window)> special_event;
  // Automatic logging at window creation for the window's kind.
  std::function<void(int window)> start_auto_logging;
  // Writes "[Log file closed]\r\n" to the window's log when its log is open.
  std::function<void(int window)> log_closed;
  // Empties a server session's notify list.
  std::function<void(int server_window)> clear_notify_list;
  // Deletes a server session's user address book file.
  std::function<void(int server_window)> delete_address_book;
  // Saves a window's placement on close.
  std::function<void(int window)> save_placement;
  // Starts the script-patch thread for a new server window.
  std::function<void(int server_window)> load_patches;
  // Ends a file-server session running on a DCC window; unlinks linked DCC chats.
  std::function<void(int dcc_window)> end_file_server;
  std::function<void(int dcc_window)> unlink_dcc;
  // Re-derives the window numbers remembered by other tables after window `removed` went away.
  std::function<void(int removed)> window_removed;
  // Executes a line in a window as typed input ("/reconnect host").
  std::function<void(int window, std::string_view line)> execute_line;
  // Plays a sound file, or the default beep when the name is empty.
  std::function<void(std::string_view file)> play_sound;
  // Dispatches one complete server line (with its line end) received by a server window.
  std::function<void(int server_window, std::string_view line)> dispatch_line;
  // Starts the ident responder for a connection (IPv6 flag, e-mail address).
  std::function<void(bool ipv6, std::string_view email)> start_ident;
  // Connects through a proxy (connection methods 0 and 1); returns 0 on success, negative on failure.
  // Unset: every method connects directly.
  std::function<int(int server_window, int fd, const void* addr, unsigned addr_len, int method)> proxy_connect;
};

// The installed hooks (defaults until a subsystem replaces them).
Hooks& GetHooks();

}  // namespace vanta::sessions
