#include "core/ui/winpos.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "config/winstate.h"

namespace vigilo {

void RestoreWindowPlacement(QWidget& window, const std::string& ini_path,
                            const std::string& section) {
  const auto state = ReadWindowState(ini_path, section);
  if (!state) return;
  const QRect place(state->Left, state->Top, state->Width, state->Height);
  // A place left behind on a screen that is gone is not used.
  if (!QGuiApplication::screenAt(place.center())) return;
  window.resize(place.size().expandedTo(window.minimumSize()));
  window.move(place.topLeft());
  if (state->State == 2) window.setWindowState(Qt::WindowMaximized);
}

void SaveWindowPlacement(const QWidget& window, const std::string& ini_path,
                         const std::string& section) {
  const QRect normal = window.isMaximized() ? window.normalGeometry() : window.geometry();
  WindowState state;
  state.Left = normal.x();
  state.Top = normal.y();
  state.Width = normal.width();
  state.Height = normal.height();
  state.State = window.isMaximized() ? 2 : window.isMinimized() ? 1 : 0;
  WriteWindowState(ini_path, section, state);
}

}  // namespace vigilo
