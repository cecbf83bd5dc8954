// The SMTP client against scripted servers: refusals, lost replies and the
// bytes of DATA.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mssmtp.h"
#include "mail/mstempfile.h"
#include "tests/support/scripted_server.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;
using Steps = std::vector<ScriptedServer::Step>;

// A message whose encoded form is fixed text, so the test sees DATA exactly.
class FixedMessage : public ms::TmsMessage {
 public:
  explicit FixedMessage(std::string bytes) : bytes_(std::move(bytes)) {
    Sender.Address = "ann@example.test";
    Recipients.Add("bob@example.test");
    Recipients.Add("carl@example.test");
    CC.Add("dora@example.test");
  }
  void SaveToStream(std::ostream& out) override { out << bytes_; }

 private:
  std::string bytes_;
};

Steps Greeting() {
  return {Send("220 mx.example.test ESMTP\r\n"), Expect("HELO client.test"),
          Send("250-mx.example.test\r\n250-SIZE 1000\r\n250 HELP\r\n")};
}

Steps Concat(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Steps Envelope(const std::string& secondReply) {
  return {Expect("MAIL FROM:<ann@example.test>"), Send("250 OK\r\n"),
          Expect("RCPT TO:<bob@example.test>"),   Send("250 Accepted\r\n"),
          Expect("RCPT TO:<carl@example.test>"),  Send(secondReply),
          Expect("RCPT TO:<dora@example.test>"),  Send("251 will forward\r\n")};
}

struct Client {
  ms::TmsSMTPClient smtp;
  FixedMessage message;
  std::vector<std::string> events;
  explicit Client(const ScriptedServer& server, std::string bytes = "Subject: t\r\n\r\nbody\r\n")
      : message(std::move(bytes)) {
    smtp.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    smtp.HeloName = "client.test";
    smtp.TimeOut = 2;
    smtp.MailMessage = &message;
    smtp.OnPreparing = [&](ms::TmsSocketBase&) { events.push_back("preparing"); };
    smtp.OnSending = [&](ms::TmsSocketBase&) { events.push_back("sending"); };
    smtp.OnSent = [&](ms::TmsSocketBase&) { events.push_back("sent"); };
  }
};

std::vector<std::string> DataLines(const ScriptedServer& server) {
  const auto r = server.Received();
  std::vector<std::string> out;
  bool in = false;
  for (const auto& l : r) {
    if (in) out.push_back(l);
    if (in && l == ".") break;
    if (l == "DATA") in = true;
  }
  return out;
}

TEST(SmtpScript, DataIsDotStuffedAndEndsWithoutAnExtraLine) {
  ScriptedServer server(
      Concat(Greeting(), Concat(Envelope("250 Accepted\r\n"),
                                {Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."),
                                 Send("250 queued\r\n"), Expect("QUIT"), Send("221 bye\r\n")})));
  Client c(server, "Subject: dots\r\n\r\n.\r\n.x\r\n..\r\nbare\nlast");
  c.smtp.Login();
  c.smtp.SendMessage();
  c.smtp.Quit();
  ASSERT_TRUE(server.Finished()) << server.Failure();
  EXPECT_EQ(
      (std::vector<std::string>{"Subject: dots", "", "..", "..x", "...", "bare", "last", "."}),
      DataLines(server));
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending", "sent"}), c.events);
}

TEST(SmtpScript, HeloRefusedTwiceAndMailFromDecides) {
  ScriptedServer server({Send("220 mx\r\n"), Expect("HELO client.test"),
                         Send("501 Syntactically invalid HELO argument(s)\r\n"), Expect("HELO"),
                         Send("501 Syntactically invalid HELO argument(s)\r\n"),
                         Expect("MAIL FROM:<ann@example.test>"),
                         Send("503 HELO or EHLO required\r\n"), Expect("QUIT"),
                         Send("221 bye\r\n")});
  Client c(server);
  c.smtp.Login();
  try {
    c.smtp.SendMessage();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("503 HELO or EHLO required", e.what());
  }
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

TEST(SmtpScript, RefusedRecipientWithProceedStillSendsData) {
  ScriptedServer server(Concat(Greeting(), Concat(Envelope("550 No such user\r\n"),
                                                  {Expect("DATA"), Send("354 go\r\n"),
                                                   ExpectUntil("."), Send("250 queued\r\n")})));
  Client c(server);
  std::vector<std::string> refused;
  c.smtp.OnAddressRejected = [&](ms::TmsSocketBase&, const std::string& address,
                                 const std::string& reply, bool& proceed) {
    refused.push_back(address + " | " + reply);
    proceed = true;
  };
  c.smtp.Login();
  c.smtp.SendMessage();
  EXPECT_EQ((std::vector<std::string>{"carl@example.test | 550 No such user"}), refused);
  EXPECT_EQ(1, c.smtp.RejectedCount());
  EXPECT_TRUE(server.Finished()) << server.Failure();
  EXPECT_EQ(c.events.back(), "sent");
}

TEST(SmtpScript, RefusedRecipientWithoutHandlerFailsAndResets) {
  ScriptedServer server(Concat(
      Greeting(), {Expect("MAIL FROM:<ann@example.test>"), Send("250 OK\r\n"),
                   Expect("RCPT TO:<bob@example.test>"), Send("250 Accepted\r\n"),
                   Expect("RCPT TO:<carl@example.test>"), Send("550 No such user\r\n"),
                   Expect("RSET"), Send("250 Reset OK\r\n"), Expect("QUIT"), Send("221 bye\r\n")}));
  Client c(server);
  c.smtp.Login();
  try {
    c.smtp.SendMessage();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("550 No such user", e.what());
  }
  EXPECT_EQ("550 No such user", c.smtp.LastReply);
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

TEST(SmtpScript, EveryRecipientRefusedResetsWithoutData) {
  ScriptedServer server(Concat(
      Greeting(), {Expect("MAIL FROM:<ann@example.test>"), Send("250 OK\r\n"),
                   Expect("RCPT TO:<bob@example.test>"), Send("550 no\r\n"),
                   Expect("RCPT TO:<carl@example.test>"), Send("450 later\r\n"),
                   Expect("RCPT TO:<dora@example.test>"), Send("553 never\r\n"), Expect("RSET"),
                   Send("250 Reset OK\r\n"), Expect("QUIT"), Send("221 bye\r\n")}));
  Client c(server);
  c.smtp.OnAddressRejected = [](ms::TmsSocketBase&, const std::string&, const std::string&,
                                bool& proceed) { proceed = true; };
  c.smtp.Login();
  c.smtp.SendMessage();
  EXPECT_EQ(3, c.smtp.RejectedCount());
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending"}), c.events);
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

TEST(SmtpScript, RefusalsAtAndAfterData) {
  ScriptedServer server(
      Concat(Greeting(), Concat(Envelope("250 ok\r\n"),
                                Concat({Expect("DATA"), Send("451 Try again later\r\n"),
                                        Expect("RSET"), Send("250 ok\r\n")},
                                       Concat(Envelope("250 ok\r\n"),
                                              {Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."),
                                               Send("554 Message rejected\r\n")})))));
  Client c(server);
  c.smtp.Login();
  try {
    c.smtp.SendMessage();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("451 Try again later", e.what());
  }
  try {
    c.smtp.SendMessage();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("554 Message rejected", e.what());
  }
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

TEST(SmtpScript, ReplyLostAfterTheFinalDotTimesOut) {
  ScriptedServer server(Concat(
      Greeting(), Concat(Envelope("250 ok\r\n"),
                         {Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."), Sleep(3000)})));
  Client c(server);
  c.smtp.TimeOut = 1;
  c.smtp.Login();
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsTimedOutError);
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending"}), c.events);
}

TEST(SmtpScript, UnsafeEnvelopeAddressAndEmptyHostAreRefusedBeforeTheWire) {
  ScriptedServer server(Concat(Greeting(), {Expect("QUIT"), Send("221 bye\r\n")}));
  Client c(server);
  c.message.BCC.Add("eve@example.test>\r\nRCPT TO:<mallory@example.test");
  c.smtp.Login();
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsError);
  c.message.BCC.Clear();
  c.message.Sender.Address = "ann @example.test";
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsError);
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();

  ms::TmsSMTPClient empty;
  try {
    empty.Login();
    FAIL();
  } catch (const ms::EmsError& e) {
    EXPECT_STREQ("Host property must be assigned", e.what());
  }
}

TEST(SmtpStuff, PiecesKeepTheLineState) {
  std::string out;
  bool lineStart = true, pendingCR = false;
  ms::StuffData(".a\r", 3, out, lineStart, pendingCR);
  ms::StuffData("\n.", 2, out, lineStart, pendingCR);
  ms::StuffData("b\rc", 3, out, lineStart, pendingCR);
  EXPECT_EQ("..a\r\n..b\r\nc", out);
  EXPECT_FALSE(lineStart);
}

}  // namespace

namespace {

// The real encoder writes the body as it is; the dots are doubled on the wire.
TEST(SmtpScript, EncodedMessageDotLinesAreStuffedOnTheWire) {
  ScriptedServer server({Send("220 mx\r\n"), Expect("HELO client.test"), Send("250 mx\r\n"),
                         Expect("MAIL FROM:<ann@example.test>"), Send("250 OK\r\n"),
                         Expect("RCPT TO:<bob@example.test>"), Send("250 OK\r\n"), Expect("DATA"),
                         Send("354 go\r\n"), ExpectUntil("."), Send("250 queued\r\n")});
  ms::TmsMessage message;
  message.Sender.Address = "ann@example.test";
  message.Recipients.Add("bob@example.test");
  message.Subject = "dots";
  message.Body = {"before", ".", ".x", "after"};
  ms::TmsSMTPClient smtp;
  smtp.SetHost("127.0.0.1:" + std::to_string(server.Port()));
  smtp.HeloName = "client.test";
  smtp.TimeOut = 2;
  smtp.MailMessage = &message;
  smtp.Login();
  smtp.SendMessage();
  ASSERT_TRUE(server.Finished()) << server.Failure();
  const std::vector<std::string> data = DataLines(server);
  const auto before = std::find(data.begin(), data.end(), "before");
  ASSERT_NE(before, data.end());
  ASSERT_GE(data.end() - before, 4);
  EXPECT_EQ("..", before[1]);
  EXPECT_EQ("..x", before[2]);
  EXPECT_EQ("after", before[3]);
  EXPECT_EQ((ms::TmsStrings{"before", ".", ".x", "after"}), message.Body);
}

}  // namespace

namespace {

// The encoded message waits in a private folder and is deleted on every path.
TEST(SmtpScript, TemporaryFileIsPrivateAndAlwaysDeleted) {
  vigilo::test::TempDir runtime;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  const std::string folder = ms::PrivateTempFolder();
  EXPECT_EQ(runtime.str() + "vigilo/", folder);
  struct stat st {};
  ASSERT_EQ(0, stat(folder.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  {
    ScriptedServer server(
        Concat(Greeting(), {Expect("MAIL FROM:<ann@example.test>"), Send("550 go away\r\n")}));
    Client c(server);
    std::vector<std::string> present;
    c.smtp.OnSending = [&](ms::TmsSocketBase&) {
      for (const auto& e : std::filesystem::directory_iterator(folder))
        present.push_back(e.path().filename().string());
    };
    c.smtp.Login();
    EXPECT_THROW(c.smtp.SendMessage(), ms::EmsServerError);
    ASSERT_EQ(1u, present.size());
    EXPECT_EQ(0u, present[0].rfind("ms", 0));
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
