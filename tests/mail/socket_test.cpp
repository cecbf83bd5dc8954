// The client socket over a real connected socket pair: lines, blocks, chunked
// bodies, limits, time-outs and cancellation.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/mssocket.h"

namespace {

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
    // Only the client's end is non-blocking.
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
    size_t off = 0;
    while (off < s.size()) {
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
  std::string ReadPeer() const {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
};

TEST(SocketHost, HostPortFormsAndDefaultPort) {
  PortedSocket s(110);
  s.SetHost("mail.example.test:1110");
  EXPECT_EQ("mail.example.test", s.Host());
  EXPECT_EQ(1110, s.Port);
  s.SetHost("mail.example.test");
  EXPECT_EQ(110, s.Port);
  s.SetHost("[::1]:995");
  EXPECT_EQ("::1", s.Host());
  EXPECT_EQ(995, s.Port);
  s.SetHost("[fe80::1]");
  EXPECT_EQ("fe80::1", s.Host());
  EXPECT_EQ(110, s.Port);
  s.Port = 7;
  s.SetHost("::1");  // an IPv6 literal without brackets has no port
  EXPECT_EQ("::1", s.Host());
  EXPECT_EQ(110, s.Port);
  s.SetHost("host:abc");
  EXPECT_EQ("host", s.Host());
  EXPECT_EQ(110, s.Port);
  s.SetHost(std::string(400, 'h'));
  EXPECT_EQ(255u, s.Host().size());
}

TEST(SocketHost, ProxyTakesHostWholeAndEmptyProxyRestoresDefaultPort) {
  PortedSocket s(80);
  s.SetProxy("proxy.example.test:3128");
  EXPECT_EQ("proxy.example.test", s.ProxyHost());
  EXPECT_EQ(3128, s.ProxyPort);
  s.SetHost("www.example.test:8080");
  EXPECT_EQ("www.example.test:8080", s.Host());
  s.SetProxy("proxy2");
  EXPECT_EQ(0, s.ProxyPort);
  s.SetProxy("");
  EXPECT_EQ("", s.ProxyHost());
  EXPECT_EQ("www.example.test", s.Host());
  EXPECT_EQ(8080, s.Port);
  EXPECT_EQ("2.02", s.Version());
}

TEST(SocketBlock, UnstuffRemovesDoubledDotsAndTheTerminator) {
  EXPECT_EQ("", ms::UnstuffBlock(".\r\n"));
  EXPECT_EQ("a\r\n.\r\n.x\r\nb.\r\n", ms::UnstuffBlock("a\r\n..\r\n..x\r\nb.\r\n.\r\n"));
  EXPECT_EQ("a\n", ms::UnstuffBlock("a\n.\n"));
}

TEST(SocketLine, TerminatorsAndCarriageReturns) {
  Pair p;
  p.Write("one\r\ntwo\nthr\ree\r\nrest");
  EXPECT_EQ("one", p.socket.ReadLine());
  EXPECT_EQ("two", p.socket.ReadLine());
  EXPECT_EQ("three\r", p.socket.ReadLine());  // only the first CR goes
  // Nothing after the LF was consumed.
  std::stringstream rest;
  p.ClosePeer();
  p.socket.ReceiveStream(rest, 0, 0);
  EXPECT_EQ("rest", rest.str());
}

TEST(SocketLine, PeerClosingMidLineGivesWhatCameAndRaisesDisconnectedOnce) {
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

TEST(SocketLine, LongLineWithoutLineEndIsRefusedNotOverrun) {
  Pair p;
  p.Write(std::string(2046, 'x') + "\r\n");
  EXPECT_EQ(std::string(2046, 'x'), p.socket.ReadLine());
  p.Write(std::string(5000, 'y') + "\r\n");
  try {
    p.socket.ReadLine();
    FAIL() << "no exception";
  } catch (const ms::EmsError& e) {
    EXPECT_NE(std::string(e.what()).find("2048"), std::string::npos) << e.what();
  }
}

TEST(SocketTimeOut, SilenceTimesOutAfterTimeOutSeconds) {
  Pair p;
  p.socket.TimeOut = 1;
  const auto start = std::chrono::steady_clock::now();
  try {
    p.socket.ReadLine();
    FAIL() << "no exception";
  } catch (const ms::EmsTimedOutError& e) {
    EXPECT_STREQ("Operation timed out", e.what());
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(s, 0.9);
  EXPECT_LT(s, 2.5);
}

TEST(SocketTimeOut, SlowSteadyTransferLongerThanTimeOutCompletes) {
  Pair p;
  p.socket.TimeOut = 1;
  std::thread writer([&] {
    for (const char* piece : {"ab", "cd", "\r\n", ".\r\n"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(450));
      p.Write(piece);
    }
  });
  std::stringstream block;
  p.socket.ReceiveMultiLine(block, 0);
  writer.join();
  EXPECT_EQ("abcd\r\n.\r\n", block.str());
}

TEST(SocketCancel, CancelFromTheMessagePumpEndsTheWait) {
  Pair p;
  int pumps = 0;
  ms::SetMessagePump([&] {
    if (++pumps == 3) p.socket.Cancel();
  });
  try {
    p.socket.ReadLine();
    FAIL() << "no exception";
  } catch (const ms::EmsCanceledError& e) {
    EXPECT_STREQ("Operation has been canceled", e.what());
  }
  EXPECT_GE(pumps, 3);
}

// The end of a block is found wherever the reads split "CR LF . CR LF", and a
// "." that only ends a line ("abc.") is not taken for the end.
TEST(SocketBlock, EndFoundWhenSplitAtEveryPosition) {
  const std::string block = "line one\r\nabc.\r\n..dot\r\n.\r\n";
  for (size_t cut = 1; cut < block.size(); ++cut) {
    Pair p;
    std::thread writer([&] {
      p.Write(block.substr(0, cut));
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      p.Write(block.substr(cut));
    });
    std::stringstream out;
    p.socket.ReceiveMultiLine(out, 0);
    writer.join();
    EXPECT_EQ(block, out.str()) << "cut at " << cut;
  }
}

TEST(SocketBlock, EmptyBlockAndProgressWithoutExpectedSize) {
  Pair p;
  std::vector<int> percents;
  p.socket.OnTransferProgress = [&](ms::TmsSocketBase&, int perc, int, int) {
    percents.push_back(perc);
  };
  p.Write(".\r\n");
  std::stringstream out;
  p.socket.ReceiveMultiLine(out, 0);
  EXPECT_EQ(".\r\n", out.str());
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(-1, percents.back());
}

TEST(SocketBlock, PeerClosingBeforeTheEndIsAnError) {
  Pair p;
  p.Write("Subject: cut\r\n\r\nbody");
  p.ClosePeer();
  std::stringstream out;
  EXPECT_THROW(p.socket.ReceiveMultiLine(out, 0), ms::EmsError);
}

TEST(SocketLimit, BlockAndStreamBeyondTheLimitAreRefused) {
  Pair p;
  p.socket.MaxDataSize = 1000;
  std::thread writer([&] { p.Write(std::string(3000, 'a') + "\r\n.\r\n"); });
  std::stringstream out;
  EXPECT_THROW(p.socket.ReceiveMultiLine(out, 0), ms::EmsError);
  writer.join();
  EXPECT_LE(out.str().size(), 1000u);
  // A promised size beyond the limit is refused before anything is read.
  std::stringstream body;
  EXPECT_THROW(p.socket.ReceiveStream(body, 1 << 30, 0), ms::EmsError);
}

TEST(SocketChunked, SizesInHexAndMalformedSizes) {
  {
    Pair p;
    p.Write("1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n");
    std::stringstream out;
    p.socket.ReceiveChunked(out);
    EXPECT_EQ("abcdefghijklmnopqrstuvwxyz", out.str());
  }
  for (const char* bad : {"zz\r\n", "ffffffffffffffffff\r\n", "\r\n", "5;ext=1\r\n"}) {
    Pair p;
    p.Write(bad);
    std::stringstream out;
    try {
      p.socket.ReceiveChunked(out);
      FAIL() << bad;
    } catch (const ms::EmsError& e) {
      EXPECT_STREQ("Error receiving the stream", e.what()) << bad;
    }
  }
  {
    Pair p;  // a chunk the peer never finishes
    p.Write("10\r\nabc");
    p.ClosePeer();
    std::stringstream out;
    EXPECT_THROW(p.socket.ReceiveChunked(out), ms::EmsError);
  }
}

TEST(SocketChunked, EndlessChunksStopAtTheLimit) {
  Pair p;
  p.socket.MaxDataSize = 4096;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) {
      if (::send(p.peer, "100\r\n", 5, MSG_NOSIGNAL) < 0) break;
      const std::string data(256, 'z');
      if (::send(p.peer, data.data(), data.size(), MSG_NOSIGNAL) < 0) break;
      if (::send(p.peer, "\r\n", 2, MSG_NOSIGNAL) < 0) break;
    }
  });
  std::stringstream out;
  EXPECT_THROW(p.socket.ReceiveChunked(out), ms::EmsError);
  stop = true;
  shutdown(p.peer, SHUT_RDWR);
  writer.join();
}

TEST(SocketSend, StreamAndLinesReachThePeer) {
  Pair p;
  std::vector<int> percents;
  p.socket.OnTransferProgress = [&](ms::TmsSocketBase&, int perc, int, int) {
    percents.push_back(perc);
  };
  std::string big(70000, 'q');
  std::stringstream in(big);
  std::string got;
  std::thread reader([&] {
    while (got.size() < big.size() + 6) {
      char buf[8192];
      const ssize_t n = ::recv(p.peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  });
  p.socket.SendStream(in);
  p.socket.WriteLine("QUIT");
  reader.join();
  EXPECT_EQ(big + "QUIT\r\n", got);
  EXPECT_EQ((std::vector<int>{47, 94, 100}), percents);
}

TEST(SocketConnect, RefusedUnknownAndEveryAddressTried) {
  // A port nobody listens on: bind, read the port, close.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  const int closedPort = ntohs(a.sin_port);
  close(fd);

  PortedSocket s(110);
  s.SetHost("127.0.0.1:" + std::to_string(closedPort));
  try {
    s.Connect();
    FAIL();
  } catch (const ms::EWinsockError& e) {
    EXPECT_STREQ("Winsock error no 10061", e.what());
  }
  s.SetHost("no-such-host.invalid");
  try {
    s.Connect();
    FAIL();
  } catch (const ms::EWinsockError& e) {
    EXPECT_STREQ("Winsock error no 11001", e.what());
  }

  // A listener on IPv4 only: "localhost" may resolve to ::1 first, which is
  // refused, and the next address is tried.
  const int l = ::socket(AF_INET, SOCK_STREAM, 0);
  a.sin_port = 0;
  ASSERT_EQ(0, bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, listen(l, 1));
  len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<std::string> events;
  s.OnConnecting = [&](ms::TmsSocketBase&) { events.push_back("connecting"); };
  s.OnConnected = [&](ms::TmsSocketBase&) { events.push_back("connected"); };
  s.OnDisconnected = [&](ms::TmsSocketBase&) { events.push_back("disconnected"); };
  s.SetHost("localhost:" + std::to_string(ntohs(a.sin_port)));
  s.Connect();
  s.Disconnect();
  s.Disconnect();  // a second call does nothing
  close(l);
  EXPECT_EQ((std::vector<std::string>{"connecting", "connected", "disconnected"}), events);
}

TEST(SocketConnect, IPv6LiteralInBrackets) {
  const int l = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (l >= 0) close(l);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  ASSERT_EQ(0, listen(l, 1));
  socklen_t len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  PortedSocket s(110);
  s.SetHost("[::1]:" + std::to_string(ntohs(a.sin6_port)));
  s.Connect();
  EXPECT_TRUE(s.Connected());
  const int peer = accept(l, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(7, ::send(peer, "+OK v6\n", 7, 0));
  EXPECT_EQ("+OK v6", s.ReadLine());
  close(peer);
  close(l);
}

}  // namespace

namespace {

// A toy layer over the plain transport: waits for the peer's "HELLO\n" before
// the protocol may start and writes everything in upper case. It stands in
// for an encrypting layer.
class ShoutingLayer : public ms::TmsTransport {
 public:
  explicit ShoutingLayer(std::unique_ptr<ms::TmsTransport> inner) : inner_(std::move(inner)) {}
  ms::TmsIoResult Read(char* b, size_t n) override { return inner_->Read(b, n); }
  ms::TmsIoResult Write(const char* b, size_t n) override {
    std::string up(b, n);
    for (char& c : up)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return inner_->Write(up.data(), up.size());
  }
  int Handle() const override { return inner_->Handle(); }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<ms::TmsTransport> inner_;
};

TEST(SocketLayer, ALayerSlipsUnderTheSocketAtConnect) {
  const int l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, listen(l, 1));
  socklen_t len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  std::string got;
  std::thread peer([&] {
    const int c = accept(l, nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::send(c, "HELLO\n+OK go\r\n", 14, 0);
    char buf[64];
    const ssize_t n = ::recv(c, buf, sizeof buf, 0);
    if (n > 0) got.assign(buf, static_cast<size_t>(n));
    close(c);
  });
  PortedSocket s(110);
  s.TimeOut = 2;
  s.SetHost("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
  bool connectedDuringHandshake = true;
  s.OnConnected = [&](ms::TmsSocketBase&) { connectedDuringHandshake = false; };
  s.TransportLayer = [&](ms::TmsClientSocket& socket, std::unique_ptr<ms::TmsTransport> plain) {
    std::string hello;
    while (hello.find('\n') == std::string::npos) {
      char c;
      const ms::TmsIoResult r = plain->Read(&c, 1);
      if (r.kind == ms::TmsIoResult::Data)
        hello += c;
      else if (r.kind == ms::TmsIoResult::WouldBlock)
        socket.WaitReady(r.waitEvents, plain->Handle());
      else
        return std::unique_ptr<ms::TmsTransport>();
    }
    EXPECT_TRUE(connectedDuringHandshake);
    return std::unique_ptr<ms::TmsTransport>(new ShoutingLayer(std::move(plain)));
  };
  s.Connect();
  EXPECT_EQ("+OK go", s.ReadLine());
  s.WriteLine("quit");
  peer.join();
  close(l);
  EXPECT_EQ("QUIT\r\n", got);
}

}  // namespace

namespace {

TEST(SocketTimeOut, BlockingModeHasNoTimeOutAndNoPump) {
  Pair p;
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

}  // namespace
