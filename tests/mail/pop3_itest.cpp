// The POP3 client against a real Dovecot server on loopback. (Multipart messages with binary
// files are read back from Dovecot in smtp_itest.cpp.)

#include <gtest/gtest.h>

#include <string>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/dovecot.h"
#include "tests/support/free_port.h"

namespace {

using namespace vigilo::test;
using mailtest::CapturingMessage;
using mailtest::ErrorText;

std::string Simple(const std::string& subject, const std::string& body) {
  return "From: Ann <ann@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.test>\r\n\r\n" + body;
}

// One mailbox walked through: empty, a wrong password, STAT, LIST, TOP and RETR of a message
// with dot lines, then deletions that take effect only after QUIT.
TEST(Pop3Real, SessionsOnOneMailbox) {
  DovecotServer server({{"ann", "annpw"}});
  ms::TmsPOPClient pop;
  pop.SetHost("127.0.0.1:" + std::to_string(server.Pop3Port()));
  pop.UserName = "ann";
  pop.Password = "annpw";
  pop.TimeOut = 20;
  CapturingMessage message;
  pop.MailMessage = &message;
  pop.Login();
  EXPECT_EQ(0, pop.MessageCount());
  EXPECT_EQ(-1, pop.CurrentMessage());
  pop.Quit();
  pop.Password = "wrong";
  const std::string error = ErrorText<ms::EmsServerError>([&] { pop.Login(); });
  EXPECT_EQ(pop.LastReply, error);
  EXPECT_EQ(0u, error.rfind("-ERR", 0)) << error;
  pop.Disconnect();
  pop.Password = "annpw";

  // Dovecot stores the message as given; the dots arrive doubled on the wire.
  const std::string first = Simple("one", ".starts with a dot\r\n.\r\nline two\r\n");
  const std::string second = Simple("two", std::string(5000, 'x') + "\r\n");
  server.AddMessage("ann", first);
  server.AddMessage("ann", second);
  pop.Login();
  EXPECT_EQ(2, pop.MessageCount());
  EXPECT_EQ(static_cast<int64_t>(first.size() + second.size()), pop.MailboxSize());
  pop.SetCurrentMessage(1);
  EXPECT_EQ(static_cast<int64_t>(second.size()), pop.GetMessageSize());
  pop.SetCurrentMessage(0);
  pop.RetrieveHeaders();
  const std::vector<std::string> lines(message.Headers.begin(), message.Headers.end());
  EXPECT_EQ((std::vector<std::string>{"From: Ann <ann@example.test>", "To: bob@example.test",
                                      "Subject: one", "Message-ID: <one@example.test>"}),
            lines);
  EXPECT_EQ((std::vector<std::string>{".starts with a dot"}), message.Body);
  bool inRange = true;  // progress is scaled by the RETR size
  pop.OnTransferProgress = [&](ms::TmsSocketBase&, int p, int, int) {
    inRange &= p >= 0 && p <= 100;
  };
  pop.Retrieve();
  EXPECT_EQ(first, message.Loaded);
  EXPECT_TRUE(inRange);

  pop.DeleteMessage();
  EXPECT_EQ(2, pop.MessageCount());  // numbers stay until the session ends
  pop.Disconnect();                  // no QUIT: nothing is deleted
  pop.Login();
  EXPECT_EQ(2, pop.MessageCount());
  pop.SetCurrentMessage(1);
  pop.DeleteMessage();
  pop.Quit();
  pop.Login();
  EXPECT_EQ(1, pop.MessageCount());
  pop.Retrieve();
  EXPECT_EQ(first, message.Loaded);
  pop.Quit();
  EXPECT_EQ(1u, server.Messages("ann").size());
}

TEST(Pop3Connect, RefusedAndUnknownHost) {
  ms::TmsPOPClient pop;
  const ClosedPort closed;
  pop.SetHost("127.0.0.1:" + std::to_string(closed.Port()));
  EXPECT_EQ("Winsock error no 10061", ErrorText<ms::EWinsockError>([&] { pop.Login(); }));
  pop.SetHost("pop.no-such-host.invalid");
  EXPECT_EQ(110, pop.Port);
  EXPECT_EQ("Winsock error no 11001", ErrorText<ms::EWinsockError>([&] { pop.Login(); }));
}

}  // namespace
