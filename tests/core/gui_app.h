#pragma once
// The one QApplication of a widget test executable, and the few ways a test drives it.

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace vigilo::test {

inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "vigilo-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs the event loop until `done` holds; false after a deadline generous enough for a
// loaded machine.
inline bool SpinUntil(const std::function<bool()>& done, int ms = 60000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs `act` from the event loop (of a modal window, say) once `ready` holds.
inline void WhenReady(std::function<bool()> ready, std::function<void()> act) {
  auto* timer = new QTimer();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, ready, act] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    act();
  });
  timer->start();
}

inline void Key(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
}

// A left click at (2, 2); with `drag`, the mouse moves that far before it is released.
inline void Click(QWidget* w, QPointF drag = {}) {
  const QPointF at(2, 2), global = w->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  if (!drag.isNull()) {
    QMouseEvent move(QEvent::MouseMove, at, global + drag, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, at, global + drag, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(w, &release);
}

}  // namespace vigilo::test
