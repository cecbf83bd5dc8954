#pragma once
// What the tray icon shows, independent of any windowing system: the icon of the
// current image list by index, cycling through the list, and the tooltip.
//
// - Choosing an image list (SetListSize) shows its icon 0.
// - An index beyond the list shows the list's last icon; a negative index icon 0.
// - With cycling on, every CycleInterval ms the next icon is shown, wrapping to 0;
//   switching cycling on always starts again at icon 0.
// - The tooltip may have several lines and is cut to its first 127 characters.

#include <string>
#include <string_view>

namespace vigilo {

class TrayIconModel {
 public:
  static constexpr std::size_t kHintChars = 127;

  void SetListSize(int count);
  int ListSize() const { return count_; }
  void SetIconIndex(int index) { index_ = index; }
  int IconIndex() const { return index_; }
  // The icon of the list to show; -1 when the list is empty.
  int DisplayedIcon() const;

  void SetCycling(bool on);
  bool Cycling() const { return cycling_; }
  // One cycling step; does nothing while cycling is off.
  void Tick();

  void SetCycleInterval(int ms) { interval_ = ms > 0 ? ms : 1; }
  int CycleInterval() const { return interval_; }

  void SetHint(std::string_view hint);
  const std::string& Hint() const { return hint_; }

 private:
  int count_ = 0;
  int index_ = 0;
  bool cycling_ = false;
  int interval_ = 500;
  std::string hint_;
};

}  // namespace vigilo
