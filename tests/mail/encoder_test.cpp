#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/tempdir.h"

using namespace ms;
using mailtest::Crlf;

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
  static TmsAttItem File(const std::string& name, const std::string& data) {
    TmsAttItem a;
    a.SetFileName(name);
    a.Data = data;
    return a;
  }
  static std::string Headers(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n")); }

  vigilo::test::TempDir dir_;
};

}  // namespace

TEST_F(Encoder, PlainTextMessageExactly) {
  TmsMessage m = Simple();
  EXPECT_EQ(m.SaveToString(), Crlf("From:     Ivan <ivan@x.ru>\n"
                                   "To:       Anna <anna@y.ru>\n"
                                   "Subject: Hi\n"
                                   "Mime-Version: 1.0\n"
                                   "Content-Type: text/plain; charset=\"us-ascii\"\n"
                                   "Content-Transfer-Encoding: 7bit\n"
                                   "\n"
                                   "Hello\n"));
}

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
  EXPECT_EQ(Headers(raw), Crlf("From:     \"I. Petrov\" <ivan@x.ru>\n"
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
                               "Content-Transfer-Encoding: 7bit"));
  EXPECT_EQ(raw.find("secret"), std::string::npos);
  // Saving does not change the message.
  EXPECT_EQ(m.Headers.size(), 5u);
}

TEST_F(Encoder, HeaderValuesCannotInjectLines) {
  TmsMessage m = Simple();
  m.Subject = "Hi\r\nBcc: victim@z";
  m.Sender.Name = std::string("A\0B", 3);
  m.Recipients.Items(0).Address = "anna@y.ru>\nX-Evil: 1";
  m.Headers = {"X-Custom: a\rb"};
  std::string h = Headers(m.SaveToString());
  EXPECT_NE(h.find("Subject: Hi  Bcc: victim@z\r\n"), std::string::npos);
  EXPECT_NE(h.find("From:     A B <ivan@x.ru>"), std::string::npos);
  EXPECT_NE(h.find("X-Custom: a b"), std::string::npos);
  for (std::size_t p = 0; (p = h.find('\n', p)) != std::string::npos; ++p)
    EXPECT_EQ(h[p - 1], '\r');
  EXPECT_EQ(h.find("\nX-Evil"), std::string::npos);
  EXPECT_EQ(h.find('\0'), std::string::npos);
}

