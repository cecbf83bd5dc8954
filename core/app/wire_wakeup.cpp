#include "core/app/wire_wakeup.h"

#include <QDBusConnection>

#include "core/ui/datm.h"
#include "core/ui/wakeup_listener.h"

namespace vigilo {

namespace {

class TdmTray : public WakeupChecks::Tray {
 public:
  explicit TdmTray(Tdm& tdm) : dm_(tdm) {}

  WakeupChecks::TrayState State() const override {
    using S = WakeupChecks::TrayState;
    // No ticks at all means the user wants no automatic checks.
    if (dm_.Stopped || dm_.Timer1->interval() <= 0) return S::Stopped;
    if (dm_.Check->Running()) return S::Running;
    // A stopped Timer1 is held by a command in progress (a check asked for from the
    // menu, a mailbox's headers opening, the viewer at work on the server).
    if (dm_.Busy != 0 || dm_.SettingsRunning() || !dm_.Timer1->isActive()) return S::Blocked;
    return S::Idle;
  }

  bool DialsOwnLine() const override {
    const tusers& s = dm_.Settings();
    return s.Lan == 2 && !s.ChIfCon;
  }

  void RunCheck() override { dm_.N26Click(); }

 private:
  Tdm& dm_;
};

class Watch : public WakeupWatch {
 public:
  explicit Watch(Tdm& tdm) : tray_(tdm), listener_(QDBusConnection::systemBus(), tray_) {}

 private:
  TdmTray tray_;
  WakeupListener listener_;
};

}  // namespace

std::unique_ptr<WakeupWatch> WireWakeup(Tdm& tdm) {
  return std::make_unique<Watch>(tdm);
}

}  // namespace vigilo
