// The fixture most tests of the program's core start from: a fresh program directory, the message
// catalogue loaded from the built language library, the test thread as the user-interface thread,
// a recording front end and an empty window table.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sessions/server_session.h"
#include "support/recording_frontend.h"

namespace vanta::test {

// A fresh temporary directory, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the user-interface loop until pred() holds or timeout_ms passed; returns pred().
  bool PumpUntil(const std::function<bool()>& pred, int timeout_ms = 10000);
  // Waits until a line containing `needle` was shown (in the window named `window` when given).
  bool WaitShown(const std::string& needle, const std::string& window = "", int timeout_ms = 10000);
  // The shown lines containing needle.
  std::vector<ShownLine> Shown(const std::string& needle) const;
  std::string AllShown() const;

  // Writes a key of the profile's "pref.ini".
  void SetPref(const std::string& section, const std::string& key, const std::string& value);

  // Creates a server window with a session for host:port; returns its number.
  int MakeServerWindow(const std::string& host, uint16_t port, const std::string& nick = "tester");
  int MakeWindow(const std::string& name, int kind, int owning_server, bool joined = true);

  RecordingFrontEnd* fe = nullptr;  // owned by the front-end slot
  std::unique_ptr<TempDir> home;
  bool headless = false;  // set before SetUp (in the constructor) for headless tests
  // Run the user-interface loop on a thread of its own, so the test thread may block (in a scripted
  // server's waits, for instance) while connection threads keep showing text. Set in the constructor.
  bool background_ui = false;

 private:
  std::thread ui_thread_;
};

}  // namespace vanta::test