TEST_F(Encoder, TextEncodingsByCharsetAndLineLength) {
  TmsMessage iso = Simple();
  iso.CharSet = csISO8859;
  iso.Body = {"caf\xE9"};
  std::string raw = iso.SaveToString();
  EXPECT_NE(raw.find("charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: "
                     "quoted-printable\r\n\r\ncaf=E9\r\n"),
            std::string::npos);

  TmsMessage longline = Simple();
  longline.Body = {std::string(300, 'a')};
  raw = longline.SaveToString();
  EXPECT_NE(raw.find("charset=\"us-ascii\"\r\nContent-Transfer-Encoding: quoted-printable"),
            std::string::npos);

  // Bytes above 127 in a us-ascii message: labelled utf-8, sent in quoted-printable.
  TmsMessage cyr = Simple();
  cyr.Body = {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"};
  cyr.Subject = "\xD0\x9F\xD1\x80\xD0\xB8";
  raw = cyr.SaveToString();
  EXPECT_NE(raw.find("charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "=D0=9F=D1=80=D0=B8=D0=B2=D0=B5=D1=82\r\n"),
            std::string::npos);
  EXPECT_NE(raw.find("Subject: =?utf-8?B?0J/RgNC4?=\r\n"), std::string::npos);
  for (unsigned char c : raw)
    EXPECT_LT(c, 128);
}

TEST_F(Encoder, LongNonAsciiHeadersAreFoldedWithinTheLimit) {
  TmsMessage m = Simple();
  for (int i = 0; i < 126; ++i)
    m.Subject += "\xD0\x96";  // 254 bytes
  m.Recipients.Items(0).Name = m.Subject;
  std::string words;
  for (int i = 0; i < 300; ++i)
    words += " word" + std::to_string(i);
  m.Headers = {"X-Long:" + words};
  std::string raw = m.SaveToString();
  std::istringstream in(Headers(raw));
  std::string line;
  while (std::getline(in, line))
    EXPECT_LE(line.size(), 999u) << line.substr(0, 40);
  TmsMessage back;
  back.LoadFromString(raw);
  EXPECT_EQ(back.Subject, m.Subject);
  EXPECT_EQ(back.Recipients.Items(0).Name, m.Subject);
  EXPECT_EQ(back.Recipients.Items(0).Address, "anna@y.ru");
  EXPECT_EQ(back.Headers.GetFullFieldValue("X-Long"), Trim(words));
}

TEST_F(Encoder, DotLinesAreWrittenAsTheyAre) {
  TmsMessage m = Simple();
  m.Body = {".", ".signature", "end"};
  m.Attachments.AddItem(File("mail.eml", Crlf("Subject: inner\n\n.\n.x\n")));
  std::string raw = m.SaveToString();
  EXPECT_NE(raw.find("\r\n.\r\n.signature\r\nend\r\n"), std::string::npos);
  EXPECT_NE(raw.find("Content-Transfer-Encoding: 7 bit\r\n"), std::string::npos);
  EXPECT_NE(raw.find("\r\n\r\n.\r\n.x\r\n"), std::string::npos);
  EXPECT_EQ(m.Body, (TmsStrings{".", ".signature", "end"}));  // the message is unchanged
}

TEST_F(Encoder, SingleAttachmentAndBase64Lines) {
  TmsMessage m = Simple();
  m.Body.clear();
  m.Attachments.AddItem(File("/home/u/report.pdf", std::string(58, 'z')));
  EXPECT_EQ(m.ContentType(), "application/pdf");
  std::string raw = m.SaveToString();
  EXPECT_NE(raw.find(Crlf("Content-Type: application/pdf; name=\"report.pdf\"\n"
                          "Content-Transfer-Encoding: Base64\n"
                          "Content-Disposition: attachment; filename=\"report.pdf\"\n\n")),
            std::string::npos);
  std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
  EXPECT_EQ(
      body,
      std::string("enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6") +
          "\r\neg==\r\n");
}

TEST_F(Encoder, ComputedContentType) {
  TmsMessage m;
  EXPECT_EQ(m.ContentType(), "text/plain");
  m.Attachments.AddItem(File("_htmbody.htm", "<b>"));
  EXPECT_EQ(m.ContentType(), "text/html");
  m.Attachments.AddItem(File("x.pdf", "%"));
  EXPECT_EQ(m.ContentType(), "multipart/mixed");
  m.Attachments.Clear();
  m.Attachments.AddItem(File("_alt.0", "<b>"));
  EXPECT_EQ(m.ContentType(), "multipart/alternative");
  m.Attachments.Clear();
  m.Body = {"x"};
  m.SetContentType("TEXT/HTML");
  EXPECT_EQ(m.ContentType(), "text/html");
  m.Encoding = meUU;
  EXPECT_EQ(m.ContentType(), "");
}

TEST_F(Encoder, HtmlBodyAndHtmlFileAreBothCarried) {
  TmsMessage html = Simple();
  html.SetContentType("text/html");
  html.Body = {"<p>caf\xC3\xA9</p>"};
  std::string raw = html.SaveToString();
  EXPECT_NE(raw.find("Content-Type: text/html; charset=\"utf-8\"\r\n"), std::string::npos);
  TmsMessage back;
  back.LoadFromString(raw);
  EXPECT_EQ(back.Body, html.Body);
  EXPECT_EQ(back.StoredContentType(), "text/html");

  TmsMessage file = Simple();
  file.Body.clear();
  file.Attachments.AddItem(File("page.htm", "<p>x</p>\r\n"));
  back.Clear();
  back.LoadFromString(file.SaveToString());
  ASSERT_EQ(back.Attachments.Count(), 1);
  EXPECT_EQ(back.Attachments.Items(0).FileName(), "page.htm");
  EXPECT_EQ(back.Attachments.Items(0).Data, "<p>x</p>\r\n");
}

TEST_F(Encoder, SaveToFileAndAttachmentFiles) {
  TmsMessage m = Simple();
  m.Attachments.AddFile([&] {
    vigilo::test::WriteFile(dir_.path() / "in" / "data.zip", std::string("PK\3\4\0\xFF", 6));
    return (dir_.path() / "in" / "data.zip").string();
  }());
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

// ----------------------------------------------------------- round trips

namespace {

struct Shape {
  std::string name;
  std::function<void(TmsMessage&)> build;
};

std::string Bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(gen() & 0xFF);
  return s;
}

void ExpectSameMessage(const TmsMessage& a, const TmsMessage& b, const std::string& shape) {
  SCOPED_TRACE(shape);
  EXPECT_EQ(b.Sender, a.Sender);
  EXPECT_EQ(b.Recipients, a.Recipients);
  EXPECT_EQ(b.CC, a.CC);
  EXPECT_EQ(b.Subject, a.Subject);
  EXPECT_EQ(b.Body, a.Body);
  EXPECT_EQ(b.Priority, a.Priority);
  EXPECT_EQ(b.ReturnReceipt, a.ReturnReceipt);
  ASSERT_EQ(b.Attachments.Count(), a.Attachments.Count());
  for (int i = 0; i < a.Attachments.Count(); ++i) {
    EXPECT_EQ(b.Attachments.Items(i).FileName(),
              ExtractFileName(a.Attachments.Items(i).FileName()));
    EXPECT_EQ(b.Attachments.Items(i).ContentType, a.Attachments.Items(i).ContentType);
    EXPECT_EQ(b.Attachments.Items(i).Data, a.Attachments.Items(i).Data) << i;
  }
}

}  // namespace

TEST_F(Encoder, SaveThenLoadGivesBackTheMessage) {
  const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // UTF-8
  const std::string koi = "\xF0\xD2\xC9\xD7\xC5\xD4";                          // KOI8-R
  std::vector<Shape> shapes = {
      {"text", [](TmsMessage&) {}},
      {"empty body", [](TmsMessage& m) { m.Body.clear(); }},
      {"blank lines", [](TmsMessage& m) { m.Body = {"", "a", "", "", "b", ""}; }},
      {"dot lines",
       [](TmsMessage& m) {
         m.Body = {".", "..", ".signature", "."};
       }},
      {"long line",
       [](TmsMessage& m) {
         m.Body = {std::string(5000, 'q') + " tail ", "x"};
       }},
      {"utf-8 text",
       [&](TmsMessage& m) {
         m.Body = {cyr, cyr + " = " + cyr, "."};
         m.Subject = cyr + " " + cyr;
         m.Sender.Name = cyr;
         m.Recipients.Add("r2@x", cyr + ", " + cyr);
       }},
      {"koi8 iso",
       [&](TmsMessage& m) {
         m.CharSet = csISO8859;
         m.Body = {koi, "", koi + "\t"};
         m.Subject = koi;
       }},
      {"names with specials",
       [](TmsMessage& m) {
         m.Sender.Name = "Petrov, I.";
         m.Recipients.Add("b@x", "B (boss)");
         m.CC.Add("c@x", "");
         m.CC.Add("d@x", "D@home");
       }},
      {"priority",
       [](TmsMessage& m) {
         m.Priority = ptLow;
         m.ReturnReceipt = true;
       }},
      {"one pdf",
       [](TmsMessage& m) {
         m.Body.clear();
         m.Attachments.AddItem(File("a.pdf", Bytes(1000, 1)));
       }},
      {"one text file",
       [](TmsMessage& m) {
         m.Body.clear();
         m.Attachments.AddItem(File("notes.txt", "line\nunix\n\nends"));
       }},
      {"body and files",
       [&](TmsMessage& m) {
         m.Attachments.AddItem(File("img.jpg", Bytes(57, 2)));
         m.Attachments.AddItem(File("empty.zip", ""));
         m.Attachments.AddItem(File("t.txt", "a\r\n.\r\n\r\n"));
         m.Attachments.AddItem(File(cyr + ".txt", cyr + "\r\n"));
         m.Attachments.AddItem(File("mail.eml", "Subject: x\r\n\r\n.\r\nbody\r\n"));
         m.Attachments.AddItem(File("noext", Bytes(100, 3)));
       }},
      {"files only",
       [](TmsMessage& m) {
         m.Body.clear();
         m.Attachments.AddItem(File("first.txt", "text file first"));
         m.Attachments.AddItem(File("second.pdf", "%PDF"));
       }},
      {"alternative",
       [](TmsMessage& m) {
         TmsAttItem h = File("_alt.0", "<p>x</p>\r\n");
         h.ContentType = "text/html";
         h.EncodingKind = ekQuotedPrintable;
         m.Attachments.AddItem(h);
       }},
      {"nested alternative",
       [](TmsMessage& m) {
         TmsAttItem h = File("_alt.0", "<p>" + std::string(200, 'h') + "</p>");
         h.ContentType = "text/html";
         h.EncodingKind = ekQuotedPrintable;
         m.Attachments.AddItem(h);
         m.Attachments.AddItem(File("z.zip", Bytes(300, 4)));
         m.Attachments.AddItem(File("y.pdf", Bytes(5, 5)));
       }},
      {"custom type",
       [](TmsMessage& m) {
         TmsAttItem a = File("data.bin", Bytes(64, 6));
         a.ContentType = "application/x-custom";
         m.Attachments.AddItem(a);
         m.Attachments.AddItem(a);
       }},
  };
  for (const Shape& s : shapes) {
    TmsMessage m = Simple();
    m.CC.Add("cc@x", "Copy");
    s.build(m);
    const TmsMessage before = m;
    std::string raw = m.SaveToString();
    TmsMessage back;
    back.LoadFromString(raw);
    ExpectSameMessage(before, back, s.name);
    EXPECT_EQ(m.Body, before.Body);
    // A loaded message saved again (the outgoing queue) is still the same message.
    TmsMessage again;
    again.LoadFromString(back.SaveToString());
    ExpectSameMessage(before, again, s.name + " again");
    EXPECT_EQ(again.Headers.size(), back.Headers.size());
    EXPECT_EQ(raw.find("\nThe following error"), std::string::npos);
  }
}

TEST_F(Encoder, UuencodedMessageRoundTrip) {
  TmsMessage m = Simple();
  m.Encoding = meUU;
  m.Body = {"see files", ""};
  m.Attachments.AddItem(File("a.pdf", Bytes(100, 9)));
  m.Attachments.AddItem(File("b.zip", Bytes(45, 10)));
  std::string raw = m.SaveToString();
  EXPECT_EQ(raw.find("Mime-Version"), std::string::npos);
  EXPECT_NE(raw.find("\r\nbegin 600 a.pdf\r\n"), std::string::npos);
  TmsMessage back;
  back.LoadFromString(raw);
  EXPECT_EQ(back.Encoding, meUU);
  EXPECT_EQ(back.Body, m.Body);
  ASSERT_EQ(back.Attachments.Count(), 2);
  EXPECT_EQ(back.Attachments.Items(0).Data, m.Attachments.Items(0).Data);
  EXPECT_EQ(back.Attachments.Items(1).FileName(), "b.zip");
  EXPECT_EQ(back.Attachments.Items(1).Data, m.Attachments.Items(1).Data);
}
