// Runs of per-message POP3 commands against scripted servers, sent one at a time or
// ahead of their replies when the server announces PIPELINING.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mail/msexcept.h"
#include "mail/mspop.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace vigilo::test;
using mailtest::CapturingMessage;
using Steps = std::vector<ScriptedServer::Step>;

const std::vector<ms::TmsPOPStep> kRun = {{ms::TmsPOPStep::Headers, 0},
                                          {ms::TmsPOPStep::Size, 1},
                                          {ms::TmsPOPStep::Headers, 2},
                                          {ms::TmsPOPStep::Delete, 3},
                                          {ms::TmsPOPStep::Size, 4}};
const std::vector<std::string> kCommands = {"TOP 1 1", "LIST 2", "TOP 3 1", "DELE 4", "LIST 5"};
const std::vector<std::string> kReplies = {
    "+OK\r\nSubject: one\r\n\r\n..dot\r\n.\r\n", "+OK 2 1234\r\n",
    "+OK\r\nSubject: three\r\nX-A: b\r\n\r\n.\r\n", "+OK deleted\r\n", "+OK 5\r\n"};

void Connect(ms::TmsPOPClient& pop, const ScriptedServer& server, CapturingMessage& message) {
  pop.SetHost("127.0.0.1:" + std::to_string(server.Port()));
  pop.UserName = "ann";
  pop.Password = "secret";
  pop.TimeOut = 30;  // a stall shows as a failed script long before this
  pop.MailMessage = &message;
}

Steps Login(const std::string& capa) {
  Steps s = {Send("+OK ready\r\n"), Expect("USER ann"), Send("+OK\r\n"),      Expect("PASS secret"),
             Send("+OK\r\n"),       Expect("STAT"),     Send("+OK 5 900\r\n")};
  if (!capa.empty()) s.insert(s.end(), {Expect("CAPA"), Send(capa)});
  return s;
}

// The replies one after another: each command waits for the previous reply.
Steps InTurn() {
  Steps s;
  for (std::size_t k = 0; k < kCommands.size(); ++k)
    s.insert(s.end(), {Expect(kCommands[k]), Send(kReplies[k])});
  return s;
}

// Every command first, then every reply, in one piece or a byte at a time: a client
// that waited for a reply before its next command would stall here.
Steps AllAhead(bool byteByByte) {
  Steps s;
  for (const std::string& c : kCommands)
    s.push_back(Expect(c));
  std::string all;
  for (const std::string& r : kReplies)
    all += r;
  if (!byteByByte) return s.push_back(Send(all)), s;
  for (char c : all)
    s.push_back(Send(std::string(1, c)));
  return s;
}

// What each reply gave.
using Heard = std::vector<std::string>;

Heard RunOnce(ms::TmsPOPClient& pop, CapturingMessage& message) {
  Heard heard;
  pop.RunSteps(kRun, [&](std::size_t k, int64_t size) {
    std::string line = std::to_string(k) + ":" + std::to_string(size);
    if (kRun[k].Kind == ms::TmsPOPStep::Headers) {
      for (const std::string& h : message.Headers)
        line += "|" + h;
      line += "|body=" + (message.Body.empty() ? std::string("-") : message.Body.front());
    }
    heard.push_back(line);
  });
  return heard;
}

// Whatever the server offers, the same commands go out in the same order and every
// reply is matched to its own command; only a PIPELINING server gets them ahead.
TEST(Pop3Pipeline, SameCommandsAndRepliesWithOrWithoutPipelining) {
  struct Case {
    const char* name;
    std::string capa;  // "" when CAPA is not to be asked
    bool allow;
    Steps replies;
    bool pipelines;
  };
  const std::string pipelining = "+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.\r\n";
  const std::vector<Case> cases = {
      {"not allowed here", "", false, InTurn(), false},
      {"CAPA refused", "-ERR unknown command\r\n", true, InTurn(), false},
      {"no PIPELINING", "+OK\r\nTOP\r\nUSER\r\nPIPELINING-X\r\n.\r\n", true, InTurn(), false},
      {"pipelining", pipelining, true, AllAhead(false), true},
      {"pipelining, lower case, replies split at every byte", "+OK\r\npipelining\r\n.\r\n", true,
       AllAhead(true), true},
  };
  Heard expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Steps script = Login(c.capa);
    script.insert(script.end(), c.replies.begin(), c.replies.end());
    // A second run in the same session: CAPA is not asked again.
    script.insert(script.end(), c.replies.begin(), c.replies.end());
    script.insert(script.end(), {Expect("QUIT"), Send("+OK bye\r\n")});
    ScriptedServer server(script);
    ms::TmsPOPClient pop;
    CapturingMessage message;
    Connect(pop, server, message);
    pop.AllowPipelining = c.allow;
    pop.Login();
    const Heard first = RunOnce(pop, message);
    const Heard second = RunOnce(pop, message);
    pop.Quit();
    EXPECT_TRUE(server.Finished()) << server.Failure();
    EXPECT_EQ(c.pipelines, pop.ServerPipelines());
    EXPECT_EQ(first, second);
    if (expected.empty()) expected = first;
    EXPECT_EQ(expected, first);
  }
  EXPECT_EQ(expected,
            (std::vector<std::string>{"0:-1|Subject: one|body=.dot", "1:1234",
                                      "2:-1|Subject: three|X-A: b|body=-", "3:-1", "4:-1"}));
}

// An error reply in the middle of a batch ends the run there with the server's text;
// the replies after it are never taken for answers, and no QUIT is sent.
TEST(Pop3Pipeline, ErrorMidBatchEndsTheRun) {
  for (const bool closes : {false, true}) {
    SCOPED_TRACE(closes ? "connection closed" : "error reply");
    Steps script = Login("+OK\r\nPIPELINING\r\n.\r\n");
    for (const std::string& c : kCommands)
      script.push_back(Expect(c));
    script.push_back(Send(kReplies[0]));
    script.push_back(closes ? Close() : Send("-ERR no such message\r\n" + kReplies[2]));
    ScriptedServer server(script);
    ms::TmsPOPClient pop;
    CapturingMessage message;
    Connect(pop, server, message);
    pop.Login();
    std::vector<std::size_t> heard;
    const std::string error = mailtest::ErrorText<ms::EmsServerError>(
        [&] { pop.RunSteps(kRun, [&](std::size_t k, int64_t) { heard.push_back(k); }); });
    EXPECT_EQ(error, closes ? "Connection closed by server" : "-ERR no such message");
    EXPECT_EQ(heard, std::vector<std::size_t>{0});
    EXPECT_TRUE(server.Finished()) << server.Failure();
    const std::vector<std::string> received = server.Received();
    EXPECT_EQ(std::count(received.begin(), received.end(), "QUIT"), 0);
  }
}

}  // namespace
