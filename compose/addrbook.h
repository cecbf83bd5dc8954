#pragma once
// The address book: "adrBook.txt" in the program folder, one entry per line (UTF-8,
// CR LF), and the rules of its editing window without the widgets.

#include <string>
#include <vector>

namespace vigilo {

// Lower case of ASCII and Cyrillic letters of UTF-8 text (enough to compare entries).
std::string FoldCase(const std::string& text);

class TAddressBook {
 public:
  explicit TAddressBook(std::string fileName) : fileName_(std::move(fileName)) {}

  // Replaces the entries by the file's lines when the file exists.
  void Load();
  // Writes every entry, replacing the file. Returns "" or the failure.
  [[nodiscard]] std::string Save() const;
  // Appends text (untrimmed) to the file unless an entry equals it, ignoring case.
  // Returns "" or the failure.
  [[nodiscard]] static std::string AddAddress(const std::string& fileName, const std::string& text);

  // "Добав": an empty or blank text adds nothing; a text equal to an entry (ignoring
  // case) selects it; otherwise the trimmed text is added and selected. Returns true
  // when the edit field should be emptied.
  bool Add(const std::string& text);
  // "Изм": takes the selected entry out (returned) for editing; "" without a selection.
  std::string TakeForEdit();
  // "Удал": deletes the selected entry.
  void Delete();
  // "Ок": with a selection, remembers it as Selected and saves; false without one.
  bool Pick(std::string& error);

  const std::vector<std::string>& Entries() const { return entries_; }
  int Selected() const { return selected_; }
  void Select(int i) { selected_ = (i >= 0 && i < static_cast<int>(entries_.size())) ? i : -1; }
  const std::string& SelectedAddress() const { return selectedAddress_; }
  const std::string& FileName() const { return fileName_; }

 private:
  void RemoveSelected();
  static std::vector<std::string> ReadLines(const std::string& fileName, bool& exists);
  static std::string WriteLines(const std::string& fileName, const std::vector<std::string>& lines);

  std::string fileName_;
  std::vector<std::string> entries_;  // sorted ignoring case
  int selected_ = -1;
  std::string selectedAddress_;
};

}  // namespace vigilo
