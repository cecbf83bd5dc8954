#pragma once
// Helpers shared by the mail tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "mail/msmsg.h"

namespace mailtest {

// The start of a MIME message's header, to be followed by the content type.
inline const std::string kMime = "MIME-Version: 1.0\nContent-Type: ";

// n pseudo-random bytes, the same for the same seed.
inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Text written with "\n" line ends, as it travels (CR LF).
inline std::string Crlf(const std::string& text) {
  std::string r;
  for (char c : text) {
    if (c == '\n') r += '\r';
    r += c;
  }
  return r;
}

inline ms::TmsMessage Decode(const std::string& raw) {
  ms::TmsMessage m;
  m.LoadFromString(raw);
  return m;
}

// The length of the longest line of text, without its line end.
inline std::size_t LongestLine(const std::string& text) {
  std::size_t longest = 0;
  for (std::size_t start = 0, lf = 0; lf != std::string::npos; start = lf + 1) {
    lf = text.find('\n', start);
    const std::size_t end = lf == std::string::npos ? text.size() : lf;
    longest = std::max(longest, end - start - (end > start && text[end - 1] == '\r'));
  }
  return longest;
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Attachment i of m has this name and data (and this content type, when one is given).
inline void ExpectFile(const ms::TmsMessage& m, int i, const std::string& name,
                       const std::string& data, const std::string& type = "") {
  ASSERT_LT(i, m.Attachments.Count()) << name;
  const ms::TmsAttItem& a = m.Attachments.Items(i);
  EXPECT_EQ(a.FileName(), name);
  EXPECT_EQ(a.Data, data) << name;
  if (!type.empty()) {
    EXPECT_EQ(a.ContentType, type) << name;
  }
}

// Keeps the bytes a client hands to the decoder.
class CapturingMessage : public ms::TmsMessage {
 public:
  void LoadFromStream(std::istream& in) override {
    Loaded.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string Loaded;

 protected:
  void DecodeRaw(std::string raw) override { Loaded = std::move(raw); }
};

// The text of the E that f() throws; "<none>" when it throws nothing (another exception fails
// the test).
template <class E, class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<none>";
}

}  // namespace mailtest
