#pragma once

// Text conversion through glibc's iconv, an implementation of the published code
// pages that owes nothing to the program's own tables.

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vigilo::test {

// Converts text from one charset to another; nullopt when any character cannot be converted.
inline std::optional<std::string> Iconv(std::string_view text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error(std::string("iconv_open ") + from + " " + to);
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || rc != 0)
    return std::nullopt;  // rc > 0: irreversible (lossy) conversion
  out.resize(out.size() - outLeft);
  return out;
}

// iconv's name of each single-byte page, by TCodePage value.
inline constexpr const char* kIconvNames[] = {"CP1251", "KOI8-R", "IBM866", "ISO-8859-5", "UTF-8"};

}  // namespace vigilo::test
