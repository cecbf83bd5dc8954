#include <gtest/gtest.h>

#include "mail/mscodec.h"
#include "mail/msmsg.h"
#include "mail/msuucode.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;
using mailtest::Crlf;
using mailtest::Decode;

namespace {
const std::string kError = "The following error has been occured while processing the message:";
const std::string kStored = "The original message will be stored as an attachment";

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
  std::string raw = Crlf("From: a@x\nTo: b@y\nSubject: files\n\nSee the files.\n.\n\n") +
                    UUBlock("one.bin", bin) + Crlf("between\n") + UUBlock("", "second") +
                    Crlf("after\n");
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, (TmsStrings{"See the files.", ".", "between", "after"}));
  EXPECT_EQ(m.Encoding, meUU);
  ASSERT_EQ(m.Attachments.Count(), 2);
  EXPECT_EQ(m.Attachments.Items(0).FileName(), "one.bin");
  EXPECT_EQ(m.Attachments.Items(0).Data, bin);
  EXPECT_EQ(m.Attachments.Items(1).FileName(), "att.1");
  EXPECT_EQ(m.Attachments.Items(1).Data, "second");
}

TEST(DecodePlain, WithoutMimeVersionEverythingIsBody) {
  TmsMessage m = Decode(Crlf("Subject: x\nContent-Type: text/html\n\n<b>hi</b>\n\nbye\n"));
  EXPECT_EQ(m.Body, (TmsStrings{"<b>hi</b>", "", "bye"}));
  EXPECT_EQ(m.Attachments.Count(), 0);
  // The POP3 client removes the end-of-data line, so a last "." is the sender's own.
  EXPECT_EQ(Decode(Crlf("Subject: x\n\nsigned\n.\n")).Body, (TmsStrings{"signed", "."}));
  TmsMessage headers_only = Decode(Crlf("Subject: only\n"));
  EXPECT_EQ(headers_only.Subject, "only");
  EXPECT_TRUE(headers_only.Body.empty());
}

TEST(DecodeText, QuotedPrintableWithSoftBreaks) {
  TmsMessage m =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: text/plain; charset=iso-8859-1\n"
                  "Content-Transfer-Encoding: Quoted-Printable\n\n"
                  "Caf=E9 au lait, this line is long and =\ncontinues here.\nSecond =3D line\n"));
  EXPECT_EQ(m.Body, (TmsStrings{"Caf\xE9 au lait, this line is long and continues here.",
                                "Second = line"}));
  EXPECT_EQ(m.CharSet, csISO8859);
}

TEST(DecodeText, Base64TextAndHtmlType) {
  std::string text = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n<p>line two</p>\r\n";
  TmsStrings lines;
  EncodeBase64Lines(text, lines);
  std::string raw = Crlf(
      "MIME-Version: 1.0\nContent-Type: text/html; charset=\"utf-8\"\n"
      "Content-Transfer-Encoding: base64\n\n");
  for (const auto& l : lines)
    raw += l + "\r\n\r\n";  // blank lines between are skipped
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body,
            (TmsStrings{"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "<p>line two</p>"}));
  EXPECT_EQ(m.StoredContentType(), "text/html");
  EXPECT_EQ(m.CharSet, csUTF8);
}

TEST(DecodeText, UuencodedFileInsideAMimeTextBody) {
  std::string raw =
      Crlf("MIME-Version: 1.0\nContent-Type: text/plain\n\nhello\n") + UUBlock("x.txt", "data");
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, TmsStrings{"hello"});
  EXPECT_EQ(m.Encoding, meUU);
  ASSERT_EQ(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(0).Data, "data");
}

TEST(DecodeMultipart, MixedWithNestedAlternativeAndNamedFiles) {
  std::string raw = Crlf(
      "From: \"Ivan\" <ivan@x.ru>\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed;\n boundary=\"outer\"\n\n"
      "preamble\n--outer\n"
      "Content-Type: multipart/alternative; boundary=\"inner\"\n\n"
      "--inner\nContent-Type: text/plain; charset=koi8-r\nContent-Transfer-Encoding: 8bit\n\n"
      "text line\n\n--inner\n"
      "Content-Type: text/html\nContent-Transfer-Encoding: quoted-printable\n\n"
      "<p>html=3D</p>\n--inner--\n\n"
      "--outer\nContent-Type: application/pdf; name=\"report.pdf\"\n"
      "Content-Transfer-Encoding: base64\n\nJVBERi0=\n\n"
      "--outer\nContent-Type: application/octet-stream\n"
      "Content-Transfer-Encoding: base64\n\nAAEC\n--outer--\nepilogue\n");
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, TmsStrings{"text line"});
  ASSERT_EQ(m.Attachments.Count(), 3);
  EXPECT_EQ(m.Attachments.Items(0).FileName(), "_alt.0");
  EXPECT_EQ(m.Attachments.Items(0).ContentType, "text/html");
  EXPECT_EQ(m.Attachments.Items(0).EncodingKind, ekQuotedPrintable);
  EXPECT_EQ(m.Attachments.Items(0).Data, "<p>html=</p>");
  EXPECT_EQ(m.Attachments.Items(1).FileName(), "report.pdf");
  EXPECT_EQ(m.Attachments.Items(1).ContentType, "application/pdf");
  EXPECT_EQ(m.Attachments.Items(1).Data, "%PDF-");
  EXPECT_EQ(m.Attachments.Items(2).FileName(), "att.2");
  EXPECT_EQ(m.Attachments.Items(2).Data, std::string("\0\1\2", 3));
}

