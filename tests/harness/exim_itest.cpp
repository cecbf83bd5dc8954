#include "tests/support/exim.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/line_client.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

bool Trusted(const std::string& conf) {
  std::string text = ReadFile("/etc/exim4/trusted_configs");
  return text.find(conf + "\n") != std::string::npos;
}

// One EHLO and MAIL/RCPT/DATA dialogue; returns the reply to the final ".".
std::string SendMail(LineClient& c, const std::string& to, const std::string& body) {
  c.Command("EHLO client.example.test");
  c.ReadSmtpReply();
  if (c.Command("MAIL FROM:<sender@example.org>").substr(0, 3) != "250") return "MAIL";
  std::string rcpt = c.Command("RCPT TO:<" + to + ">");
  if (rcpt.substr(0, 3) != "250") return rcpt;
  if (c.Command("DATA").substr(0, 3) != "354") return "DATA";
  c.Write(body + ".\r\n");
  return c.ReadSmtpReply();
}

class EximServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ = new DovecotServer({{"alice", "alicepw"}, {"bob", "bobpw"}});
    exim_ = new EximServer(*dovecot_, {{"alice", "smtppw"}});
  }
  static void TearDownTestSuite() {
    // Both stop at the same time, in the background.
    delete exim_;
    delete dovecot_;
  }
  void SetUp() override {
    dovecot_->Clear("alice");
    dovecot_->Clear("bob");
  }
  static DovecotServer* dovecot_;
  static EximServer* exim_;
};
DovecotServer* EximServerTest::dovecot_ = nullptr;
EximServer* EximServerTest::exim_ = nullptr;

TEST_F(EximServerTest, DeliversPlainSmtpIntoTheMaildirReadByPop3) {
  LineClient c(exim_->PlainPort());
  ASSERT_EQ(c.ReadLine().substr(0, 3), "220");
  EXPECT_EQ(SendMail(c, "bob@example.test", "Subject: hi\r\n\r\nhello bob\r\n").substr(0, 3),
            "250");
  EXPECT_EQ(c.Command("QUIT").substr(0, 3), "221");
  auto got = exim_->WaitForMessages("bob", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("Return-path:", 0), 0u);
  EXPECT_NE(got[0].find("hello bob"), std::string::npos);

  LineClient pop(dovecot_->Pop3Port());
  pop.ReadLine();
  pop.Command("USER bob");
  ASSERT_EQ(pop.Command("PASS bobpw").substr(0, 3), "+OK");
  EXPECT_EQ(pop.Command("STAT").substr(0, 5), "+OK 1");
}

TEST_F(EximServerTest, RefusesUnknownUsersAndRelaying) {
  LineClient c(exim_->PlainPort());
  c.ReadLine();
  EXPECT_EQ(SendMail(c, "nobody@example.test", "x\r\n").substr(0, 1), "5");
  LineClient d(exim_->PlainPort());
  d.ReadLine();
  EXPECT_EQ(SendMail(d, "someone@elsewhere.example", "x\r\n").substr(0, 1), "5");
}

TEST_F(EximServerTest, AuthPortsRequireAndAcceptLogin) {
  LineClient c(exim_->AuthPlainPort());
  c.ReadLine();
  c.Command("EHLO client.example.test");
  c.ReadSmtpReply();
  EXPECT_EQ(c.Command("MAIL FROM:<a@example.org>").substr(0, 3), "250");
  std::string refused = c.Command("RCPT TO:<alice@example.test>");
  EXPECT_EQ(refused.substr(0, 3), "550");
  EXPECT_NE(refused.find("Authentication required"), std::string::npos);
  c.Command("RSET");
  // base64 of "\0alice\0wrong" and "\0alice\0smtppw"
  EXPECT_EQ(c.Command("AUTH PLAIN AGFsaWNlAHdyb25n").substr(0, 3), "535");
  EXPECT_EQ(c.Command("AUTH PLAIN AGFsaWNlAHNtdHBwdw==").substr(0, 3), "235");
  EXPECT_EQ(SendMail(c, "alice@example.test", "Subject: auth\r\n\r\nbody\r\n").substr(0, 3), "250");
  EXPECT_EQ(exim_->WaitForMessages("alice", 1).size(), 1u);

  LineClient s(exim_->SubmissionPort());
  s.ReadLine();
  s.Write("EHLO client.example.test\r\n");
  std::string caps;
  for (std::string l = s.ReadLine(); !l.empty(); l = s.ReadLine()) {
    caps += l + "\n";
    if (l.size() > 3 && l[3] == ' ') break;
  }
  EXPECT_NE(caps.find("STARTTLS"), std::string::npos);
  EXPECT_EQ(caps.find("AUTH"), std::string::npos);  // AUTH only after STARTTLS
  EXPECT_EQ(s.Command("STARTTLS").substr(0, 3), "220");
}

TEST(EximServer, StopLeavesNothingBehind) {
  DovecotServer dovecot({{"alice", "alicepw"}});
  std::string conf, dir;
  pid_t pid;
  {
    EximServer exim(dovecot);
    dir = exim.Dir();
    conf = dir + "/exim.conf";
    EXPECT_TRUE(Trusted(conf));
    pid = exim.Pid();
    ASSERT_GT(pid, 0);
    dovecot.BeginStop();
    exim.Stop();
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid)));
    EXPECT_FALSE(Trusted(conf));
  }
  for (int i = 0; i < 100 && std::filesystem::exists(dir); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace vigilo::test
