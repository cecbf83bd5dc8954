#include "core/trayicon_model.h"

#include "base/utf8.h"

namespace vigilo {

void TrayIconModel::SetListSize(int count) {
  count_ = count > 0 ? count : 0;
  index_ = 0;
}

int TrayIconModel::DisplayedIcon() const {
  if (count_ == 0) return -1;
  if (index_ < 0) return 0;
  return index_ >= count_ ? count_ - 1 : index_;
}

void TrayIconModel::SetCycling(bool on) {
  cycling_ = on;
  if (on) index_ = 0;
}

void TrayIconModel::Tick() {
  if (!cycling_ || count_ == 0) return;
  index_ = (DisplayedIcon() + 1) % count_;
}

void TrayIconModel::SetHint(std::string_view hint) {
  hint_ = CutChars(hint, kHintChars);
}

}  // namespace vigilo