TEST(DecodeMultipart, AlternativeMessageAndFirstPartInBase64) {
  TmsMessage alt = Decode(
      Crlf("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=b\n\n--b\n"
           "Content-Type: text/plain\n\nplain\n--b\nContent-Type: text/html\n\n<i>x</i>\n--b--\n"));
  EXPECT_EQ(alt.Body, TmsStrings{"plain"});
  ASSERT_EQ(alt.Attachments.Count(), 1);
  EXPECT_EQ(alt.Attachments.Items(0).FileName(), "_alt.0");
  EXPECT_EQ(alt.Attachments.Items(0).Data, "<i>x</i>");

  // A base64 first part is not the body: it becomes "att.0" with kind 1.
  TmsMessage b64 = Decode(Crlf(
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
      "Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8=\n--b\n"
      "Content-Type: image/png; name=a.png\nContent-Transfer-Encoding: base64\n\niVBO\n--b--\n"));
  EXPECT_TRUE(b64.Body.empty());
  ASSERT_EQ(b64.Attachments.Count(), 2);
  EXPECT_EQ(b64.Attachments.Items(0).FileName(), "att.0");
  EXPECT_EQ(b64.Attachments.Items(0).EncodingKind, ekBase64);
  EXPECT_EQ(b64.Attachments.Items(0).Data, "hello");
  EXPECT_EQ(b64.Attachments.Items(1).FileName(), "a.png");
}

TEST(DecodeMultipart, OnlyOnePartAndFirstPartThatIsAFile) {
  TmsMessage one =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                  "Content-Type: text/html\n\n<b>x</b>\n--b--\n"));
  EXPECT_EQ(one.Body, TmsStrings{"<b>x</b>"});
  EXPECT_EQ(one.StoredContentType(), "text/html");

  // A text file as the first part stays a file.
  TmsMessage file =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                  "Content-Type: text/plain; name=\"notes.txt\"\nContent-Transfer-Encoding: 7 bit\n"
                  "Content-Disposition: attachment; filename=\"notes.txt\"\n\nline\n\n--b--\n"));
  EXPECT_TRUE(file.Body.empty());
  ASSERT_EQ(file.Attachments.Count(), 1);
  EXPECT_EQ(file.Attachments.Items(0).FileName(), "notes.txt");
  EXPECT_EQ(file.Attachments.Items(0).Data, "line\r\n");
}

