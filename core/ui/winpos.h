#pragma once
// Restoring and saving a window's position, size and state in "vg.ini".

#include <string>

class QWidget;

namespace vigilo {

// Puts the window where the section says, when it says anything usable and the
// place is on a screen.
void RestoreWindowPlacement(QWidget& window, const std::string& ini_path,
                            const std::string& section);
void SaveWindowPlacement(const QWidget& window, const std::string& ini_path,
                         const std::string& section);

}  // namespace vigilo
