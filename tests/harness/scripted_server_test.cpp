#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

// A minimal blocking client with a read timeout, enough to drive a script.
class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { close(fd_); }
  bool connected() const { return connected_; }
  void Write(const std::string& s) { (void)!send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
  // Reads until `n` bytes came, the peer closed, or 3 s passed.
  std::string Read(size_t n = 1 << 16) {
    std::string out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) break;
      char buf[1024];
      ssize_t k = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (k <= 0) break;
      out.append(buf, static_cast<size_t>(k));
    }
    return out;
  }

 private:
  int fd_;
  bool connected_ = false;
};

TEST(FreePort, GivesADistinctBindablePort) {
  int a = FreePort();
  EXPECT_GT(a, 0);
  EXPECT_LT(a, 65536);
}

TEST(ScriptedServer, PlaysTheScriptAndRecordsTheClientLines) {
  ScriptedServer server(
      {Send("+OK hi\r\n"), Expect("USER a"), Send("+OK\r\n"), ExpectAny(), Send("-ERR no\r\n")});
  Client c(server.Port());
  ASSERT_TRUE(c.connected());
  EXPECT_EQ(c.Read(8), "+OK hi\r\n");
  c.Write("USER a\r\n");
  EXPECT_EQ(c.Read(5), "+OK\r\n");
  c.Write("PASS whatever\n");
  EXPECT_EQ(c.Read(), "-ERR no\r\n");  // then the server closes
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(server.Received(), (std::vector<std::string>{"USER a", "PASS whatever"}));
}

TEST(ScriptedServer, AMismatchStopsTheScriptAndIsReported) {
  ScriptedServer server({Send("220 x\r\n"), Expect("EHLO me"), Send("250 ok\r\n")});
  Client c(server.Port());
  c.Read(7);
  c.Write("HELO me\r\n");
  EXPECT_EQ(c.Read(), "");  // closed without the 250
  EXPECT_FALSE(server.Finished());
  EXPECT_NE(server.Failure().find("HELO me"), std::string::npos);
}

TEST(ScriptedServer, CloseMovesTheRestOfTheScriptToTheNextConnection) {
  ScriptedServer server({Send("one\r\n"), Close(), Send("two\r\n"), ExpectUntil("."), Close()});
  {
    Client c(server.Port());
    EXPECT_EQ(c.Read(), "one\r\n");
  }
  Client c(server.Port());
  EXPECT_EQ(c.Read(5), "two\r\n");
  c.Write("a\r\nb\r\n.\r\n");
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(server.Received(), (std::vector<std::string>{"a", "b", "."}));
  // The script has ended: the port no longer accepts.
  Client late(server.Port());
  EXPECT_FALSE(late.connected());
}

TEST(ScriptedServer, SleepDelaysTheNextStep) {
  ScriptedServer server({Sleep(300), Send("late\r\n")});
  Client c(server.Port());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Read(6), "late\r\n");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
}

TEST(ScriptedServer, DestructionDuringAStallIsQuick) {
  auto t0 = std::chrono::steady_clock::now();
  {
    ScriptedServer server({Send("x\r\n"), Sleep(60000)});
    Client c(server.Port());
    c.Read(3);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

}  // namespace
}  // namespace vigilo::test
