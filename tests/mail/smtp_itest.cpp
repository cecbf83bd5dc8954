// The SMTP client against a real Exim that delivers into Dovecot's maildirs; every message is
// read back over POP3 and compared field by field.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "mail/mssmtp.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"

namespace {

using namespace vigilo::test;

class SmtpReal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<MailUser>{{"alice", "alicepw"}, {"bob", "bobpw"}, {"carol", "carolpw"}});
    exim_ = std::make_unique<EximServer>(*dovecot_);
  }
  static void TearDownTestSuite() {
    exim_.reset();
    dovecot_.reset();
  }

  void SetUp() override {
    for (const char* u : {"alice", "bob", "carol"})
      dovecot_->Clear(u);
    smtp_.SetHost("127.0.0.1:" + std::to_string(exim_->PlainPort()));
    smtp_.TimeOut = 20;
    smtp_.HeloName = "client.example.test";
    smtp_.MailMessage = &out_;
    out_.Sender.Name = "Ann";
    out_.Sender.Address = "ann@example.test";
    out_.Recipients.Add("alice@example.test", "Alice");
  }

  // Sends out_ in a session of its own.
  void SendOne() {
    smtp_.Login();
    smtp_.SendMessage();
    smtp_.Quit();
  }

  // The single message in user's mailbox, read over POP3 and decoded.
  ms::TmsMessage Receive(const std::string& user, const std::string& password) {
    exim_->WaitForMessages(user, 1);
    ms::TmsPOPClient pop;
    pop.SetHost("127.0.0.1:" + std::to_string(dovecot_->Pop3Port()));
    pop.UserName = user;
    pop.Password = password;
    pop.TimeOut = 20;
    ms::TmsMessage in;
    pop.MailMessage = &in;
    pop.Login();
    EXPECT_EQ(1, pop.MessageCount());
    pop.Retrieve();
    pop.Quit();
    return in;
  }

  static std::unique_ptr<DovecotServer> dovecot_;
  static std::unique_ptr<EximServer> exim_;
  ms::TmsSMTPClient smtp_;
  ms::TmsMessage out_;
};
std::unique_ptr<DovecotServer> SmtpReal::dovecot_;
std::unique_ptr<EximServer> SmtpReal::exim_;

// Dot lines and Cyrillic, in the subject and the body, arrive as they were written.
TEST_F(SmtpReal, PlainMessageWithDotLinesAndCyrillic) {
  out_.Subject = "Привет, мир";
  out_.Body = {"First line", ".", ".x", "..two", "", "Съешь же ещё этих мягких булок."};
  std::vector<std::string> events;
  smtp_.OnSent = [&](ms::TmsSocketBase&) { events.push_back("sent"); };
  SendOne();
  EXPECT_EQ(std::vector<std::string>{"sent"}, events);
  const ms::TmsStrings sent = out_.Body;
  const ms::TmsMessage in = Receive("alice", "alicepw");
  EXPECT_EQ(out_.Body, sent);  // sending changed nothing
  EXPECT_EQ(out_.Subject, in.Subject);
  EXPECT_EQ("ann@example.test", in.Sender.Address);
  ASSERT_EQ(1, in.Recipients.Count());
  EXPECT_EQ("alice@example.test", in.Recipients.Items(0).Address);
  ms::TmsStrings body = in.Body;
  while (!body.empty() && body.back().empty())
    body.pop_back();
  EXPECT_EQ(out_.Body, body);
  // The stored message holds the lines themselves, not their stuffed form.
  const std::string stored = dovecot_->Messages("alice").at(0);
  const bool asWritten = stored.find("\n.\n.x\n..two\n") != std::string::npos ||
                         stored.find("\n.\r\n.x\r\n..two\r\n") != std::string::npos;
  EXPECT_TRUE(asWritten) << stored;
}

TEST_F(SmtpReal, AttachmentsArriveByteExact) {
  out_.Subject = "Files";
  out_.Body = {"See the files."};
  const std::string binary = mailtest::RandomBytes(70000, 5);
  const std::string text = "line one\r\n.\r\n.dot line\r\nend\r\n";
  for (const auto& [name, data] : {std::pair{"random.bin", binary}, std::pair{"notes.txt", text}}) {
    ms::TmsAttItem item;
    item.SetFileName(name);
    item.Data = data;
    out_.Attachments.AddItem(item);
  }
  SendOne();
  const ms::TmsMessage in = Receive("alice", "alicepw");
  EXPECT_EQ("Files", in.Subject);
  ASSERT_EQ(2, in.Attachments.Count());
  EXPECT_EQ("random.bin", in.Attachments.Items(0).FileName());
  EXPECT_EQ(binary, in.Attachments.Items(0).Data);
  EXPECT_EQ("notes.txt", in.Attachments.Items(1).FileName());
  EXPECT_EQ(text, in.Attachments.Items(1).Data);
}

}  // namespace
