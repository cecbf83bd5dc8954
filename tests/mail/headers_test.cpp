#include <gtest/gtest.h>

#include "mail/msmsg.h"
#include "mail/msmsgcls.h"
#include "tests/support/tempdir.h"

using namespace ms;

TEST(Headers, FieldValuesAreUnfoldedAndMatchedFromTheStartOfTheLine) {
  TmsHeaders h{"X-Original-Subject: wrong", "subject: Hello", "\tfolded   world  ", "From:me@x"};
  EXPECT_EQ(h.GetFieldValue("SUBJECT:"), "Hello folded   world");
  EXPECT_EQ(h.GetFieldValue("from"), "me@x");  // no blank after the colon
  EXPECT_EQ(h.GetFieldValue("Missing"), "");
  h.RemoveField("subject");  // the first such field with its continuations
  EXPECT_EQ(h, (TmsHeaders{"X-Original-Subject: wrong", "From:me@x"}));
}

// A TOP reply's body line is never read as a header.
TEST(Headers, LookupsEndAtTheHeaderBlock) {
  const TmsHeaders h{"Subject: s", "To: a@x", "", "Message-ID: <victim@x>", "To: b@x"};
  EXPECT_EQ(h.GetFieldValue("Message-ID"), "");
  EXPECT_EQ(h.GetFieldList("To"), (TmsStrings{"a@x"}));
}

TEST(Headers, EncodedWordsAreDecodedBeforeTheValueIsCut) {
  TmsHeaders h{"Subject: =?utf-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW?="};
  for (int i = 0; i < 19; ++i)
    h.push_back(" =?utf-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW?=");
  std::string v = h.GetFieldValue("Subject");
  // 20 words of 18 characters (720 bytes), cut to 255 characters (510 bytes).
  ASSERT_EQ(v.size(), 510u);
  for (std::size_t i = 0; i < v.size(); i += 2)
    EXPECT_EQ(v.substr(i, 2), "\xD0\x96");
  EXPECT_EQ(h.GetFullFieldValue("Subject").size(), 720u);
}

TEST(Headers, FieldListSplitsAtCommasOutsideQuotes) {
  TmsHeaders h{"To: \"Petrov, Ivan\" <ivan@x.ru>, anna@y.ru,", "  Boris <boris@z.ru>", "Cc: one@x",
               "TO: late@x", "Tocken: not@this"};
  EXPECT_EQ(h.GetFieldList("TO"), (TmsStrings{"\"Petrov, Ivan\" <ivan@x.ru>", "anna@y.ru",
                                              "Boris <boris@z.ru>", "late@x"}));
  // A byte 255 (the letter "я" in windows-1251) is not taken for a comma.
  TmsHeaders cp{"To: \"\xC2\xE0\xF1\xFF\" <v@x>"};
  EXPECT_EQ(cp.GetFieldList("To"), TmsStrings{"\"\xC2\xE0\xF1\xFF\" <v@x>"});
}

// Hand-made forms the program's own writing never produces (its round trip is in
// encoder_test.cpp): quotes, specials inside decoded words, groups, broken and oversize forms.
TEST(Headers, AddressesAreReadQuoteAndGroupAware) {
  using Addresses = std::vector<TmsMailAddress>;
  struct Case {
    TmsHeaders lines;
    Addresses to;
  };
  for (const Case& c : std::vector<Case>{
           {{"To: \"x<y\" <xy@x>, plain@x (Pl, Ain),",
             "  =?utf-8?B?0JDQsSwgItCSIiA8Yz4=?= <abc@x>, \"back\\\\slash\" <b@x>"},
            {{"x<y", "xy@x"},
             {"Pl, Ain", "plain@x"},
             {"\xD0\x90\xD0\xB1, \"\xD0\x92\" <c>", "abc@x"},  // "Аб, "В" <c>"
             {"back\\slash", "b@x"}}},
           // A stray quote is taken as it stands, without eating the next item.
           {{"To: O\"Neil <o@x>, next@x"}, {{"O\"Neil", "o@x"}, {"", "next@x"}}},
           {{"To: undisclosed-recipients:;"}, {}},
           {{"To: team: a@x, \"B, b\" <b@x>;, c@x, \"=?utf-8?Q?a:b?=\" <d@x>"},
            {{"", "a@x"}, {"B, b", "b@x"}, {"", "c@x"}, {"a:b", "d@x"}}},
           // Broken forms stay whole as the name; the address is bounded.
           {{"To: Ivan <ivan@example.ru"}, {{"Ivan <ivan@example.ru", ""}}},
           {{"To: x> Ivan <y"}, {{"x> Ivan <y", ""}}},
           {{"To: <" + std::string(300, 'a') + ">"}, {{"", std::string(255, 'a')}}},
       }) {
    TmsMessage m;
    m.ParseHeaders(c.lines);
    Addresses got;
    for (int i = 0; i < m.Recipients.Count(); ++i)
      got.push_back(m.Recipients.Items(i));
    EXPECT_EQ(got, c.to) << c.lines[0];
  }
  TmsMessage m;
  m.ParseHeaders({"From:", "   \"Ivan \\\"the\\\" Great\" <ivan@x>"});
  EXPECT_EQ(m.Sender, (TmsMailAddress{"Ivan \"the\" Great", "ivan@x"}));
}

