// The whole-buffer codecs against the line-by-line ones on malformed input, and
// messages large enough that the encoder and decoder work in pieces.

#include <gtest/gtest.h>

#include <random>

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;

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
