#pragma once
// The blacklist editor without its window: a working copy of the list, kept sorted,
// that replaces the settings' list only when the user confirms.

#include <string>
#include <vector>

namespace vigilo {

// Alphabetical order of the editor's list: letters compared without regard to case
// (Cyrillic included), then byte order.
bool BlackListLess(const std::string& a, const std::string& b);

class TBlackEditor {
 public:
  // A copy of `black`, sorted.
  explicit TBlackEditor(const std::vector<std::string>& black);

  const std::vector<std::string>& Items() const { return items_; }
  // The selected entry, or -1.
  int Selected() const { return selected_; }
  void Select(int index);
  // The text of the edit field.
  std::string Edit;

  // "Добав": an entry equal to the edit text (case ignored) is selected instead of a
  // second one; otherwise the trimmed text is added and selected and the edit cleared.
  // Blank text adds nothing.
  void Add();
  // "Изм": the selected entry moves into the edit field.
  void Change();
  // "Удал": the selected entry is removed.
  void Remove();
  // "Ок": the list to store.
  std::vector<std::string> Result() const { return items_; }

 private:
  void RemoveSelected();

  std::vector<std::string> items_;
  int selected_ = -1;
};

}  // namespace vigilo
