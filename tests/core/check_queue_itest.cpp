// The check's outgoing queue through a real Exim, secure configurations (POP3 over TLS or
// STLS with a trusted fingerprint, STARTTLS and AUTH), and the real binary's headless check.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "mail/msmsg.h"
#include "tests/core/check_fixture.h"
#include "tests/support/certs.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"
#include "tests/support/free_port.h"
#include "tests/support/scripted_server.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::CheckRig;
using test::Lines;

class QueueIT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ =
        new test::DovecotServer({{"work", "workpw"}, {"alice", "alicepw"}, {"bad", "badpw"}});
    exim_ = new test::EximServer(*dovecot_, {{"work", "workpw"}, {"sender", "senderpw"}});
  }
  static void TearDownTestSuite() {
    delete exim_;
    delete dovecot_;
  }
  void SetUp() override {
    for (const char* u : {"work", "alice", "bad"})
      dovecot_->Clear(u);
  }
  static test::DovecotServer* dovecot_;
  static test::EximServer* exim_;
};
test::DovecotServer* QueueIT::dovecot_ = nullptr;
test::EximServer* QueueIT::exim_ = nullptr;

// A message file as the compose window queues it.
void Queue(const std::string& outDir, const std::string& name,
           const std::string& to = "alice@example.test",
           const std::vector<std::string>& body = {"Hello"}) {
  ms::TmsMessage m;
  m.Sender.Address = "work@example.test";
  m.Recipients.AddItem(ms::TmsMailAddress{"", to});
  m.Subject = name;
  for (const std::string& line : body)
    m.Body.push_back(line);
  fs::create_directories(outDir);
  m.SaveToFile(outDir + "/" + name);
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(QueueIT, RefusedFileStaysOthersAreSentAndDeleted) {
  CheckRig rig;
  tuser& u = rig.Add("Work", "work", "workpw", dovecot_->Pop3Port());
  u.SMTPHost = " 127.0.0.1 ";
  u.SMTPPort = exim_->PlainPort();
  const std::string out = u.OutDir;
  EXPECT_EQ(out, rig.dir.str() + "out/uwork127.0.0.1");
  Queue(out, "1first");
  Queue(out, "2second", "nobody-here@example.test");
  Queue(out, "3third");
  fs::create_directories(out + "/sub");  // not a file: never sent, even while SMTP works
  rig.check.StartCheck();
  EXPECT_EQ(Files(out), (std::vector<std::string>{"2second", "sub"}));
  EXPECT_EQ(exim_->WaitForMessages("alice", 2).size(), 2u);
  const auto log = Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_EQ(log[0].substr(20, 9), "work 550 ") << log[0];
  EXPECT_FALSE(rig.smtp.IsOpen());
  EXPECT_EQ(rig.view.hint, "Новой почты нет");
  // The next check tries the refused file again.
  rig.check.StartCheck();
  EXPECT_EQ(Files(out), (std::vector<std::string>{"2second", "sub"}));
  EXPECT_EQ(Lines(rig.ErrorLog()).size(), 2u);

  // A failed SMTP login (nobody listens, or no host) leaves the queue alone, unlogged.
  const test::ClosedPort closed;
  for (const char* host : {"127.0.0.1", ""}) {
    u.SMTPHost = host;
    u.SMTPPort = closed.Port();
    rig.check.StartCheck();
    EXPECT_EQ(Files(out), (std::vector<std::string>{"2second", "sub"}));
    EXPECT_EQ(Lines(rig.ErrorLog()).size(), 2u);
  }
}

TEST_F(QueueIT, SmtpLoginOverStartTlsAndPlainTextAuthOnlyWhenAllowed) {
  dovecot_->AddMessage("work", "From: a@x\nSubject: s\nMessage-ID: <s1@x>\n\nbody\n");
  CheckRig rig;
  tuser& u = rig.Add("Work", "work", "workpw", dovecot_->Pop3Port());
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
  auto log = Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].substr(20, 9), "work 535 ") << log[0];
  EXPECT_NE(log[0].find(" (сервер не принял имя или пароль SMTP"), std::string::npos);

  // AUTH over a plain connection: refused here, the password never leaves.
  u.SMTPSecurity = 0;
  u.SMTPPort = exim_->AuthPlainPort();
  rig.check.StartCheck();
  EXPECT_TRUE(fs::exists(u.OutDir + "/1"));
  log = Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("needs an encrypted connection"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("(пароль не отправлен без шифрования"), std::string::npos);

  // Allowed, with the right password: sent.
  u.SMTPPlainAuth = true;
  u.SMTPPwd = "senderpw";
  rig.check.StartCheck();
  EXPECT_FALSE(fs::exists(u.OutDir + "/1"));
  EXPECT_EQ(exim_->WaitForMessages("alice", 1).size(), 1u);
  EXPECT_EQ(Lines(rig.ErrorLog()).size(), 2u);
}

#ifdef VIGILO_BINARY
// Runs `vigilo --check` over the program folder `home`: its exit code and output.
std::pair<int, std::string> RunCheck(const test::TempDir& home, const test::TempDir& xdg) {
  const std::string x = xdg.str();
  const int status = std::system(("cd " + x + " && env -u VIGILO_HOME XDG_CONFIG_HOME=" + x +
                                  "config XDG_DATA_HOME=" + x + "data XDG_RUNTIME_DIR=" + x +
                                  "run " VIGILO_BINARY " --check --home " + home.str() + " >" + x +
                                  "stdout 2>" + x + "stderr")
                                     .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFile(xdg.path() / "stdout")};
}

