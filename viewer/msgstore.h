#pragma once
// Names in the local message store: the message key of a header, the "m_" file
// that holds a downloaded message, and the rule that maps a key to a safe file
// name. Every writer, reader and the check's pruning go through these functions,
// so they always agree on the name of a message's file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"

namespace vigilo {

// The trimmed text; when it holds "<", the characters after the first "<" up to,
// not including, the next ">" (empty when no ">" follows).
std::string ExtractBracketed(std::string_view text);

// The key of a message: ExtractBracketed of its "Message-ID" value, trimmed. A
// message whose value gives an empty key (no Message-ID, blanks only, "<" without
// ">") gets one of its own instead, "vg-" followed by 32 hex digits of the SHA-256
// digest of its header block (the lines up to the first empty one), its first body
// line and its size in octets, so that messages that differ anywhere in what a
// check sees get different keys, and each keeps its key between checks.
std::string MessageKey(std::string_view message_id_value,
                       const std::vector<std::string>& header_lines,
                       std::string_view first_body_line, int64_t size);

// MessageKey before the size is known: what it digests besides the size is digested
// at once, so holding one costs little however long the header block was.
class PendingMessageKey {
 public:
  PendingMessageKey(std::string_view message_id_value, const std::vector<std::string>& header_lines,
                    std::string_view first_body_line);
  // Whether Finish depends on the size: the message has no usable Message-ID.
  bool NeedsSize() const { return key_.empty(); }
  std::string Finish(int64_t size) const;

 private:
  std::string key_;
  std::optional<Sha256> digest_;
};

// The key as one file-name component. Bytes that are safe stay as they are; "%",
// "~", "/", "\\", NUL, control bytes (below 0x20 and 0x7F) and a leading "." become "%"
// and two upper-case hex digits. A name that would not fit in a file name (over
// 240 bytes) keeps its first 200 bytes, cut at an escape boundary, followed by "~"
// and 32 hex digits of the key's digest.
std::string EscapeKey(std::string_view key);
// Reverses EscapeKey. Returns false for a name EscapeKey does not write, and for a
// shortened one (its key cannot be recovered).
bool UnescapeKey(std::string_view name, std::string* key);

// "m_" + EscapeKey(key): the file of a downloaded message inside InDir.
std::string MessageFileName(std::string_view key);
// in_dir + "/" + MessageFileName(key).
std::string MessageFilePath(const std::string& in_dir, std::string_view key);
// A name the pruning considers: it begins with "m_".
bool IsMessageFileName(std::string_view name);

}  // namespace vigilo
