// The POP3 client against scripted servers: what no real server does.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace vigilo::test;
using mailtest::CapturingMessage;
using mailtest::ErrorText;

std::vector<ScriptedServer::Step> Session(std::vector<ScriptedServer::Step> more,
                                          const std::string& stat = "+OK 2 3400\r\n") {
  std::vector<ScriptedServer::Step> s = {
      Send("+OK ready\r\n"), Expect("USER ann"), Send("+OK\r\n"), Expect("PASS secret"),
      Send("+OK in\r\n"),    Expect("STAT"),     Send(stat)};
  s.insert(s.end(), more.begin(), more.end());
  return s;
}

struct Client {
  ms::TmsPOPClient pop;
  explicit Client(const ScriptedServer& server) {
    pop.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    pop.UserName = "ann";
    pop.Password = "secret";
    pop.TimeOut = 2;
  }
};

// The current message stays within the mailbox. A STAT reply without a count is an error (the
// last mailbox's count must not stay); sizes beyond 32 bits are fine, counts beyond them or
// negative are not.
TEST(Pop3Script, CurrentMessageAndStatFields) {
  std::vector<ScriptedServer::Step> more = {Expect("LIST 3"), Send("+OK 3 1200\r\n")};
  for (const std::string stat :
       {"+OK 5", "+OK 1 99999999999", "+OK", "+OK x1 10", "+OK -3 10", "+OK 99999999999 1"})
    more.insert(more.end(), {Expect("STAT"), Send(stat + "\r\n")});
  ScriptedServer server(Session(more, "+OK 3 3400\r\n"));
  Client c(server);
  c.pop.Login();
  EXPECT_EQ(3400, c.pop.MailboxSize());
  EXPECT_EQ(0, c.pop.CurrentMessage());
  c.pop.SetCurrentMessage(-5);
  EXPECT_EQ(0, c.pop.CurrentMessage());
  c.pop.SetCurrentMessage(7);
  EXPECT_EQ(2, c.pop.CurrentMessage());
  EXPECT_EQ(1200, c.pop.GetMessageSize());
  c.pop.RefreshStatus();  // a count without a size
  EXPECT_EQ(5, c.pop.MessageCount());
  EXPECT_EQ(-1, c.pop.CurrentMessage());
  c.pop.RefreshStatus();  // a mailbox over 2 GiB
  EXPECT_EQ(1, c.pop.MessageCount());
  EXPECT_EQ(int64_t{99999999999}, c.pop.MailboxSize());
  for (int bad = 0; bad < 4; ++bad)
    EXPECT_THROW(c.pop.RefreshStatus(), ms::EmsError) << bad;
}

// A reply that is neither "+" nor "-" fails like "-ERR", with the server's line as the text;
// credentials holding a line break are refused before connecting.
TEST(Pop3Script, BadRepliesAndUnsafeCredentials) {
  for (const char* bad : {"OK hello", "-ERR [AUTH] Authentication failed."}) {
    const bool greeting = bad[0] == 'O';
    ScriptedServer server(greeting
                              ? std::vector<ScriptedServer::Step>{Send(bad + std::string("\r\n"))}
                              : std::vector<ScriptedServer::Step>{
                                    Send("+OK ready\r\n"), Expect("USER ann"), Send("+OK\r\n"),
                                    Expect("PASS secret"), Send(bad + std::string("\r\n"))});
    Client c(server);
    EXPECT_EQ(bad, ErrorText<ms::EmsServerError>([&] { c.pop.Login(); }));
  }
  ms::TmsPOPClient pop;
  pop.SetHost("127.0.0.1:1");
  pop.UserName = "ann\r\nDELE 1";
  EXPECT_THROW(pop.Login(), ms::EmsError);
  EXPECT_FALSE(pop.IsOpen());
}

