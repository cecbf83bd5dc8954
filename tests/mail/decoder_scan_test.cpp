// The decoder looks through a part for the lines that matter (delimiters, the
// beginning of a uuencoded file) many bytes at a time: such a line is found
// wherever it falls, whatever ends the lines.

#include <gtest/gtest.h>

#include "tests/mail/mail_test_util.h"

using namespace ms;

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
