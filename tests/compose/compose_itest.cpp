// Sending a composed message through the suite's Exim: at once, through the queue that
// the next check sends, and when the server refuses or drops the connection.

#include <gtest/gtest.h>

#include <filesystem>

#include "compose/compose.h"
#include "mail/msmime.h"
#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"
#include "tests/support/exim.h"
#include "tests/support/scripted_server.h"
#include "tests/support/server_process.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::CheckRig;
using test::Lines;

class ComposeIT : public ::testing::Test {
 protected:
  void SetUp() override {
    u_ = &rig_.Add("Работа", "work", "workpw", dovecot_.Pop3Port());
    u_->SMTPHost = " 127.0.0.1 ";
    u_->SMTPPort = exim_.PlainPort();
    host_.EnsureConnection = [] { return true; };
    host_.AfterSend = [this] { ++checks_; };
    smtp_.TimeOut = 10;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(u_->OutDir, ec))
      names.push_back(e.path().filename());
    return names;
  }
  SendOutcome Send(const ComposeInput& in, bool delType) {
    return SendComposed(in, *u_, delType, smtp_, mess_, host_);
  }

  test::DovecotServer dovecot_{{"work", "workpw"}, {"alice", "alicepw"}};
  test::EximServer exim_{dovecot_};
  CheckRig rig_;
  tuser* u_ = nullptr;
  ComposeHost host_;
  int checks_ = 0;
  ms::TmsSMTPClient smtp_;
  ms::TmsMessage mess_;
};

TEST_F(ComposeIT, ImmediateCyrillicSendArrivesIntact) {
  const fs::path att = rig_.dir.path() / "отчёт за год.txt";
  test::WriteFile(att, "строка\x01\xff");
  ms::SetMimeTypesFiles({});
  const ComposeInput in{"work@example.test",
                        "Алиса",
                        "alice@example.test",
                        "Привет, как дела?",
                        "  Здравствуйте!\n\nТекст письма.\n\n\n",
                        {att.string()}};
  const SendOutcome out = Send(in, true);
  EXPECT_TRUE(out.Sent);
  EXPECT_FALSE(out.Queued);
  EXPECT_EQ(out.Messages, std::vector<std::string>{kSentText});
  EXPECT_EQ(checks_, 1);
  EXPECT_TRUE(Files().empty());
  const auto got = exim_.WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);

  // Read back by another mail library (Python's email package).
  const fs::path mail = rig_.dir.path() / "got.eml", result = rig_.dir.path() / "result.txt";
  test::WriteFile(mail, got[0]);
  ASSERT_EQ(test::RunShell("/usr/bin/python3 - " + mail.string() + " " + result.string() +
                           R"( <<'EOF'
import sys
from email import policy
from email.parser import BytesParser
from email.utils import parsedate_to_datetime
m = BytesParser(policy=policy.default).parse(open(sys.argv[1], 'rb'))
out = ['subject\t' + str(m['subject'])]
for a in m['from'].addresses + m['to'].addresses:
    out.append('address\t%s\t%s' % (a.display_name, a.addr_spec))
out.append('text\t' + repr(m.get_body(('plain',)).get_content()))
for p in m.iter_attachments():
    out.append('file\t%s\t%s' % (p.get_filename(), p.get_payload(decode=True).hex()))
out.append('date\t%s' % (parsedate_to_datetime(m['date']).tzinfo is not None))
out.append('defects\t%d' % sum(len(p.defects) for p in m.walk()))
open(sys.argv[2], 'w', encoding='utf-8').write('\n'.join(out) + '\n')
EOF
)"),
            0);
  const std::vector<std::string> want = {"subject\tПривет, как дела?",
                                         "address\tРабота\twork@example.test",
                                         "address\tАлиса\talice@example.test",
                                         "text\t'  Здравствуйте!\\n\\nТекст письма.\\n'",
                                         "file\tотчёт за год.txt\td181d182d180d0bed0bad0b001ff",
                                         "date\tTrue",
                                         "defects\t0"};
  EXPECT_EQ(Lines(test::ReadFile(result)), want) << got[0].substr(0, 3000);
}

// A message not sent at once is queued with its box: deferred by the settings (the next
// check sends it), refused by the server (its line shown), without a network, or when the
// connection drops after DATA.
TEST_F(ComposeIT, MessagesNotSentAtOnceAreQueued) {
  ComposeInput in{"work@example.test", "", "alice@example.test", "В очередь", "Текст", {}};
  SendOutcome out = Send(in, false);
  EXPECT_FALSE(out.Sent);
  ASSERT_TRUE(out.Queued);
  EXPECT_EQ(out.Messages, std::vector<std::string>{kQueuedText});
  EXPECT_EQ(checks_, 0);
  EXPECT_EQ(Files(), std::vector<std::string>{out.QueueName});
  rig_.check.StartCheck();
  EXPECT_TRUE(Files().empty());
  const auto got = exim_.WaitForMessages("alice", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("Message-ID: <" + out.QueueName + ">"), std::string::npos) << got[0];

  in.To = "nobody-here@example.test";
  out = Send(in, true);
  EXPECT_FALSE(out.Sent);
  ASSERT_TRUE(out.Queued);
  ASSERT_EQ(out.Messages.size(), 2u);
  EXPECT_NE(out.Messages[0].find("550"), std::string::npos) << out.Messages[0];
  EXPECT_EQ(out.Messages[1], kQueuedText);
  ASSERT_EQ(Files(), std::vector<std::string>{out.QueueName});
  ms::TmsMessage queued;
  queued.LoadFromFile(u_->OutDir + "/" + out.QueueName);
  EXPECT_EQ(queued.Recipients.Items(0).Address, "nobody-here@example.test");
  EXPECT_EQ(queued.Body, std::vector<std::string>{"Текст"});

  host_.EnsureConnection = [] { return false; };
  EXPECT_EQ(Send(in, true).Messages, (std::vector<std::string>{kNoNetwork, kQueuedText}));
  EXPECT_EQ(Files().size(), 2u);

  host_.EnsureConnection = [] { return true; };
  smtp_.HeloName = "client";
  using test::Expect, test::ExpectUntil, test::Close;
  test::ScriptedServer server({test::Send("220 ready\r\n"), Expect("HELO client"),
                               test::Send("250 hi\r\n"), Expect("MAIL FROM:<work@example.test>"),
                               test::Send("250 ok\r\n"), Expect("RCPT TO:<alice@example.test>"),
                               test::Send("250 ok\r\n"), Expect("DATA"), test::Send("354 go\r\n"),
                               ExpectUntil("."), Close()});
  u_->SMTPHost = "127.0.0.1";
  u_->SMTPPort = server.Port();
  in.To = "alice@example.test";
  out = Send(in, true);
  EXPECT_FALSE(out.Sent);
  EXPECT_TRUE(out.Queued);
  EXPECT_EQ(out.Messages.size(), 2u);
  EXPECT_EQ(Files().size(), 3u);
}

}  // namespace
}  // namespace vigilo
