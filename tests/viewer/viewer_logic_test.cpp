// The viewer over stored messages: display, attachments, code pages, external programs.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/viewer/iconv_helper.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/mailstore.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::AddHead;
using test::Iconv;

std::string Koi(const std::string& utf8) {
  return *Iconv(utf8, "UTF-8", "KOI8-R");
}

struct StoredRig : test::ViewerRig {
  StoredRig() {
    Add("Work", "work", "pw", 110);
    fs::create_directories(Conf(0).InDir);
  }
  void Store(const std::string& id, const std::string& bytes) {
    test::WriteFile(MessageFilePath(Conf(0).InDir, id), bytes);
  }
};

const std::string kMixed =
    "From: a@x\r\nSubject: hi\r\nMessage-ID: <m1@x>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
    "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello there\r\n"
    "--b1\r\nContent-Type: application/octet-stream; name=\"../../evil.sh\"\r\n"
    "Content-Disposition: attachment; filename=\"../../evil.sh\"\r\n\r\nrm -rf /\r\n"
    "--b1\r\nContent-Type: text/plain; name=\"my file; rm.txt\"\r\n"
    "Content-Disposition: attachment; filename=\"my file; rm.txt\"\r\n\r\nnotes\r\n"
    "--b1--\r\n";

TEST(MailViewer, ShowsBodyAndAttachmentsAndHandsAPathAsOneArgument) {
  StoredRig rig;
  AddHead(rig.s, 0, "m1@x", "a@x", "hi", " 10 байт", "Sun, 6 Dec 2026 10:00:00 +0000");
  AddHead(rig.s, 0, "m2@x", "b@x", "no file", " 10 байт", "Mon, 7 Dec 2026 10:00:00 +0000");
  rig.Store("m1@x", kMixed);
  rig.viewer.AntivirusProgram = " /opt/av/scan ";
  rig.viewer.Show(0);

  EXPECT_EQ(rig.shown.text, "Hello there");
  EXPECT_EQ(rig.shown.attachments, (std::vector<std::string>{"evil.sh", "my file; rm.txt"}));
  for (const auto& [name, path] : rig.shown.paths) {
    EXPECT_EQ(fs::path(path).parent_path(), rig.temp.path()) << name;
    EXPECT_TRUE(fs::is_regular_file(path));
  }
  rig.viewer.CheckAttachment("my file; rm.txt");
  ASSERT_EQ(rig.services.started.size(), 1u);
  EXPECT_EQ(rig.services.started[0].program, "/opt/av/scan");  // the path is one argument
  EXPECT_EQ(rig.services.started[0].args,
            (std::vector<std::string>{rig.temp.str() + "my file; rm.txt"}));
  rig.viewer.OpenAttachment("&evil.sh");  // a caption with its accelerator
  EXPECT_EQ(rig.services.opened, (std::vector<std::string>{rig.temp.str() + "evil.sh"}));
  const fs::path saved = rig.dir.path() / "saved.sh";
  EXPECT_EQ(rig.viewer.SaveAttachment("evil.sh", saved.string()), "");
  EXPECT_EQ(test::ReadFile(saved), "rm -rf /");

  rig.viewer.SelectRecord(1);  // not downloaded: nothing to show
  EXPECT_EQ(rig.shown.text + std::to_string(rig.shown.attachments.size()), "0");
  // A file far over any message's size (sparse here) is not read at all.
  rig.Store("m2@x", "");
  fs::resize_file(MessageFilePath(rig.Conf(0).InDir, "m2@x"), std::uintmax_t{300} << 20);
  rig.viewer.SelectRecord(0);
  rig.viewer.SelectRecord(1);
  EXPECT_EQ(rig.shown.text + std::to_string(rig.shown.attachments.size()), "0");

  rig.viewer.ShowAll = true;
  rig.viewer.SelectRecord(0);
  EXPECT_NE(rig.shown.text.find("Content-Type: multipart/mixed"), std::string::npos);
}

const std::string kSender = "Иван Петрович Сидоров, отдел продаж <i@x>";

TEST(MailViewer, DeclaredCharsetWinsUntilTheUserPicksAPage) {
  StoredRig rig;
  // An ASCII subject let the check guess CP1251; the body declares KOI8-R.
  AddHead(rig.s, 0, "k@x", Koi(kSender), "Report", " 1 байт", "", TCodePage::CP1251);
  rig.Store("k@x",
            "From: i@x\r\nSubject: Report\r\nMessage-ID: <k@x>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=koi8-r\r\n\r\n" +
                Koi("Привет, мир") + "\r\n");
  rig.viewer.Show(0);
  EXPECT_EQ(rig.shown.text, "Привет, мир");
  EXPECT_NE(rig.viewer.CellText(0, 0), kSender);

  rig.viewer.SetCodePage(TCodePage::KOI8R);
  EXPECT_EQ(rig.shown.page, TCodePage::KOI8R);
  EXPECT_EQ(rig.viewer.CellText(0, 0), kSender);
  EXPECT_EQ(rig.shown.text, "Привет, мир");

  rig.viewer.SetCodePage(TCodePage::CP866);  // the user's page now wins over the label
  EXPECT_EQ(rig.shown.text, ToUtf8(Koi("Привет, мир"), TCodePage::CP866));
  rig.viewer.Redetect();  // the ASCII subject says CP1251, which differs: it wins
  EXPECT_EQ(rig.Conf(0).Heads[0].CodePage, static_cast<uint8_t>(TCodePage::CP1251));
  rig.viewer.Redetect();  // the subject agrees now, so the sender's name decides
  EXPECT_EQ(rig.Conf(0).Heads[0].CodePage, static_cast<uint8_t>(TCodePage::KOI8R));
}

TEST(MailViewer, AttachmentNamesFollowThePage) {
  StoredRig rig;
  const std::string name = Koi("отчёт.txt");
  AddHead(rig.s, 0, "n@x", "a@x", "s", " 1 байт", "", TCodePage::KOI8R);
  rig.Store("n@x",
            "From: a@x\r\nMessage-ID: <n@x>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"q\"\r\n\r\n--q\r\n"
            "Content-Type: text/plain\r\n\r\nbody\r\n--q\r\n"
            "Content-Type: text/plain\r\nContent-Disposition: attachment; filename=\"" +
                name + "\"\r\n\r\nx\r\n--q--\r\n");
  rig.viewer.Show(0);
  EXPECT_EQ(rig.shown.attachments, (std::vector<std::string>{"отчёт.txt"}));
  rig.viewer.SetCodePage(TCodePage::CP1251);
  EXPECT_EQ(rig.shown.attachments, (std::vector<std::string>{ToUtf8(name, TCodePage::CP1251)}));
}

}  // namespace
}  // namespace vigilo
