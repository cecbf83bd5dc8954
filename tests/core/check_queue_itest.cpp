// The check's outgoing queue through a real Exim, and the real binary's headless check (also
// over TLS with a trusted fingerprint, STARTTLS and AUTH).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "mail/msmsg.h"
#include "tests/core/check_fixture.h"
#include "tests/support/certs.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"
#include "tests/support/free_port.h"
#include "tests/support/mail_date.h"
#include "tests/support/scripted_server.h"
#include "tests/support/server_process.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::CheckCommand;
using test::CheckRig;
using test::Lines;
using test::RunCheck;

class QueueIT : public ::testing::Test {
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
  if (!to.empty()) m.Recipients.AddItem(ms::TmsMailAddress{"", to});
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
  const std::vector<std::string> left = {"2second", "sub"};
  rig.check.StartCheck();
  EXPECT_EQ(Files(out), left);
  EXPECT_EQ(exim_->WaitForMessages("alice", 2).size(), 2u);
  const auto log = Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_EQ(log[0].substr(20, 9), "work 550 ") << log[0];
  EXPECT_FALSE(rig.smtp.IsOpen());
  rig.check.StartCheck();  // the next check tries the refused file again
  EXPECT_EQ(Files(out), left);
  EXPECT_EQ(Lines(rig.ErrorLog()).size(), 2u);

  // A failed SMTP login (nobody listens, or no host) leaves the queue alone, unlogged.
  const test::ClosedPort closed;
  for (const char* host : {"127.0.0.1", ""}) {
    u.SMTPHost = host;
    u.SMTPPort = closed.Port();
    rig.check.StartCheck();
    EXPECT_EQ(Files(out), left);
    EXPECT_EQ(Lines(rig.ErrorLog()).size(), 2u);
  }
}

// Claimed files are never sent twice: a file without recipients stays, a file that was
// sent but cannot be deleted is kept under another name and reported once, and a file a
// run left claimed is not sent again. The sender adds a missing Date and Message-ID.
TEST_F(QueueIT, ClaimedFilesAreNeverSentTwiceAndMissingFieldsAreAdded) {
  CheckRig rig;
  tuser& u = rig.Add("Work", "work", "workpw", dovecot_->Pop3Port());
  u.SMTPHost = "127.0.0.1";
  u.SMTPPort = exim_->PlainPort();
  const std::string out = u.OutDir;
  Queue(out, "1nobody", "");
  Queue(out, "2undeletable");
  test::WriteFile(fs::path(out) / "3left.sending",
                  "From: a@x\r\nTo: alice@example.test\r\n\r\nx\r\n");
  test::WriteFile(fs::path(out) / ".4being-written", "half");
  // Once the server has the message, its claimed file turns into something that
  // cannot be deleted.
  rig.smtp.OnSent = [&](ms::TmsSocketBase&) {
    const fs::path claimed = fs::path(out) / "2undeletable.sending";
    fs::remove(claimed);
    fs::create_directories(claimed / "inside");
  };
  rig.check.StartCheck();
  rig.smtp.OnSent = nullptr;
  EXPECT_EQ(Files(out), (std::vector<std::string>{".4being-written", "1nobody", "2undeletable.sent",
                                                  "3left.interrupted"}));
  auto log = Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 3u) << rig.ErrorLog();
  EXPECT_NE(log[0].find("3left.interrupted was being sent when a check ended"), std::string::npos);
  EXPECT_NE(log[1].find("The message has no recipients"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find("2undeletable was sent but cannot be deleted"), std::string::npos);
  const auto got = exim_->WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);
  const std::string date = test::HeaderLineValue(got[0], "Date");
  EXPECT_TRUE(test::IsMailDate(date)) << got[0];
  const std::string id = test::HeaderLineValue(got[0], "Message-ID");
  EXPECT_EQ(fnmatch("<*@example.test>", id.c_str(), 0), 0) << got[0];
  EXPECT_EQ(id.find_first_of(" <>@", 1), id.find('@')) << id;

  // Nothing more is sent or reported.
  Queue(out, "5next");
  rig.check.StartCheck();
  EXPECT_EQ(exim_->WaitForMessages("alice", 2).size(), 2u);
  EXPECT_EQ(Lines(rig.ErrorLog()).size(), 4u);  // only 1nobody, again
  EXPECT_FALSE(fs::exists(out + "/5next"));
}

