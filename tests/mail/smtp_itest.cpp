// The SMTP client against a real Exim that delivers into Dovecot's maildirs; the message is
// read back over POP3 and compared field by field.

#include <gtest/gtest.h>

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

// Dot lines and Cyrillic, in the subject and the body, and files arrive as they were written.
TEST(SmtpReal, MessageWithDotLinesCyrillicAndFilesArrivesExact) {
  DovecotServer dovecot({{"alice", "alicepw"}});
  EximServer exim(dovecot);
  ms::TmsMessage out;
  out.Sender = {"Ann", "ann@example.test"};
  out.Recipients.Add("alice@example.test", "Alice");
  out.Subject = "Привет, мир";
  out.Body = {"First line", ".", ".x", "..two", "", "Съешь же ещё этих мягких булок."};
  const std::string binary = mailtest::RandomBytes(70000, 5);
  const std::string text = "line one\r\n.\r\n.dot line\r\nend\r\n";
  for (const auto& [name, data] : {std::pair{"random.bin", binary}, std::pair{"notes.txt", text}}) {
    ms::TmsAttItem item;
    item.SetFileName(name);
    item.Data = data;
    out.Attachments.AddItem(item);
  }
  const ms::TmsStrings sent = out.Body;
  ms::TmsSMTPClient smtp;
  smtp.SetHost("127.0.0.1:" + std::to_string(exim.PlainPort()));
  smtp.TimeOut = 20;
  smtp.HeloName = "client.example.test";
  smtp.MailMessage = &out;
  smtp.Login();
  smtp.SendMessage();
  smtp.Quit();
  EXPECT_EQ(out.Body, sent);  // sending changed nothing

  exim.WaitForMessages("alice", 1);
  ms::TmsPOPClient pop;
  pop.SetHost("127.0.0.1:" + std::to_string(dovecot.Pop3Port()));
  pop.UserName = "alice";
  pop.Password = "alicepw";
  pop.TimeOut = 20;
  ms::TmsMessage in;
  pop.MailMessage = &in;
  pop.Login();
  EXPECT_EQ(1, pop.MessageCount());
  pop.Retrieve();
  pop.Quit();
  EXPECT_EQ(out.Subject, in.Subject);
  EXPECT_EQ("ann@example.test", in.Sender.Address);
  ASSERT_EQ(1, in.Recipients.Count());
  EXPECT_EQ("alice@example.test", in.Recipients.Items(0).Address);
  ms::TmsStrings body = in.Body;
  while (!body.empty() && body.back().empty())
    body.pop_back();
  EXPECT_EQ(out.Body, body);
  ASSERT_EQ(2, in.Attachments.Count());
  mailtest::ExpectFile(in, 0, "random.bin", binary);
  mailtest::ExpectFile(in, 1, "notes.txt", text);
  // The stored message holds the lines themselves, not their stuffed form.
  const std::string stored = dovecot.Messages("alice").at(0);
  const bool asWritten = stored.find("\n.\n.x\n..two\n") != std::string::npos ||
                         stored.find("\n.\r\n.x\r\n..two\r\n") != std::string::npos;
  EXPECT_TRUE(asWritten) << stored;
}

}  // namespace
