#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/msuucode.h"

using namespace ms;

namespace {
std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(gen() & 0xFF);
  return s;
}
}  // namespace

TEST(Base64, KnownVectorsAndPadding) {
  EXPECT_EQ(EncodeBase64Text(""), "");
  EXPECT_EQ(EncodeBase64Text("f"), "Zg==");
  EXPECT_EQ(EncodeBase64Text("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64Text("foobar"), "Zm9vYmFy");
  EXPECT_EQ(DecodeBase64Text("Zg=="), "f");
  EXPECT_EQ(DecodeBase64Text("Zm8="), "fo");
  EXPECT_EQ(DecodeBase64Text("Zm9v YmFy\t"), "foobar");  // blanks are ignored
  EXPECT_EQ(DecodeBase64Text("Zg==Zm8="), "ffo");        // padded groups run on
  EXPECT_EQ(DecodeBase64Text("Zm8"), "fo");              // missing padding
}

TEST(Base64, InvalidCharactersAreRefused) {
  for (const char* bad : {"Zm9v*mFy", "=Zg=", "Zg=x", "Zm9v\xD0"}) {
    try {
      DecodeBase64Text(bad);
      FAIL() << bad;
    } catch (const EmsError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character");
    }
  }
}

TEST(Base64, LinesOf76CharactersRoundTrip) {
  for (std::size_t n : {0u, 1u, 56u, 57u, 58u, 114u, 1000u}) {
    std::string data = RandomBytes(n, static_cast<unsigned>(n));
    TmsStrings lines;
    EncodeBase64Lines(data, lines);
    ASSERT_EQ(lines.size(), (n + 56) / 57) << n;
    std::string back;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i + 1 < lines.size()) {
        EXPECT_EQ(lines[i].size(), 76u);
      }
      back += DecodeBase64Text(lines[i]);
    }
    EXPECT_EQ(back, data);
  }
  TmsStrings lines;
  EncodeBase64Lines(std::string(58, 'x'), lines);
  EXPECT_EQ(lines.back().size(), 4u);
}

TEST(QuotedPrintable, DecodingSoftBreaksAndEscapes) {
  std::string out;
  QuotedPrintableDecode({"caf=E9 =3D ok=", "joined", "=4", "tail=\x1a", "bad =ZZ", "pad=  "}, out);
  EXPECT_EQ(out,
            "caf\xE9 = okjoined\r\n=4\r\ntail=\x1a"
            "bad =ZZ\r\npad");
  out.clear();
  QuotedPrintableDecode({"a", "b", ""}, out, false);
  EXPECT_EQ(out, "a\r\nb\r\n");
  out.clear();
  // No paragraph limit.
  std::string longline(100000, 'x');
  QuotedPrintableDecode({longline + "=", longline}, out);
  EXPECT_EQ(out.size(), 200002u);
}

TEST(QuotedPrintable, EncodingCutsLinesAndEscapesBytes) {
  TmsStrings lines;
  QuotedPrintableEncode("caf\xE9 = x\r\n", lines);
  EXPECT_EQ(lines, TmsStrings{"caf=E9 =3D x"});
  lines.clear();
  std::string words;
  for (int i = 0; i < 40; ++i)
    words += "word ";
  QuotedPrintableEncode(words + "\r\n", lines);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 66u);
    EXPECT_EQ(lines[i].back(), '=');
    EXPECT_EQ(lines[i + 1][0], ' ');  // the blank begins the next piece
  }
  EXPECT_EQ(lines.back().substr(lines.back().size() - 3), "=20");  // a trailing blank is kept
  lines.clear();
  QuotedPrintableEncode(std::string(200, '\xD0'), lines);
  for (const auto& l : lines)
    EXPECT_LE(l.size(), 76u);
}