#ifdef VIGILO_BINARY
// A home with one configuration sending through the suite's Exim: its queue folder.
std::string QueueHome(const test::TempDir& home, int pop3Port, int smtpPort) {
  test::Settings st(home);
  tuser& u = st.Add("Work", "work", "workpw", pop3Port);
  u.SMTPHost = "127.0.0.1";
  u.SMTPPort = smtpPort;
  st.Save();
  return u.OutDir;
}

// Counts the lines of Exim's main log that contain `what`.
std::size_t EximLogCount(const std::string& dir, const std::string& what) {
  const std::string log = test::ReadFile(dir + "/log/mainlog");
  std::size_t n = 0;
  for (std::size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1))
    ++n;
  return n;
}

// Two checks at once (a status bar beside the tray program): each queued message goes
// out exactly once.
TEST_F(QueueIT, TwoConcurrentHeadlessChecksSendEachQueuedMessageOnce) {
  test::TempDir home, xdg1, xdg2;
  const std::string queue = QueueHome(home, dovecot_->Pop3Port(), exim_->PlainPort());
  for (int k = 10; k < 40; ++k)
    Queue(queue, "m" + std::to_string(k));
  const std::size_t received = EximLogCount(exim_->Dir(), " <= ");
  const std::string both =
      "(" + CheckCommand(home, xdg1) + ") & (" + CheckCommand(home, xdg2) + ") & wait";
  ASSERT_EQ(std::system(("sh -c '" + both + "'").c_str()), 0);
  EXPECT_TRUE(Files(queue).empty());
  // Exim logs each message it accepts before it answers: exactly 30 were accepted.
  EXPECT_EQ(EximLogCount(exim_->Dir(), " <= ") - received, 30u);
  const auto got = exim_->WaitForMessages("alice", 30);
  std::map<std::string, int> subjects;
  for (const std::string& m : got)
    ++subjects[m.substr(m.find("Subject: ") + 9, 3)];
  EXPECT_EQ(got.size(), 30u);
  EXPECT_EQ(subjects.size(), 30u);
  EXPECT_EQ(test::ReadFile(home.path() / "error.log"), "");
}

// A temporary folder too small for the message (here a file-size limit): nothing is
// sent, the queue file stays and the reason is logged; the next check sends it whole.
TEST_F(QueueIT, AFullTemporaryFolderLeavesTheQueueFileAndLogsWhy) {
  test::TempDir home, xdg;
  const std::string queue = QueueHome(home, dovecot_->Pop3Port(), exim_->PlainPort());
  std::vector<std::string> body;
  for (int k = 0; k < 4000; ++k)
    body.push_back("line " + std::to_string(k) + std::string(70, 'x'));  // about 300 kB
  Queue(queue, "big", "alice@example.test", body);
  auto [code, out] = RunCheck(home, xdg, "prlimit --fsize=131072 ");
  EXPECT_EQ(code, 1) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(Files(queue), std::vector<std::string>{"big"});
  const auto log = Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Cannot write the temporary file"), std::string::npos) << log[0];

  std::tie(code, out) = RunCheck(home, xdg);
  EXPECT_TRUE(Files(queue).empty());
  const auto got = exim_->WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("line 3999" + std::string(70, 'x')), std::string::npos);
}

// The exit codes a status bar reads (mail is 0: see the TLS check; no mail is 1: see the full
// temporary folder): a server that drops the connection at TOP fails the check (4) whatever
// the error's text, a refused login is 3; server lines reach the terminal and "error.log"
// without their control characters.
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
  Queue(queue, "1");
  auto [code, out] = RunCheck(home, xdg);
  EXPECT_EQ(code, 0) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(out, "Work-1;\n");
  EXPECT_TRUE(Files(queue).empty());
  EXPECT_EQ(exim_->WaitForMessages("alice", 1).size(), 1u);
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
