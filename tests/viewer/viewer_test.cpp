// The viewer without widgets: code pages; display, attachments and external programs over
// stored messages; the header store; the blacklist editor and the deletion commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>

#include "tests/viewer/iconv_helper.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/CyrCoder.h"
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

// Code pages: every conversion table and every page's Unicode mapping against glibc's
// iconv, the converter component, broken input, guessing and declared pages.

constexpr TCodePage kSingleByte[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                     TCodePage::ISO8859};
constexpr TCodePage kAllPages[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                   TCodePage::ISO8859, TCodePage::UTF8};

std::string In(TCodePage page, const std::string& utf8) {
  return *test::Iconv(utf8, "UTF-8", test::kIconvNames[int(page)]);
}

struct Range {
  int first, last, value;
};

// The deliberate departures from "same character, else ? (or the KOI8-R square)".
const std::map<std::pair<TCodePage, TCodePage>, std::vector<Range>>& Exceptions() {
  using enum TCodePage;
  static const std::map<std::pair<TCodePage, TCodePage>, std::vector<Range>> list = {
      {{CP1251, KOI8R}, {{0x95, 0x95, 0x95}}},
      {{CP1251, CP866}, {{0xA0, 0xA0, 0x20}, {0xAD, 0xAD, 0x2D}, {0xB7, 0xB7, 0xF9}}},
      {{KOI8R, CP1251}, {{0x95, 0x95, 0x95}}},
      {{KOI8R, CP866},
       {{0x80, 0x92, 0x3F},
        {0x95, 0x96, 0x3F},
        {0xA0, 0xA2, 0x3F},
        {0xA4, 0xB2, 0x3F},
        {0xB4, 0xBE, 0x3F},
        {0x9A, 0x9A, 0x20},
        {0x9E, 0x9E, 0xF9}}},
      {{CP866, CP1251}, {{0xF9, 0xF9, 0xB7}, {0xFA, 0xFA, 0x3F}, {0xFF, 0xFF, 0x3F}}},
      {{CP866, KOI8R},
       {{0xB0, 0xDF, 0x94}, {0xF9, 0xF9, 0x9E}, {0xFA, 0xFB, 0x94}, {0xFF, 0xFF, 0x94}}},
      {{CP866, ISO8859}, {{0xFF, 0xFF, 0x3F}}},
      {{ISO8859, CP866}, {{0xA0, 0xA0, 0x20}, {0xAD, 0xAD, 0x2D}}},
  };
  return list;
}

// What iconv says byte b of source becomes in target, under the "?"/square rule.
int PublishedEntry(TCodePage source, TCodePage target, int b) {
  if (b < 0x80) return b;
  const int missing = target == TCodePage::KOI8R ? 0x94 : 0x3F;
  const auto unicode =
      test::Iconv(std::string(1, static_cast<char>(b)), test::kIconvNames[int(source)], "UTF-8");
  if (!unicode) return missing;
  const auto encoded = test::Iconv(*unicode, "UTF-8", test::kIconvNames[int(target)]);
  if (!encoded || encoded->size() != 1) return missing;
  return static_cast<unsigned char>((*encoded)[0]);
}

TEST(CyrTables, EveryTableFollowsThePublishedPagesAndTheExceptions) {
  for (TCodePage source : kSingleByte) {
    for (TCodePage target : kSingleByte) {
      if (source == target) continue;
      std::array<int, 256> expected{};
      for (int b = 0; b < 256; ++b)
        expected[b] = PublishedEntry(source, target, b);
      if (auto it = Exceptions().find({source, target}); it != Exceptions().end())
        for (const Range& r : it->second)
          for (int b = r.first; b <= r.last; ++b)
            expected[b] = r.value;

      TCyrCoder coder;
      coder.Source = source;
      coder.Target = target;
      const std::uint8_t* table = coder.GetTable();
      ASSERT_NE(table, nullptr);
      for (int b = 0; b < 256; ++b)
        EXPECT_EQ(table[b], expected[b])
            << CodePageName(source) << " -> " << CodePageName(target) << " byte " << std::hex << b;
    }
  }
}

TEST(CyrTables, EveryPageDecodesToTheUnicodeIconvGivesAndBack) {
  for (TCodePage page : kSingleByte) {
    for (int b = 0; b < 256; ++b) {
      const std::string byte(1, static_cast<char>(b));
      const auto published = test::Iconv(byte, test::kIconvNames[int(page)], "UTF-8");
      // Iconv refuses a byte the page leaves unassigned (0x98 of Windows-1251).
      EXPECT_EQ(ToUtf8(byte, page), published.value_or("\xEF\xBF\xBD"))
          << CodePageName(page) << " " << b;
      if (published) {
        EXPECT_EQ(ConvertCodePage(*published, TCodePage::UTF8, page), byte);
      }
    }
  }
}

