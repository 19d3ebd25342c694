// A server window whose connection is one end of a socket pair: what the commands send is read
// back from the other end. With a channel "#chan" and a query "bob" on it.
#pragma once
#include <sys/socket.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/core_fixture.h"

namespace vanta::commands {

class CommandsTest : public test::CoreTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs a line as typed in `window` (ExecuteLine with OnInput), then lets alias steps finish.
  void Type(int window, const std::string& line, bool literally = false);
  // Every complete line sent to the server so far (without CR LF), taken from the wire.
  std::vector<std::string> Sent();
  // The raw bytes sent so far.
  std::string SentBytes();
  // Lets alias threads end while serving their requests to the user-interface thread.
  void Settle();
  // Gives a window a DCC connection; returns the peer end's descriptor.
  int AttachDcc(int window);
  // Nick-list entries the commands see, by window name.
  void SetMembers(const std::string& channel, std::vector<std::string> entries);

  int server = -1, channel = -1, query = -1;
  std::vector<int> peers;  // peer ends, closed at the end

 private:
  int wire_ = -1;
  std::string received_;
  std::map<std::string, std::vector<std::string>> members_;
};

}  // namespace vanta::commands
