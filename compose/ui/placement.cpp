#include "compose/ui/placement.h"

#include "config/inifile.h"

namespace vigilo {

void LoadPlacement(QWidget& w, const std::string& iniPath, const std::string& section) {
  if (iniPath.empty()) return;
  const IniFile ini(iniPath);
  if (!ini.HasSection(section)) return;
  const int width = ini.ReadInteger(section, "Width", w.width());
  const int height = ini.ReadInteger(section, "Height", w.height());
  w.resize(std::max(width, w.minimumWidth()), std::max(height, w.minimumHeight()));
  w.move(ini.ReadInteger(section, "Left", w.x()), ini.ReadInteger(section, "Top", w.y()));
}

void SavePlacement(const QWidget& w, const std::string& iniPath, const std::string& section) {
  if (iniPath.empty()) return;
  IniFile ini(iniPath);
  ini.Write(section, "Left", std::to_string(w.x()));
  ini.Write(section, "Top", std::to_string(w.y()));
  ini.Write(section, "Width", std::to_string(w.width()));
  ini.Write(section, "Height", std::to_string(w.height()));
  (void)ini.Save();
}

}  // namespace vigilo