// Conversion happens on assignment only with AutoConvert and stops at a NUL; equal pages or
// a damaged record's page number raise the settings error and leave the text alone, and
// unknown pages read as Windows-1251 for display.
TEST(TCyrCoder, ConvertsOnRequestAndRefusesEqualOrUnknownPages) {
  const std::string koi = In(TCodePage::KOI8R, "Привет");
  const std::string win = In(TCodePage::CP1251, "Привет");
  TCyrCoder coder;
  EXPECT_NO_THROW(coder.Convert());  // nothing assigned yet, nothing to convert
  coder.Source = TCodePage::KOI8R;
  coder.Target = TCodePage::CP1251;
  coder.SetText(koi);
  EXPECT_EQ(coder.Text(), koi);
  coder.Convert();
  EXPECT_EQ(coder.Text(), win);
  coder.AutoConvert = true;
  coder.SetText(koi + std::string("\0tail", 5));
  EXPECT_EQ(coder.Text(), win);

  coder.AutoConvert = false;
  coder.SetText("abc");
  coder.Source = coder.Target = TCodePage::KOI8R;
  EXPECT_THROW(coder.Convert(), ECyrCoderError);
  coder.Source = static_cast<TCodePage>(9);
  EXPECT_THROW(coder.Convert(), ECyrCoderError);
  EXPECT_THROW(ConvertCodePage("abc", TCodePage::CP1251, static_cast<TCodePage>(5)),
               ECyrCoderError);
  EXPECT_EQ(coder.Text(), "abc");
  EXPECT_EQ(ToUtf8("\xC0", static_cast<TCodePage>(7)), "\u0410");
  EXPECT_EQ(CodePageName(static_cast<TCodePage>(5)), "");
}

TEST(ConvertCodePage, MissingCharactersAndBrokenUtf8BecomeTheQuestionMarkOrSquare) {
  const std::string text = "é€ Ґ ☺ ж";  // é and ☺ are in no page, € and Ґ only in Windows-1251
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP1251), "?\x88 \xA5 ? \xE6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::KOI8R), "\x94\x94 \x94 \x94 \xD6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP866), "?? ? ? \xA6");
  // A truncated sequence, a stray continuation byte, an overlong form, a surrogate:
  // one missing character per broken sequence, and the display is valid UTF-8.
  const std::string broken = "a\xD0 b\x80 c\xC0\xAF d\xED\xA0\x80 e\xD0";
  EXPECT_EQ(ConvertCodePage(broken, TCodePage::UTF8, TCodePage::CP1251), "a? b? c?? d??? e?");
  EXPECT_EQ(ToUtf8(broken, TCodePage::UTF8),
            "a\uFFFD b\uFFFD c\uFFFD\uFFFD d\uFFFD\uFFFD\uFFFD e\uFFFD");
  EXPECT_TRUE(IsValidUtf8(ToUtf8(broken, TCodePage::UTF8)));
}

// A Russian paragraph in any page is placed; empty and ASCII text is Windows-1251, and
// only well-formed UTF-8 is UTF-8.
TEST(DetectCodePage, FindsThePageAndTakesOnlyWellFormedTextForUtf8) {
  const char* paragraph =
      "Уважаемые коллеги! Напоминаем, что в пятницу в 15:00 состоится общее собрание. "
      "Ёлки в нашем лесу растут медленно, но живут долго.";
  for (TCodePage page : kAllPages)
    EXPECT_EQ(DetectCodePage(In(page, paragraph)), page) << CodePageName(page);
  for (const std::string& ascii :
       {std::string(), std::string("Re: meeting at 10:30\r\n"), std::string("a\0b", 3)})
    EXPECT_EQ(DetectCodePage(ascii), TCodePage::CP1251);
  EXPECT_EQ(DetectCodePage("Subject: привет"), TCodePage::UTF8);
  EXPECT_EQ(DetectCodePage("Price 10 \xE2\x82\xAC \xE2\x84\x96 5"), TCodePage::UTF8);  // €, №
  // The same letters with one byte cut off are read as a single-byte page.
  EXPECT_NE(DetectCodePage("Subject: привет\xD0"), TCodePage::UTF8);
  EXPECT_NE(DetectCodePage("\xC0\xAF"), TCodePage::UTF8);
  // Short words of a one-byte page that happen to be valid UTF-8 decode to no Cyrillic or
  // Latin text ("чай" in CP866 is U+7829), so they are not taken for UTF-8.
  for (const char* word : {"чай", "уже"}) {
    EXPECT_NE(DetectCodePage(In(TCodePage::CP866, word)), TCodePage::UTF8) << word;
    EXPECT_NE(DetectCodePage("Re: " + In(TCodePage::CP866, word)), TCodePage::UTF8) << word;
  }
}

TEST(DeclaredPage, OneDeclaredPageWinsOverTheGuess) {
  for (const char* other : {"iso-8859-1", "koi8-u", "", "utf-16", "windows-1252"})
    EXPECT_EQ(CodePageOfCharSet(other), std::nullopt) << other;
  EXPECT_EQ(CodePageOfCharSet("IBM866"), TCodePage::CP866);
  // A single KOI8-R letter that the guess alone would not place in KOI8-R.
  const std::string a = "\xC1";
  const TCodePage guess = DetectCodePage(a);
  ASSERT_NE(guess, TCodePage::KOI8R);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "KOI8-R"}, false), TCodePage::KOI8R);
  // Words in two pages, a charset that is no page, bytes outside the words, no
  // words at all, or "UTF-8" that is not: the guess.
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "windows-1251"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "iso-8859-1"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r"}, true), guess);
  EXPECT_EQ(DeclaredCodePage(a, {}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"utf-8"}, false), guess);
  EXPECT_EQ(DeclaredCodePage("\xD0\x96", {"utf-8"}, false), TCodePage::UTF8);
}

std::string Koi(const std::string& utf8) {
  return In(TCodePage::KOI8R, utf8);
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
