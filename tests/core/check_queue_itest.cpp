// The check's outgoing queue through a real Exim, and the headless check (the real
// binary) against Dovecot and Exim.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "config/myuser.h"
#include "mail/msmsg.h"
#include "tests/core/check_fixture.h"
#include "tests/core/headless_run.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"
#include "tests/support/free_port.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::CheckRig;

class QueueIT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ =
        new test::DovecotServer({{"work", "workpw"}, {"alice", "alicepw"}, {"bad", "badpw"}});
    exim_ = new test::EximServer(*dovecot_);
  }
  static void TearDownTestSuite() {
    delete exim_;
    delete dovecot_;
    exim_ = nullptr;
    dovecot_ = nullptr;
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
void Queue(const std::string& outDir, const std::string& name, const std::string& to,
           const std::string& subject, std::vector<std::string> body = {"Hello"}) {
  ms::TmsMessage m;
  m.Sender.Address = "work@example.test";
  m.Sender.Name = "Work";
  ms::TmsMailAddress r;
  r.Address = to;
  m.Recipients.AddItem(r);
  m.Subject = subject;
  for (std::string& line : body)
    m.Body.push_back(std::move(line));
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
  const int32_t i = rig.Add("Work", "work", "workpw", dovecot_->Pop3Port());
  rig.Conf(i).SMTPHost = " 127.0.0.1 ";
  rig.Conf(i).SMTPPort = exim_->PlainPort();
  const std::string out = rig.Conf(i).OutDir;
  EXPECT_EQ(out, rig.dir.str() + "out/uwork127.0.0.1");
  Queue(out, "1first", "alice@example.test", "first");
  Queue(out, "2second", "nobody-here@example.test", "second");
  Queue(out, "3third", "alice@example.test", "third");

  rig.check.StartCheck();
  EXPECT_EQ(Files(out), (std::vector<std::string>{"2second"}));
  const auto got = exim_->WaitForMessages("alice", 2);
  ASSERT_EQ(got.size(), 2u);
  const auto log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_EQ(log[0].substr(20, 9), "work 550 ") << log[0];
  EXPECT_FALSE(rig.smtp.IsOpen());
  EXPECT_EQ(rig.view.hint, "Новой почты нет");

  // The next check tries the refused file again.
  rig.check.StartCheck();
  EXPECT_EQ(Files(out), (std::vector<std::string>{"2second"}));
  EXPECT_EQ(test::Lines(rig.ErrorLog()).size(), 2u);
}

TEST_F(QueueIT, SmtpLoginFailureLeavesTheQueueAlone) {
  CheckRig rig;
  const int32_t i = rig.Add("Work", "work", "workpw", dovecot_->Pop3Port());
  rig.Conf(i).SMTPHost = "127.0.0.1";
  rig.Conf(i).SMTPPort = test::FreePort();  // nobody listens
  const std::string out = rig.Conf(i).OutDir;
  Queue(out, "a", "alice@example.test", "a");
  Queue(out, "b", "alice@example.test", "b");
  fs::create_directories(out + "/sub");  // not a file: never sent
  rig.check.StartCheck();
  EXPECT_EQ(Files(out), (std::vector<std::string>{"a", "b", "sub"}));
  EXPECT_EQ(rig.ErrorLog(), "");
  EXPECT_FALSE(rig.smtp.IsOpen());
  // An empty SMTP host is a failed login too.
  rig.Conf(i).SMTPHost = "";
  rig.check.StartCheck();
  EXPECT_EQ(Files(out).size(), 3u);
  EXPECT_EQ(rig.ErrorLog(), "");
}

#ifdef VIGILO_BINARY
using test::RunCheck;
using test::RunResult;
using test::StoredSettings;

TEST_F(QueueIT, HeadlessCheckPrintsTheTooltipLines) {
  for (int k = 1; k <= 3; ++k) {
    dovecot_->AddMessage("work", "From: a@x\nSubject: s" + std::to_string(k) + "\nMessage-ID: <h" +
                                     std::to_string(k) + "@x>\n\nbody\n");
  }
  test::TempDir home, xdg;
  {
    StoredSettings st(home);
    st.Add("Work", "work", "workpw", dovecot_->Pop3Port());
    st.Add("Bad", "bad", "wrong", dovecot_->Pop3Port());
    st.Add("NonActive", "alice", "alicepw", dovecot_->Pop3Port(), true);
    st.Save();
  }
  RunResult r = RunCheck(home, xdg);
  EXPECT_EQ(r.code, 0) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_EQ(r.out, "Work-3;\nBad-нет связи\n");
  const auto log = test::Lines(test::ReadFile(home.path() / "error.log"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_EQ(log[0].substr(20), "bad -ERR [AUTH] Authentication failed.");
  EXPECT_EQ(dovecot_->Messages("work").size(), 3u);

  // No mail: 1; no active configuration could log in: 3.
  dovecot_->Clear("work");
  r = RunCheck(home, xdg);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "Bad-нет связи\nНовой почты нет\n");
  {
    StoredSettings st(home, /*fresh=*/false);
    ASSERT_EQ(st.s.Users, 3);
    st.s.Conf[0].UserPwd = "wrong too";
    st.Save();
  }
  r = RunCheck(home, xdg);
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out, "Work-нет связи\nBad-нет связи\nНовой почты нет\n");
}

TEST_F(QueueIT, HeadlessCheckSendsTheQueueWithDotLinesIntact) {
  test::TempDir home, xdg;
  {
    StoredSettings st(home);
    tuser& u = st.Add("Work", "work", "workpw", dovecot_->Pop3Port());
    u.SMTPHost = "127.0.0.1";
    u.SMTPPort = exim_->PlainPort();
    st.Save();
  }
  const std::string out = home.str() + "out/uwork127.0.0.1";
  Queue(out, "123$20261206120000@127.0.0.1", "alice@example.test", "dots",
        {"first", ".", ".signature", "..double", "last"});
  const RunResult r = RunCheck(home, xdg);
  EXPECT_EQ(r.code, 1) << test::ReadFile(xdg.path() / "stderr");
  EXPECT_TRUE(Files(out).empty());
  const auto got = exim_->WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);
  const std::string& m = got[0];
  const std::string body = m.substr(m.find("\n\n") + 2);
  EXPECT_NE(body.find("first\n.\n.signature\n..double\nlast\n"), std::string::npos) << m;
  EXPECT_EQ(test::ReadFile(home.path() / "error.log"), "");
}
#endif

}  // namespace
}  // namespace vigilo
