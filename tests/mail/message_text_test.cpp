#include <gtest/gtest.h>

#include <cmath>

#include "mail/msmsgcls.h"
#include "tests/support/tempdir.h"

using namespace ms;

TEST(TextRoutines, StripQuotesTrimsThenDropsEveryOuterQuote) {
  EXPECT_EQ(StripQuotes("  \"\"Ivan Petrov\"  "), "Ivan Petrov");
  EXPECT_EQ(StripQuotes("a\"b"), "a\"b");
  EXPECT_EQ(StripQuotes("\"\""), "");
}

TEST(TextRoutines, ExtractWordAndNumber) {
  EXPECT_EQ(ExtractWord("+OK 2 320", 0), "+OK");
  EXPECT_EQ(ExtractWord("+OK 2 320", 2), "320");
  EXPECT_EQ(ExtractWord("+OK  2   320", 1), "2");
  EXPECT_EQ(ExtractWord("+OK 2", 3), "");
  EXPECT_EQ(ExtractNumber("+OK 2 320", 2), 320);
  EXPECT_EQ(ExtractNumber("+OK 2 320", 0), -1);
  EXPECT_EQ(ExtractNumber("+OK", 1), -1);
  EXPECT_EQ(ExtractNumber("+OK 12x", 1), -1);
  EXPECT_EQ(ExtractNumber("+OK 99999999999999999999999", 1), -1);
  EXPECT_EQ(ExtractNumber("+OK 5000000000", 1), 5000000000LL);
}

TEST(TextRoutines, FirstTokenAndHeaderParameters) {
  EXPECT_EQ(FirstToken(" text/plain; charset=koi8-r"), "text/plain");
  EXPECT_EQ(FirstToken("text/html;charset=x"), "text/html");
  const std::string ct = "multipart/mixed; boundary=\"----=_Next 01\"; charset=KOI8-R";
  EXPECT_EQ(GetHeaderParameter("boundary", ct), "----=_Next 01");
  EXPECT_EQ(GetHeaderParameter("CHARSET", ct), "KOI8-R");
  EXPECT_EQ(GetHeaderParameter("name", ct), "");
  EXPECT_EQ(GetHeaderParameter("name", "text/plain; name = report.txt ;x=y"), "report.txt");
  // The search is a plain substring search: "name" is found inside "filename".
  EXPECT_EQ(GetHeaderParameter("name", "attachment; filename=\"a b.pdf\""), "a b.pdf");
  // An unquoted value ends at the ";" of the next parameter.
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed;boundary=abc;charset=x"), "abc");
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed; boundary=\"open"), "open");
}

TEST(TextRoutines, ParseAddressForms) {
  TmsMailAddress a;
  ParseAddress("\"Ivan Petrov\" <ivan@example.ru>", a);
  EXPECT_EQ(a.Name, "Ivan Petrov");
  EXPECT_EQ(a.Address, "ivan@example.ru");
  ParseAddress("ivan@example.ru (Ivan Petrov)", a);
  EXPECT_EQ(a.Address, "ivan@example.ru");
  EXPECT_EQ(a.Name, "Ivan Petrov");
  ParseAddress("ivan@example.ru", a);
  EXPECT_EQ(a.Address, "ivan@example.ru");
  EXPECT_EQ(a.Name, "");
  ParseAddress("Ivan <ivan@example.ru", a);  // no ">"
  EXPECT_EQ(a.Address, "");
  EXPECT_EQ(a.Name, "Ivan <ivan@example.ru");
  ParseAddress("x> Ivan <y", a);  // ">" before "<"
  EXPECT_EQ(a.Address, "");
  ParseAddress("<" + std::string(300, 'a') + ">", a);
  EXPECT_EQ(a.Address.size(), 255u);
}

TEST(TextRoutines, CutShortStringKeepsUtf8CharactersWhole) {
  std::string cyr;
  for (int i = 0; i < 200; ++i)
    cyr += "\xD0\xB6";  // "ж" in UTF-8, 400 bytes
  std::string cut = CutShortString(cyr);
  EXPECT_EQ(cut.size(), 254u);
  // A single-byte code page is cut at exactly 255 bytes.
  EXPECT_EQ(CutShortString(std::string(300, '\xC6')).size(), 255u);
  EXPECT_EQ(CutShortString("short"), "short");
}

