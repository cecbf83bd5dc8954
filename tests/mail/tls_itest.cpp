// POP3 and SMTP over TLS against real Dovecot and Exim on loopback with the suite's test CA.

#include <gtest/gtest.h>

#include <memory>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "mail/mssmtp.h"
#include "mail/mstls.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/certs.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"

namespace {

using namespace vigilo::test;
using mailtest::ErrorText;
using ms::TmsSecurity;

class TlsReal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<MailUser>{{"alice", "alicepw"}, {"bob", "bobpw"}});
    exim_ = std::make_unique<EximServer>(*dovecot_, std::vector<MailUser>{{"alice", "alicepw"}});
  }
  static void TearDownTestSuite() {
    dovecot_->BeginStop();
    exim_->BeginStop();
    exim_.reset();
    dovecot_.reset();
  }

  static void Pop(ms::TmsPOPClient& pop, int port, TmsSecurity security,
                  const std::string& host = "127.0.0.1") {
    pop.SetHost(host + ":" + std::to_string(port));
    pop.UserName = "alice";
    pop.Password = "alicepw";
    pop.TimeOut = 20;
    pop.Security = security;
    pop.Tls.CAFile = Certificates().ca.cert;
  }

  static void Smtp(ms::TmsSMTPClient& smtp, ms::TmsMessage& message, int port, TmsSecurity security,
                   const std::string& subject) {
    smtp.SetHost("127.0.0.1:" + std::to_string(port));
    smtp.HeloName = "client.example.test";
    smtp.TimeOut = 20;
    smtp.Security = security;
    smtp.Tls.CAFile = Certificates().ca.cert;
    smtp.AuthUser = "alice";
    smtp.AuthPassword = "alicepw";
    message.Sender.Address = "alice@example.test";
    message.Recipients.Add("bob@example.test");
    message.Subject = subject;
    message.Body = {"sent over TLS"};
    smtp.MailMessage = &message;
  }

  static bool BobGot(const std::string& subject, size_t count) {
    for (const std::string& m : exim_->WaitForMessages("bob", count))
      if (m.find("Subject: " + subject) != std::string::npos) return true;
    return false;
  }

  static std::unique_ptr<DovecotServer> dovecot_;
  static std::unique_ptr<EximServer> exim_;
};
std::unique_ptr<DovecotServer> TlsReal::dovecot_;
std::unique_ptr<EximServer> TlsReal::exim_;

TEST_F(TlsReal, Pop3OverTlsPortAndWithStlsVerifiedThroughTheCa) {
  dovecot_->Clear("alice");
  dovecot_->AddMessage("alice", "Subject: one\r\n\r\nfirst body\r\n");
  dovecot_->AddMessage("alice", "Subject: two\r\n\r\nsecond body\r\n");
  struct Case {
    int port;
    TmsSecurity security;
    const char* host;
  };
  for (const Case& c : {Case{dovecot_->Pop3sPort(), TmsSecurity::TLS, "127.0.0.1"},
                        Case{dovecot_->Pop3sPort(), TmsSecurity::TLS, "localhost"},
                        Case{dovecot_->Pop3Port(), TmsSecurity::StartTLS, "127.0.0.1"}}) {
    ms::TmsPOPClient pop;
    ms::TmsMessage message;
    pop.MailMessage = &message;
    Pop(pop, c.port, c.security, c.host);
    pop.Login();
    EXPECT_TRUE(ms::IsEncrypted(pop));
    EXPECT_EQ(2, pop.MessageCount());
    pop.SetCurrentMessage(1);
    pop.Retrieve();
    EXPECT_EQ("two", message.Subject);
    pop.Quit();
  }
}

TEST_F(TlsReal, SubmissionWithStartTlsAndAuthPlainOrLogin) {
  dovecot_->Clear("bob");
  size_t sent = 0;
  for (const char* mechanism : {"", "LOGIN"}) {
    ms::TmsSMTPClient smtp;
    ms::TmsMessage message;
    const std::string subject = std::string("auth ") + (*mechanism ? mechanism : "default");
    Smtp(smtp, message, exim_->SubmissionPort(), TmsSecurity::StartTLS, subject);
    smtp.AuthMechanism = mechanism;
    smtp.Login();
    EXPECT_TRUE(ms::IsEncrypted(smtp));
    smtp.SendMessage();
    smtp.Quit();
    EXPECT_TRUE(BobGot(subject, ++sent)) << subject;
  }
  // TLS from the first byte on its own port.
  ms::TmsSMTPClient smtp;
  ms::TmsMessage message;
  Smtp(smtp, message, exim_->TlsPort(), TmsSecurity::TLS, "implicit");
  smtp.Login();
  smtp.SendMessage();
  smtp.Quit();
  EXPECT_TRUE(BobGot("implicit", ++sent));
}

// (A certificate for another host, and plain-text AUTH not allowed: tls_test.cpp.)
TEST_F(TlsReal, WrongPasswordAndAuthInPlainTextWhenAllowed) {
  ms::TmsSMTPClient wrong;
  ms::TmsMessage never;
  Smtp(wrong, never, exim_->SubmissionPort(), TmsSecurity::StartTLS, "never");
  wrong.AuthPassword = "wrong";
  EXPECT_EQ(0u, ErrorText<ms::EmsServerError>([&] { wrong.Login(); }).rfind("535 ", 0));
  wrong.Disconnect();

  ms::TmsSMTPClient smtp;
  ms::TmsMessage message;
  Smtp(smtp, message, exim_->AuthPlainPort(), TmsSecurity::None, "plain auth");
  dovecot_->Clear("bob");
  smtp.AllowPlainAuth = true;
  smtp.Login();
  EXPECT_FALSE(ms::IsEncrypted(smtp));
  smtp.SendMessage();
  smtp.Quit();
  EXPECT_TRUE(BobGot("plain auth", 1));
}

}  // namespace
