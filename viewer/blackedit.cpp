#include "viewer/blackedit.h"

#include <algorithm>

#include "base/text.h"
#include "viewer/blacklist.h"

namespace vigilo {

bool BlackListLess(const std::string& a, const std::string& b) {
  const std::string fa = FoldCase(a), fb = FoldCase(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

TBlackEditor::TBlackEditor(const std::vector<std::string>& black) : items_(black) {
  std::stable_sort(items_.begin(), items_.end(), BlackListLess);
}

void TBlackEditor::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
}

void TBlackEditor::Add() {
  const std::string text = Trim(Edit);
  if (text.empty()) return;  // an empty entry would match every message without a sender
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameSenderText(items_[i], Edit) || SameSenderText(items_[i], text)) {
      selected_ = static_cast<int>(i);
      return;
    }
  }
  items_.push_back(text);
  std::stable_sort(items_.begin(), items_.end(), BlackListLess);
  Edit.clear();
  selected_ = static_cast<int>(items_.size()) - 1;  // the last entry, as the list shows it
}

void TBlackEditor::RemoveSelected() {
  items_.erase(items_.begin() + selected_);
  const int before = selected_ - 1;
  selected_ = items_.empty() ? -1 : std::max(before, 0);
}

void TBlackEditor::Change() {
  if (selected_ < 0) return;
  Edit = items_[static_cast<std::size_t>(selected_)];
  RemoveSelected();
}

void TBlackEditor::Remove() {
  if (selected_ < 0) return;
  RemoveSelected();
}

}  // namespace vigilo
