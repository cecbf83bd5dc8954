#pragma once
// Whole-file replacement that never leaves a torn file: the bytes go to a temporary
// file beside the target, which is flushed to disk and then renamed over it.

#include <filesystem>
#include <string>
#include <string_view>

namespace vigilo {

// Returns "" on success, else a description of the failure (the old file is untouched).
[[nodiscard]] std::string WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes,
                                          unsigned mode = 0600);

// Reads a whole regular file of at most max_bytes. Returns "" on success, else why not;
// *missing is set when the file does not exist.
[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path, std::string& out,
                                        std::size_t max_bytes, bool* missing = nullptr);

// A name beside `path` that does not exist yet: path + "." + tag + "-YYYYMMDD-HHMMSS[-n]".
std::filesystem::path AsideName(const std::filesystem::path& path, const std::string& tag);

}  // namespace vigilo
