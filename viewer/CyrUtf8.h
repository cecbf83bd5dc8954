#pragma once

// UTF-8 decoding shared by the code-page converter and the detection.

#include <cstddef>
#include <cstdint>

namespace vigilo::utf8 {

// Returned by Decode for an ill-formed sequence.
inline constexpr char32_t kInvalid = 0x110000;
inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes the sequence starting at p (p < end) into cp and returns the number of
// bytes it takes (at least 1). An ill-formed sequence gives kInvalid and takes its
// longest well-formed prefix, or one byte, so decoding resumes at the first byte
// that broke it.
inline std::size_t Decode(const unsigned char* p, const unsigned char* end, char32_t& cp) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t value;
  if (b0 < 0xC2) {
    cp = kInvalid;
    return 1;
  } else if (b0 < 0xE0) {
    need = 1;
    value = b0 & 0x1F;
  } else if (b0 < 0xF0) {
    need = 2;
    value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 < 0xF5) {
    need = 3;
    value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    cp = kInvalid;
    return 1;
  }
  std::size_t i = 1;
  for (; need > 0; --need, ++i) {
    if (p + i >= end || p[i] < lo || p[i] > hi) {
      cp = kInvalid;
      return i;
    }
    value = (value << 6) | (p[i] & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  cp = value;
  return i;
}

// Appends the UTF-8 form of cp (at most U+10FFFF) to out.
template <class String>
void Append(String& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace vigilo::utf8
