#pragma once
// Hears logind's sleep signal and NetworkManager's state on a D-Bus bus and hands
// them to WakeupChecks, whose moments it keeps with a timer.

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include "core/wakeup.h"

namespace vigilo {

class WakeupListener : public QObject {
  Q_OBJECT

 public:
  // Listens on `bus` (the system bus in the program). A bus that is not connected, or
  // one without logind or NetworkManager, leaves the program as it was, silently.
  WakeupListener(const QDBusConnection& bus, WakeupChecks::Tray& tray,
                 WakeupChecks::Timing timing = {}, QObject* parent = nullptr);
  ~WakeupListener() override;

  // True when the bus is connected and both signals are subscribed.
  bool Listening() const { return listening_; }
  const WakeupChecks& Checks() const { return checks_; }

 private slots:
  void PrepareForSleep(bool sleeping);
  void StateChanged(uint state);

 private:
  QDBusConnection bus_;
  QTimer timer_;
  WakeupChecks checks_;
  bool listening_ = false;
};

}  // namespace vigilo
