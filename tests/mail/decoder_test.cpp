#include <gtest/gtest.h>

#include "mail/mscodec.h"
#include "mail/msmsg.h"
#include "mail/msuucode.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;
using mailtest::Crlf;
using mailtest::Decode;
using mailtest::ExpectFile;
using mailtest::kMime;

namespace {
const std::string kError = "The following error has been occured while processing the message:";
const std::string kStored = "The original message will be stored as an attachment";
const std::string kMixed = kMime + "multipart/mixed; boundary=b\n\n--b\n";

std::string UUBlock(const std::string& name, const std::string& data) {
  std::string s = "begin 644 " + name + "\r\n";
  for (std::size_t i = 0; i < data.size(); i += 45)
    s += EncodeUULine(data.substr(i, 45)) + "\r\n";
  return s + "`\r\nend\r\n";
}

}  // namespace

TEST(DecodePlain, TextLinesWithUuencodedFiles) {
  std::string bin;
  for (int i = 0; i < 256; ++i)
    bin += static_cast<char>(i);
  TmsMessage m =
      Decode(Crlf("From: a@x\nSubject: files\n\nSee the files.\n.\n\n") + UUBlock("one.bin", bin) +
             Crlf("between\n") + UUBlock("", "second") + Crlf("after\n"));
  EXPECT_EQ(m.Body, (TmsStrings{"See the files.", ".", "between", "after"}));
  EXPECT_EQ(m.Encoding, meUU);
  EXPECT_EQ(m.Attachments.Count(), 2);
  ExpectFile(m, 0, "one.bin", bin);
  ExpectFile(m, 1, "att.1", "second");
  // Also inside a MIME text body.
  m = Decode(Crlf(kMime + "text/plain\n\nhello\n") + UUBlock("x.txt", "data"));
  EXPECT_EQ(m.Body, TmsStrings{"hello"});
  EXPECT_EQ(m.Encoding, meUU);
  ExpectFile(m, 0, "x.txt", "data");
}

TEST(DecodePlain, WithoutMimeVersionEverythingIsBody) {
  TmsMessage m = Decode(Crlf("Subject: x\nContent-Type: text/html\n\n<b>hi</b>\n\nbye\n.\n"));
  // The POP3 client removes the end-of-data line, so a last "." is the sender's own.
  EXPECT_EQ(m.Body, (TmsStrings{"<b>hi</b>", "", "bye", "."}));
  EXPECT_EQ(m.Attachments.Count(), 0);
  m = Decode(Crlf("Subject: only\n"));
  EXPECT_EQ(m.Subject, "only");
  EXPECT_TRUE(m.Body.empty());
}

// A single text body, decoded in pieces straight from the message.
TEST(DecodeText, QuotedPrintableWithSoftBreaksAndBase64) {
  TmsMessage m = Decode(
      Crlf(kMime + "text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: "
                   "Quoted-Printable\n\nCaf=E9 au lait, long and =\ncontinues.\nSecond =3D\n"));
  EXPECT_EQ(m.Body, (TmsStrings{"Caf\xE9 au lait, long and continues.", "Second ="}));
  EXPECT_EQ(m.CharSet, csISO8859);

  const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  TmsStrings lines;
  EncodeBase64Lines(cyr + "\r\n<p>line two</p>\r\n", lines);
  std::string raw = Crlf(kMime +
                         "text/html; charset=\"utf-8\"\n"
                         "Content-Transfer-Encoding: base64\n\n");
  for (const auto& l : lines)
    raw += l + "\r\n\r\n";  // blank lines between are skipped
  m = Decode(raw);
  EXPECT_EQ(m.Body, (TmsStrings{cyr, "<p>line two</p>"}));
  EXPECT_EQ(m.StoredContentType(), "text/html");
  EXPECT_EQ(m.CharSet, csUTF8);
}

TEST(DecodeMultipart, MixedWithNestedAlternativeAndNamedFiles) {
  TmsMessage m = Decode(
      Crlf(kMime +
           "multipart/mixed;\n boundary=\"outer\"\n\npreamble\n--outer\n"
           "Content-Type: multipart/alternative; boundary=\"inner\"\n\n"
           "--inner\nContent-Type: text/plain; charset=KOI8-R\nContent-Transfer-Encoding: 8bit\n\n"
           "text line\n\n--inner\n"
           "Content-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
           "<p>html=3D</p>\n--inner--\n\n"
           "--outer\nContent-Type: application/pdf; name=\"report.pdf\"\n"
           "Content-Transfer-Encoding: base64\n\nJVBERi0=\n\n"
           "--outer\nContent-Type: application/octet-stream\n"
           "Content-Transfer-Encoding: base64\n\nAAEC\n--outer--\nepilogue\n"));
  EXPECT_EQ(m.Body, TmsStrings{"text line"});
  EXPECT_EQ(m.DeclaredCharSet, "koi8-r");
  ASSERT_EQ(m.Attachments.Count(), 3);
  EXPECT_EQ(m.Attachments.Items(0).DeclaredCharSet, "utf-8");
  ExpectFile(m, 0, "_alt.0", "<p>html=</p>", "text/html");
  EXPECT_EQ(m.Attachments.Items(0).EncodingKind, ekQuotedPrintable);  // sent on as it came
  ExpectFile(m, 1, "report.pdf", "%PDF-", "application/pdf");
  ExpectFile(m, 2, "att.2", std::string("\0\1\2", 3));
}

