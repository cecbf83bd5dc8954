#pragma once
// Helpers shared by the mail tests.

#include <iterator>
#include <random>
#include <string>

#include "mail/msmsg.h"

namespace mailtest {

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
