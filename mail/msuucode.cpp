#include "mail/msuucode.h"

#include <cctype>

#include "mail/msexcept.h"
#include "mail/msmsgcls.h"

namespace ms {

namespace {

// The backquote and the blank count 0, "!" to "_" count 1 to 63.
int UUValue(char c) {
  if (c == '`' || c == ' ') return 0;
  if (c >= '!' && c <= '_') return c - 32;
  throw EmsError("Invalid Character");
}

char UUChar(unsigned v) {
  return v == 0 ? '`' : static_cast<char>(32 + v);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool IsUUBegin(const std::string& line) {
  if (line.size() < 9 || AsciiUpper(line.substr(0, 5)) != "BEGIN") return false;
  std::size_t p = 5;
  while (p < line.size() && line[p] == ' ')
    ++p;
  if (p == 5 || p + 3 > line.size()) return false;
  return IsDigit(line[p]) && IsDigit(line[p + 1]) && IsDigit(line[p + 2]);
}

std::string UUFileName(const std::string& line) {
  // begin, blanks, the file mode, blanks, the name.
  std::size_t p = line.size() < 5 ? line.size() : 5;
  while (p < line.size() && line[p] == ' ')
    ++p;
  while (p < line.size() && IsDigit(line[p]))
    ++p;
  while (p < line.size() && line[p] == ' ')
    ++p;
  std::string name = line.substr(p);
  if (!name.empty() && name[0] == '"') {
    std::size_t q = name.find('"', 1);
    return q == std::string::npos ? name.substr(1) : name.substr(1, q - 1);
  }
  return Trim(name);
}

std::string DecodeUULine(const std::string& line) {
  if (line.empty()) return "";
  const std::size_t n = static_cast<std::size_t>(UUValue(line[0]));
  const std::size_t chars = (n + 2) / 3 * 4;  // characters that carry the n bytes
  std::string out;
  out.reserve(chars / 4 * 3);
  for (std::size_t i = 0; i < chars; i += 4) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      std::size_t at = 1 + i + k;
      // Blanks stripped from the end of a line by a mail relay count 0.
      v = (v << 6) | static_cast<unsigned>(at < line.size() ? UUValue(line[at]) : 0);
    }
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
  }
  out.resize(n);
  return out;
}

std::string EncodeUULine(const std::string& bytes) {
  const std::size_t n = bytes.size() < 45 ? bytes.size() : 45;
  std::string line;
  line += UUChar(static_cast<unsigned>(n));
  for (std::size_t i = 0; i < n; i += 3) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = (v << 8) | (i + k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    line += UUChar((v >> 18) & 63);
    line += UUChar((v >> 12) & 63);
    line += UUChar((v >> 6) & 63);
    line += UUChar(v & 63);
  }
  return line;
}

}  // namespace ms
