// The viewer without widgets: display, attachments, code pages and external programs over
// stored messages; the header store; the blacklist editor and the deletion commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/viewer/iconv_helper.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/blackedit.h"
#include "viewer/blacklist.h"
#include "viewer/linkscan.h"
#include "viewer/mailstore.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::AddHead;

std::string Koi(const std::string& utf8) {
  return *test::Iconv(utf8, "UTF-8", "KOI8-R");
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

Strings Ids(const tuser& u) {
  Strings ids;
  for (int32_t i = 0; i < u.HeadCount; ++i)
    ids.push_back(u.Heads[static_cast<std::size_t>(i)].MessageID);
  return ids;
}
std::vector<int> Pages(const tuser& u) {
  std::vector<int> pages;
  for (int32_t i = 0; i < u.HeadCount; ++i)
    pages.push_back(u.Heads[static_cast<std::size_t>(i)].CodePage);
  return pages;
}

struct StoreTest : ::testing::Test, StoredRig {};

TEST_F(StoreTest, SortByNumericSizeParsedDateOrBytesAndIndexTravels) {
  AddHead(s, 0, "a", "Яна", "s", " 1200 байт", "Mon, 7 Dec 2026 10:00:00 +0000");
  AddHead(s, 0, "b", "anna", "s", " 900 байт", "Sun, 6 Dec 2026 10:00:00 +0000");
  AddHead(s, 0, "c", "Boris", "s", " 30000 байт", "Sat, 5 Dec 2026 23:59:00 +0000");
  AddHead(s, 0, "d", "Anton", "s", " 800 байт", "garbage");
  tuser& u = s.Conf[0];
  SortHeads(u, SortKeyOfColumn(2), true);
  EXPECT_EQ(Ids(u), (Strings{"d", "b", "a", "c"}));  // 900 before 1200
  EXPECT_EQ(u.Heads[1].Index, 1);
  SortHeads(u, SortKeyOfColumn(3), true);  // an unreadable date is 0 and comes first
  EXPECT_EQ(Ids(u), (Strings{"d", "c", "b", "a"}));
  SortHeads(u, SortKeyOfColumn(3), false);
  EXPECT_EQ(Ids(u), (Strings{"a", "b", "c", "d"}));
  SortHeads(u, SortKeyOfColumn(0), true);  // bytes: "B" < "a" < Cyrillic
  EXPECT_EQ(Ids(u), (Strings{"d", "c", "b", "a"}));
}

TEST_F(StoreTest, CodePagesFilePairsInListOrderAndChoicesComeBackCaseInsensitively) {
  AddHead(s, 0, "One@x", "f", "s", " 1 байт", "", TCodePage::KOI8R);
  AddHead(s, 0, "two@x", "f", "s", " 1 байт", "", TCodePage::UTF8);
  ASSERT_EQ(SaveCodePages(s.ProgramFolder(), s.Conf[0]), "");
  EXPECT_EQ(test::ReadFile(fs::path(s.Conf[0].InDir) / "info.txt"),
            "One@x\r\nkoi8r\r\ntwo@x\r\nutf8\r\n");

  // The next check stores fresh records; the file gives the choices back.
  s.ClearHeads(0, 0);
  AddHead(s, 0, "new@x", "f", "s", " 1 байт", "", TCodePage::ISO8859);
  AddHead(s, 0, "ONE@X", "f", "s", " 1 байт", "", TCodePage::CP1251);
  AddHead(s, 0, "two@x", "f", "s", " 1 байт", "", TCodePage::CP1251);
  test::WriteFile(fs::path(s.Conf[0].InDir) / "info.txt",
                  "one@x\r\nkoi8r\r\ntwo@x\r\nKOI8R\r\n");  // an edited, unknown name
  LoadCodePages(s.Conf[0]);
  using enum TCodePage;
  EXPECT_EQ(Pages(s.Conf[0]), (std::vector<int>{int(ISO8859), int(KOI8R), int(CP1251)}));
}

TEST(AttachmentCopies, HostileNamesStayInsideTheFolderAndNeverFollowALink) {
  test::TempDir dir;
  const fs::path folder = dir.path() / "tmp";
  fs::create_directory(folder);
  test::WriteFile(dir.path() / "victim", "keep");
  fs::create_symlink(dir.path() / "victim", folder / "planted.txt");
  std::string cyrillicLong;
  while (cyrillicLong.size() < 10000)
    cyrillicLong += "Ж";
  const std::vector<std::string> names = {"../../x",    "/etc/passwd", ".bashrc",
                                          "-rf",        "..",          ".",
                                          "",           "a\rb\nc",     std::string("nul\0x", 5),
                                          "dir\\..\\y", cyrillicLong,  "planted.txt"};
  for (const std::string& name : names) {
    std::string written;
    ASSERT_EQ(WriteAttachmentCopy(folder.string() + "/", name, "data", &written), "") << name;
    EXPECT_LE(written.size(), 255u);
    EXPECT_TRUE(IsValidUtf8(written) || !IsValidUtf8(name)) << name;
    EXPECT_NE(written[0], '.');
    EXPECT_NE(written[0], '-');
    EXPECT_EQ(written.find('/'), std::string::npos);
    const fs::path p = folder / written;
    EXPECT_FALSE(fs::is_symlink(p)) << name;
    EXPECT_EQ(test::ReadFile(p), "data");
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(test::ReadFile(dir.path() / "victim"), "keep");
  // Nothing but the folder and the victim beside it.
  int outside = 0;
  for (const auto& e : fs::directory_iterator(dir.path()))
    outside += e.path() != folder && e.path() != dir.path() / "victim";
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(SafeAttachmentName(cyrillicLong).size(), 254u);  // 127 whole letters
}

TEST(HeaderCodePage, DeclaredPageWinsWhenAllEncodedWordsAgree) {
  const std::vector<std::string> koi = {"From: a@x", "Subject: =?KOI8-R?B?8NLJ18XU?=",
                                        " =?koi8-r?Q?=F7=C1=CE?=", "", "Subject: =?utf-8?B?eA==?="};
  // Two short words that a guess would read as another page.
  EXPECT_EQ(HeaderCodePage(koi, "subject", "\xF0\xD2\xC9\xD7\xC5\xD4"), TCodePage::KOI8R);
  const std::vector<std::string> mixed = {"Subject: =?koi8-r?B?8A==?= =?iso-8859-1?Q?x?="};
  EXPECT_EQ(HeaderCodePage(mixed, "Subject", "abc"), TCodePage::CP1251);  // guessed
  const std::vector<std::string> none = {"Subject: Report =?broken"};
  EXPECT_EQ(HeaderCodePage(none, "Subject", "Report"), TCodePage::CP1251);
}

TEST(LinkAtCaret, WebAndMailAddressesAroundTheCaret) {
  struct Case {
    std::u16string line;
    std::size_t caret;
    std::string link;
    LinkKind kind;
  };
  const std::u16string line = u"See http://example.test/a?b=1. Or write to ivan@mail.test, ok";
  const Case cases[] = {
      {line, 12, "http://example.test/a?b=1", LinkKind::Web},  // no final "."
      {line, 44, "ivan@mail.test", LinkKind::Mail},            // caret inside the name part
      {line, 52, "ivan@mail.test", LinkKind::Mail},            // caret after the "@"
      {line, 2, "", LinkKind::None},                           // a plain word
      {u"www.example.test is here", 5, "www.example.test", LinkKind::Web},
      {u"boss@corp.test: call me", 0, "boss@corp.test", LinkKind::Mail},
      {u"http://x.test", 0, "", LinkKind::None},  // found at position 0 counts as none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link + " at " + std::to_string(c.caret));
    const LinkAtCaret l = FindLinkAtCaret(c.line, c.caret);
    EXPECT_EQ(std::string(l.Text.begin(), l.Text.end()), c.link);  // ASCII in these cases
    EXPECT_EQ(l.Kind, c.kind);
  }
}

// Sorted, no duplicates whatever the letter case (Cyrillic too), no blank entry (which
// would match every mail without a sender); without a selection the commands do nothing.
TEST(BlackEditor, SortedDuplicatesBlankEntriesAndSelection) {
  TBlackEditor e({"zed@x", "Борис <b@x>", "anna@x"});
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "zed@x", "Борис <b@x>"}));
  for (const char* present : {"   ", "  ZED@X ", "БОРИС <B@X>"}) {
    e.Edit = present;
    e.Add();
  }
  EXPECT_EQ(e.Items().size(), 3u);
  EXPECT_EQ(e.Selected(), 2);
  e.Edit = " bob@x ";
  e.Add();
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "bob@x", "zed@x", "Борис <b@x>"}));
  e.Select(-1);
  e.Change();
  e.Remove();
  EXPECT_EQ(e.Items().size(), 4u);
  e.Select(2);
  e.Change();  // "zed@x" into the edit field, the one before it selected
  EXPECT_EQ(e.Edit, "zed@x");
  EXPECT_EQ(e.Selected(), 1);
  e.Select(0);
  e.Remove();
  EXPECT_EQ(e.Result(), (Strings{"bob@x", "Борис <b@x>"}));
  EXPECT_TRUE(IsBlacklisted(e.Result(), "БОРИС <B@X>"));
  EXPECT_FALSE(IsBlacklisted(e.Result(), "Борис Ив. <b@x>"));
}