TEST(DecodeMultipart, WhichPartIsTheBody) {
  // The only part is the body; a named text file as the first part stays a file.
  TmsMessage m = Decode(Crlf(kMixed + "Content-Type: text/html\n\n<b>x</b>\n--b--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"<b>x</b>"});
  EXPECT_EQ(m.StoredContentType(), "text/html");
  m = Decode(Crlf(kMixed + "Content-Type: text/plain; name=\"notes.txt\"\n"
                           "Content-Transfer-Encoding: 7 bit\n\nline\n\n--b--\n"));
  EXPECT_TRUE(m.Body.empty());
  EXPECT_EQ(m.Attachments.Count(), 1);
  ExpectFile(m, 0, "notes.txt", "line\r\n");
}

TEST(DecodeMultipart, MissingBoundariesAndInvalidBase64) {
  TmsMessage m = Decode(Crlf(kMixed + "Content-Type: text/plain\n\nbody\n--b\n"
                                      "Content-Type: text/plain; name=t.txt\n"
                                      "Content-Transfer-Encoding: quoted-printable\n\n"
                                      "last=\nline\nend\n"));
  EXPECT_EQ(m.Body, TmsStrings{"body"});
  EXPECT_EQ(m.Attachments.Count(), 1);
  ExpectFile(m, 0, "t.txt", "lastline\r\nend\r\n");

  m = Decode(Crlf(kMime + "multipart/mixed; boundary=\"zz\"\n\ntext only\n"));
  ASSERT_GE(m.Body.size(), 2u);
  EXPECT_EQ(m.Body[0], kError);
  EXPECT_EQ(m.Body[1], "Cannot find boundary");

  std::string raw = Crlf("From: a@x\n" + kMixed +
                         "Content-Type: text/plain\n\nhello\n--b\nContent-Type: application/zip; "
                         "name=a.zip\nContent-Transfer-Encoding: base64\n\nUEsD*AAA\n--b--\n");
  m = Decode(raw);
  EXPECT_EQ(m.Body, (TmsStrings{"hello", kError, "Error decoding the attachment", kStored}));
  EXPECT_EQ(m.Attachments.Count(), 1);
  ExpectFile(m, 0, "original.eml", raw, "message/rfc822");
  EXPECT_EQ(m.Sender.Address, "a@x");
}

TEST(DecodeSingle, AttachmentNamedByNameOrFilenameOrNumbered) {
  TmsMessage m = Decode(Crlf(kMime + "application/pdf; name=\"=?utf-8?B?0KQ=?=.pdf\"\n"
                                     "Content-Transfer-Encoding: base64\n\nJVBE\nRi0=\n"));
  ExpectFile(m, 0, "\xD0\xA4.pdf", "%PDF-", "application/pdf");
  m = Decode(Crlf(kMime + "application/pdf\nContent-Transfer-Encoding: base64\n"
                          "Content-Disposition: attachment; filename=doc.pdf\n\nJVBE\n"));
  ExpectFile(m, 0, "doc.pdf", "%PD");
  m = Decode(Crlf(kMime + "application/pdf\n\nraw\n.\n"));
  ExpectFile(m, 0, "att.0", "raw\r\n.\r\n");
  m = Decode(Crlf(kMime + "application/x-foo; name=f\nContent-Transfer-Encoding: x-uuencode\n\n") +
             UUBlock("f", "payload"));
  ExpectFile(m, 0, "f", "payload");
  // A text type with a name parameter is a file too.
  m = Decode(Crlf(kMime + "text/plain; name=a.txt\n"
                          "Content-Transfer-Encoding: quoted-printable\n\nx=3Dy\n"));
  EXPECT_TRUE(m.Body.empty());
  ExpectFile(m, 0, "a.txt", "x=y\r\n");
  // So is one named by filename* only.
  m = Decode(Crlf(kMime + "text/plain; charset=utf-8\nContent-Disposition: inline; "
                          "filename*=utf-8''%D0%A4.txt\n\nfile text\n"));
  EXPECT_TRUE(m.Body.empty());
  ExpectFile(m, 0, "\xD0\xA4.txt", "file text\r\n");
  EXPECT_EQ(m.Attachments.Items(0).DeclaredCharSet, "utf-8");
}

TEST(DecodeLimits, LongLinesAreReadWhole) {
  std::string html(100000, 'h');
  std::string data(300000, '\x01');
  std::string raw = Crlf(kMixed + "Content-Type: text/plain\n\n") + html +
                    Crlf("\n--b\nContent-Type: message/rfc822; name=m.eml\n\n") + html +
                    Crlf(
                        "\n\n--b\nContent-Type: application/x-bin; name=d.bin\n"
                        "Content-Transfer-Encoding: base64\n\n") +
                    EncodeBase64Text(data) + Crlf("\n--b--\n");  // one line of 400000 characters
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, TmsStrings{html});
  EXPECT_EQ(m.Attachments.Count(), 2);
  ExpectFile(m, 0, "m.eml", html + "\r\n");
  ExpectFile(m, 1, "d.bin", data);
}

// The decoder looks through a part for the lines that matter (delimiters, the beginning of a
// uuencoded file) many bytes at a time: such a line is found wherever it falls, whatever ends
// the lines.
TEST(DecoderScan, DelimitersAndFilesFoundAtEveryOffset) {
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    for (std::size_t pad = 0; pad < 40; ++pad) {
      // A line with "-" and "b" inside it, then the line that matters.
      const std::string text = "x-b-" + std::string(pad, 'y');
      const std::string multipart = "From: a@example.com" + eol + "MIME-Version: 1.0" + eol +
                                    "Content-Type: multipart/mixed; boundary=b" + eol + eol +
                                    "--b" + eol + "Content-Type: text/plain" + eol + eol + text +
                                    eol + "--b" + eol + "Content-Type: application/x-y; name=a" +
                                    eol + "Content-Transfer-Encoding: base64" + eol + eol + "AAEC" +
                                    eol + "--b--" + eol;
      TmsMessage m = mailtest::Decode(multipart);
      EXPECT_EQ(m.Body, TmsStrings{text}) << pad;
      ASSERT_EQ(m.Attachments.Count(), 1) << pad;
      EXPECT_EQ(m.Attachments.Items(0).Data, std::string("\0\1\2", 3)) << pad;

      const std::string uu = "From: a@example.com" + eol + "MIME-Version: 1.0" + eol +
                             "Content-Transfer-Encoding: quoted-printable" + eol + eol + text +
                             eol + "begin 644 f.bin" + eol + "#86)C" + eol + "`" + eol + "end" +
                             eol;
      m = mailtest::Decode(uu);
      EXPECT_EQ(m.Body, TmsStrings{text}) << pad;
      ASSERT_EQ(m.Attachments.Count(), 1) << pad;
      EXPECT_EQ(m.Attachments.Items(0).Data, "abc") << pad;
    }
  }
}

