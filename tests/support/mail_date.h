#pragma once
// Shape of an RFC 5322 date as the program writes it: "Sun, 6 Dec 2026 22:44:39 +0300".
// Matched with fnmatch: GCC 12 warns falsely inside std::regex under the sanitizers.

#include <fnmatch.h>

#include <string>

namespace vigilo::test {

inline bool IsMailDate(const std::string& value) {
  static const char* const kRest =
      " [JFMASOND][a-z][a-z] [0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] "
      "[+-][0-9][0-9][0-9][0-9]";
  const std::string day = "[MTWFS][a-z][a-z], ";
  return fnmatch((day + "[0-9]" + kRest).c_str(), value.c_str(), 0) == 0 ||
         fnmatch((day + "[0-9][0-9]" + kRest).c_str(), value.c_str(), 0) == 0;
}

// The value of the first header line `name` of a stored message ("" when none).
inline std::string HeaderLineValue(const std::string& message, const std::string& name) {
  const std::string key = "\n" + name + ": ";
  const std::size_t at = message.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  const std::size_t end = message.find('\n', from);
  std::string value = message.substr(from, end == std::string::npos ? end : end - from);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  return value;
}

}  // namespace vigilo::test
