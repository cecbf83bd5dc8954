// The viewer's download against a real Dovecot on 127.0.0.1.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/dovecot.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/mailstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

std::string Plain(const std::string& id, const std::string& body) {
  return "From: Sender <s@example.test>\nTo: work@example.test\nSubject: " + id +
         "\nDate: Sun, 6 Dec 2026 10:00:00 +0000\nMessage-ID: <" + id + ">\n\n" + body + "\n";
}

const std::string kMultipart =
    "From: Sender <s@example.test>\nTo: work@example.test\nSubject: parts\n"
    "Message-ID: <parts@x>\nMIME-Version: 1.0\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
    "--alt\nContent-Type: text/plain; charset=us-ascii\n\nThe plain text\n"
    "--alt\nContent-Type: text/html; charset=us-ascii\n\n<p>The page</p>\n"
    "--alt\nContent-Type: application/pdf; name=\"report.pdf\"\n"
    "Content-Disposition: attachment; filename=\"report.pdf\"\n"
    "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n--alt--\n";

class ViewerIT : public ::testing::Test {
 protected:
  // Headers as a check leaves them, then the viewer on them.
  void CheckAndShow() {
    rig.pop.TimeOut = 20;
    rig.Add("Work", "work", "workpw", server_.Pop3Port());
    rig.check.StartCheck();
    rig.viewer.SortColumn = 5;  // "ID сообщения": the records in a known order
    rig.viewer.Show(0);
  }
  // The current record's message fetched; whether one was stored.
  bool Download() {
    bool ok = false;
    rig.viewer.Download([&ok](bool stored) { ok = stored; });
    return ok;
  }
  void Select(const std::string& id) {
    for (int i = 0; i < rig.viewer.HeadCount(); ++i) {
      if (rig.Conf(0).Heads[static_cast<std::size_t>(i)].MessageID == id)
        rig.viewer.SelectRecord(i);
    }
  }
  std::string Stored(const std::string& id) {
    for (const tmailhead& h : rig.Conf(0).Heads) {
      if (h.MessageID == id) return test::ReadFile(HeadFilePath(rig.Conf(0), h));
    }
    return {};
  }

  test::DovecotServer server_{{"work", "workpw"}};
  test::ViewerRig rig;
};

TEST_F(ViewerIT, DownloadShowsTheBodyAndAttachmentsAndARepeatAsksFirst) {
  server_.AddMessage("work", kMultipart);
  CheckAndShow();
  ASSERT_EQ(rig.viewer.HeadCount(), 1);
  ASSERT_TRUE(Download());
  EXPECT_EQ(rig.shown.text, "The plain text");
  EXPECT_EQ(rig.shown.attachments, (std::vector<std::string>{"temp.html", "report.pdf"}));
  EXPECT_EQ(test::ReadFile(rig.shown.paths["report.pdf"]), "%PDF-1.4\n");
  EXPECT_TRUE(rig.shown.asked.empty());

  const std::string file = HeadFilePath(rig.Conf(0), rig.Conf(0).Heads[0]);
  test::WriteFile(file, "old copy");
  rig.shown.answer = false;
  EXPECT_FALSE(Download());
  EXPECT_EQ(rig.shown.asked,
            (std::vector<std::string>{"Это сообщение уже закачано.Повторить закачку?"}));
  EXPECT_EQ(test::ReadFile(file), "old copy");
  rig.shown.answer = true;
  EXPECT_TRUE(Download());
  EXPECT_NE(test::ReadFile(file).find("parts@x"), std::string::npos);
  EXPECT_EQ(rig.shown.text, "The plain text");
  EXPECT_EQ(rig.busy, 0);
  // No temporary file is left beside the message.
  EXPECT_EQ(std::distance(fs::directory_iterator(rig.Conf(0).InDir), fs::directory_iterator()), 1);
}

TEST_F(ViewerIT, AMailboxChangedSinceTheCheckNeverGivesTheWrongMessage) {
  for (const char* id : {"a@x", "b@x", "c@x"})
    server_.AddMessage("work", Plain(id, std::string("body of ") + id));
  CheckAndShow();
  ASSERT_EQ(rig.viewer.HeadCount(), 3);
  // Behind the viewer's back another client deletes the first message, and one arrives.
  ms::TmsPOPClient other;
  other.SetHost("127.0.0.1");
  other.Port = server_.Pop3Port();
  other.UserName = "work";
  other.Password = "workpw";
  ms::TmsMessage m;
  other.MailMessage = &m;
  other.Login();
  other.SetCurrentMessage(0);
  other.DeleteMessage();
  other.Quit();
  server_.AddMessage("work", Plain("d@x", "body of d@x"));

  Select("b@x");  // number 2 at the check, number 1 now
  ASSERT_TRUE(Download());
  EXPECT_NE(Stored("b@x").find("body of b@x"), std::string::npos);
  EXPECT_EQ(rig.shown.text, "body of b@x");
  Select("c@x");  // number 3 at the check: d@x has that number now
  ASSERT_TRUE(Download());
  EXPECT_NE(Stored("c@x").find("body of c@x"), std::string::npos);

  Select("a@x");  // gone: nothing stored, the user is told
  EXPECT_FALSE(Download());
  EXPECT_EQ(Stored("a@x"), "");
  ASSERT_EQ(rig.shown.informed.size(), 1u);
  EXPECT_NE(rig.shown.informed[0].find("на сервере уже нет"), std::string::npos);
  EXPECT_EQ(rig.shown.text, "");
  EXPECT_EQ(server_.Messages("work").size(), 3u);  // the viewer deleted nothing
}

}  // namespace
}  // namespace vigilo
