#include <gtest/gtest.h>

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/msuucode.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;

TEST(Base64, VectorsLinesAndInvalidCharacters) {
  EXPECT_EQ(EncodeBase64Text("fo"), "Zm8=");
  EXPECT_EQ(DecodeBase64Text("Zm9v YmFy\t"), "foobar");  // blanks are ignored
  EXPECT_EQ(DecodeBase64Text("Zg==Zm8="), "ffo");        // padded groups run on
  EXPECT_EQ(DecodeBase64Text("Zm8"), "fo");              // missing padding
  for (const char* bad : {"Zm9v*mFy", "=Zg=", "Zg=x", "Zm9v\xD0"}) {
    try {
      DecodeBase64Text(bad);
      ADD_FAILURE() << bad;
    } catch (const EmsError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character");
    }
  }
  TmsStrings lines;  // 57 bytes a line; longer data is covered by the message round trips
  EncodeBase64Lines(std::string(58, 'x'), lines);
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 76u);
}

TEST(QuotedPrintable, DecodingSoftBreaksAndBadEscapes) {
  std::string out;
  QuotedPrintableDecode({"caf=E9 =3D ok=", "joined", "=4", "tail=\x1a", "bad =ZZ", "pad=  "}, out);
  EXPECT_EQ(out,
            "caf\xE9 = okjoined\r\n=4\r\ntail=\x1a"
            "bad =ZZ\r\npad");
  out.clear();
  QuotedPrintableDecode({"a", "b", ""}, out, false);
  EXPECT_EQ(out, "a\r\nb\r\n");
}

TEST(QuotedPrintable, EncodingCutsAtBlanksAndRoundTrips) {
  std::string words;
  for (int i = 0; i < 40; ++i)
    words += "word ";
  TmsStrings lines;
  QuotedPrintableEncode(words + "\r\n", lines);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 66u);
    EXPECT_EQ(lines[i].back(), '=');
    EXPECT_EQ(lines[i + 1][0], ' ');  // the blank begins the next piece
  }
  EXPECT_EQ(lines.back().substr(lines.back().size() - 3), "=20");  // a trailing blank is kept
  for (const std::string& s :
       {std::string(), std::string("no line end"), std::string("\r\n\r\n"),
        std::string("lf\nonly\n\nlines\n"), std::string("cr\ronly\r\r"),
        std::string("trailing blank \r\ntab\t\r\n"), std::string(30000, 'a') + "\r\n",
        std::string(200, '\xD0'), std::string("\xD0\x9F\xD1\x80 =?x?= .\r\n.\r\n"),
        mailtest::RandomBytes(5000, 7)}) {
    lines.clear();
    QuotedPrintableEncode(s, lines);
    for (const auto& l : lines) {
      EXPECT_LE(l.size(), 76u);
      EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos);
    }
    std::string back;
    QuotedPrintableDecode(lines, back);
    EXPECT_EQ(back, s);
  }
}

TEST(UUCode, LinesAndBeginLines) {
  EXPECT_TRUE(IsUUBegin("BEGIN  600 a"));
  EXPECT_FALSE(IsUUBegin("begin 64x a"));
  EXPECT_FALSE(IsUUBegin("beginning of the text"));
  EXPECT_FALSE(IsUUBegin("begin 6"));
  EXPECT_EQ(UUFileName("begin 0644 \"my file.txt\" junk"), "my file.txt");
  EXPECT_EQ(DecodeUULine("#0V%T"), "Cat");
  EXPECT_EQ(DecodeUULine("`"), "");
  EXPECT_THROW(DecodeUULine("#0V%t"), EmsError);
  for (std::size_t n : {1u, 2u, 44u, 45u}) {
    std::string data = mailtest::RandomBytes(n, static_cast<unsigned>(n) + 100);
    std::string line = EncodeUULine(data);
    EXPECT_EQ(line.size(), 1 + (n + 2) / 3 * 4);
    EXPECT_EQ(DecodeUULine(line), data);
    // Blanks stripped from the end by a relay still decode.
    while (line.back() == '`')
      line.pop_back();
    EXPECT_EQ(DecodeUULine(line), data);
  }
}

TEST(HeaderWords, AdjacentPlainAndMalformedWords) {
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?a?= =?utf-8?Q?b?=\t =?utf-8?Q?c?="), "abc");
  EXPECT_EQ(DecodeHeaderWords("Re: =?utf-8?Q?x_y?= my_file"), "Re: x y my_file");
  for (const char* kept : {"=?utf-8?B?*bad*?= x", "a =? b ?= c", "=?utf-8?Q?open", "----=_Part_1"})
    EXPECT_EQ(DecodeHeaderWords(kept), kept);
  EXPECT_EQ(DecodeHeaderWords("=?x?Q?=3F?="), "?");  // "?=" right after "?Q?" is text
  // A decoded word brings no line break, NUL or other control byte into a value.
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?a=0D=0Ab=00c=07?= d"), "a  b c  d");
  // Many broken words take linear time (quadratic work would outlast the test's time-out).
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "=?a?B?*";
  EXPECT_EQ(DecodeHeaderWords(text + "?="), text + "?=");
}

TEST(HeaderWords, EncodingFoldsIntoShortWholeCharacterWords) {
  EXPECT_EQ(EncodeHeaderWords("plain", "utf-8"), "plain");
  std::string cyr;
  for (int i = 0; i < 120; ++i)
    cyr += "\xD0\x96";
  std::string enc = EncodeHeaderWords(cyr, "utf-8"), unfolded;
  for (std::size_t start = 0;;) {
    std::size_t e = enc.find("\r\n ", start);
    std::string word = enc.substr(start, e == std::string::npos ? std::string::npos : e - start);
    EXPECT_LE(word.size(), 75u);
    EXPECT_EQ(DecodeHeaderWords(word).size() % 2, 0u);  // no character split between words
    unfolded += (start ? " " : "") + word;
    if (e == std::string::npos) break;
    start = e + 3;
  }
  EXPECT_EQ(DecodeHeaderWords(unfolded), cyr);
  EXPECT_EQ(EncodeHeaderWord("\x1b$B"), "=?ISO-2022-JP?B?GyRC?=");
}
