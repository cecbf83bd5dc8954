#pragma once
// RegistryStore kept in one text file (see regsyntax.h): read once when opened,
// rewritten atomically with mode 0600 whenever a batch of changes ends. Keys and
// values the program does not know are kept. A damaged file is never overwritten
// silently: its problems go to the error log and a copy is kept aside first (once
// per content, at most kMaxDamagedCopies of them). A regedit export in UTF-16LE
// with its byte-order mark is read too. Temporary files of a save that never ended
// are removed when the file is opened.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/regsyntax.h"

namespace vigilo {

class RegistryFile : public RegistryStore {
 public:
  // An empty registry held only in memory (nothing is ever written).
  RegistryFile();
  // Opens `path`; a missing file is an empty registry. Problems are appended to error_log.
  RegistryFile(std::filesystem::path path, std::filesystem::path error_log);

  bool KeyExists(const std::string& key) const override;
  void CreateKey(const std::string& key) override;
  void DeleteKey(const std::string& key) override;
  std::optional<RegValue> GetValue(const std::string& key, const std::string& name) const override;
  void SetValue(const std::string& key, const std::string& name, const RegValue& v) override;
  void DeleteValue(const std::string& key, const std::string& name) override;
  std::vector<std::string> ValueNames(const std::string& key) const override;
  std::vector<std::string> SubKeyNames(const std::string& key) const override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void KeepCopy(const std::string& reason) override;

  // Writes pending changes now. False when the file could not be written.
  [[nodiscard]] bool Flush() override;

  // Where damaged content was put on opening (empty when nothing was wrong).
  const std::vector<std::filesystem::path>& KeptCopies() const { return kept_; }
  // True when the file was unusable and the registry started empty.
  bool StartedFromDamagedFile() const { return damaged_; }

  static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;
  // Copies of files with unreadable lines kept beside the file, newest first.
  static constexpr std::size_t kMaxDamagedCopies = 3;

 private:
  static std::string Full(const std::string& key);
  RegKeyData* Find(const std::string& key);
  const RegKeyData* Find(const std::string& key) const;
  RegKeyData& Ensure(const std::string& key);
  void Changed();
  void Log(const std::string& message) const;
  void Load();
  void KeepDamagedCopy(const std::string& text, const std::vector<RegBadLine>& bad);

  std::filesystem::path path_;
  std::filesystem::path error_log_;
  RegDocument doc_;
  int depth_ = 0;
  bool dirty_ = false;
  bool writable_ = false;
  bool damaged_ = false;
  std::vector<std::filesystem::path> kept_;
};

}  // namespace vigilo
