#include "viewer/blacklist.h"

#include <cstdint>

#include "base/text.h"
#include "base/utf8.h"

namespace vigilo {
namespace {

char32_t Decode(std::string_view s, std::size_t i, std::size_t len) {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<uint8_t>(s[k])); };
  switch (len) {
    case 2:
      return (b(i) & 0x1F) << 6 | (b(i + 1) & 0x3F);
    case 3:
      return (b(i) & 0x0F) << 12 | (b(i + 1) & 0x3F) << 6 | (b(i + 2) & 0x3F);
    default:
      return (b(i) & 0x07) << 18 | (b(i + 1) & 0x3F) << 12 | (b(i + 2) & 0x3F) << 6 |
             (b(i + 3) & 0x3F);
  }
}

void Encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t Lower(char32_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1
  if (c >= 0x0410 && c <= 0x042F) return c + 0x20;           // А..Я
  if (c >= 0x0400 && c <= 0x040F) return c + 0x50;           // Ѐ..Џ, Ё
  if (c >= 0x0460 && c <= 0x04BF && c % 2 == 0 &&            // paired letters
      !(c >= 0x0482 && c <= 0x0489))
    return c + 1;
  return c;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += AsciiLower(static_cast<char>(c));
      ++i;
      continue;
    }
    const std::size_t len = Utf8SequenceLength(text, i);
    if (len < 2) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    Encode(Lower(Decode(text, i, len)), out);
    i += len;
  }
  return out;
}

bool SameSenderText(std::string_view a, std::string_view b) {
  return FoldCase(a) == FoldCase(b);
}

bool IsBlacklisted(const std::vector<std::string>& black, std::string_view sender) {
  const std::string folded = FoldCase(sender);
  for (const std::string& entry : black) {
    // An empty entry names no sender (it would match every message without From).
    if (Trim(entry).empty()) continue;
    if (FoldCase(entry) == folded) return true;
  }
  return false;
}

}  // namespace vigilo
