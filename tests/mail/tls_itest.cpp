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

// Submission with STARTTLS and AUTH PLAIN or LOGIN, TLS from the first byte on its own port,
// and AUTH in plain text where allowed. (A certificate for another host, and plain-text AUTH
// not allowed: tls_test.cpp.)
TEST_F(TlsReal, SubmissionOverTlsAndAuthInPlainTextWhenAllowed) {
  dovecot_->Clear("bob");
  struct Case {
    int port;
    TmsSecurity security;
    const char* mechanism;
    const char* subject;
  };
  size_t sent = 0;
  for (const Case& c : {Case{exim_->SubmissionPort(), TmsSecurity::StartTLS, "", "default"},
                        Case{exim_->SubmissionPort(), TmsSecurity::StartTLS, "LOGIN", "login"},
                        Case{exim_->TlsPort(), TmsSecurity::TLS, "", "implicit"},
                        Case{exim_->AuthPlainPort(), TmsSecurity::None, "", "plain auth"}}) {
    ms::TmsSMTPClient smtp;
    ms::TmsMessage message;
    Smtp(smtp, message, c.port, c.security, c.subject);
    smtp.AuthMechanism = c.mechanism;
    smtp.AllowPlainAuth = c.security == TmsSecurity::None;
    smtp.Login();
    EXPECT_EQ(c.security != TmsSecurity::None, ms::IsEncrypted(smtp));
    smtp.SendMessage();
    smtp.Quit();
    EXPECT_TRUE(BobGot(c.subject, ++sent)) << c.subject;
  }
}

TEST_F(TlsReal, WrongPasswordIsTheServersRefusal) {
  ms::TmsSMTPClient wrong;
  ms::TmsMessage never;
  Smtp(wrong, never, exim_->SubmissionPort(), TmsSecurity::StartTLS, "never");
  wrong.AuthPassword = "wrong";
  EXPECT_EQ(0u, ErrorText<ms::EmsServerError>([&] { wrong.Login(); }).rfind("535 ", 0));
}

}  // namespace
