// The POP3 client against a real Dovecot server on loopback. (Multipart messages with binary
// files are read back from Dovecot in smtp_itest.cpp.)

#include <gtest/gtest.h>

#include <memory>
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

class Pop3Real : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<DovecotServer>(std::vector<MailUser>{{"ann", "annpw"}});
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override { server_->Clear("ann"); }

  ms::TmsPOPClient& Client() {
    pop_.SetHost("127.0.0.1:" + std::to_string(server_->Pop3Port()));
    pop_.UserName = "ann";
    pop_.Password = "annpw";
    pop_.TimeOut = 20;
    return pop_;
  }

  static std::unique_ptr<DovecotServer> server_;
  ms::TmsPOPClient pop_;
};
std::unique_ptr<DovecotServer> Pop3Real::server_;

TEST_F(Pop3Real, LoginEmptyMailboxAndWrongPassword) {
  ms::TmsPOPClient& pop = Client();
  pop.Login();
  EXPECT_EQ(0, pop.MessageCount());
  EXPECT_EQ(0, pop.MailboxSize());
  EXPECT_EQ(-1, pop.CurrentMessage());
  pop.Quit();

  pop.Password = "wrong";
  const std::string error = ErrorText<ms::EmsServerError>([&] { pop.Login(); });
  EXPECT_EQ(pop.LastReply, error);
  EXPECT_EQ(0u, error.rfind("-ERR", 0)) << error;
  pop.Disconnect();
}

TEST_F(Pop3Real, StatListTopAndRawRetrieve) {
  const std::string first = Simple("one", "..starts with a dot\r\n.\r\nline two\r\n");
  const std::string second = Simple("two", std::string(5000, 'x') + "\r\n");
  // Dovecot stores the message as given; the dots arrive doubled on the wire.
  server_->AddMessage("ann", Simple("one", ".starts with a dot\r\n.\r\nline two\r\n"));
  server_->AddMessage("ann", second);
  ms::TmsPOPClient& pop = Client();
  CapturingMessage message;
  pop.MailMessage = &message;
  pop.Login();
  EXPECT_EQ(2, pop.MessageCount());
  EXPECT_EQ(static_cast<int64_t>(first.size() - 1 + second.size()), pop.MailboxSize());
  EXPECT_EQ(0, pop.CurrentMessage());

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
  EXPECT_EQ(Simple("one", ".starts with a dot\r\n.\r\nline two\r\n"), message.Loaded);
  EXPECT_TRUE(inRange);
  pop.Quit();
}

TEST_F(Pop3Real, DeleteTakesEffectOnlyAfterQuit) {
  server_->AddMessage("ann", Simple("a", "1\r\n"));
  server_->AddMessage("ann", Simple("b", "2\r\n"));
  ms::TmsPOPClient& pop = Client();
  pop.Login();
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
  CapturingMessage m;
  pop.MailMessage = &m;
  pop.Retrieve();
  EXPECT_EQ(Simple("a", "1\r\n"), m.Loaded);
  pop.Quit();
  EXPECT_EQ(1u, server_->Messages("ann").size());
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
