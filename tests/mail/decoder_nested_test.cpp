// Nesting, labels and addresses as mail programs write them, byte by byte; the common shapes
// are decoded from the corpus (mime_corpus_test.cpp).

#include <gtest/gtest.h>

#include "mail/mscodec.h"
#include "mail/msmsg.h"
#include "tests/mail/mail_test_util.h"

using namespace ms;
using mailtest::Crlf;
using mailtest::Decode;
using mailtest::ExpectFile;
using mailtest::kMime;

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
