// A corpus of messages written by Python's email package, decoded here and described in the
// generator's own words (mime_corpus.py), which must match what it recorded.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "mail/msmsg.h"
#include "tests/support/tempdir.h"
#include "tests/viewer/iconv_helper.h"

using namespace ms;

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes)
    out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return out.empty() ? "-" : out;
}

std::string Utf8Hex(const std::string& bytes, const std::string& charset) {
  if (charset.empty()) return "<no charset>";
  auto r = vigilo::test::Iconv(bytes, charset.c_str(), "UTF-8");
  return r ? Hex(*r) : "<not " + charset + ">";
}

// The message as the generator records it: subject (UTF-8 and the charset of its encoded
// words), sender, recipients, body (UTF-8, lines joined by LF, and its label), attachments.
std::string Describe(const TmsMessage& m) {
  TmsHeaderCharSets words;
  const std::string subject = m.Headers.GetFieldValue("Subject", words);
  const std::set<std::string> charsets(words.Words.begin(), words.Words.end());
  const std::string cs = charsets.size() == 1 ? *charsets.begin() : "";
  std::string body;
  for (std::size_t i = 0; i < m.Body.size(); ++i)
    body += (i ? "\n" : "") + m.Body[i];
  std::string d = "subject " + Utf8Hex(subject, cs) + " " + cs;
  if (cs.empty()) d += "<" + std::to_string(charsets.size()) + " charsets>";
  if (words.RawEightBit || subject != m.Subject) d += " <raw bytes, or not the Subject>";
  d += "\nfrom " + Hex(m.Sender.Address);
  for (int i = 0; i < m.Recipients.Count(); ++i)
    d += "\nto " + Hex(m.Recipients.Items(i).Address) + " " + Hex(m.Recipients.Items(i).Name);
  d += "\nbody " + Utf8Hex(body, m.DeclaredCharSet) + " " + m.DeclaredCharSet;
  for (int i = 0; i < m.Attachments.Count(); ++i)
    d += "\natt " + Hex(m.Attachments.Items(i).FileName()) + " " + Hex(m.Attachments.Items(i).Data);
  return d + "\nend\n";
}

}  // namespace

TEST(MimeCorpus, PythonWrittenMessagesDecodeFieldByField) {
  vigilo::test::TempDir dir;
  const std::string script = std::string(VIGILO_TEST_SOURCE_DIR) + "/tests/mail/mime_corpus.py";
  const std::string command = "/usr/bin/python3 '" + script + "' '" + dir.str() + "' 360 21";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream expected(dir.path() / "expected.txt");
  std::string line, id, shape, wanted;
  int messages = 0;
  auto check = [&] {
    if (id.empty()) return;
    ++messages;
    TmsMessage m;
    m.LoadFromFile((dir.path() / (id + ".eml")).string());
    EXPECT_EQ(wanted, Describe(m)) << id << " " << shape;
    // Written and read again, the body keeps its bytes and its label.
    TmsMessage again;
    again.LoadFromString(m.SaveToString());
    EXPECT_EQ(again.Body, m.Body) << id << " " << shape;
    EXPECT_EQ(again.DeclaredCharSet, m.DeclaredCharSet) << id << " " << shape;
  };
  while (std::getline(expected, line)) {
    if (line.rfind("message ", 0) != 0) {
      wanted += line + "\n";
      continue;
    }
    check();
    std::istringstream(line.substr(8)) >> id >> shape;
    wanted.clear();
  }
  check();
  EXPECT_EQ(messages, 360);
}
