// The viewer's store: header order, the code-page file, attachment copies, links in the text.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/viewer/viewer_fixture.h"
#include "viewer/linkscan.h"
#include "viewer/mailstore.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::AddHead;

std::vector<std::string> Ids(const tuser& u) {
  std::vector<std::string> ids;
  for (int32_t i = 0; i < u.HeadCount; ++i)
    ids.push_back(u.Heads[static_cast<std::size_t>(i)].MessageID);
  return ids;
}

struct StoreTest : ::testing::Test {
  StoreTest() { st.Add("W", "w", "p", 110); }
  test::TempDir dir;
  test::Settings st{dir};
  tusers& s = st.s;
};

TEST_F(StoreTest, SortByNumericSizeParsedDateOrBytesAndIndexTravels) {
  AddHead(s, 0, "a", "Яна", "s", " 1200 байт", "Mon, 7 Dec 2026 10:00:00 +0000");
  AddHead(s, 0, "b", "anna", "s", " 900 байт", "Sun, 6 Dec 2026 10:00:00 +0000");
  AddHead(s, 0, "c", "Boris", "s", " 30000 байт", "Sat, 5 Dec 2026 23:59:00 +0000");
  AddHead(s, 0, "d", "Anton", "s", " 800 байт", "garbage");
  tuser& u = s.Conf[0];
  SortHeads(u, SortKeyOfColumn(2), true);
  EXPECT_EQ(Ids(u), (std::vector<std::string>{"d", "b", "a", "c"}));  // 900 before 1200
  EXPECT_EQ(u.Heads[1].Index, 1);
  SortHeads(u, SortKeyOfColumn(3), true);  // an unreadable date is 0 and comes first
  EXPECT_EQ(Ids(u), (std::vector<std::string>{"d", "c", "b", "a"}));
  SortHeads(u, SortKeyOfColumn(3), false);
  EXPECT_EQ(Ids(u), (std::vector<std::string>{"a", "b", "c", "d"}));
  SortHeads(u, SortKeyOfColumn(0), true);  // bytes: "B" < "a" < Cyrillic
  EXPECT_EQ(Ids(u), (std::vector<std::string>{"d", "c", "b", "a"}));
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
  EXPECT_EQ(s.Conf[0].Heads[0].CodePage, static_cast<uint8_t>(TCodePage::ISO8859));
  EXPECT_EQ(s.Conf[0].Heads[1].CodePage, static_cast<uint8_t>(TCodePage::KOI8R));
  EXPECT_EQ(s.Conf[0].Heads[2].CodePage, static_cast<uint8_t>(TCodePage::CP1251));
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
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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

}  // namespace
}  // namespace vigilo
