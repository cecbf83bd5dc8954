#include "compose/ui/placement.h"

#include "config/winstate.h"

namespace vigilo {

void LoadPlacement(QWidget& w, const std::string& iniPath, const std::string& section) {
  if (iniPath.empty()) return;
  const std::optional<WindowState> st = ReadWindowState(iniPath, section);
  if (!st) return;
  w.resize(std::max(st->Width, w.minimumWidth()), std::max(st->Height, w.minimumHeight()));
  w.move(st->Left, st->Top);
}

void SavePlacement(const QWidget& w, const std::string& iniPath, const std::string& section) {
  if (iniPath.empty()) return;
  WindowState st;
  st.Left = w.x();
  st.Top = w.y();
  st.Width = w.width();
  st.Height = w.height();
  st.State = w.isMaximized() ? 2 : (w.isMinimized() ? 1 : 0);
  (void)WriteWindowState(iniPath, section, st);
}

}  // namespace vigilo
