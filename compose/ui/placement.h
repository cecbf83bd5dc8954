#pragma once
// Position and size of a window in a section of the window-state file "vg.ini".

#include <QWidget>
#include <string>

namespace vigilo {

// Restores Left, Top, Width, Height of `section` when the section is there.
void LoadPlacement(QWidget& w, const std::string& iniPath, const std::string& section);
// Stores them; a failure to write is silent (the window state is not worth a box).
void SavePlacement(const QWidget& w, const std::string& iniPath, const std::string& section);

}  // namespace vigilo
