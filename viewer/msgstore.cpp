#include "viewer/msgstore.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/utf8.h"

namespace vigilo {
namespace {

constexpr std::size_t kMaxEscapedName = 240;
constexpr std::size_t kShortenedPrefix = 200;
constexpr const char* kHex = "0123456789ABCDEF";

bool NeedsEscape(unsigned char c, bool first) {
  // "~" only ever appears in shortened names, so no full name can equal one.
  return c < 0x20 || c == 0x7F || c == '%' || c == '~' || c == '/' || c == '\\' ||
         (first && c == '.');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // EscapeKey writes upper case only
}

// SHA-256 (FIPS 180-4).
class Sha256 {
 public:
  void Update(std::string_view data) {
    for (const char c : data) {
      block_[used_++] = static_cast<uint8_t>(c);
      if (used_ == 64) {
        Compress();
        used_ = 0;
      }
    }
    bits_ += static_cast<uint64_t>(data.size()) * 8;
  }

  std::array<uint8_t, 32> Final() {
    const uint64_t bits = bits_;
    block_[used_++] = 0x80;
    if (used_ > 56) {
      while (used_ < 64)
        block_[used_++] = 0;
      Compress();
      used_ = 0;
    }
    while (used_ < 56)
      block_[used_++] = 0;
    for (int i = 7; i >= 0; --i)
      block_[used_++] = static_cast<uint8_t>(bits >> (i * 8));
    Compress();
    std::array<uint8_t, 32> out{};
    for (int i = 0; i < 8; ++i) {
      for (int b = 0; b < 4; ++b)
        out[i * 4 + b] = static_cast<uint8_t>(h_[i] >> (24 - b * 8));
    }
    return out;
  }

 private:
  static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

  void Compress() {
    static constexpr uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<uint32_t>(block_[i * 4]) << 24 |
             static_cast<uint32_t>(block_[i * 4 + 1]) << 16 |
             static_cast<uint32_t>(block_[i * 4 + 2]) << 8 | block_[i * 4 + 3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 =
          h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
  }

  uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t block_[64] = {};
  std::size_t used_ = 0;
  uint64_t bits_ = 0;
};

}  // namespace

std::string Sha256Hex(std::string_view data) {
  Sha256 sha;
  sha.Update(data);
  const auto digest = sha.Final();
  static constexpr const char* hex = "0123456789abcdef";
  std::string out;
  for (const uint8_t b : digest) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

std::string ExtractBracketed(std::string_view text) {
  const std::string s = Trim(text);
  const std::size_t open = s.find('<');
  if (open == std::string::npos) return s;
  const std::size_t close = s.find('>', open + 1);
  if (close == std::string::npos) return {};
  return s.substr(open + 1, close - open - 1);
}

std::string MessageKey(std::string_view message_id_value,
                       const std::vector<std::string>& header_lines,
                       std::string_view first_body_line, int64_t size) {
  std::string key = Trim(ExtractBracketed(message_id_value));
  if (!key.empty()) return key;
  Sha256 sha;
  for (const std::string& line : header_lines) {
    if (line.empty() || line == "\r") break;
    sha.Update(line);
    sha.Update("\n");
  }
  // The empty line that ends a header block cannot be a header line, so the parts
  // cannot run into each other.
  sha.Update("\n");
  sha.Update(first_body_line);
  sha.Update("\n" + std::to_string(size));
  static constexpr const char* lower = "0123456789abcdef";
  const auto digest = sha.Final();
  std::string hex;
  for (std::size_t i = 0; i < 16; ++i) {
    hex += lower[digest[i] >> 4];
    hex += lower[digest[i] & 15];
  }
  return "vg-" + hex;
}

std::string EscapeKey(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  std::size_t cut = 0;  // length of `out` after the last whole escape within the prefix
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (NeedsEscape(c, i == 0)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    if (out.size() <= kShortenedPrefix) cut = out.size();
  }
  if (out.size() <= kMaxEscapedName) return out;
  // Too long for a file name: keep a readable prefix and make it unique by the digest.
  out.resize(cut);
  // Never end inside a UTF-8 character.
  for (std::size_t back = 1; back <= 3 && back <= out.size(); ++back) {
    const std::size_t p = out.size() - back;
    const auto c = static_cast<unsigned char>(out[p]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (c >= 0xC0 && Utf8SequenceLength(out, p) == 0) out.resize(p);
    break;
  }
  return out + "~" + Sha256Hex(key).substr(0, 32);
}

bool UnescapeKey(std::string_view name, std::string* key) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      out += name[i];
      continue;
    }
    if (name.size() - i < 3) return false;
    const int hi = HexValue(name[i + 1]);
    const int lo = HexValue(name[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  // Only what EscapeKey writes in full is a name of a key.
  if (EscapeKey(out) != name) return false;
  if (key) *key = std::move(out);
  return true;
}

std::string MessageFileName(std::string_view key) {
  return "m_" + EscapeKey(key);
}

std::string MessageFilePath(const std::string& in_dir, std::string_view key) {
  std::string path = in_dir;
  if (path.empty() || path.back() != '/') path += '/';
  return path + MessageFileName(key);
}

bool IsMessageFileName(std::string_view name) {
  return name.size() >= 2 && name[0] == 'm' && name[1] == '_';
}

}  // namespace vigilo
