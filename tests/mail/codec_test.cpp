#include <gtest/gtest.h>

#include <random>

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

// The whole-buffer codecs against the line-by-line ones on malformed input, and
// messages large enough that the encoder and decoder work in pieces.
namespace {

// Lines of bytes drawn from Alphabet, and the same lines joined by CR LF, LF
// or a lone CR (never a CR that the next line end's LF would join).
struct Layout {
  TmsStrings lines;
  std::string joined;
};

Layout RandomLayout(std::mt19937& gen, const std::string& alphabet) {
  Layout l;
  const std::size_t count = gen() % 12;
  for (std::size_t i = 0; i < count; ++i) {
    std::string line;
    for (std::size_t n = gen() % 14; n > 0; --n)
      line += alphabet[gen() % alphabet.size()];
    l.lines.push_back(line);
  }
  for (std::size_t i = 0; i < l.lines.size(); ++i) {
    l.joined += l.lines[i];
    const bool next_empty = i + 1 < l.lines.size() && l.lines[i + 1].empty();
    const int kind = static_cast<int>(gen() % 3);
    // The last line may have no end (unless it is empty, and would vanish).
    if (i + 1 == l.lines.size() && !l.lines[i].empty() && gen() % 2 == 0) break;
    l.joined += kind == 0 || (kind == 2 && next_empty) ? "\r\n" : kind == 1 ? "\n" : "\r";
  }
  return l;
}

}  // namespace

TEST(CodecPieces, QuotedPrintableTextDecodesAsItsLines) {
  // Soft breaks, escapes cut short by the line end, blanks as padding, Ctrl-Z.
  const std::string alphabet = "==Af3 \t x\x1a\xe9";
  std::mt19937 gen(11);
  for (int round = 0; round < 3000; ++round) {
    const Layout l = RandomLayout(gen, alphabet);
    for (bool final : {true, false}) {
      std::string from_lines, from_text;
      QuotedPrintableDecode(l.lines, from_lines, final);
      QuotedPrintableDecodeText(l.joined, from_text, final);
      ASSERT_EQ(from_text, from_lines) << "text: " << l.joined;
    }
  }
}

TEST(CodecPieces, Base64LinesDecodeEachOnItsOwn) {
  // Groups left open at a line end, padding in odd places, blanks and bad bytes.
  const std::string alphabet = "QUJDRA==QUJD  \t=-";
  std::mt19937 gen(12);
  for (int round = 0; round < 3000; ++round) {
    const Layout l = RandomLayout(gen, alphabet);
    std::string by_line, whole;
    bool line_failed = false, whole_failed = false;
    try {
      for (const std::string& line : l.lines)
        DecodeBase64Append(line, by_line);
    } catch (const EmsError&) {
      line_failed = true;
    }
    try {
      DecodeBase64LinesAppend(l.joined, whole);
    } catch (const EmsError&) {
      whole_failed = true;
    }
    ASSERT_EQ(whole_failed, line_failed) << "text: " << l.joined;
    if (!line_failed) {
      ASSERT_EQ(whole, by_line) << "text: " << l.joined;
    }
  }
}

TEST(CodecPieces, LargePartsRoundTripThroughThePieceBoundaries) {
  // Well beyond the 64 KiB pieces the encoder writes and the 256 KiB pieces a
  // quoted-printable body is decoded in; lone CRs and LFs, blanks and eight-bit
  // bytes fall on every kind of boundary.
  std::mt19937 gen(13);
  std::string text;
  const std::string alphabet = "ab \r\n\r\n=\xd0\x9f.";
  while (text.size() < 700000) {
    text += alphabet[gen() % alphabet.size()];
    if (gen() % 500 == 0) text += std::string(gen() % 300, 'w');  // lines over 76 characters
  }
  TmsMessage m = mailtest::Decode("From: a@example.com\r\n\r\n");
  m.Body = SplitLines(text);
  m.CharSet = csUTF8;
  for (std::uint8_t kind : {ekQuotedPrintable, ekSevenBit, ekBase64}) {
    TmsAttItem a;
    a.SetFileName("part" + std::to_string(kind) + ".txt");
    a.ContentType = "text/plain";
    a.EncodingKind = kind;
    a.Data = kind == ekSevenBit ? JoinLines(SplitLines(text)) : text;
    m.Attachments.AddItem(a);
  }
  const std::string raw = m.SaveToString();
  EXPECT_LE(mailtest::LongestLine(raw), 998u);
  const TmsMessage back = mailtest::Decode(raw);
  EXPECT_EQ(back.Body, m.Body);
  ASSERT_EQ(back.Attachments.Count(), 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(back.Attachments.Items(i).Data, m.Attachments.Items(i).Data) << "part " << i;
}

TEST(CodecPieces, QuotedPrintableBodyKeepsLineEndsSplitAcrossSoftBreaks) {
  // Every encoded line ends with "=0D=" and the next begins with "=0A": each CR LF
  // of the text is cut in two, also where the decoder starts a new piece.
  std::string raw =
      "From: a@example.com\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  std::string expected;
  for (int i = 0; raw.size() < 600000; ++i) {
    const std::string word = "line" + std::to_string(i);
    raw += "=0A" + word + "=0D=\r\n";
    expected += "\n" + word + "\r";
  }
  raw += "end\r\n";
  expected += "end\r\n";
  const TmsMessage m = mailtest::Decode(raw);
  EXPECT_EQ(m.Body, SplitLines(expected));
}

TEST(CodecPieces, LineEndsFoundAtEveryOffset) {
  // Tabs, Ctrl-Z and bytes above 127 around the line end, at every place of the
  // eight-byte steps, and texts without one.
  for (const char end : {'\r', '\n'}) {
    for (std::size_t len = 0; len < 40; ++len) {
      std::string text(len, 'x');
      for (std::size_t i = 0; i < len; ++i)
        text[i] = "x\t\x1a\xff\x0e\x0c"[i % 6];
      EXPECT_EQ(FindLineEnd(text.data(), text.data() + len), text.data() + len);
      for (std::size_t at = 0; at < len; ++at) {
        std::string t = text;
        t[at] = end;
        if (at + 1 < len) t[at + 1] = end == '\r' ? '\n' : '\r';
        EXPECT_EQ(FindLineEnd(t.data(), t.data() + len) - t.data(), static_cast<long>(at));
      }
    }
  }
}
