// The table of every window the user sees: servers, channels, queries, DCC chats and transfers.
// A window is named by its number, the dense index of its slot; numbers shift down when a window
// before them closes. Slots are created and removed on the user-interface thread only; other threads
// look slots up by number at every use and treat a failed Valid(n) as the end of that window.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sessions/server_session.h"
#include "ui/frontend.h"

namespace vanta::platform {
class ThreadHandle;
}
namespace vanta::output {
struct WindowOutput;
}

namespace vanta::sessions {

enum WindowKind : int32_t { kServerWindow = 1, kChannelWindow = 2, kQueryWindow = 3, kDccWindow = 4 };

struct WindowSlot {
  static constexpr std::size_t kNameCap = 300;  // name buffer: 299 bytes of text

  WindowSlot(uint64_t id, int32_t kind, bool transfer, bool alternate_font)
      : id(id), kind(kind), transfer(transfer), alternate_font(alternate_font) {}

  const uint64_t id;  // stable id: never reused, survives renumbering
  const int32_t kind;
  const bool transfer;
  const bool alternate_font;

  std::atomic<int32_t> owning_server{-1};    // -1 for DCC windows
  std::atomic<int32_t> dcc_started_from{-1};  // DCC windows: the server window it was started from
  std::atomic<uint8_t> alive{0};
  std::atomic<uint8_t> creating{0};
  std::atomic<uint8_t> has_window{0};         // the front end made its window
  std::atomic<uint8_t> active{0};
  std::atomic<uint8_t> save_placement{0};
  std::atomic<uint8_t> closing{0};
  std::atomic<uint8_t> ipv6{0};
  std::atomic<uint8_t> log_open{0};
  std::atomic<uint8_t> channel_flag1{0}, channel_flag2{0};
  std::atomic<uint8_t> secure_message{0};
  // DCC windows
  std::atomic<uint8_t> dcc_secure{0};
  std::atomic<int32_t> dcc_secure_handle{0};
  std::atomic<int> dcc_socket_number{0};     // descriptor of dcc_socket, 0 = none
  std::atomic<uint8_t> linked{0};
  std::atomic<int32_t> linked_window{-1};
  std::atomic<uint8_t> file_server{0}, raw_mode{0};

  // Texts, the session and the thread handle: under `mutex`.
  mutable std::mutex mutex;
  std::string name;
  std::u16string wide_name;
  std::string mode_text;       // channel windows
  std::string secure_key;      // 128 bytes at most
  std::string dcc_own_nick;    // DCC windows
  std::string dcc_peer_name;
  std::shared_ptr<ServerSession> session;  // server windows; set at creation, never replaced
  std::shared_ptr<platform::ThreadHandle> connection_thread;
  std::shared_ptr<platform::net::Socket> dcc_socket;  // DCC windows

  // ---- Window text output (owned by output/show_text): the text view, the pending-output list,
  // activity, mention and notification state. Made on first use by output::OutputOf(slot), which
  // goes through output_once so every thread sees one object; it goes with the slot.
  std::once_flag output_once;
  std::shared_ptr<output::WindowOutput> output;
  // ---- end of window text output ----

  std::shared_ptr<platform::net::Socket> DccSocket() const;
  // Replaces the DCC socket (nullptr = none) and returns the old one.
  std::shared_ptr<platform::net::Socket> ExchangeDccSocket(std::shared_ptr<platform::net::Socket> s);

  std::string Name() const;
  void SetName(std::string_view name);  // cut at the buffer, trailing CR/LF stripped, wide form updated
  std::shared_ptr<ServerSession> Session() const;
  // What a front end is told about this window, numbered n.
  ui::WindowInfo Info(int n) const { return ui::WindowInfo{n, id, kind, Name()}; }
};

// The seven values of a creation request.
struct CreateRequest {
  std::string name;
  int32_t kind = kServerWindow;
  bool joined = false;
  int32_t owning_server = -1;
  std::shared_ptr<ServerSession> session;
  bool alternate_font = false;
  bool transfer = false;
};

class WindowTable {
 public:
  static constexpr int kCapacity = 1000;
  static WindowTable& Get();

  bool Valid(int n) const;
  // The slot of a valid window, else nullptr. The reference keeps the record alive even if the window
  // is removed meanwhile; compare ids to notice renumbering.
  std::shared_ptr<WindowSlot> Slot(int n) const;
  std::shared_ptr<ServerSession> Session(int n) const;  // the session of a valid server window
  int Count() const;
  int Kind(int n) const;  // 0 when not valid
  // The owning server window of a valid channel, query or server window; -1 otherwise.
  int OwningServer(int n) const;

  int FindByName(std::string_view name, int owning_server) const;
  int FindServerBySocket(int fd) const;
  int FindDccBySocket(int fd) const;
  int FindById(uint64_t id) const;  // current number of the window with that id, -1 when gone
  // What a front end is told about window n; an empty record (number -1) when it is not valid.
  ui::WindowInfo Info(int n) const;

  // Creates a window on the user-interface thread (synchronously from any other thread); returns
  // its number or -1 (table full, window not made, loop stopped).
  int Create(const CreateRequest& req);
  // Closes a window: destroy=false only disconnects (servers) or leaves (channels); destroy=true
  // also removes it. Runs on the user-interface thread; from other threads it is posted there.
  void Close(int n, bool destroy);

  int Active() const { return active_.load(std::memory_order_acquire); }
  void Activate(int n);

  // Shows text in every window whose owning server is n (nothing in headless mode).
  void Broadcast(int n, std::string_view text, uint32_t colour);

  // Test support: removes every window without running any close steps.
  void ResetForTests();

 private:
  WindowTable() = default;
  int CreateOnUiThread(const CreateRequest& req);
  void CloseOnUiThread(int n, bool destroy);
  void Remove(int n);

  mutable std::mutex mutex_;  // guards slots_ and count_; never held across calls out
  std::array<std::shared_ptr<WindowSlot>, kCapacity> slots_{};
  int count_ = 0;
  std::atomic<int> active_{-1};
  std::atomic<uint64_t> next_id_{1};
};

// Shorthand for WindowTable::Get().Valid(n).
inline bool Valid(int n) { return WindowTable::Get().Valid(n); }

}  // namespace vanta::sessions
