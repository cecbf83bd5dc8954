#pragma once
// What a check shows: the tray icon and tooltip, the tray menu, the per-configuration
// items of the submenu "Просмотреть заголовки" (N5) and of the left-click menu
// (ConfMenu), and the progress window. The tray program's Tdm draws them; a
// headless check shows nothing. Every operation does nothing by default.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vigilo {

// The menu the tray icon opens on a right click.
enum class TrayMenu { Main /* PopupMenu1 */, Short /* PopupMenu2, while dialing */ };

// Look of one per-configuration menu item; Picture indexes ImageList5
// (0 no connection, 1 mail waiting, 2 empty).
struct ConfItemLook {
  bool Enabled = false;
  std::string Caption;
  int Picture = 0;
  bool operator==(const ConfItemLook&) const = default;
};

class CheckView {
 public:
  virtual ~CheckView() = default;

  // The eight frames of ImageList4 one after the other, each for a short pause.
  virtual void PlayCheckFrames() {}
  // ImageList4 cycling every 100 ms while the check works.
  virtual void ShowCheckAnimation() {}
  // Mail waits: ImageList1 blinking between icons 0 and 1 every 500 ms.
  virtual void ShowMailWaiting() {}
  // No mail, no connection or an error: icon 1 of ImageList1, cycling off.
  virtual void ShowSteadyIcon() {}
  // The tooltip; lines are separated by CR LF.
  virtual void SetHint(const std::string& hint) { (void)hint; }
  virtual void SetTrayMenu(TrayMenu menu) { (void)menu; }

  // Removes every per-configuration item from N5 and ConfMenu.
  virtual void ClearConfItems() {}
  // Appends one item for configuration `conf` (its tag) to N5 and one to ConfMenu.
  virtual void AddConfItems(int32_t conf) { (void)conf; }
  // Gives the items at `position` of N5 and ConfMenu their look.
  virtual void SetConfItem(std::size_t position, const ConfItemLook& look) {
    (void)position;
    (void)look;
  }

  // Creates the progress window at the lower right of the desktop with Bar 0..max
  // and the two labels, and shows it.
  virtual void ShowProgress(const std::string& label1, const std::string& label2, int max) {
    (void)label1;
    (void)label2;
    (void)max;
  }
  virtual void SetProgress(int position, const std::string& label2) {
    (void)position;
    (void)label2;
  }
  virtual void SetProgressLabels(const std::string& label1, const std::string& label2) {
    (void)label1;
    (void)label2;
  }
  virtual bool ProgressVisible() const { return false; }
  // Releases the progress window, if there is one.
  virtual void ReleaseProgress() {}
};

}  // namespace vigilo
