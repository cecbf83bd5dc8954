#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "lan/lanmsg.h"
#include "lan/networks.h"
#include "tests/lan/lan_client.h"
#include "tests/support/free_port.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using test::RawClient;

bool Eventually(const std::function<bool()>& done) {
  return test::WaitUntil(done, 20000, 2);
}

// A listener on a free loopback port that records every frame it hands on as "from:msg".
class Listener {
 public:
  explicit Listener(LanLimits limits = {}) : server(0, limits) {
    server.OnMSG = [this](const std::string& from, const std::string& msg) {
      std::lock_guard<std::mutex> lock(mutex);
      got.push_back(from + ":" + msg);
    };
    EXPECT_EQ(server.Listen(), "");
  }
  int Port() const { return server.BoundPort(); }
  std::vector<std::string> Got() {
    std::lock_guard<std::mutex> lock(mutex);
    return got;
  }
  bool WaitFor(std::size_t n) {
    return Eventually([&] { return Got().size() >= n; });
  }
  std::mutex mutex;
  std::vector<std::string> got;
  TLanMsgServ server;  // last: stopped, with its handler threads, before what they write to
};

const std::string kOk = "OK              ";

// Garbage, truncated or silent peers are ended without an answer and never reach the
// handler; the listener serves the next peer as before.
TEST(LanListener, EndsBadOrBrokenFramesWithoutAnswerAndServesOthers) {
  Listener l;
  struct Case {
    std::string bytes;
    bool closesFirst;  // the peer leaves before the frame is complete
  };
  for (const Case& c : {Case{"00a5Alpha0002Hi", false}, Case{" 005Alpha", false},
                        Case{"-001", false}, Case{"0005Alp", true}, Case{"", true}}) {
    RawClient peer(l.Port());
    if (!c.bytes.empty()) {
      ASSERT_TRUE(peer.Send(c.bytes));
    }
    if (c.closesFirst)
      peer.Close();
    else
      EXPECT_TRUE(peer.ClosedByPeer()) << c.bytes;
  }
  for (const std::string frame : {"0005Alpha0002Hi", "00000000"}) {
    RawClient c(l.Port());
    ASSERT_TRUE(c.Send(frame));
    EXPECT_EQ(c.Read(16), kOk);
    ASSERT_TRUE(l.WaitFor(frame == "00000000" ? 2 : 1));  // answered before the handler runs
  }
  EXPECT_EQ(l.Got(), (std::vector<std::string>{"Alpha:Hi", ":"}));
}

// Two senders at once, Cyrillic and the longest text; a peer that writes UTF-8 is read as
// UTF-8. A sender fails when nobody answers: silent, closing after the frame, or refusing.
TEST(LanSender, CarriesCyrillicAndLongTextsAndFailsWithoutAnAnswer) {
  Listener l;
  const std::string longText(9999, 'z');
  auto send = [&](const std::string& from, const std::string& text) {
    TLanMsg m;
    m.Host = "127.0.0.1";
    m.Port = l.Port();
    m.TimeOut = 20000;
    m.FromName = from;
    bool sentSeen = false;
    m.OnMessageSent = [&] { sentSeen = true; };
    m.PostIt(text);
    EXPECT_TRUE(sentSeen);
    EXPECT_FALSE(m.Connected());
  };
  std::thread a([&] { send("Первый", "Привет,\r\nмир"); });
  std::thread b([&] { send("second", longText); });
  a.join();
  b.join();
  RawClient c(l.Port());
  c.Send(
      "0004\xD0\xAF\xD0\xAF"
      "0004\xD0\x96\xD0\x96");
  EXPECT_EQ(c.Read(16).size(), 16u);
  ASSERT_TRUE(l.WaitFor(3));
  std::vector<std::string> got = l.Got();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got,
            (std::vector<std::string>{"second:" + longText, "Первый:Привет,\r\nмир", "ЯЯ:ЖЖ"}));

  TLanMsg m;
  m.Host = "127.0.0.1";
  m.FromName = "me";
  const int silent = test::BindLoopback(m.Port, 4);  // accepts by its backlog, never answers
  m.TimeOut = 300;
  EXPECT_THROW(m.PostIt("hello"), ESockError);
  ::close(silent);
  const int closer = test::BindLoopback(m.Port, 4);
  std::thread taker([closer] {
    const int conn = ::accept(closer, nullptr, nullptr);
    char frame[64];
    ::recv(conn, frame, sizeof frame, 0);
    ::close(conn);
  });
  m.TimeOut = 20000;
  EXPECT_THROW(m.PostIt("hello"), ESockError);
  taker.join();
  ::close(closer);
  EXPECT_THROW(m.PostIt("hello"), ESockError);  // refused
  m.Port = l.Port();
  EXPECT_NO_THROW(m.PostIt("after failures"));
}