TEST_F(QueueIT, HeadlessCheckPrintsTheTooltipLines) {
  for (int k = 1; k <= 3; ++k)
    dovecot_->AddMessage("work", "From: a@x\nMessage-ID: <h" + std::to_string(k) + "@x>\n\nb\n");
  test::TempDir home, xdg;
  {
    test::Settings st(home);
    st.Add("Work", "work", "workpw", dovecot_->Pop3Port());
    st.Add("Bad", "bad", "wrong", dovecot_->Pop3Port());
    st.Add("NonActive", "alice", "alicepw", dovecot_->Pop3Port(), true);
    st.Save();
  }
  auto [code, out] = RunCheck(home, xdg);
  EXPECT_EQ(code, 0) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(out, "Work-3;\nBad-нет связи\n");
  const auto log = Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_EQ(log[0].substr(20), "bad -ERR [AUTH] Authentication failed.");
  EXPECT_EQ(dovecot_->Messages("work").size(), 3u);

  // No mail: 1; no active configuration could log in: 3.
  dovecot_->Clear("work");
  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out, "Bad-нет связи\nНовой почты нет\n");
  {
    test::Settings st(home, /*fresh=*/false);
    ASSERT_EQ(st.s.Users, 3);
    st.s.Conf[0].UserPwd = "wrong too";
    st.Save();
  }
  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(out, "Work-нет связи\nBad-нет связи\nНовой почты нет\n");
}

// A server that drops the connection at TOP: the check failed (4), whatever the error's text;
// server lines reach the terminal and "error.log" without their control characters.
TEST(HeadlessCheck, ServerErrorsGiveTheFailureCodeAndPrintableText) {
  using namespace test;
  const auto login = [](const std::string& pass) {
    return std::vector<ScriptedServer::Step>{Send("+OK ready\r\n"), Expect("USER u"),
                                             Send("+OK\r\n"), Expect("PASS p"), Send(pass)};
  };
  std::vector<ScriptedServer::Step> script;
  for (const char* top : {"", "-ERR \x1b[31mred\x07\r\n"}) {
    auto s = login("+OK\r\n");
    s.insert(s.end(), {Expect("STAT"), Send("+OK 1 10\r\n"), Expect("UIDL"), Send("-ERR\r\n"),
                       Expect("TOP 1 1"), Send(top), Close()});
    script.insert(script.end(), s.begin(), s.end());
  }
  const auto refused = login("-ERR \x1b]0;title\x07no\r\n");
  script.insert(script.end(), refused.begin(), refused.end());
  ScriptedServer server(script);
  test::TempDir home, xdg;
  {
    test::Settings st(home);
    st.Add("Work", "u", "p", server.Port());
    st.Save();
  }
  auto [code, out] = RunCheck(home, xdg);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(test::ReadFile(xdg.path() / "stderr"), "vigilo: Connection closed by server\n");
  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(test::ReadFile(xdg.path() / "stderr"), "vigilo: -ERR ?[31mred?\n");
  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(out, "Work-нет связи\nНовой почты нет\n");
  const auto log = Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].substr(20), "u -ERR ?]0;title?no");
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

// Also: the lines "." and ".signature" of a queued file arrive as they were written.
TEST_F(QueueIT, HeadlessCheckOverTlsWithTrustedFingerprint) {
  dovecot_->AddMessage("work", "From: a@x\nSubject: s\nMessage-ID: <h1@x>\n\nbody\n");
  test::TempDir home, xdg;
  {
    test::Settings st(home);
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
  const std::string queue = home.str() + "out/uwork127.0.0.1";
  Queue(queue, "1", "alice@example.test", {"first", ".", ".signature", "..double", "last"});
  auto [code, out] = RunCheck(home, xdg);
  EXPECT_EQ(code, 0) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(out, "Work-1;\n");
  EXPECT_TRUE(Files(queue).empty());
  const auto got = exim_->WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);
  const std::string body = got[0].substr(got[0].find("\n\n") + 2);
  EXPECT_NE(body.find("first\n.\n.signature\n..double\nlast\n"), std::string::npos) << got[0];
  EXPECT_EQ(test::ReadFile(home.path() / "error.log"), "");

  // Another fingerprint: neither server is trusted, nothing is sent.
  {
    test::Settings st(home, /*fresh=*/false);
    st.s.Conf.at(0).TrustCert = test::Certificates().other.sha256;
    st.Save();
  }
  Queue(queue, "2");
  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(out, "Work-нет связи\nНовой почты нет\n");
  EXPECT_TRUE(fs::exists(queue + "/2"));
  const auto log = Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 2u);  // the SMTP and the POP3 handshake
  for (const std::string& line : log) {
    EXPECT_NE(line.find("TLS handshake with 127.0.0.1 failed"), std::string::npos) << line;
    EXPECT_NE(line.find("укажите отпечаток сертификата в настройках)"), std::string::npos);
  }
}
#endif

}  // namespace
}  // namespace vigilo