// Marks wait for the next check, which carries them out (tests/core/check_itest.cpp);
// deletion at once hands the server work the blacklisted rows (the sender as shown, letter
// case ignored), and without a connection nothing is asked of the server.
TEST(DeletionCommands, MarksToggleOrTheServerGetsTheBlacklistedRowsWhenOnline) {
  struct Services : test::RigServices {
    using RigServices::RigServices;
    bool EnsureConnection() override { return online; }
    Strings RefreshHeaders(int32_t, const std::vector<tmailhead>& c) override {
      for (const tmailhead& h : c)
        chosen.push_back(h.MessageID);
      return {};
    }
    bool online = false;
    Strings chosen;
  };
  test::ViewerRig rig;
  Services services(rig);
  TMailViewer viewer(rig.s, rig.pop, services, rig.shown, rig.temp.str());
  rig.Add("W", "w", "p", 110);
  AddHead(rig.s, 0, "1@x", "spam@x", "a", " 1 байт", "");
  AddHead(rig.s, 0, "2@x", "SPAM@X", "b", " 1 байт", "");
  AddHead(rig.s, 0, "3@x", "Анна <a@x>", "c", " 1 байт", "", TCodePage::UTF8);
  rig.s.Black = {"spam@x"};
  const auto marks = [&rig] {
    std::string m;
    for (int32_t i = 0; i < rig.Conf(0).HeadCount; ++i)
      m += rig.Conf(0).Heads[static_cast<std::size_t>(i)].DeleteNext ? '1' : '0';
    return m;
  };
  viewer.Show(0);
  viewer.SelectRecord(2);
  for (const char* want : {"110", "000"}) {
    viewer.DelBlackClick();
    EXPECT_EQ(marks(), want);
  }
  for (const char* want : {"001", "000"}) {
    viewer.DelOneClick();  // the current row alone
    EXPECT_EQ(marks(), want);
  }
  viewer.AddSenderToBlacklist();
  viewer.AddSenderToBlacklist();  // no duplicate test, as the command always did
  EXPECT_EQ(rig.s.Black, (Strings{"spam@x", "Анна <a@x>", "Анна <a@x>"}));
  EXPECT_EQ(test::Settings(rig.dir, false).s.Black.size(), 3u);  // saved at once

  rig.s.Black = {"spam@x"};
  rig.s.delType = true;
  viewer.DelBlackClick();
  EXPECT_TRUE(services.chosen.empty());
  services.online = true;
  viewer.DelBlackClick();
  std::sort(services.chosen.begin(), services.chosen.end());
  EXPECT_EQ(services.chosen, (Strings{"1@x", "2@x"}));
  EXPECT_EQ(marks(), "000");  // nothing marked for the next check
}

}  // namespace
}  // namespace vigilo
