// Checks and immediate deletions with commands sent ahead (Dovecot announces
// PIPELINING) give what they give one command at a time; an error in the middle of a
// batch deletes nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "core/refresh.h"
#include "mail/msexcept.h"
#include "tests/core/check_fixture.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/dovecot.h"
#include "tests/support/scripted_server.h"

namespace vigilo {
namespace {

using test::CheckRig;

// Messages with and without Message-ID (their keys need their sizes) and two that share one.
std::vector<std::string> Mailbox() {
  std::vector<std::string> out;
  for (int n = 0; n < 24; ++n) {
    const std::string id = n % 3 == 0         ? ""
                           : n == 5 || n == 7 ? "Message-ID: <twin@x>\n"
                                              : "Message-ID: <m" + std::to_string(n) + "@x>\n";
    out.push_back("From: Sender " + std::to_string(n) + " <s@x>\nSubject: Номер " +
                  std::to_string(n) + "\n" + id + "\n" + std::string(100 + n * 37, 'b') + "\n");
  }
  return out;
}

// A record as compared between the two ways (unique ids differ between mailboxes).
std::vector<std::string> Records(const tuser& u) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < u.HeadCount; ++i) {
    const tmailhead& h = u.Heads[static_cast<std::size_t>(i)];
    out.push_back(h.MessageID + "|" + h.From + "|" + h.Subject + "|" + h.Size + "|" +
                  (h.UniqueID.empty() ? "no uid" : "uid"));
  }
  return out;
}

std::vector<std::string> Left(const test::DovecotServer& server, const std::string& user) {
  std::vector<std::string> subjects;
  for (const std::string& m : server.Messages(user)) {
    const std::size_t s = m.find("Subject: ");
    subjects.push_back(m.substr(s, m.find('\n', s) - s));
  }
  std::sort(subjects.begin(), subjects.end());
  return subjects;
}

TEST(PipelinedCheck, SameRecordsAndDeletionsAsOneCommandAtATime) {
  test::DovecotServer server({{"plain", "pw"}, {"piped", "pw"}});
  for (const std::string& m : Mailbox()) {
    server.AddMessage("plain", m);
    server.AddMessage("piped", m);
  }
  // The pipelined session goes through a link with latency, so replies arrive in pieces.
  test::DelayProxy link(server.Pop3Port(), std::chrono::milliseconds(3));
  CheckRig plain, piped;
  plain.pop.AllowPipelining = false;
  plain.Add("Plain", "plain", "pw", server.Pop3Port());
  piped.Add("Piped", "piped", "pw", link.Port());

  for (CheckRig* rig : {&plain, &piped})
    rig->check.StartCheck();
  EXPECT_FALSE(plain.pop.ServerPipelines());
  EXPECT_TRUE(piped.pop.ServerPipelines());
  ASSERT_EQ(plain.Conf(0).HeadCount, 24);
  EXPECT_EQ(Records(plain.Conf(0)), Records(piped.Conf(0)));

  // Deferred marks (one without Message-ID, one of the twins) go at the next check,
  // then an immediate deletion of two more.
  for (CheckRig* rig : {&plain, &piped}) {
    for (int k : {0, 4, 5})
      rig->Conf(0).Heads[static_cast<std::size_t>(k)].DeleteNext = true;
    rig->check.StartCheck();
  }
  EXPECT_EQ(Records(plain.Conf(0)), Records(piped.Conf(0)));
  EXPECT_EQ(Left(server, "plain"), Left(server, "piped"));
  EXPECT_EQ(Left(server, "piped").size(), 21u);
  for (CheckRig* rig : {&plain, &piped}) {
    const tuser& u = rig->Conf(0);
    ASSERT_TRUE(rig->check.PopLogin(0));
    EXPECT_TRUE(RefreshHeads(rig->s, 0, rig->pop, {u.Heads[1], u.Heads[20]}).empty());
  }
  EXPECT_EQ(Records(plain.Conf(0)), Records(piped.Conf(0)));
  EXPECT_EQ(Left(server, "plain"), Left(server, "piped"));
  EXPECT_EQ(Left(server, "piped").size(), 19u);
  EXPECT_GE(link.Connections(), 3);
}

// A server that fails a command in the middle of a batch: the session ends without
// QUIT, so the DELE sent before the failure deletes nothing, the records and marks of
// before stay, and the check is over.
TEST(PipelinedCheck, ErrorMidBatchDeletesNothing) {
  using namespace test;
  std::vector<ScriptedServer::Step> script = {Send("+OK ready\r\n"),
                                              Expect("USER u"),
                                              Send("+OK\r\n"),
                                              Expect("PASS p"),
                                              Send("+OK\r\n"),
                                              Expect("STAT"),
                                              Send("+OK 4 400\r\n"),
                                              Expect("UIDL"),
                                              Send("-ERR\r\n"),
                                              Expect("CAPA"),
                                              Send("+OK\r\nPIPELINING\r\n.\r\n")};
  std::string tops;
  for (int n = 1; n <= 4; ++n) {
    script.push_back(Expect("TOP " + std::to_string(n) + " 1"));
    tops += "+OK\r\nMessage-ID: <m" + std::to_string(n) + "@x>\r\n\r\n.\r\n";
  }
  script.insert(script.end(), {Send(tops), Expect("LIST 1"), Expect("DELE 2"), Expect("LIST 3"),
                               Expect("LIST 4"), Send("+OK 1 100\r\n+OK\r\n-ERR gone\r\n")});
  ScriptedServer server(script);
  CheckRig rig;
  tuser& u = rig.Add("Work", "u", "p", server.Port());
  for (int k = 0; k < 4; ++k)
    rig.s.AddHead(0, k, "f", "s", " 1 байт", "d", "t", "m" + std::to_string(k + 1) + "@x", 0);
  u.Heads[1].DeleteNext = true;
  const std::vector<tmailhead> before(u.Heads.begin(), u.Heads.begin() + u.HeadCount);
  EXPECT_THROW(rig.check.StartCheck(), ms::EmsServerError);
  EXPECT_TRUE(server.Finished()) << server.Failure();
  const std::vector<std::string> received = server.Received();
  EXPECT_EQ(std::count(received.begin(), received.end(), "QUIT"), 0);
  EXPECT_FALSE(rig.pop.IsOpen());
  EXPECT_EQ(rig.busy, 0);
  EXPECT_FALSE(rig.view.progress);
  EXPECT_FALSE(rig.check.Running());
  EXPECT_EQ(rig.ErrorLog(), "");  // reported to the caller, not logged
  ASSERT_EQ(u.HeadCount, 4);
  for (std::size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(u.Heads[k].MessageID, before[k].MessageID);
    EXPECT_EQ(u.Heads[k].DeleteNext, before[k].DeleteNext);
  }
}

}  // namespace
}  // namespace vigilo
