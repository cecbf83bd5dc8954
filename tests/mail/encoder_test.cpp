// Messages as they are written: header layout, encodings, files, and the round trip back.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/tempdir.h"

using namespace ms;
using mailtest::Crlf;
using mailtest::Has;

namespace {

class Encoder : public ::testing::Test {
 protected:
  void SetUp() override {
    vigilo::test::WriteFile(dir_.path() / "mime.types",
                            "application/pdf pdf\ntext/plain txt\ntext/html htm html\n"
                            "image/jpeg jpg\nmessage/rfc822 eml\napplication/zip zip\n");
    SetMimeTypesFiles({(dir_.path() / "mime.types").string()});
  }
  void TearDown() override { SetMimeTypesFiles({}); }

  static TmsMessage Simple() {
    TmsMessage m;
    m.Sender = {"Ivan", "ivan@x.ru"};
    m.Recipients.Add("anna@y.ru", "Anna");
    m.Subject = "Hi";
    m.Body = {"Hello"};
    return m;
  }
  static TmsAttItem File(const std::string& name, const std::string& data,
                         const std::string& type = "") {
    TmsAttItem a;
    a.SetFileName(name);
    a.Data = data;
    if (!type.empty()) a.ContentType = type;
    return a;
  }
  static std::string Headers(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n")); }

  vigilo::test::TempDir dir_;
};

}  // namespace

TEST_F(Encoder, HeaderOrderPaddingAndFieldsFromHeaders) {
  TmsMessage m = Simple();
  m.Sender.Name = "I. Petrov";
  m.Recipients.Add("b@y", "");
  m.Recipients.Add("c@y", "C");
  m.CC.Add("d@y", "D");
  m.BCC.Add("secret@y", "S");
  m.ReturnReceipt = true;
  m.Priority = ptHigh;
  m.Headers = {"Date: Tue, 3 Dec 2024 14:05:09 +0300", "Subject: old", " fold", "X-Mailer: x",
               "Content-Type: text/html"};
  std::string raw = m.SaveToString();
  EXPECT_EQ(raw, Crlf("From:     \"I. Petrov\" <ivan@x.ru>\n"
                      "To:       Anna <anna@y.ru>,\n"
                      "           <b@y>,\n"
                      "          C <c@y>\n"
                      "CC:       D <d@y>\n"
                      "Return-Receipt-To: <ivan@x.ru>\n"
                      "X-Priority: 1\n"
                      "Date: Tue, 3 Dec 2024 14:05:09 +0300\n"
                      "X-Mailer: x\n"
                      "Subject: Hi\n"
                      "Mime-Version: 1.0\n"
                      "Content-Type: text/plain; charset=\"us-ascii\"\n"
                      "Content-Transfer-Encoding: 7bit\n\nHello\n"));
  EXPECT_EQ(m.Headers.size(), 5u);  // saving does not change the message
}

TEST_F(Encoder, HeaderValuesCannotInjectLines) {
  TmsMessage m = Simple();
  m.Subject = "Hi\r\nBcc: victim@z";
  m.Sender.Name = std::string("A\0B", 3);
  m.Recipients.Items(0).Address = "anna@y.ru>\nX-Evil: 1";
  m.Headers = {"X-Custom: a\rb"};
  std::string h = Headers(m.SaveToString());
  EXPECT_TRUE(Has(h, "Subject: Hi  Bcc: victim@z\r\n"));
  EXPECT_TRUE(Has(h, "From:     A B <ivan@x.ru>"));
  EXPECT_TRUE(Has(h, "X-Custom: a b"));
  for (std::size_t p = 0; (p = h.find('\n', p)) != std::string::npos; ++p)
    EXPECT_EQ(h[p - 1], '\r');
  EXPECT_FALSE(Has(h, "\nX-Evil"));
  EXPECT_FALSE(Has(h, std::string(1, '\0')));
}

// The transfer encoding follows the bytes and the line length; the label follows the bytes.
TEST_F(Encoder, TextEncodingsByCharsetAndLineLength) {
  auto saved = [](TmsCharSet charset, const std::string& line, const std::string& subject) {
    TmsMessage m = Simple();
    m.CharSet = charset;
    m.Body = {line};
    m.Subject = subject;
    const std::string raw = m.SaveToString();
    EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](unsigned char c) { return c < 128; }));
    return raw;
  };
  EXPECT_TRUE(Has(saved(csISO8859, "caf\xE9", "Hi"),
                  "charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                  "caf=E9\r\n"));
  EXPECT_TRUE(Has(saved(csUSASCII, std::string(300, 'a'), "Hi"),
                  "charset=\"us-ascii\"\r\nContent-Transfer-Encoding: quoted-printable"));
  // Bytes above 127 in a us-ascii message: labelled utf-8.
  const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8";
  const std::string raw = saved(csUSASCII, cyr, cyr);
  EXPECT_TRUE(Has(raw,
                  "charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                  "=D0=9F=D1=80=D0=B8\r\n"));
  EXPECT_TRUE(Has(raw, "Subject: =?utf-8?B?0J/RgNC4?=\r\n"));
}

TEST_F(Encoder, DotLinesAndBase64LinesAreWrittenExactly) {
  TmsMessage m = Simple();
  m.Body = {".", ".signature", "end"};
  m.Attachments.AddItem(File("mail.eml", Crlf("Subject: inner\n\n.\n.x\n")));
  std::string raw = m.SaveToString();
  EXPECT_TRUE(Has(raw, "\r\n.\r\n.signature\r\nend\r\n"));
  EXPECT_TRUE(Has(raw, "Content-Transfer-Encoding: 7bit\r\n"));
  EXPECT_TRUE(Has(raw, "\r\n\r\n.\r\n.x\r\n"));
  EXPECT_EQ(m.Body, (TmsStrings{".", ".signature", "end"}));  // the message is unchanged

  TmsMessage pdf = Simple();
  pdf.Body.clear();
  pdf.Attachments.AddItem(File("/home/u/report.pdf", std::string(58, 'z')));
  EXPECT_EQ(pdf.ContentType(), "application/pdf");
  raw = pdf.SaveToString();
  EXPECT_TRUE(Has(raw, Crlf("Content-Type: application/pdf; name=\"report.pdf\"\n"
                            "Content-Transfer-Encoding: base64\n"
                            "Content-Disposition: attachment; filename=\"report.pdf\"\n\n")));
  std::string b64;
  for (int i = 0; i < 19; ++i)
    b64 += "enp6";
  EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), b64 + "\r\neg==\r\n");
}

TEST_F(Encoder, FilesOnDiskAndHostileAttachmentNames) {
  vigilo::test::WriteFile(dir_.path() / "in" / "data.zip", std::string("PK\3\4\0\xFF", 6));
  TmsMessage m = Simple();
  m.Attachments.AddFile((dir_.path() / "in" / "data.zip").string());
  std::string path = (dir_.path() / "out.eml").string();
  m.SaveToFile(path);
  TmsMessage back;
  back.LoadFromFile(path);
  ASSERT_EQ(back.Attachments.Count(), 1);
  back.SaveAttachment(0, dir_.str());
  EXPECT_EQ(vigilo::test::ReadFile(dir_.path() / "data.zip"), std::string("PK\3\4\0\xFF", 6));
  EXPECT_THROW(back.LoadFromFile((dir_.path() / "missing").string()), EmsError);
  EXPECT_THROW(m.SaveToFile((dir_.path() / "no" / "such" / "x").string()), EmsError);
  // A hostile name cannot leave the folder.
  TmsMessage evil;
  evil.Attachments.AddItem(File("../../x/..", "bad"));
  EXPECT_THROW(evil.SaveAttachment(0, dir_.str()), EmsError);
  evil.Attachments.Items(0).SetFileName("../../escape.txt");
  evil.SaveAttachment(0, dir_.str());
  EXPECT_EQ(vigilo::test::ReadFile(dir_.path() / "escape.txt"), "bad");
}

namespace {
void ExpectSameMessage(const TmsMessage& a, const TmsMessage& b, const std::string& shape) {
  SCOPED_TRACE(shape);
  EXPECT_TRUE(
      std::tie(b.Sender, b.Recipients, b.CC, b.Subject, b.Priority, b.ReturnReceipt, b.Encoding) ==
      std::tie(a.Sender, a.Recipients, a.CC, a.Subject, a.Priority, a.ReturnReceipt, a.Encoding));
  EXPECT_EQ(b.Body, a.Body);
  if (!a.StoredContentType().empty()) {
    EXPECT_EQ(b.StoredContentType(), a.StoredContentType());
  }
  ASSERT_EQ(b.Attachments.Count(), a.Attachments.Count());
  for (int i = 0; i < a.Attachments.Count(); ++i) {
    const TmsAttItem &x = a.Attachments.Items(i), &y = b.Attachments.Items(i);
    EXPECT_EQ(y.FileName(), ExtractFileName(x.FileName()));
    EXPECT_TRUE(a.Encoding != meMIME || y.ContentType == x.ContentType) << y.ContentType;
    EXPECT_EQ(y.Data, x.Data) << i;
  }
}
}  // namespace

// Save, load, save again (the outgoing queue) and load: the same message every time, within the
// line limit.
TEST_F(Encoder, SaveThenLoadGivesBackTheMessage) {
  const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // UTF-8
  const std::string koi = "\xF0\xD2\xC9\xD7\xC5\xD4";                          // KOI8-R
  struct Shape {
    std::string name;
    TmsStrings body;
    std::vector<TmsAttItem> files;
    std::function<void(TmsMessage&)> more = [](TmsMessage&) {};
  };
  const std::string job = "\xD0\xA0\xD0\xB0\xD0\xB1\xD0\xBE\xD1\x82\xD0\xB0";  // "Работа"
  std::vector<TmsAttItem> hostile;
  for (const std::string& f :
       {std::string("a\"b.txt"), job + " 2026.pdf", std::string("semi;colon=x.zip"),
        std::string(180, 'n') + ".pdf", std::string("=?utf-8?B?eA==?=.jpg"),
        job + std::string(150, 'z') + job + ".pdf"})
    hostile.push_back(File(f, "data of " + f));
  auto texts = [&](TmsMessage& m) {
    m.Sender.Name = job + " \"" + job + "\"";
    m.Subject.clear();
    for (int i = 0; i < 60; ++i)
      m.Subject += (i ? " " : "") + job;  // 420 characters, 780 bytes
    m.Recipients.Clear();
    int i = 0;
    for (const std::string& name :
         {std::string("Smith, \"Bob\""), std::string("O\"Neil"), std::string("x<y"),
          std::string("back\\slash (x)"), job + ", \"" + job + "\" <" + job + ">",
          std::string("a.b@c"), std::string()})
      m.Recipients.Add("r" + std::to_string(i++) + "@y.ru", name);
  };
  TmsAttItem alt = File("_alt.0", "<p>" + std::string(200, 'h') + "</p>", "text/html");
  alt.EncodingKind = ekQuotedPrintable;
  const std::vector<Shape> shapes = {
      {"text", {"Hello"}, {}},
      {"empty body", {}, {}},
      {"blank and dot lines", {"", ".", "", "..", ".signature", ""}, {}},
      {"long line", {std::string(5000, 'q') + " tail ", "x"}, {}},
      {"koi8 iso",
       {koi, "", koi + "\t"},
       {},
       [&](TmsMessage& m) {
         m.CharSet = csISO8859;
         m.Subject = koi;
       }},
      {"names with specials, priority",
       {"x"},
       {},
       [](TmsMessage& m) {
         m.Sender.Name = "Petrov, I.";
         m.Recipients.Add("b@x", "B (boss)");
         m.CC.Add("c@x", "");
         m.CC.Add("d@x", "D@home");
         m.Priority = ptLow;
         m.ReturnReceipt = true;
       }},
      {"html body",
       {"<p>caf\xC3\xA9</p>"},
       {},
       [](TmsMessage& m) { m.SetContentType("text/html"); }},
      {"one pdf", {}, {File("a.pdf", mailtest::RandomBytes(1000, 1))}},
      {"files only, text first",
       {},
       {File("notes.txt", "line\nunix\n\nends"), File("page.htm", "<p>x</p>\r\n")}},
      {"body and files",
       {"Hello"},
       {File("img.jpg", mailtest::RandomBytes(57, 2)), File("empty.zip", ""),
        File("t.txt", "a\r\n.\r\n\r\n"), File(cyr + ".txt", cyr + "\r\n"),
        File("mail.eml", "Subject: x\r\n\r\n.\r\nbody\r\n"),
        File("noext", mailtest::RandomBytes(100, 3), "application/x-custom")}},
      {"nested alternative", {"Hello"}, {alt, File("z.zip", mailtest::RandomBytes(300, 4))}},
      // Names, subjects and file names with quotes, commas, brackets, backslashes, Cyrillic
      // or length, whatever the body's transfer encoding.
      {"hostile texts", {"Hello"}, hostile, texts},
      {"hostile texts, quoted-printable body", {std::string(300, 'a')}, hostile, texts},
      {"uuencoded",
       {"see files", ""},
       {File("a.pdf", mailtest::RandomBytes(100, 9)), File("b.zip", mailtest::RandomBytes(45, 10))},
       [](TmsMessage& m) { m.Encoding = meUU; }},
  };
  for (const Shape& shape : shapes) {
    const std::string& name = shape.name;
    TmsMessage m = Simple();
    m.CC.Add("cc@x", "Copy");
    m.Body = shape.body;
    for (const TmsAttItem& f : shape.files)
      m.Attachments.AddItem(f);
    shape.more(m);
    const TmsMessage before = m;
    std::string raw = m.SaveToString();
    TmsMessage back, again;
    back.LoadFromString(raw);
    ExpectSameMessage(before, back, name);
    EXPECT_EQ(m.Body, before.Body);
    again.LoadFromString(back.SaveToString());
    ExpectSameMessage(before, again, name + " again");
    EXPECT_EQ(again.Headers.size(), back.Headers.size());
    // Sent again from the copy read back (the queue's way): the same wire form.
    auto addressing = [](const std::string& raw) { return raw.substr(0, raw.find("Mime-V")); };
    EXPECT_EQ(addressing(Headers(back.SaveToString())), addressing(Headers(raw))) << name;
    EXPECT_LE(mailtest::LongestLine(raw), 998u) << name;
    // Every header word is labelled by its bytes.
    EXPECT_TRUE(m.CharSet == csISO8859 || !Has(raw, "iso-8859-1")) << name;
    EXPECT_FALSE(Has(raw, "\nThe following error"));
    EXPECT_EQ(Has(raw, "Mime-Version"), m.Encoding == meMIME) << name;
  }
}

TEST_F(Encoder, AttachedMessagesAndLongHeaderLinesStayWithinTheLineLimit) {
  TmsMessage m = Simple();
  const std::string inner = Crlf("Subject: inner\n\nshort\n") + std::string(2000, 'q') + "\r\n";
  m.Attachments.AddItem(File("fits.eml", Crlf("Subject: inner\n\n\xD0\x96 line\n")));
  m.Attachments.AddItem(File("long.eml", inner));
  std::string words;
  for (int i = 0; i < 300; ++i)
    words += " word" + std::to_string(i);
  m.Headers = {"X-Token: " + std::string(2500, 't'),
               "References: " + std::string(1500, 'r') + ";" + std::string(500, 's'),
               "X-Long:" + words};
  const std::string raw = m.SaveToString();
  EXPECT_LE(mailtest::LongestLine(raw), 998u);
  EXPECT_FALSE(Has(raw, "7 bit"));
  // Fits: sent as it is, 8bit for its Cyrillic line. Too long: base64, in a type that
  // admits it.
  EXPECT_TRUE(Has(raw,
                  "Content-Type: message/rfc822; name=\"fits.eml\"\r\n"
                  "Content-Transfer-Encoding: 8bit\r\n"));
  EXPECT_TRUE(Has(raw,
                  "Content-Type: application/octet-stream; name=\"long.eml\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n"));
  TmsMessage back;
  back.LoadFromString(raw);
  ASSERT_EQ(back.Attachments.Count(), 2);
  EXPECT_EQ(back.Attachments.Items(1).Data, inner);
  EXPECT_EQ(back.Attachments.Items(1).FileName(), "long.eml");
  // A fold without blanks adds one, nothing else.
  std::string token = back.Headers.GetFullFieldValue("X-Token");
  std::erase(token, ' ');
  EXPECT_EQ(token, std::string(2500, 't'));
  EXPECT_EQ(back.Headers.GetFullFieldValue("X-Long"), Trim(words));  // folded at blanks
}

TEST_F(Encoder, AddFileReadsTheWholePathAndBoundsOnlyTheStoredName) {
  std::filesystem::path deep = dir_.path();
  for (int i = 0; i < 30; ++i)
    deep /= "folder" + std::to_string(i);
  std::filesystem::create_directories(deep);
  vigilo::test::WriteFile(deep / "report.pdf", "%PDF");
  const std::string longName = std::string(250, 'x') + ".pdf";  // the path is longer
  vigilo::test::WriteFile(dir_.path() / longName, "%PDF2");
  TmsAttList list;
  const TmsAttItem& a = list.AddFile((deep / "report.pdf").string());
  EXPECT_EQ(a.FileName(), "report.pdf");
  EXPECT_EQ(a.ContentType, "application/pdf");
  EXPECT_EQ(a.Data, "%PDF");
  const TmsAttItem& b = list.AddFile((dir_.path() / longName).string());
  EXPECT_EQ(b.FileName(), longName);
  EXPECT_EQ(b.Data, "%PDF2");
  const std::string shortPath = (dir_.path() / "report.pdf").string();
  vigilo::test::WriteFile(shortPath, "x");
  EXPECT_EQ(list.AddFile(shortPath).FileName(), shortPath);  // a path that fits is kept
}