TEST(TextRoutines, SplitLinesAcceptsEveryLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (TmsStrings{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (TmsStrings{"a", ""}));
  EXPECT_EQ(SplitLines("a\n\rb"), (TmsStrings{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(JoinLines({"a", ""}), "a\r\n\r\n");
}

namespace {
double Date(const std::string& text, std::string* zone = nullptr) {
  TDateTime dt = -1;
  std::string z = "junk";
  ParseMailDate(text, dt, z);
  if (zone) *zone = z;
  return dt;
}
}  // namespace

TEST(MailDate, ParsesRfc822Dates) {
  std::string zone;
  double d = Date("Tue, 3 Dec 2024 14:05:09 +0300", &zone);
  EXPECT_NEAR(d, EncodeDateTime(2024, 12, 3, 14, 5, 9), 1e-9);
  EXPECT_EQ(zone, "+0300");
  EXPECT_NEAR(Date("3 Dec 2024 14:05:09 +0300"), d, 1e-9);  // no weekday
  EXPECT_NEAR(Date("\"Mon, 01 jan 99 00:00 GMT\"", &zone), EncodeDateTime(1999, 1, 1), 1e-9);
  EXPECT_EQ(zone, "GMT");
  EXPECT_NEAR(Date("1 Jan 00 10:00:00"), EncodeDateTime(2000, 1, 1, 10), 1e-9);
  EXPECT_NEAR(Date("1 Jan 50 10:00:00"), EncodeDateTime(2050, 1, 1, 10), 1e-9);
  EXPECT_NEAR(Date("1 Jan 51 10:00:00"), EncodeDateTime(1951, 1, 1, 10), 1e-9);
  EXPECT_NEAR(Date("Fri, 29 Feb 2008 23:59:59, +0000"), EncodeDateTime(2008, 2, 29, 23, 59, 59),
              1e-9);
  // 1899-12-30 is day 0 of TDateTime.
  EXPECT_NEAR(EncodeDateTime(1900, 1, 1), 2.0, 1e-9);
}

TEST(MailDate, UnparsableDatesGiveZeroAndNoZone) {
  for (const char* bad : {"", "garbage", "Tue, 3 Foo 2024 14:05:09", "30 Feb 2023 10:00:00 +0000",
                          "3 Dec 2024 25:00:00", "3 Dec 2024", "x3 Dec", "3 Dec 2024 10:0a:00",
                          "99999999999999 Dec 2024 10:00"}) {
    std::string zone;
    EXPECT_EQ(Date(bad, &zone), 0) << bad;
    EXPECT_EQ(zone, "") << bad;
  }
}

TEST(MimeTypes, ExtensionLookupFromTheTypeFiles) {
  vigilo::test::TempDir dir;
  vigilo::test::WriteFile(dir.path() / "system",
                          "# comment\napplication/pdf pdf\ntext/plain txt text\n");
  vigilo::test::WriteFile(dir.path() / "user", "text/x-mine txt\n");
  SetMimeTypesFiles({(dir.path() / "system").string(), (dir.path() / "user").string()});
  EXPECT_EQ(ContentTypeOfFile("/tmp/Report.PDF"), "application/pdf");
  EXPECT_EQ(ContentTypeOfFile("notes.txt"), "text/x-mine");  // the user's file wins
  EXPECT_EQ(ContentTypeOfFile("a.unknownext"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("noextension"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("dir.pdf/file"), "application/octet-stream");
  SetMimeTypesFiles({"/nonexistent"});
  EXPECT_EQ(ContentTypeOfFile("a.pdf"), "application/octet-stream");
}

TEST(Attachments, FileNameSetsTypeAndKind) {
  vigilo::test::TempDir dir;
  vigilo::test::WriteFile(dir.path() / "types",
                          "application/pdf pdf\ntext/html htm html\nmessage/rfc822 eml\n");
  SetMimeTypesFiles({(dir.path() / "types").string()});
  TmsAttItem item;
  item.SetFileName("x.pdf");
  EXPECT_EQ(item.ContentType, "application/pdf");
  EXPECT_EQ(item.EncodingKind, ekBase64);
  item.SetFileName("page.HTM");
  EXPECT_EQ(item.EncodingKind, ekQuotedPrintable);
  item.SetFileName("mail.eml");
  EXPECT_EQ(item.EncodingKind, ekSevenBit);
  item.SetFileName("");
  EXPECT_EQ(item.ContentType, "message/rfc822");  // an empty name changes nothing else
  EXPECT_STREQ(EncodingKindName(ekSevenBit), "7 bit");
  EXPECT_STREQ(EncodingKindName(ekBase64), "Base64");
  EXPECT_STREQ(EncodingKindName(ekQuotedPrintable), "Quoted-Printable");
}

TEST(TextRoutines, Rfc2231Parameters) {
  EXPECT_EQ(GetHeaderParameter("filename", "attachment; filename*=UTF-8''%D0%A4%20a.pdf"),
            "\xD0\xA4 a.pdf");
  EXPECT_EQ(GetHeaderParameter("name",
                               "application/pdf; name*0*=koi8-r'ru'%F0; name*1=\"x y\";"
                               " name*2*=%2Epdf"),
            "\xF0x y.pdf");
  // Found inside "filename*" as "name" is found inside "filename".
  EXPECT_EQ(GetHeaderParameter("name", "attachment; filename*=''a%41"), "aA");
  EXPECT_EQ(GetHeaderParameter("name", "x; name*=broken%4"), "broken%4");
  EXPECT_EQ(GetHeaderParameter("name", "x; name*1=missing-first"), "");
}
