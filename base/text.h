#pragma once
// Byte-string helpers. Letter case is ASCII only and never depends on the locale:
// mail keywords, registry names and hex digits are ASCII, and bytes of other code
// pages must pass unchanged.

#include <string>
#include <string_view>

namespace vigilo {

// Removes bytes up to and including the blank (0x00..0x20) from both ends.
std::string Trim(std::string_view s);

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);

// Equal, or a prefix, when ASCII letters are compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

}  // namespace vigilo
