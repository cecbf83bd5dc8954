// Which text is the body, which parts are files, and what each text was
// declared in: messages as mail programs write them, byte by byte.

#include <gtest/gtest.h>

#include "mail/mscodec.h"
#include "mail/msmsg.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;
using mailtest::Crlf;
using mailtest::Decode;

namespace {

const std::string kMime = "MIME-Version: 1.0\nContent-Type: ";

void ExpectAtt(const TmsMessage& m, int i, const std::string& name, const std::string& type,
               const std::string& data) {
  ASSERT_LT(i, m.Attachments.Count()) << name;
  const TmsAttItem& a = m.Attachments.Items(i);
  EXPECT_EQ(a.FileName(), name);
  EXPECT_EQ(a.ContentType, type) << name;
  EXPECT_EQ(a.Data, data) << name;
}

}  // namespace

TEST(DecodeNested, RelatedAlternativeWithInlineImageAndFile) {
  // mixed( related( alternative( plain koi8-r base64, html utf-8 qp ), image ), file )
  TmsMessage m = Decode(Crlf(
      kMime +
      "multipart/mixed; boundary=\"m\"\n\n"
      "--m\nContent-Type: multipart/related; boundary=\"r\"; type=\"multipart/alternative\"\n\n"
      "--r\nContent-Type: multipart/alternative; boundary=\"a\"\n\n"
      "--a\nContent-Type: text/plain; charset=\"KOI8-R\"\nContent-Transfer-Encoding: base64\n\n"
      "8NLJ18XUDQrtydI=\n\n"  // "Привет", "Мир" in KOI8-R
      "--a\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
      "<p>=D0=9F</p>\n--a--\n\n"
      "--r\nContent-Type: image/png\nContent-ID: <i1>\nContent-Transfer-Encoding: base64\n\n"
      "iVBORw==\n--r--\n"
      "--m\nContent-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\n"
      "JVBERi0=\n--m--\n"));
  EXPECT_EQ(m.Body, (TmsStrings{"\xF0\xD2\xC9\xD7\xC5\xD4", "\xED\xC9\xD2"}));
  EXPECT_EQ(m.DeclaredCharSet, "koi8-r");
  ASSERT_EQ(m.Attachments.Count(), 3);
  ExpectAtt(m, 0, "_alt.0", "text/html", "<p>\xD0\x9F</p>");
  EXPECT_EQ(m.Attachments.Items(0).DeclaredCharSet, "utf-8");
  ExpectAtt(m, 1, "att.1", "image/png", "\x89PNG");
  ExpectAtt(m, 2, "a.pdf", "application/pdf", "%PDF-");
}