TEST(LanListener, DropsSlowPeersAndKeepsWithinItsCaps) {
  Listener l({/*FrameTimeLimitMs=*/400, /*MaxConnections=*/4, /*MaxPerAddress=*/2});
  // A slow peer is dropped when its frame does not arrive in time, unanswered, and one
  // that never closes after its answer is dropped after the limit too.
  for (const std::string sent : {"00", "0001a0001b"}) {
    RawClient peer(l.Port(), "127.0.0.9");
    peer.Send(sent);
    EXPECT_EQ(peer.Read(16).size(), sent.size() > 2 ? 16u : 0u);
    EXPECT_TRUE(peer.ClosedByPeer());
  }
  // A third idle connection from one address takes the place of the oldest.
  RawClient a1(l.Port(), "127.0.0.2"), a2(l.Port(), "127.0.0.2");
  ASSERT_TRUE(Eventually([&] { return l.server.ConnectionCount() == 2; }));
  RawClient a3(l.Port(), "127.0.0.2");
  EXPECT_TRUE(a1.ClosedByPeer());
  // Idle peers of other addresses fill the listener; a real sender still gets through.
  RawClient b1(l.Port(), "127.0.0.3"), b2(l.Port(), "127.0.0.3");
  ASSERT_TRUE(Eventually([&] { return l.server.ConnectionCount() == 4; }));
  EXPECT_NO_THROW(test::Post(l.Port(), "real", "through"));
  ASSERT_TRUE(l.WaitFor(2));
  EXPECT_EQ(l.Got().back(), "real:through");
  // A burst of garbage from many addresses is ended at once and takes no place.
  for (int i = 0; i < 200; ++i) {
    RawClient garbage(l.Port(), ("127.0.1." + std::to_string(1 + i % 50)).c_str());
    garbage.Send("X garbage");
  }
  RawClient last(l.Port());
  ASSERT_TRUE(last.Send("0001c0001d"));
  EXPECT_EQ(last.Read(16), kOk);
  EXPECT_LE(l.server.MaxConnectionCount(), 4u);
  // Stopping with idle peers still connected ends them all.
  l.server.Stop();
  EXPECT_EQ(l.server.ConnectionCount(), 0u);
  EXPECT_FALSE(l.server.Listening());
}

TEST(LanListener, HandlerRunsOnTheOwnersThreadAndStopNeverWaitsForIt) {
  // The "GUI thread" is this test: calls are queued and run when the test pumps them.
  std::mutex mutex;
  std::deque<std::function<void()>> queue;
  std::vector<std::string> seen;
  auto server = std::make_unique<TLanMsgServ>(0);
  server->Dispatch = [&](std::function<void()> call) {
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back(std::move(call));
  };
  const auto self = std::this_thread::get_id();
  server->OnMSG = [&](const std::string&, const std::string& msg) {
    EXPECT_EQ(std::this_thread::get_id(), self);
    seen.push_back(msg);
  };
  ASSERT_EQ(server->Listen(), "");
  RawClient c(server->BoundPort());
  c.Send("0001a0003one");
  EXPECT_EQ(c.Read(16).size(), 16u);  // answered before the handler runs
  const auto queued = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return queue.size();
  };
  ASSERT_TRUE(Eventually([&] { return queued() == 1; }));
  EXPECT_EQ(server->ConnectionCount(), 1u);  // its thread waits for the handler
  std::function<void()> call = queue.front();
  queue.pop_front();
  call();
  EXPECT_EQ(seen, (std::vector<std::string>{"one"}));

  // A frame whose handler call is still queued when the listener goes away.
  RawClient d(server->BoundPort());
  d.Send("0001a0003two");
  ASSERT_TRUE(Eventually([&] { return queued() == 1; }));
  server.reset();   // returns although the call never ran
  queue.front()();  // and the late call does nothing
  EXPECT_EQ(seen.size(), 1u);
}

// The browse program is found on PATH and given its arguments directly, not through a
// shell; missing, failing or hanging (killed at the time limit), it is one error.
TEST(Neighbourhood, AsksTheBrowseProgramOnPath) {
  test::TempDir dir;
  const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  const auto browse = [&](const std::string& body, int limitMs = 20000) {
    if (!body.empty()) {
      test::WriteFile(dir.path() / "smbtree", "#!/bin/sh\n" + body);
      std::filesystem::permissions(dir.path() / "smbtree", std::filesystem::perms::owner_all);
    }
    ::setenv("PATH", (dir.str() + ":" + saved).c_str(), 1);
    std::optional<TNetworkNeighborhood> n;
    try {
      n.emplace(*CreateSystemNeighbourhoodSource(limitMs));
    } catch (const ECannotFindNetwork&) {
    }
    ::setenv("PATH", saved.c_str(), 1);
    return n;
  };
  ::setenv("PATH", dir.path().c_str(), 1);  // nothing installed, not even elsewhere
  EXPECT_THROW(TNetworkNeighborhood n(*CreateSystemNeighbourhoodSource()), ECannotFindNetwork);
  ::setenv("PATH", saved.c_str(), 1);
  const auto found = browse(
      "[ \"$1\" = \"-N\" ] || exit 3\n"
      "printf 'WORKGROUP\\n\\t\\\\\\\\ALPHA  \\t\\tfirst\\n\\t\\t\\\\\\\\ALPHA\\\\share\\tx\\n"
      "\\t\\\\\\\\BETA\\n\\t\\\\\\\\GAMMA\\nEMPTY\\n'\n");
  ASSERT_TRUE(found);
  ASSERT_EQ(found->Count(), 2);
  EXPECT_EQ(found->Objects(0), (TNetworkWorkgroup{"ALPHA", "BETA", "GAMMA"}));
  EXPECT_TRUE(found->Objects(1).empty());
  EXPECT_FALSE(browse("exit 1\n"));
  EXPECT_FALSE(browse("exec sleep 30\n", 300));
}

}  // namespace
}  // namespace vigilo