TEST(DecodeMultipart, MissingClosingBoundaryKeepsTheLastPart) {
  TmsMessage m =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
                  "Content-Type: text/plain\n\nbody\n--b\nContent-Type: text/plain; name=t.txt\n"
                  "Content-Transfer-Encoding: quoted-printable\n\nlast=\nline\nend\n"));
  EXPECT_EQ(m.Body, TmsStrings{"body"});
  ASSERT_EQ(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(0).Data, "lastline\r\nend\r\n");

  TmsMessage no_start = Decode(
      Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"zz\"\n\ntext only\n"));
  ASSERT_GE(no_start.Body.size(), 2u);
  EXPECT_EQ(no_start.Body[0], kError);
  EXPECT_EQ(no_start.Body[1], "Cannot find boundary");
}

TEST(DecodeMultipart, InvalidBase64GivesTheErrorLinesAndTheOriginal) {
  std::string raw = Crlf(
      "From: a@x\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
      "Content-Type: text/plain\n\nhello\n--b\nContent-Type: application/zip; name=a.zip\n"
      "Content-Transfer-Encoding: base64\n\nUEsD*AAA\n--b--\n");
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, (TmsStrings{"hello", kError, "Error decoding the attachment", kStored}));
  ASSERT_EQ(m.Attachments.Count(), 1);
  const TmsAttItem& orig = m.Attachments.Items(0);
  EXPECT_EQ(orig.FileName(), "original.eml");
  EXPECT_EQ(orig.ContentType, "message/rfc822");
  EXPECT_EQ(orig.EncodingKind, ekSevenBit);
  EXPECT_EQ(orig.Data, raw);
  EXPECT_EQ(m.Sender.Address, "a@x");
}

TEST(DecodeSingle, AttachmentNamedByNameOrFilenameOrNumbered) {
  TmsMessage byname = Decode(
      Crlf("MIME-Version: 1.0\nContent-Type: application/pdf; name=\"=?utf-8?B?0KQ=?=.pdf\"\n"
           "Content-Transfer-Encoding: base64\n\nJVBE\nRi0=\n"));
  ASSERT_EQ(byname.Attachments.Count(), 1);
  EXPECT_EQ(byname.Attachments.Items(0).FileName(), "\xD0\xA4.pdf");
  EXPECT_EQ(byname.Attachments.Items(0).ContentType, "application/pdf");
  EXPECT_EQ(byname.Attachments.Items(0).Data, "%PDF-");

  TmsMessage byfilename = Decode(
      Crlf("MIME-Version: 1.0\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=doc.pdf\n\nJVBE\n"));
  EXPECT_EQ(byfilename.Attachments.Items(0).FileName(), "doc.pdf");
  EXPECT_EQ(byfilename.Attachments.Items(0).EncodingKind, ekBase64);

  TmsMessage numbered =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: application/pdf\n\nraw\n.\n"));
  EXPECT_EQ(numbered.Attachments.Items(0).FileName(), "att.0");
  EXPECT_EQ(numbered.Attachments.Items(0).ContentType, "application/pdf");
  EXPECT_EQ(numbered.Attachments.Items(0).EncodingKind, ekSevenBit);
  EXPECT_EQ(numbered.Attachments.Items(0).Data, "raw\r\n.\r\n");

  TmsMessage uue = Decode(Crlf("MIME-Version: 1.0\nContent-Type: application/x-foo; name=f\n"
                               "Content-Transfer-Encoding: x-uuencode\n\n") +
                          UUBlock("f", "payload"));
  EXPECT_EQ(uue.Attachments.Items(0).Data, "payload");

  // A text type with a name parameter is a file too.
  TmsMessage text =
      Decode(Crlf("MIME-Version: 1.0\nContent-Type: text/plain; name=a.txt\n"
                  "Content-Transfer-Encoding: quoted-printable\n\nx=3Dy\n"));
  EXPECT_TRUE(text.Body.empty());
  EXPECT_EQ(text.Attachments.Items(0).Data, "x=y\r\n");
}

TEST(DecodeSingle, NonTextWithoutContentTypeIsAnError) {
  TmsMessage m =
      Decode(Crlf("MIME-Version: 1.0\nX-Mailer: V Mailsystem R #0001\n"
                  "Content-Type: text/plain; name=x.bin\n\nabc\n"));
  // The broken mailer's Content-Type is ignored: a plain text body.
  EXPECT_EQ(m.Body, TmsStrings{"abc"});
}