TEST(DecodeNested, AlternativePrefersPlainTextWhateverItsPlace) {
  // HTML first, plain second: the plain text is the body, the HTML "_alt.0".
  TmsMessage m =
      Decode(Crlf(kMime + "multipart/alternative; boundary=b\n\n--b\n"
                          "Content-Type: text/html\n\n<b>hi</b>\n--b\n"
                          "Content-Type: text/plain; charset=windows-1251\n\n\xCF\xF0\xE8\n"
                          "--b--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"\xCF\xF0\xE8"});
  EXPECT_EQ(m.DeclaredCharSet, "windows-1251");
  ASSERT_EQ(m.Attachments.Count(), 1);
  ExpectAtt(m, 0, "_alt.0", "text/html", "<b>hi</b>");
  // Only HTML: it is the body, and the message is HTML.
  m = Decode(Crlf(kMime +
                  "multipart/related; boundary=b\n\n--b\nContent-Type: text/html\n"
                  "Content-Transfer-Encoding: base64\n\nPGk+eDwvaT4=\n--b\n"
                  "Content-Type: image/gif\nContent-Transfer-Encoding: base64\n\nR0lG\n--b--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"<i>x</i>"});
  EXPECT_EQ(m.StoredContentType(), "text/html");
  ASSERT_EQ(m.Attachments.Count(), 1);
  ExpectAtt(m, 0, "att.0", "image/gif", "GIF");
}

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
  ExpectAtt(m, 0, "one.txt", "text/plain", "one");
  ExpectAtt(m, 1, "two.bin", "application/octet-stream", std::string("\0\1", 2));
  ExpectAtt(m, 2, "signature.asc", "application/pgp-signature", "SIG");
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
  ExpectAtt(m, 0, "a.txt", "text/plain", "A");
  ExpectAtt(m, 1, "b.txt", "text/plain", "B");
  // A nested multipart without a boundary is kept raw, and is never the body.
  m = Decode(Crlf(kMime + "multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/mixed\n\n"
                          "raw\n--o--\n"));
  EXPECT_TRUE(m.Body.empty());
  ASSERT_EQ(m.Attachments.Count(), 1);
  ExpectAtt(m, 0, "att.0", "multipart/mixed", "raw");
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

TEST(DecodeFiles, TextPartsNamedOnlyByAFileName) {
  // A single text part named by filename* is a file.
  TmsMessage m = Decode(Crlf(kMime + "text/plain; charset=utf-8\nContent-Disposition: inline; "
                                     "filename*=utf-8''%D0%A4.txt\n\nfile text\n"));
  EXPECT_TRUE(m.Body.empty());
  ASSERT_EQ(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(0).FileName(), "\xD0\xA4.txt");
  EXPECT_EQ(m.Attachments.Items(0).DeclaredCharSet, "utf-8");
  // A quoted file name with an escaped quote is read whole.
  m = Decode(Crlf(kMime +
                  "multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nbody\n"
                  "--b\nContent-Type: application/octet-stream\nContent-Disposition: "
                  "attachment; filename=\"say \\\"hi\\\".bin\"\nContent-Transfer-Encoding: base64"
                  "\n\nAA==\n--b--\n"));
  ASSERT_EQ(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(0).FileName(), "say \"hi\".bin");
  // A parameter whose name ends in "name" is not the name.
  m = Decode(Crlf(kMime + "application/pdf; x-comment=\"rename\"; name=\"right.pdf\"\n\n%PDF\n"));
  EXPECT_EQ(m.Attachments.Items(0).FileName(), "right.pdf");
  m = Decode(Crlf(kMime + "multipart/mixed; x-boundary-hint=a; boundary=b\n\n--b\n"
                          "Content-Type: text/plain\n\nfound\n--b--\n"));
  EXPECT_EQ(m.Body, TmsStrings{"found"});
}

TEST(DecodeCharsets, DeclaredLabelsSurviveSavingAndLoading) {
  // An 8-bit KOI8-R body: the label stays koi8-r, the bytes stay the same.
  const std::string koi = "\xF0\xD2\xC9\xD7\xC5\xD4";
  TmsMessage m = Decode(Crlf("From: a@x\nTo: b@y\n" + kMime +
                             "text/plain; charset=\"koi8-r\"\nContent-Transfer-Encoding: 8bit\n\n" +
                             koi + "\n"));
  EXPECT_EQ(m.DeclaredCharSet, "koi8-r");
  const std::string saved = m.SaveToString();
  EXPECT_NE(saved.find("charset=\"koi8-r\""), std::string::npos) << saved;
  TmsMessage again = Decode(saved);
  EXPECT_EQ(again.Body, TmsStrings{koi});
  EXPECT_EQ(again.DeclaredCharSet, "koi8-r");
  // So does the HTML alternative.
  m = Decode(Crlf("From: a@x\nTo: b@y\n" + kMime +
                  "multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n"
                  "--b\nContent-Type: text/html; charset=koi8-r\n\n<p>\xC1</p>\n--b--\n"));
  again = Decode(m.SaveToString());
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

TEST(DecodeAddresses, GroupsQuotedNamesAndFoldedFrom) {
  TmsMessage m =
      Decode(Crlf("From:\n   \"Ivan \\\"the\\\" Great\" <ivan@x>\n"
                  "To: undisclosed-recipients:;\n"
                  "Cc: team: a@x, \"B, b\" <b@x>;, c@x, \"=?utf-8?Q?a:b?=\" <d@x>\n\nbody\n"));
  EXPECT_EQ(m.Headers.GetFieldValue("From"), "\"Ivan \\\"the\\\" Great\" <ivan@x>");
  EXPECT_EQ(m.Sender, (TmsMailAddress{"Ivan \"the\" Great", "ivan@x"}));
  EXPECT_EQ(m.Recipients.Count(), 0);
  ASSERT_EQ(m.CC.Count(), 4);
  EXPECT_EQ(m.CC.Items(0), (TmsMailAddress{"", "a@x"}));
  EXPECT_EQ(m.CC.Items(1), (TmsMailAddress{"B, b", "b@x"}));
  EXPECT_EQ(m.CC.Items(2), (TmsMailAddress{"", "c@x"}));
  EXPECT_EQ(m.CC.Items(3), (TmsMailAddress{"a:b", "d@x"}));  // a colon inside a word
}
