// A corpus of messages written by Python's email package, decoded here and
// compared field by field with what the generator recorded.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "mail/msmsg.h"
#include "tests/support/tempdir.h"
#include "tests/viewer/iconv_helper.h"

using namespace ms;

namespace {

struct Expected {
  std::string id, shape;
  std::string subject, subject_cs, from, body, body_cs;
  std::vector<std::pair<std::string, std::string>> to;           // address, name
  std::vector<std::pair<std::string, std::string>> attachments;  // name, data
};

std::string Unhex(const std::string& h) {
  std::string out;
  if (h == "-") return out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<Expected> ReadExpected(const std::string& path) {
  std::vector<Expected> all;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream w(line);
    std::string key, a, b;
    w >> key >> a >> b;
    if (key == "message") {
      all.push_back(Expected{});
      all.back().id = a;
      all.back().shape = b;
      continue;
    }
    if (all.empty()) continue;
    Expected& e = all.back();
    if (key == "subject") {
      e.subject = Unhex(a);
      e.subject_cs = b;
    } else if (key == "from") {
      e.from = Unhex(a);
    } else if (key == "to") {
      e.to.emplace_back(Unhex(a), Unhex(b));
    } else if (key == "body") {
      e.body = Unhex(a);
      e.body_cs = b;
    } else if (key == "att") {
      e.attachments.emplace_back(Unhex(a), Unhex(b));
    }
  }
  return all;
}

std::string ToUtf8(const std::string& bytes, const std::string& charset) {
  auto r = vigilo::test::Iconv(bytes, charset.c_str(), "UTF-8");
  return r ? *r : "<not " + charset + ">";
}

std::string JoinLf(const TmsStrings& lines) {
  std::string r;
  for (std::size_t i = 0; i < lines.size(); ++i)
    r += (i ? "\n" : "") + lines[i];
  return r;
}

// The fields of one decoded message that differ from what was expected.
std::vector<std::string> Compare(const Expected& e, TmsMessage& m) {
  std::vector<std::string> bad;
  TmsHeaderCharSets words;
  const std::string subject = m.Headers.GetFieldValue("Subject", words);
  if (subject != m.Subject) bad.push_back("subject field");
  if (ToUtf8(subject, e.subject_cs) != e.subject) bad.push_back("subject text");
  for (const std::string& cs : words.Words)
    if (cs != e.subject_cs) bad.push_back("subject charset " + cs);
  if (words.Words.empty() || words.RawEightBit) bad.push_back("subject words");
  if (m.Sender.Address != e.from) bad.push_back("from");
  if (m.Recipients.Count() != static_cast<int>(e.to.size())) {
    bad.push_back("to count " + std::to_string(m.Recipients.Count()));
  } else {
    for (std::size_t i = 0; i < e.to.size(); ++i) {
      const TmsMailAddress& a = m.Recipients.Items(static_cast<int>(i));
      if (a.Address != e.to[i].first || a.Name != e.to[i].second)
        bad.push_back("to " + a.Name + " <" + a.Address + ">");
    }
  }
  if (m.DeclaredCharSet != e.body_cs) bad.push_back("body charset " + m.DeclaredCharSet);
  if (ToUtf8(JoinLf(m.Body), e.body_cs) != e.body) bad.push_back("body text");
  if (m.Attachments.Count() != static_cast<int>(e.attachments.size())) {
    bad.push_back("attachment count " + std::to_string(m.Attachments.Count()));
  } else {
    for (std::size_t i = 0; i < e.attachments.size(); ++i) {
      const TmsAttItem& a = m.Attachments.Items(static_cast<int>(i));
      if (a.FileName() != e.attachments[i].first) bad.push_back("attachment name " + a.FileName());
      if (a.Data != e.attachments[i].second) bad.push_back("attachment data " + a.FileName());
    }
  }
  return bad;
}

}  // namespace

TEST(MimeCorpus, PythonWrittenMessagesDecodeFieldByField) {
  vigilo::test::TempDir dir;
  const std::string script = std::string(VIGILO_TEST_SOURCE_DIR) + "/tests/mail/mime_corpus.py";
  const std::string command =
      "/usr/bin/python3 '" + script + "' '" + dir.path().string() + "' 360 21";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::vector<Expected> corpus = ReadExpected(dir.path() / "expected.txt");
  ASSERT_EQ(corpus.size(), 360u);

  std::map<std::string, int> shapes, failed;
  int mismatches = 0;
  for (const Expected& e : corpus) {
    ++shapes[e.shape];
    TmsMessage m;
    m.LoadFromFile((dir.path() / (e.id + ".eml")).string());
    std::vector<std::string> bad = Compare(e, m);
    // Written and read again, the body keeps its bytes and its label.
    TmsMessage again;
    again.LoadFromString(m.SaveToString());
    if (again.Body != m.Body) bad.push_back("saved body");
    if (again.DeclaredCharSet != m.DeclaredCharSet)
      bad.push_back("saved label " + again.DeclaredCharSet);
    if (bad.empty()) continue;
    ++failed[e.shape];
    mismatches += static_cast<int>(bad.size());
    std::string all;
    for (const std::string& b : bad)
      all += " [" + b + "]";
    ADD_FAILURE() << e.id << " " << e.shape << ":" << all;
  }
  std::string table;
  for (const auto& [shape, n] : shapes)
    table += " " + shape + "=" + std::to_string(n) + "/" + std::to_string(failed[shape]);
  RecordProperty("shapes", table);
  std::printf("shapes (messages/failed):%s\n", table.c_str());
  EXPECT_EQ(mismatches, 0);
}