TEST(DecodeHeaders, SubjectsInCyrillicCharsets) {
  EXPECT_EQ(Decode(Crlf("Subject: =?KOI8-R?B?8NLJ18XU?=\n\n")).Subject, "\xF0\xD2\xC9\xD7\xC5\xD4");
  EXPECT_EQ(Decode(Crlf("Subject: =?windows-1251?Q?=CF=F0=E8=E2=E5=F2?=\n\n")).Subject,
            "\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(Decode(Crlf("Subject: Re: =?UTF-8?B?0J/RgNC4?=\n =?UTF-8?B?0LLQtdGC?= !\n\n")).Subject,
            "Re: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 !");
}

TEST(DecodeLimits, LongLinesAreReadWhole) {
  std::string html(100000, 'h');
  std::string data(300000, '\x01');
  std::string b64 = EncodeBase64Text(data);  // one line of 400000 characters
  std::string raw = Crlf(
                        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                        "Content-Type: text/plain\n\n") +
                    html + Crlf("\n--b\nContent-Type: message/rfc822; name=m.eml\n\n") + html +
                    Crlf(
                        "\n\n--b\nContent-Type: application/x-bin; name=d.bin\n"
                        "Content-Transfer-Encoding: base64\n\n") +
                    b64 + Crlf("\n--b--\n");
  TmsMessage m = Decode(raw);
  EXPECT_EQ(m.Body, TmsStrings{html});
  ASSERT_EQ(m.Attachments.Count(), 2);
  EXPECT_EQ(m.Attachments.Items(0).Data, html + "\r\n");
  EXPECT_EQ(m.Attachments.Items(1).Data, data);
}

TEST(DecodeLimits, HostileInputDoesNotCrash) {
  for (const std::string& raw :
       {std::string(), std::string("\r\n"), std::string(1000, '\n'),
        std::string("MIME-Version: 1.0\r\n"),
        Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\n\n--\n--\n"),
        Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
             "Content-Type: multipart/alternative; boundary=c\n\n--c--\n"),
        Crlf("MIME-Version: 1.0\nContent-Type: multipart/alternative; "
             "boundary=b\n\n--b\n--b\n--b\n"),
        std::string("MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\n\0\0\0", 47),
        Crlf("\nbegin 644 x\nM")}) {
    TmsMessage m;
    EXPECT_NO_THROW(m.LoadFromString(raw));
  }
}

TEST(DecodeLimits, AnyLineEndReadsTheSame) {
  const std::string lf =
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
      "Content-Type: text/plain\n\none\ntwo\n--b\nContent-Type: application/x-y; name=a\n"
      "Content-Transfer-Encoding: base64\n\nAAEC\n--b--\n";
  std::string cr = lf;
  for (char& c : cr)
    if (c == '\n') c = '\r';
  for (const std::string& raw : {lf, cr, Crlf(lf)}) {
    TmsMessage m = Decode(raw);
    EXPECT_EQ(m.Body, (TmsStrings{"one", "two"}));
    ASSERT_EQ(m.Attachments.Count(), 1);
    EXPECT_EQ(m.Attachments.Items(0).Data, std::string("\0\1\2", 3));
  }
}

TEST(DecodeArticle, NewsArticleFields) {
  TmsArticle a;
  a.Sender = {"Poster", "p@x"};
  a.NewsGroups = "fido7.ru.test";
  a.Subject = "Test";
  a.Body = {"text"};
  std::string raw = a.SaveToString();
  EXPECT_EQ(raw.substr(0, raw.find("Mime-Version")),
            Crlf("From:     Poster <p@x>\nNewsgroups: fido7.ru.test\nSubject:  Test\n"));
  TmsArticle back;
  back.LoadFromString(raw);
  EXPECT_EQ(back.NewsGroups, "fido7.ru.test");
  EXPECT_EQ(back.Subject, "Test");
  EXPECT_EQ(back.Body, a.Body);
}
