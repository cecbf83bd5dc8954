#pragma once
// Helpers shared by the message tests.

#include <string>

#include "mail/msmsg.h"

namespace mailtest {

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

}  // namespace mailtest
