#pragma once
// uuencode: the "begin" line, and one line of encoded data each way.

#include <string>

namespace ms {

// "begin" (any case) followed by blanks and a three-digit file mode.
bool IsUUBegin(const std::string& line);
// The file name of a begin line (a quoted name ends at its closing quote).
std::string UUFileName(const std::string& line);
// The bytes of one encoded line; EmsError "Invalid Character" for a
// character outside the uuencode alphabet.
std::string DecodeUULine(const std::string& line);
// One encoded line of at most 45 bytes.
std::string EncodeUULine(const std::string& bytes);

}  // namespace ms
