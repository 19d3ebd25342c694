// The program as a process with the stdio front end: it connects, prints what every window shows
// as "window<TAB>text", and ends cleanly at the end of its input or on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "support/core_fixture.h"
#include "support/scripted_server.h"
#include "support/vanta_process.h"

namespace vanta::test {
namespace {

using namespace std::chrono_literals;

TEST(StdioProcess, ConnectsShowsLinesAndEndsAtEndOfInput) {
  TempDir home;
  ScriptedServer srv(Family::V4);
  ASSERT_TRUE(srv.ok());
  srv.auto_pong(true);
  VantaProcess vanta({"--ui=stdio", "--connect", "127.0.0.1:" + std::to_string(srv.port()), "--nick", "procnick"},
                     home.path());
  ASSERT_TRUE(vanta.started());
  ASSERT_TRUE(srv.accept(10s));
  ASSERT_TRUE(srv.register_client());
  EXPECT_TRUE(vanta.WaitOutput("127.0.0.1\tConnected to 127.0.0.1")) << vanta.output();
  EXPECT_TRUE(vanta.WaitOutput("Welcome to the ScriptedNet IRC Network procnick")) << vanta.output();
  vanta.CloseInput();
  EXPECT_EQ(vanta.WaitExit(), 0) << vanta.output();
  EXPECT_TRUE(srv.expect_sent("QUIT :*", 5s));
}

TEST(StdioProcess, EndsOnSignal) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TempDir home;
    ScriptedServer srv(Family::V4);
    srv.silent();  // the server never answers: the connection thread sits in its read
    VantaProcess vanta({"--ui=stdio", "--connect", "127.0.0.1:" + std::to_string(srv.port())}, home.path());
    ASSERT_TRUE(srv.accept(10s));
    ASSERT_TRUE(vanta.WaitOutput("Connected to")) << vanta.output();
    vanta.Signal(sig);
    EXPECT_EQ(vanta.WaitExit(5s), 0) << vanta.output();
  }
}

TEST(StdioProcess, BadCommandLineIsReported) {
  TempDir home;
  VantaProcess vanta({"--ui=bogus"}, home.path());
  EXPECT_NE(vanta.WaitExit(), 0);
  EXPECT_NE(vanta.output().find("bogus"), std::string::npos) << vanta.output();
}

}  // namespace
}  // namespace vanta::test
