#pragma once
// A fresh private folder for one test, removed with everything in it at the end.

#include <filesystem>
#include <string>

namespace vigilo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string() + "/"; }  // with a trailing '/'

 private:
  std::filesystem::path path_;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& p);
// Writes bytes, creating parent folders.
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

}  // namespace vigilo::test
