#pragma once
// Window positions in the window-state file "vg.ini": one section per window with
// the keys "Left", "Top", "Width", "Height" and "State" (0 normal, 1 minimised,
// 2 maximised).

#include <optional>
#include <string>

namespace vigilo {

struct WindowState {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int State = 0;
};

// The stored state of the window `section`; std::nullopt when the section is missing
// or names no usable size.
std::optional<WindowState> ReadWindowState(const std::string& ini_path, const std::string& section);
// Writes the section, keeping the rest of the file. Returns "" or the failure.
std::string WriteWindowState(const std::string& ini_path, const std::string& section,
                             const WindowState& state);

}  // namespace vigilo
