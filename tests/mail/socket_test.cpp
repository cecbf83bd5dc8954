// The client socket over a real connected socket pair: lines, blocks, chunked bodies, limits,
// time-outs and cancellation.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/mssocket.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/scripted_server.h"

namespace {

using mailtest::ErrorText;
using ms::TmsClientSocket;

class PortedSocket : public TmsClientSocket {
 public:
  explicit PortedSocket(int defaultPort) { SetDefaultPort(defaultPort); }
};

// A client socket connected to a peer descriptor the test writes to.
struct Pair {
  TmsClientSocket socket;
  int peer = -1;
  Pair() {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    peer = fds[1];
    socket.SetTransport(std::make_unique<ms::TmsPlainTransport>(fds[0]));
    socket.ResetState();
    socket.TimeOut = 5;
  }
  ~Pair() {
    if (peer >= 0) close(peer);
    ms::SetMessagePump(nullptr);
  }
  void Write(const std::string& s) const {
    for (size_t off = 0; off < s.size();) {
      const ssize_t n = ::send(peer, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n > 0)
        off += static_cast<size_t>(n);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void ClosePeer() {
    close(peer);
    peer = -1;
  }
};

TEST(SocketHost, HostPortFormsProxyAndDefaultPort) {
  PortedSocket s(110);
  struct Case {
    const char* host;
    const char* wantHost;
    int wantPort;
  };
  for (const Case& c : {Case{"mail.example.test:1110", "mail.example.test", 1110},
                        Case{"mail.example.test", "mail.example.test", 110},
                        Case{"[::1]:995", "::1", 995}, Case{"[fe80::1]", "fe80::1", 110},
                        Case{"::1", "::1", 110}, Case{"host:abc", "host", 110}}) {
    s.Port = 7;
    s.SetHost(c.host);
    EXPECT_EQ(c.wantHost, s.Host()) << c.host;
    EXPECT_EQ(c.wantPort, s.Port) << c.host;
  }
  s.SetHost(std::string(400, 'h'));
  EXPECT_EQ(255u, s.Host().size());

  // Behind a proxy the host is taken whole; dropping the proxy splits it again.
  s.SetProxy("proxy.example.test:3128");
  EXPECT_EQ("proxy.example.test", s.ProxyHost());
  EXPECT_EQ(3128, s.ProxyPort);
  s.SetHost("www.example.test:8080");
  EXPECT_EQ("www.example.test:8080", s.Host());
  s.SetProxy("");
  EXPECT_EQ("www.example.test", s.Host());
  EXPECT_EQ(8080, s.Port);
}

TEST(SocketLine, TerminatorsPeerCloseAndTheLengthLimit) {
  {
    Pair p;
    p.Write("one\r\ntwo\nthr\ree\r\nrest");
    EXPECT_EQ("one", p.socket.ReadLine());
    EXPECT_EQ("two", p.socket.ReadLine());
    EXPECT_EQ("three\r", p.socket.ReadLine());  // only the first CR goes
    std::stringstream rest;                     // nothing after the LF was consumed
    p.ClosePeer();
    p.socket.ReceiveStream(rest, 0, 0);
    EXPECT_EQ("rest", rest.str());
  }
  {
    Pair p;
    int disconnected = 0;
    p.socket.OnDisconnected = [&](ms::TmsSocketBase&) { ++disconnected; };
    p.Write("+OK partial");
    p.ClosePeer();
    EXPECT_EQ("+OK partial", p.socket.ReadLine());
    EXPECT_TRUE(p.socket.ClosedByPeer());
    EXPECT_EQ("", p.socket.ReadLine());
    EXPECT_EQ(1, disconnected);
  }
  {
    Pair p;
    p.Write(std::string(2046, 'x') + "\r\n" + std::string(5000, 'y') + "\r\n");
    EXPECT_EQ(std::string(2046, 'x'), p.socket.ReadLine());
    EXPECT_NE(ErrorText<ms::EmsError>([&] { p.socket.ReadLine(); }).find("2048"),
              std::string::npos);
  }
}

TEST(SocketWait, TimeOutRestartsWithProgressBlockingAndCancel) {
  {
    Pair p;
    p.socket.TimeOut = 1;  // the peer never writes: only the time-out ends the wait
    EXPECT_EQ("Operation timed out", ErrorText<ms::EmsTimedOutError>([&] { p.socket.ReadLine(); }));
  }
  {
    Pair p;                // a slow but steady transfer longer than TimeOut completes
    p.socket.TimeOut = 3;  // each pause is far shorter, even on a loaded machine
    std::thread writer([&] {
      for (const char* piece : {"ab", "cd", "\r\n", ".\r\n"}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        p.Write(piece);
      }
    });
    std::string block;
    p.socket.ReceiveDotBlock(block, 0);
    writer.join();
    EXPECT_EQ("abcd\r\n", block);
  }
  {
    Pair p;  // blocking mode: no time-out and no pump
    p.socket.Blocking = true;
    p.socket.TimeOut = 1;
    int pumps = 0;
    ms::SetMessagePump([&] { ++pumps; });
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1300));
      p.Write("late\r\n");
    });
    EXPECT_EQ("late", p.socket.ReadLine());
    writer.join();
    EXPECT_EQ(0, pumps);
  }
  {
    Pair p;
    int pumps = 0;
    ms::SetMessagePump([&] {
      if (++pumps == 3) p.socket.Cancel();
    });
    EXPECT_EQ("Operation has been canceled",
              ErrorText<ms::EmsCanceledError>([&] { p.socket.ReadLine(); }));
    EXPECT_GE(pumps, 3);
  }
}

