#pragma once
// The one QApplication of a widget test executable.

#include <QApplication>

namespace vigilo::test {

inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "vigilo-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace vigilo::test