TEST(TextRoutines, ReplyWordsAndNumbers) {
  EXPECT_EQ(ExtractWord("+OK  2   320", 1), "2");
  EXPECT_EQ(ExtractWord("+OK 2", 3), "");
  EXPECT_EQ(ExtractNumber("+OK 2 320", 2), 320);
  EXPECT_EQ(ExtractNumber("+OK 5000000000", 1), 5000000000LL);
  for (const char* bad : {"+OK", "+OK 12x", "+OK 99999999999999999999999"})
    EXPECT_EQ(ExtractNumber(bad, 1), -1) << bad;
}

TEST(TextRoutines, HeaderParameters) {
  const std::string ct = "multipart/mixed; boundary=\"----=_Next 01\"; charset=KOI8-R";
  EXPECT_EQ(GetHeaderParameter("boundary", ct), "----=_Next 01");
  EXPECT_EQ(GetHeaderParameter("CHARSET", ct), "KOI8-R");
  EXPECT_EQ(GetHeaderParameter("name", ct), "");
  EXPECT_EQ(GetHeaderParameter("name", "text/plain; name = report.txt ;x=y"), "report.txt");
  // Whole parameter names only.
  EXPECT_EQ(GetHeaderParameter("name", "attachment; filename=\"a b.pdf\""), "");
  EXPECT_EQ(GetHeaderParameter("name", "text/plain; x-comment=\"rename\"; name=right.txt"),
            "right.txt");
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed; x-boundary-hint=a; boundary=b"), "b");
  // Escapes inside quotes; a parameter after a blank instead of a ";".
  EXPECT_EQ(GetHeaderParameter("filename", "attachment; filename=\"say \\\"hi\\\"; ok.txt\""),
            "say \"hi\"; ok.txt");
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed boundary=\"xyz\""), "xyz");
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed;boundary=abc;charset=x"), "abc");
  EXPECT_EQ(GetHeaderParameter("boundary", "multipart/mixed; boundary=\"open"), "open");
  // Continued and charset-encoded values.
  EXPECT_EQ(GetHeaderParameter("filename", "attachment; filename*=UTF-8''%D0%A4%20a.pdf"),
            "\xD0\xA4 a.pdf");
  EXPECT_EQ(GetHeaderParameter(
                "name", "application/pdf; name*0*=koi8-r'ru'%F0; name*1=\"x y\"; name*2*=%2Epdf"),
            "\xF0x y.pdf");
  EXPECT_EQ(GetHeaderParameter("name", "x; name*=broken%4"), "broken%4");
  EXPECT_EQ(GetHeaderParameter("name", "x; name*1=missing-first"), "");
}

TEST(TextRoutines, CutShortStringAndSplitLines) {
  std::string cyr;
  for (int i = 0; i < 300; ++i)
    cyr += "\xD0\xB6";  // UTF-8 counts characters, which stay whole
  EXPECT_EQ(CutShortString(cyr).size(), 510u);
  EXPECT_EQ(CutShortString("a" + cyr, 2), "a\xD0\xB6");
  EXPECT_EQ(CutShortString(std::string(300, '\xC6')).size(), 255u);  // a single-byte code page
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (TmsStrings{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\rb\r\n\r\n"), (TmsStrings{"a", "", "b", ""}));
  EXPECT_EQ(JoinLines({"a", ""}), "a\r\n\r\n");
}

TEST(MailDate, ParsesDatesAndRefusesBadOnes) {
  auto date = [](const std::string& text, std::string* zone = nullptr) {
    TDateTime dt = -1;
    std::string z = "junk";
    ParseMailDate(text, dt, z);
    if (zone) *zone = z;
    return static_cast<double>(dt);
  };
  std::string zone;
  EXPECT_NEAR(date("Tue, 3 Dec 2024 14:05:09 +0300", &zone), EncodeDateTime(2024, 12, 3, 14, 5, 9),
              1e-9);
  EXPECT_EQ(zone, "+0300");
  EXPECT_NEAR(date("\"Mon, 01 jan 99 00:00 GMT\"", &zone), EncodeDateTime(1999, 1, 1), 1e-9);
  EXPECT_EQ(zone, "GMT");
  EXPECT_NEAR(date("1 Jan 50 10:00:00"), EncodeDateTime(2050, 1, 1, 10), 1e-9);
  EXPECT_NEAR(date("1 Jan 51 10:00:00"), EncodeDateTime(1951, 1, 1, 10), 1e-9);
  for (const char* bad : {"", "3 Foo 2024 14:05:09", "30 Feb 2023 10:00:00 +0000",
                          "3 Dec 2024 25:00:00", "3 Dec 2024", "99999999999999 Dec 2024 10:00"}) {
    EXPECT_EQ(date(bad, &zone), 0) << bad;
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
  EXPECT_EQ(ContentTypeOfFile("dir.pdf/file"), "application/octet-stream");
  SetMimeTypesFiles({"/nonexistent"});
  EXPECT_EQ(ContentTypeOfFile("a.pdf"), "application/octet-stream");
}
