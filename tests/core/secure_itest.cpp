// Secure configurations against the real Dovecot and Exim: POP3 over TLS or STLS
// with a trusted fingerprint, the queue sent with STARTTLS and AUTH, and refusals
// logged with a hint; also through the real binary's headless check.

#include <gtest/gtest.h>

#include <filesystem>

#include "mail/msmsg.h"
#include "tests/core/check_fixture.h"
#include "tests/core/headless_run.h"
#include "tests/support/certs.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

class SecureIT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ = new test::DovecotServer({{"work", "workpw"}, {"alice", "alicepw"}});
    exim_ = new test::EximServer(*dovecot_, {{"work", "workpw"}, {"sender", "senderpw"}});
  }
  static void TearDownTestSuite() {
    delete exim_;
    delete dovecot_;
  }
  void SetUp() override {
    for (const char* u : {"work", "alice"})
      dovecot_->Clear(u);
  }
  // A message file for alice in out, as the compose window queues it.
  static void Queue(const std::string& out, const std::string& name) {
    ms::TmsMessage m;
    m.Sender.Address = "work@example.test";
    m.Recipients.AddItem(ms::TmsMailAddress{"", "alice@example.test"});
    m.Body.push_back("Hello");
    fs::create_directories(out);
    m.SaveToFile(out + "/" + name);
  }
  static test::DovecotServer* dovecot_;
  static test::EximServer* exim_;
};
test::DovecotServer* SecureIT::dovecot_ = nullptr;
test::EximServer* SecureIT::exim_ = nullptr;

TEST_F(SecureIT, OwnSmtpLoginAndPlainTextAuthOnlyWhenAllowed) {
  dovecot_->AddMessage("work", "From: a@x\nSubject: s\nMessage-ID: <s1@x>\n\nbody\n");
  test::CheckRig rig;
  tuser& u = rig.Conf(rig.Add("Work", "work", "workpw", dovecot_->Pop3Port()));
  u.POP3Security = 1;  // STLS on the plain port
  u.TrustCert = test::Certificates().server.sha256Colon;
  u.SMTPHost = "127.0.0.1";
  u.SMTPPort = exim_->SubmissionPort();
  u.SMTPSecurity = 1;
  u.SMTPAuth = 2;
  u.SMTPUser = "sender";
  u.SMTPPwd = "wrong";
  Queue(u.OutDir, "1");
  rig.check.StartCheck();
  EXPECT_EQ(rig.view.hint, "Work-1;");
  EXPECT_TRUE(fs::exists(u.OutDir + "/1"));
  auto log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].substr(20, 9), "work 535 ") << log[0];
  EXPECT_NE(log[0].find(" (сервер не принял имя или пароль SMTP"), std::string::npos);

  // AUTH over a plain connection: refused here, the password never leaves.
  u.SMTPSecurity = 0;
  u.SMTPPort = exim_->AuthPlainPort();
  rig.check.StartCheck();
  EXPECT_TRUE(fs::exists(u.OutDir + "/1"));
  log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("needs an encrypted connection"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("(пароль не отправлен без шифрования"), std::string::npos);

  // Allowed, with the right password: sent.
  u.SMTPPlainAuth = true;
  u.SMTPPwd = "senderpw";
  rig.check.StartCheck();
  EXPECT_FALSE(fs::exists(u.OutDir + "/1"));
  EXPECT_EQ(exim_->WaitForMessages("alice", 1).size(), 1u);
  EXPECT_EQ(test::Lines(rig.ErrorLog()).size(), 2u);
}

#ifdef VIGILO_BINARY
TEST_F(SecureIT, HeadlessCheckOverTlsWithTrustedFingerprint) {
  dovecot_->AddMessage("work", "From: a@x\nSubject: s\nMessage-ID: <h1@x>\n\nbody\n");
  test::TempDir home, xdg;
  {
    test::StoredSettings st(home);
    // POP3 over TLS, SMTP by STARTTLS with the POP3 login on the submission port.
    tuser& u = st.Add("Work", "work", "workpw", dovecot_->Pop3sPort());
    u.POP3Security = 2;
    u.TrustCert = test::Certificates().server.sha256Colon;
    u.SMTPHost = "127.0.0.1";
    u.SMTPPort = exim_->SubmissionPort();
    u.SMTPSecurity = 1;
    u.SMTPAuth = 1;
    st.Save();
  }
  const std::string out = home.str() + "out/uwork127.0.0.1";
  Queue(out, "1");
  test::RunResult r = test::RunCheck(home, xdg);
  EXPECT_EQ(r.code, 0) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(r.out, "Work-1;\n");
  EXPECT_FALSE(fs::exists(out + "/1"));
  EXPECT_EQ(exim_->WaitForMessages("alice", 1).size(), 1u);
  EXPECT_EQ(test::ReadFile(home.path() / "error.log"), "");

  // Another fingerprint: neither server is trusted, nothing is sent.
  {
    test::StoredSettings st(home, /*fresh=*/false);
    st.s.Conf.at(0).TrustCert = test::Certificates().other.sha256;
    st.Save();
  }
  Queue(out, "2");
  r = test::RunCheck(home, xdg);
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out, "Work-нет связи\nНовой почты нет\n");
  EXPECT_TRUE(fs::exists(out + "/2"));
  const auto log = test::Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 2u);  // the SMTP and the POP3 handshake
  for (const std::string& line : log) {
    EXPECT_NE(line.find("TLS handshake with 127.0.0.1 failed"), std::string::npos) << line;
    EXPECT_NE(line.find("укажите отпечаток сертификата в настройках)"), std::string::npos);
  }
}
#endif

}  // namespace
}  // namespace vigilo