// The end of a block is found wherever the reads split it, with CR LF or bare LF line ends
// ("abc." is no end, a lone CR ends no line); doubled dots are undone and what follows the
// end in the same read stays for the next reply.
TEST(SocketBlock, EndFoundWhenSplitAtEveryPosition) {
  const std::string block = "line one\r\nabc.\r\n..dot\nlone\r.\r\n.\n+OK next\r\n";
  for (size_t cut = 1; cut < block.size(); ++cut) {
    Pair p;
    std::thread writer([&] {
      p.Write(block.substr(0, cut));
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      p.Write(block.substr(cut));
    });
    std::string out;
    p.socket.ReceiveDotBlock(out, 0);
    EXPECT_EQ("line one\r\nabc.\r\n.dot\nlone\r.\r\n", out) << "cut at " << cut;
    EXPECT_EQ("+OK next", p.socket.ReadLine()) << "cut at " << cut;
    writer.join();
  }
}

// The limit on a block or a promised size: pop3_script_test.cpp, http_script_test.cpp.
TEST(SocketBlock, EmptyBlockAndTruncatedBlock) {
  {
    Pair p;
    p.Write(".\r\n");
    std::string out = "old";
    p.socket.ReceiveDotBlock(out, 0);
    EXPECT_EQ("", out);
  }
  {
    Pair p;
    p.Write("Subject: cut\r\n\r\nbody");
    p.ClosePeer();
    std::string out;
    EXPECT_THROW(p.socket.ReceiveDotBlock(out, 0), ms::EmsError);
  }
}

TEST(SocketChunked, MalformedAndUnfinishedChunks) {
  for (const char* bad : {"zz\r\n", "ffffffffffffffffff\r\n", "\r\n", "5;ext=1\r\n", "10\r\nabc"}) {
    Pair p;
    p.Write(bad);
    const bool unfinished = bad[0] == '1';
    if (unfinished) p.ClosePeer();
    std::stringstream out;
    const std::string error = ErrorText<ms::EmsError>([&] { p.socket.ReceiveChunked(out); });
    EXPECT_EQ(unfinished ? error : "Error receiving the stream", error) << bad;
    EXPECT_NE("<none>", error) << bad;
  }
}

// "localhost" may resolve to ::1 first, which a listener on IPv4 refuses: the next address is
// tried. The events come in order, and a second Disconnect does nothing.
TEST(SocketConnect, EveryAddressTriedAndEventsInOrder) {
  vigilo::test::ScriptedServer server({vigilo::test::Expect("")});
  TmsClientSocket s;
  std::vector<std::string> events;
  s.OnConnecting = [&](ms::TmsSocketBase&) { events.push_back("connecting"); };
  s.OnConnected = [&](ms::TmsSocketBase&) { events.push_back("connected"); };
  s.OnDisconnected = [&](ms::TmsSocketBase&) { events.push_back("disconnected"); };
  s.SetHost("localhost:" + std::to_string(server.Port()));
  s.Connect();
  s.Disconnect();
  s.Disconnect();
  EXPECT_EQ((std::vector<std::string>{"connecting", "connected", "disconnected"}), events);
}

}  // namespace