// Doubled dots are undone and the terminator dropped; a lying size only scales the progress,
// and blocks are bounded.
TEST(Pop3Script, RetrieveUndoesDotStuffingAndTrustsNoSize) {
  const std::string wire = "Subject: dots\r\n\r\n..\r\n..signature\r\nend.\r\n...\r\n.\r\n";
  ScriptedServer server(Session(
      {Expect("RETR 1"), Send("+OK 50 octets\r\n"), Send(wire), Expect("TOP 2 1"), Send("+OK\r\n"),
       Send("Subject: top\r\nX-A: 1\r\n\r\n..first\r\n.\r\n"), Expect("RETR 2"),
       Send("+OK 4000000000 octets\r\n"), Send("Subject: small\r\n\r\nbody\r\n.\r\n"),
       Expect("RETR 2"), Send("+OK\r\n"), Send(std::string(5000, 'x') + "\r\n.\r\n")}));
  Client c(server);
  CapturingMessage message;
  c.pop.MailMessage = &message;
  std::vector<std::string> events;
  c.pop.OnRetrievingMessage = [&](ms::TmsSocketBase&) { events.push_back("retrieving"); };
  c.pop.OnMessageRetrieved = [&](ms::TmsSocketBase&) { events.push_back("retrieved"); };
  std::vector<int> percents;
  c.pop.OnTransferProgress = [&](ms::TmsSocketBase&, int perc, int, int) {
    percents.push_back(perc);
  };
  c.pop.Login();
  c.pop.Retrieve();
  EXPECT_EQ("Subject: dots\r\n\r\n.\r\n.signature\r\nend.\r\n..\r\n", message.Loaded);
  EXPECT_EQ((std::vector<std::string>{"retrieving", "retrieved"}), events);
  ASSERT_FALSE(percents.empty());
  EXPECT_GT(percents.back(), 0);

  c.pop.SetCurrentMessage(1);
  c.pop.RetrieveHeaders();
  const std::vector<std::string> lines(message.Headers.begin(), message.Headers.end());
  EXPECT_EQ((std::vector<std::string>{"Subject: top", "X-A: 1"}), lines);
  EXPECT_EQ((std::vector<std::string>{".first"}), message.Body);
  EXPECT_EQ("top", message.Headers.GetFieldValue("Subject"));

  c.pop.Retrieve();
  EXPECT_EQ("Subject: small\r\n\r\nbody\r\n", message.Loaded);
  EXPECT_EQ(0, percents.back());  // of four billion
  c.pop.MaxDataSize = 4096;
  EXPECT_THROW(c.pop.Retrieve(), ms::EmsError);
}

