#pragma once
// Inputs shared by the MIME benchmarks.

#include <random>
#include <string>

#include "mail/msmsg.h"

namespace bench {

inline std::string RandomBytes(std::size_t n) {
  std::mt19937 gen(42);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Mixed Russian and Latin text in lines of about 70 bytes (UTF-8).
inline ms::TmsStrings TextLines(std::size_t bytes) {
  const std::string line =
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! "
      "The quick brown fox = 42 jumps over the lazy dog.";
  ms::TmsStrings lines;
  for (std::size_t n = 0; n < bytes; n += line.size() + 2)
    lines.push_back(line);
  return lines;
}

inline ms::TmsMessage BaseMessage() {
  ms::TmsMessage m;
  m.Sender = {"Ivan", "ivan@example.ru"};
  m.Recipients.Add("anna@example.ru", "Anna");
  m.Subject = "Benchmark";
  return m;
}

}  // namespace bench
