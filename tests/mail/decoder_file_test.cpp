// Messages decoded from files large enough that the decoder gives back the
// memory of what it has decoded: the result is that of the same bytes decoded
// in memory, also where the decoder must read given-back bytes again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/tempdir.h"

using namespace ms;

namespace {

const char kHead[] = "From: a@example.com\r\nTo: b@example.com\r\nSubject: big\r\n";

// Text lines with escapes, soft breaks and trailing blanks once encoded.
std::string Text(std::size_t bytes) {
  std::string t;
  for (int i = 0; t.size() < bytes; ++i)
    t += "line " + std::to_string(i) + " \xd0\x9f = tab\t" + std::string(i % 90, 'w') + " \r\n";
  return t;
}

TmsAttItem Part(const std::string& name, std::uint8_t kind, std::string data) {
  TmsAttItem a;
  a.SetFileName(name);
  a.ContentType = kind == ekBase64 ? "application/octet-stream" : "text/plain";
  a.EncodingKind = kind;
  a.Data = std::move(data);
  return a;
}

// Several megabytes in parts of every transfer kind.
std::string Multipart() {
  TmsMessage m = mailtest::Decode(kHead);
  m.Body = SplitLines(Text(1500000));
  m.CharSet = csUTF8;
  m.Attachments.AddItem(Part("b.txt", ekQuotedPrintable, Text(2500000)));
  m.Attachments.AddItem(Part("c.txt", ekSevenBit, Text(2000000)));
  m.Attachments.AddItem(Part("a.bin", ekBase64, mailtest::RandomBytes(3000000, 5)));
  return m.SaveToString();
}

void ExpectSame(const TmsMessage& got, const TmsMessage& want) {
  EXPECT_EQ(got.Headers, want.Headers);
  EXPECT_TRUE(got.Body == want.Body);
  EXPECT_EQ(got.Encoding, want.Encoding);
  ASSERT_EQ(got.Attachments.Count(), want.Attachments.Count());
  for (int i = 0; i < got.Attachments.Count(); ++i) {
    EXPECT_EQ(got.Attachments.Items(i).FileName(), want.Attachments.Items(i).FileName());
    EXPECT_TRUE(got.Attachments.Items(i).Data == want.Attachments.Items(i).Data) << "part " << i;
  }
}

class DecoderFile : public ::testing::Test {
 protected:
  void TearDown() override { SetMessagePump(nullptr); }

  // The message decoded from a file holding Raw, checked against Raw decoded in memory.
  TmsMessage LoadChecked(const std::string& raw) {
    vigilo::test::WriteFile(path_, raw);
    TmsMessage m;
    m.LoadFromFile(path_.string());
    ExpectSame(m, mailtest::Decode(raw));
    return m;
  }

  vigilo::test::TempDir dir_;
  std::filesystem::path path_ = dir_.path() / "message.eml";
};

}  // namespace

TEST_F(DecoderFile, LargePartsOfEveryKindDecodeAsInMemory) {
  EXPECT_EQ(LoadChecked(Multipart()).Attachments.Count(), 3);
  // A quoted-printable text body, and a message that is one base64 file.
  std::string qp = std::string(kHead) +
                   "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  QuotedPrintableEncodeBlock(Text(4000000), qp);
  EXPECT_GT(LoadChecked(qp).Body.size(), 10000u);
  std::string file = std::string(kHead) +
                     "MIME-Version: 1.0\r\nContent-Type: application/octet-stream; name=x.bin\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n";
  EncodeBase64Block(mailtest::RandomBytes(4000000, 6).data(), 4000000, file);
  EXPECT_EQ(LoadChecked(file).Attachments.Items(0).Data.size(), 4000000u);
}

TEST_F(DecoderFile, BytesGivenBackAreReadAgainWhenNeeded) {
  // A bad base64 byte in the last part: the original message, which the parts
  // before it gave back, is attached whole.
  std::string raw = Multipart();
  const std::size_t tail = raw.rfind("\r\n--", raw.size() - 8);
  raw.insert(tail - 100, "!");
  TmsMessage m = LoadChecked(raw);
  ASSERT_GE(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(m.Attachments.Count() - 1).FileName(), "original.eml");
  EXPECT_TRUE(m.Attachments.Items(m.Attachments.Count() - 1).Data == raw);

  // A uuencoded file after megabytes of quoted-printable text: the text is
  // read again from its start as plain lines.
  std::string uu = std::string(kHead) +
                   "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  QuotedPrintableEncodeBlock(Text(3000000), uu);
  uu += "begin 644 f.bin\r\n#86)C\r\n`\r\nend\r\n";
  m = LoadChecked(uu);
  EXPECT_EQ(m.Encoding, meUU);
  ASSERT_EQ(m.Attachments.Count(), 1);
  EXPECT_EQ(m.Attachments.Items(0).Data, "abc");
}

TEST_F(DecoderFile, FileChangedWhileDecodedIsNeverMistakenForTheOriginal) {
  std::string raw = Multipart();
  vigilo::test::WriteFile(path_, raw);
  // Cut short as soon as decoding begins.
  const std::string path = path_.string();
  SetMessagePump([path] { ASSERT_EQ(truncate(path.c_str(), 100), 0); });
  TmsMessage m;
  m.LoadFromFile(path);
  SetMessagePump(nullptr);
  ExpectSame(m, mailtest::Decode(raw));

  // When the bytes given back are needed again, the file is not what was read.
  const std::size_t tail = raw.rfind("\r\n--", raw.size() - 8);
  raw.insert(tail - 100, "!");
  vigilo::test::WriteFile(path_, raw);
  SetMessagePump([path] { ASSERT_EQ(truncate(path.c_str(), 100), 0); });
  EXPECT_THROW(m.LoadFromFile(path), EmsError);
}