// A greeting "+OK-...", bare LF line ends and the next reply arriving in the same segment as a
// block's end cost no wait; an empty reply says the connection is gone.
TEST(Pop3Script, SmallDeviationsCostNoStall) {
  ScriptedServer server({Send("+OK-ready\n"), Expect("USER ann"), Send("+OK\n"),
                         Expect("PASS secret"), Send("+OK\n"), Expect("STAT"), Send("+OK 2 10\n"),
                         Expect("TOP 1 1"),
                         Send("+OK\nSubject: lf\nX-Lone: a\rb\n\nbody\n.\n+OK 1 321\r\n"),
                         Expect("LIST 1"), Expect("TOP 2 1"), Close()});
  Client c(server);
  c.pop.TimeOut = 30;  // a stall would show as a time-out much later than the test needs
  CapturingMessage message;
  c.pop.MailMessage = &message;
  c.pop.Login();
  EXPECT_EQ(2, c.pop.MessageCount());
  c.pop.RetrieveHeaders();
  const std::vector<std::string> lines(message.Headers.begin(), message.Headers.end());
  EXPECT_EQ((std::vector<std::string>{"Subject: lf", "X-Lone: a\rb"}),
            lines);  // a lone CR ends no line
  EXPECT_EQ((std::vector<std::string>{"body"}), message.Body);
  EXPECT_EQ(321, c.pop.GetMessageSize());
  c.pop.SetCurrentMessage(1);
  EXPECT_EQ("Connection closed by server",
            ErrorText<ms::EmsServerError>([&] { c.pop.RetrieveHeaders(); }));
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

// A server that trickles a byte at a time, never silent long enough for the inactivity
// time-out, is stopped by the command's deadline (kCommandTimeOuts times TimeOut).
TEST(Pop3Script, TricklingServerTimesOut) {
  std::vector<ScriptedServer::Step> trickle = {Expect("TOP 1 1"), Send("+OK\r\n")};
  for (int i = 0; i < 600; ++i) {  // two minutes of "X-Slow: xxxx..."
    trickle.push_back(Send(i == 0 ? "X-Slow: " : "x"));
    trickle.push_back(Sleep(200));
  }
  ScriptedServer trickling(Session(trickle));
  Client c(trickling);
  c.pop.TimeOut = 1;
  CapturingMessage message;
  c.pop.MailMessage = &message;
  c.pop.Login();
  EXPECT_EQ("Operation timed out",
            ErrorText<ms::EmsTimedOutError>([&] { c.pop.RetrieveHeaders(); }));
}

// A header block beyond the cap is cut at a line boundary and the session goes on.
TEST(Pop3Script, OversizedHeaderBlockIsCutAtALine) {
  const std::string filler = "X-Fill: " + std::string(1000, 'f') + "\r\n";
  std::string block = "Subject: big\r\n";
  while (block.size() < (1u << 20) + 5000)
    block += filler;
  block += "Message-ID: <late@x>\r\n\r\nbody\r\n.\r\n";
  ScriptedServer server(Session(
      {Expect("TOP 1 1"), Send("+OK\r\n" + block), Expect("LIST 1"), Send("+OK 1 77\r\n")}));
  Client c(server);
  CapturingMessage message;
  c.pop.MailMessage = &message;
  c.pop.Login();
  c.pop.RetrieveHeaders();
  std::size_t kept = 0;
  for (const std::string& line : message.Headers) {
    EXPECT_TRUE(line == "Subject: big" || line == filler.substr(0, filler.size() - 2));
    kept += line.size() + 2 + sizeof(std::string);  // what holding the line costs
  }
  EXPECT_LE(kept, static_cast<std::size_t>(ms::TmsPOPClient::kMaxHeaderBlock));
  EXPECT_GT(kept, static_cast<std::size_t>(ms::TmsPOPClient::kMaxHeaderBlock) - 2 * filler.size());
  EXPECT_EQ("", message.Headers.GetFieldValue("Message-ID"));
  EXPECT_EQ(77, c.pop.GetMessageSize());
}

#ifdef VIGILO_PEAK_PROBE
// Hostile header blocks cost no more than the cap: 50 MB of tiny header lines, then a 40 MB
// first body line of lone CRs, measured as the peak memory of a fresh process.
TEST(Pop3Memory, HostileHeaderBlocksStayNearTheCap) {
  std::string tiny;
  while (tiny.size() < 50u << 20)
    tiny += "X-A: b\r\n";
  std::string lone = "Subject: s\r\n\r\n";
  while (lone.size() < 40u << 20)
    lone += "a\rb\r";
  ScriptedServer server(
      Session({Expect("TOP 1 1"), Send("+OK\r\n" + tiny + ".\r\n"), Expect("TOP 2 1"),
               Send("+OK\r\n" + lone + "\r\n.\r\n"), Expect("QUIT"), Send("+OK\r\n")}));
  tiny.clear();
  lone.clear();
  FILE* probe =
      popen((std::string(VIGILO_PEAK_PROBE) + " " + std::to_string(server.Port())).c_str(), "r");
  ASSERT_NE(probe, nullptr);
  long base = 0, first = 0, second = 0;
  const int got = fscanf(probe, "%ld %ld %ld", &base, &first, &second);
  pclose(probe);
  ASSERT_EQ(got, 3) << server.Failure();
  EXPECT_TRUE(server.Finished()) << server.Failure();
#if defined(__SANITIZE_ADDRESS__)
  const long slack = 48 << 10;  // the sanitizer's red zones and quarantine
#else
  const long slack = 4 << 10;
#endif
  const long cap = static_cast<long>(ms::TmsPOPClient::kMaxHeaderBlock >> 10);
  EXPECT_LT(first - base, cap + slack) << "KiB beyond the start";
  EXPECT_LT(second - base, cap + slack) << "KiB beyond the start";
  std::printf("peak memory beyond the start: %ld KiB, %ld KiB\n", first - base, second - base);
}
#endif

}  // namespace
