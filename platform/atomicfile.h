#pragma once
// Whole-file replacement that never leaves a torn file: the bytes go to a temporary
// file beside the target, which is flushed to disk and then renamed over it.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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
// The regular files beside `path` named by AsideName with `tag`, oldest first.
std::vector<std::filesystem::path> AsideCopies(const std::filesystem::path& path,
                                               const std::string& tag);

// Removes the temporary files WriteFileAtomic left beside `path` when a process
// ended in the middle of a save (path + ".tmp-*"), once they are older than a
// minute, so that a save running in another process is never disturbed.
void RemoveStaleTemporaries(const std::filesystem::path& path);

}  // namespace vigilo
