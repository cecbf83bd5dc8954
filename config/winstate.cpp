#include "config/winstate.h"

#include "config/inifile.h"

namespace vigilo {

std::optional<WindowState> ReadWindowState(const std::string& ini_path,
                                           const std::string& section) {
  const IniFile ini(ini_path);
  if (!ini.HasSection(section)) return std::nullopt;
  WindowState s;
  s.Left = ini.ReadInteger(section, "Left", 0);
  s.Top = ini.ReadInteger(section, "Top", 0);
  s.Width = ini.ReadInteger(section, "Width", 0);
  s.Height = ini.ReadInteger(section, "Height", 0);
  s.State = ini.ReadInteger(section, "State", 0);
  if (s.Width <= 0 || s.Height <= 0 || s.State < 0 || s.State > 2) return std::nullopt;
  return s;
}

std::string WriteWindowState(const std::string& ini_path, const std::string& section,
                             const WindowState& state) {
  IniFile ini(ini_path);
  ini.Write(section, "Left", std::to_string(state.Left));
  ini.Write(section, "Top", std::to_string(state.Top));
  ini.Write(section, "Width", std::to_string(state.Width));
  ini.Write(section, "Height", std::to_string(state.Height));
  ini.Write(section, "State", std::to_string(state.State));
  return ini.Save();
}

}  // namespace vigilo