TEST(QuotedPrintable, RoundTripGivesBackTheSameBytes) {
  const std::string samples[] = {
      "",
      "plain\r\n",
      "no line end",
      "\r\n\r\n",
      "lf\nonly\n\nlines\n",
      "cr\ronly\r\r",
      "trailing blank \r\ntab\t\r\n",
      std::string(30000, 'a') + "\r\n",
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 =?x?= .\r\n.\r\n",
      RandomBytes(5000, 7)};
  for (const std::string& s : samples) {
    TmsStrings lines;
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
  EXPECT_TRUE(IsUUBegin("begin 644 photo.jpg"));
  EXPECT_TRUE(IsUUBegin("BEGIN  600 a"));
  EXPECT_FALSE(IsUUBegin("begin 64x a"));
  EXPECT_FALSE(IsUUBegin("beginning of the text"));
  EXPECT_FALSE(IsUUBegin("begin 6"));
  EXPECT_EQ(UUFileName("begin 644 photo.jpg"), "photo.jpg");
  EXPECT_EQ(UUFileName("begin 0644 \"my file.txt\" junk"), "my file.txt");
  EXPECT_EQ(DecodeUULine("#0V%T"), "Cat");
  EXPECT_EQ(DecodeUULine("`"), "");
  EXPECT_EQ(EncodeUULine("Cat"), "#0V%T");
  for (std::size_t n : {1u, 2u, 3u, 44u, 45u}) {
    std::string data = RandomBytes(n, static_cast<unsigned>(n) + 100);
    std::string line = EncodeUULine(data);
    EXPECT_EQ(line.size(), 1 + (n + 2) / 3 * 4);
    EXPECT_EQ(DecodeUULine(line), data);
    // Blanks stripped from the end by a relay still decode.
    std::string stripped = line;
    while (!stripped.empty() && stripped.back() == '`')
      stripped.pop_back();
    EXPECT_EQ(DecodeUULine(stripped + std::string(0, ' ')), DecodeUULine(line));
  }
  EXPECT_THROW(DecodeUULine("#0V%t"), EmsError);
}

TEST(HeaderWords, DecodingByRfc2047) {
  EXPECT_EQ(DecodeHeaderWords("=?koi8-r?B?8NLJ18XU?="), "\xF0\xD2\xC9\xD7\xC5\xD4");
  EXPECT_EQ(DecodeHeaderWords("=?windows-1251?Q?=CF=F0=E8=E2=E5=F2_=EC=E8=F0?="),
            "\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0");
  EXPECT_EQ(DecodeHeaderWords("=?UTF-8?b?0J/RgNC40LLQtdGC?="),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  // Adjacent words: the blank between them vanishes.
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?a?= =?utf-8?Q?b?=\t =?utf-8?Q?c?="), "abc");
  // Plain text around words keeps its blanks and its underscores.
  EXPECT_EQ(DecodeHeaderWords("Re: =?utf-8?Q?x_y?= my_file"), "Re: x y my_file");
  // Malformed or undecodable words stay as they are.
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?B?*bad*?= x"), "=?utf-8?B?*bad*?= x");
  EXPECT_EQ(DecodeHeaderWords("a =? b ?= c"), "a =? b ?= c");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?open"), "=?utf-8?Q?open");
  EXPECT_EQ(DecodeHeaderWords("----=_Part_1"), "----=_Part_1");
  // "?=" right after "?Q?" starts the text, it does not close the word.
  EXPECT_EQ(DecodeHeaderWords("=?x?Q?=3F?="), "?");
}

TEST(HeaderWords, EncodingFoldsIntoShortWords) {
  EXPECT_EQ(EncodeHeaderWords("plain", "utf-8"), "plain");
  std::string cyr;
  for (int i = 0; i < 120; ++i)
    cyr += "\xD0\x96";
  std::string enc = EncodeHeaderWords(cyr, "utf-8");
  std::size_t start = 0;
  for (;;) {
    std::size_t e = enc.find("\r\n ", start);
    std::string word = enc.substr(start, e == std::string::npos ? std::string::npos : e - start);
    EXPECT_LE(word.size(), 75u);
    std::string bytes = DecodeHeaderWords(word);
    EXPECT_EQ(bytes.size() % 2, 0u);  // no character split between words
    if (e == std::string::npos) break;
    start = e + 3;
  }
  // Unfolded as a reader does, it decodes to the text.
  std::string unfolded = enc;
  for (std::size_t p; (p = unfolded.find("\r\n")) != std::string::npos;)
    unfolded.erase(p, 2);
  EXPECT_EQ(DecodeHeaderWords(unfolded), cyr);
  EXPECT_EQ(EncodeHeaderWord("\x1b$B"), "=?ISO-2022-JP?B?GyRC?=");
  EXPECT_EQ(EncodeHeaderWord("text"), "text");
}

TEST(Boundary, EightDigitsAfterThePrefix) {
  std::string b = GenerateBoundary("");
  ASSERT_EQ(b.size(), 8u);
  for (char c : b)
    EXPECT_TRUE(c >= '0' && c <= '8');
  EXPECT_EQ(GenerateBoundary(b).substr(0, 8), b);
  EXPECT_EQ(GenerateBoundary(b).size(), 16u);
}

TEST(HeaderWords, ManyBrokenWordsTakeLinearTime) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "=?a?B?*";
  text += "?=";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DecodeHeaderWords(text), text);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
}
