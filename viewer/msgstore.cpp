#include "viewer/msgstore.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "base/digest.h"
#include "base/text.h"
#include "base/utf8.h"

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

}  // namespace

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
  return PendingMessageKey(message_id_value, header_lines, first_body_line).Finish(size);
}

PendingMessageKey::PendingMessageKey(std::string_view message_id_value,
                                     const std::vector<std::string>& header_lines,
                                     std::string_view first_body_line)
    : key_(Trim(ExtractBracketed(message_id_value))) {
  if (!key_.empty()) return;
  digest_.emplace();
  for (const std::string& line : header_lines) {
    if (line.empty() || line == "\r") break;
    digest_->Update(line);
    digest_->Update("\n");
  }
  // The empty line that ends a header block cannot be a header line, so the parts
  // cannot run into each other.
  digest_->Update("\n");
  digest_->Update(first_body_line);
  digest_->Update("\n");
}

std::string PendingMessageKey::Finish(int64_t size) const {
  if (!digest_) return key_;
  Sha256 digest(*digest_);
  digest.Update(std::to_string(size));
  return "vg-" + digest.Hex().substr(0, 32);
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
