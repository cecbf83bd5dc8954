#pragma once
// A text initialisation file ("icon.ini", "vg.ini"): [Section] lines, then key=value
// lines. Section and key names compare without regard to ASCII letter case; keys
// keep their file order; values are trimmed when read. UTF-8.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vigilo {

class IniFile {
 public:
  IniFile() = default;
  // Reads the file; a missing or unreadable file gives an empty one.
  explicit IniFile(std::string path);

  bool HasSection(const std::string& section) const;
  // Key names of the section, in file order.
  std::vector<std::string> Keys(const std::string& section) const;
  std::optional<std::string> Read(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;

  // Changes are kept in memory until Save.
  void Write(const std::string& section, const std::string& key, const std::string& value);
  void EraseSection(const std::string& section);
  // Writes the whole file atomically. Returns "" or the failure.
  [[nodiscard]] std::string Save() const;

  const std::string& path() const { return path_; }

 private:
  struct Section {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Entries;
  };
  const Section* Find(const std::string& section) const;

  std::string path_;
  std::vector<Section> sections_;
};

}  // namespace vigilo
