#pragma once
// UTF-8 helpers on byte strings. Text that is not valid UTF-8 (raw mail bytes in
// a Cyrillic code page) is handled byte by byte: every byte that does not start a
// valid sequence counts as one character of its own.

#include <cstddef>
#include <string>
#include <string_view>

namespace vigilo {

// Length in bytes of the valid UTF-8 sequence starting at s[i], or 0 when none does.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);

bool IsValidUtf8(std::string_view s);

// The first `max_chars` characters of s; never ends inside a valid UTF-8 sequence.
std::string CutChars(std::string_view s, std::size_t max_chars);

// s with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
std::string ToValidUtf8(std::string_view s);

// UTF-16LE bytes (without their byte-order mark) as UTF-8. False, with out
// unspecified, when the length is odd or a surrogate is unpaired.
bool Utf16LeToUtf8(std::string_view bytes, std::string& out);

// The longest prefix of s of at most `max_bytes` bytes that does not end inside a
// valid UTF-8 sequence (other bytes count as characters of their own).
std::string CutBytes(std::string_view s, std::size_t max_bytes);

}  // namespace vigilo
