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