// Nesting and labels as mail programs write them, byte by byte; the common shapes
// are decoded from the corpus (mime_corpus_test.cpp).
TEST(DecodeNested, SignedAndLaterNestedPartsGiveTheirLeaves) {
  TmsMessage m = Decode(
      Crlf(kMime +
           "multipart/signed; protocol=\"application/pgp-signature\"; boundary=s\n\n"
           "--s\nContent-Type: multipart/mixed; boundary=\"s2\"\n\n"  // "--s" begins "--s2"
           "--s2\nContent-Type: text/plain\n\nsigned text\n"
           "--s2\nContent-Type: multipart/mixed; boundary=\"in\"\n\n"
           "--in\nContent-Type: text/plain; name=one.txt\n\none\n"
           "--in\nContent-Type: application/octet-stream\nContent-Disposition: attachment; "
           "filename=\"two.bin\"\nContent-Transfer-Encoding: base64\n\nAAE=\n--in--\n\n"
           "--s2--\n\n--s\nContent-Type: application/pgp-signature; name=\"signature.asc\"\n\n"
           "SIG\n--s--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"signed text"});
  ASSERT_EQ(m.Attachments.Count(), 3);
  ExpectFile(m, 0, "one.txt", "one");
  ExpectFile(m, 1, "two.bin", std::string("\0\1", 2));
  ExpectFile(m, 2, "signature.asc", "SIG", "application/pgp-signature");
}

TEST(DecodeNested, BrokenNestingKeepsTheData) {
  // The inner multipart never closes: the outer delimiter still ends it.
  TmsMessage m =
      Decode(Crlf(kMime + "multipart/mixed; boundary=o\n\n--o\nContent-Type: text/plain\n\n"
                          "body\n--o\nContent-Type: multipart/mixed; boundary=i\n\n--i\n"
                          "Content-Type: text/plain; name=a.txt\n\nA\n"
                          "--o\nContent-Type: text/plain; name=b.txt\n\nB\n--o--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"body"});
  ASSERT_EQ(m.Attachments.Count(), 2);
  ExpectFile(m, 0, "a.txt", "A");
  ExpectFile(m, 1, "b.txt", "B");
  // A nested multipart without a boundary is kept raw, and is never the body.
  m = Decode(Crlf(kMime + "multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/mixed\n\n"
                          "raw\n--o--\n"));
  EXPECT_TRUE(m.Body.empty());
  ASSERT_EQ(m.Attachments.Count(), 1);
  ExpectFile(m, 0, "att.0", "raw", "multipart/mixed");
  // A delimiter among the part's headers ends an empty part.
  m = Decode(Crlf(kMime + "multipart/mixed; boundary=o\n\n--o\nContent-Type: text/plain\n"
                          "--o\nContent-Type: text/plain\n\nsecond\n--o--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"second"});
}

TEST(DecodeNested, DepthAndPartCountAreBounded) {
  std::string raw = kMime + "multipart/mixed; boundary=d0\n\n";
  for (int i = 0; i < 200; ++i)
    raw += "--d" + std::to_string(i) + "\nContent-Type: multipart/mixed; boundary=d" +
           std::to_string(i + 1) + "\n\n";
  raw += "--d200\nContent-Type: text/plain\n\ndeep\n";
  TmsMessage m = Decode(Crlf(raw));
  ASSERT_EQ(m.Attachments.Count(), 1);  // what lies too deep is kept raw
  EXPECT_NE(m.Attachments.Items(0).Data.find("deep"), std::string::npos);

  raw = kMime + "multipart/mixed; boundary=p\n\n";
  for (int i = 0; i < 10050; ++i)
    raw += "--p\nContent-Type: text/plain; name=f" + std::to_string(i) + "\n\nx\n";
  m = Decode(Crlf(raw + "--p--\n"));
  ASSERT_EQ(m.Attachments.Count(), 10001);  // the rest in one piece
  const std::string& rest = m.Attachments.Items(10000).Data;
  EXPECT_EQ(rest.find("name=f10000"), rest.find("name=f"));
  EXPECT_NE(rest.find("name=f10049"), std::string::npos);
}

TEST(DecodeCharsets, DeclaredLabelsSurviveSavingAndLoading) {
  // The HTML alternative's label stays (the body's is shown by the corpus test).
  TmsMessage m =
      Decode(Crlf("From: a@x\nTo: b@y\n" + kMime +
                  "multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n"
                  "--b\nContent-Type: text/html; charset=koi8-r\n\n<p>\xC1</p>\n--b--\n"));
  TmsMessage again = Decode(m.SaveToString());
  ASSERT_EQ(again.Attachments.Count(), 1);
  EXPECT_EQ(again.Attachments.Items(0).DeclaredCharSet, "koi8-r");
  EXPECT_EQ(again.Attachments.Items(0).Data.rfind("<p>\xC1</p>", 0), 0u);
  // No label declared: the encoder's own choice.
  m = Decode(Crlf("From: a@x\nTo: b@y\n" + kMime + "text/plain\n\n\xD0\x96\n"));
  EXPECT_EQ(m.DeclaredCharSet, "");
  EXPECT_NE(m.SaveToString().find("charset=\"utf-8\""), std::string::npos);
  // A label that is no token is not written back.
  m = Decode(Crlf("From: a@x\nTo: b@y\n" + kMime + "text/plain; charset=\"a\\\"b\"\n\nx\n"));
  EXPECT_EQ(m.SaveToString().find("a\"b"), std::string::npos);
}

TEST(DecodeCharsets, EncodedWordsReportTheirCharsets) {
  TmsHeaderCharSets cs;
  EXPECT_EQ(DecodeHeaderWords("Re: =?KOI8-R?B?8NLJ?= =?koi8-r*ru?Q?=D7?= x", cs),
            "Re: \xF0\xD2\xC9\xD7 x");
  EXPECT_EQ(cs.Words, (TmsStrings{"koi8-r", "koi8-r"}));
  EXPECT_FALSE(cs.RawEightBit);
  DecodeHeaderWords("\xF0 =?utf-8?B?0JY=?=", cs);
  EXPECT_EQ(cs.Words, TmsStrings{"utf-8"});
  EXPECT_TRUE(cs.RawEightBit);
  DecodeHeaderWords("plain \xF0", cs);  // the old result does not linger
  EXPECT_TRUE(cs.Words.empty());
  EXPECT_TRUE(cs.RawEightBit);
  TmsHeaders h{"Subject: =?windows-1251?Q?=CF?=", " =?windows-1251?B?8A==?="};
  EXPECT_EQ(h.GetFieldValue("Subject", cs), "\xCF\xF0");
  EXPECT_EQ(cs.Words, (TmsStrings{"windows-1251", "windows-1251"}));
}
