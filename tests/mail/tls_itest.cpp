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
  static std::unique_ptr<DovecotServer> dovecot_;
  static std::unique_ptr<EximServer> exim_;
};
std::unique_ptr<DovecotServer> TlsReal::dovecot_;
std::unique_ptr<EximServer> TlsReal::exim_;

TEST_F(TlsReal, Pop3OverTlsPortAndWithStlsVerifiedThroughTheCa) {
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
    pop.SetHost(c.host + (":" + std::to_string(c.port)));
    pop.UserName = "alice";
    pop.Password = "alicepw";
    pop.TimeOut = 20;
    pop.Security = c.security;
    pop.Tls.CAFile = Certificates().ca.cert;
    pop.Login();
    EXPECT_TRUE(ms::IsEncrypted(pop));
    EXPECT_EQ(2, pop.MessageCount());
    pop.SetCurrentMessage(1);
    pop.Retrieve();
    EXPECT_EQ("two", message.Subject);
    pop.Quit();
  }
}

// Submission with STARTTLS and AUTH PLAIN or LOGIN, TLS from the first byte on its own port,
// AUTH in plain text where allowed, and a wrong password. (A certificate for another host, and
// plain-text AUTH not allowed: tls_test.cpp.)
TEST_F(TlsReal, SubmissionOverTlsAndAuthInPlainTextWhenAllowed) {
  struct Case {
    int port;
    TmsSecurity security;
    const char* mechanism;
    const char* subject;  // none: the password is wrong
  };
  size_t sent = 0;
  for (const Case& c : {Case{exim_->SubmissionPort(), TmsSecurity::StartTLS, "", "default"},
                        Case{exim_->SubmissionPort(), TmsSecurity::StartTLS, "LOGIN", "login"},
                        Case{exim_->TlsPort(), TmsSecurity::TLS, "", "implicit"},
                        Case{exim_->AuthPlainPort(), TmsSecurity::None, "", "plain auth"},
                        Case{exim_->SubmissionPort(), TmsSecurity::StartTLS, "", ""}}) {
    ms::TmsSMTPClient smtp;
    ms::TmsMessage message;
    smtp.SetHost("127.0.0.1:" + std::to_string(c.port));
    smtp.HeloName = "client.example.test";
    smtp.TimeOut = 20;
    smtp.Security = c.security;
    smtp.Tls.CAFile = Certificates().ca.cert;
    smtp.AuthUser = "alice";
    smtp.AuthPassword = *c.subject ? "alicepw" : "wrong";
    smtp.AuthMechanism = c.mechanism;
    smtp.AllowPlainAuth = c.security == TmsSecurity::None;
    if (!*c.subject) {
      EXPECT_EQ(0u,
                mailtest::ErrorText<ms::EmsServerError>([&] { smtp.Login(); }).rfind("535 ", 0));
      continue;
    }
    message.Sender.Address = "alice@example.test";
    message.Recipients.Add("bob@example.test");
    message.Subject = c.subject;
    message.Body = {"sent over TLS"};
    smtp.MailMessage = &message;
    smtp.Login();
    EXPECT_EQ(c.security != TmsSecurity::None, ms::IsEncrypted(smtp));
    smtp.SendMessage();
    smtp.Quit();
    bool arrived = false;
    for (const std::string& m : exim_->WaitForMessages("bob", ++sent))
      arrived |= m.find("Subject: " + std::string(c.subject)) != std::string::npos;
    EXPECT_TRUE(arrived) << c.subject;
  }
}

}  // namespace
