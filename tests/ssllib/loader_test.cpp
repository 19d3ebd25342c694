// The program's loader when the library or some of its entries are missing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/dynlib.h"
#include "sessions/secure_transport.h"
#include "tls_test_util.h"

namespace tls = vanta::sessions::tls;

namespace {

class Loader : public ::testing::Test {
 protected:
  void TearDown() override { tls::SetLibraryNameForTests(""); }
};

// With no library at all, or a library that exports none of the entries, every operation fails
// the way the callers expect: no start, reads and writes of 0 bytes (a closed connection).
TEST_F(Loader, MissingLibraryOrEntries) {
  struct Case {
    const char* library;
    bool available;
  };
  const Case cases[] = {{"NOSUCHSSL.DLL", false}, {"LANGEN.DLL", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    tls::SetLibraryNameForTests(c.library);
    if (c.available && !tls::LibraryAvailable()) GTEST_SKIP() << "no library without the entries to load";
    EXPECT_EQ(tls::LibraryAvailable(), c.available);
    int fds[2];
    ASSERT_TRUE(ssltest::SocketPair(fds));
    std::string reason;
    EXPECT_EQ(tls::InitClient(fds[0], 1, "localhost", false, &reason), 0);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(tls::InitServer(fds[1], 1, &reason), 0);
    EXPECT_FALSE(reason.empty());
    char buf[10];
    EXPECT_EQ(tls::Read(1, buf, sizeof buf), 0);
    EXPECT_EQ(tls::Write(1, "abc", 3), 0);
    std::string cipher;
    EXPECT_FALSE(tls::Info(1, &cipher, nullptr, nullptr));
    tls::GenerateCK("nick");
    tls::Shutdown(1);
    tls::Close(1);
    // The socket was left alone for the caller.
    EXPECT_EQ(send(fds[0], "x", 1, MSG_NOSIGNAL), 1);
    close(fds[0]);
    close(fds[1]);
  }
}

TEST_F(Loader, RealLibraryIsFoundBesideTheProgram) {
  EXPECT_TRUE(tls::LibraryAvailable());
  EXPECT_EQ(tls::Write(1, "", 0), 0);  // nothing to write: the library is not asked
}

}  // namespace
