#include "core/ui/wakeup_tray.h"

#include "core/ui/datm.h"

namespace vigilo {

WakeupChecks::TrayState TdmWakeupTray::State() const {
  using S = WakeupChecks::TrayState;
  // No ticks at all means the user wants no automatic checks.
  if (dm_.Stopped || dm_.Timer1->interval() <= 0) return S::Stopped;
  if (dm_.Check->Running()) return S::Running;
  // A stopped Timer1 is held by a command in progress (a check asked for from the
  // menu, a mailbox's headers opening, the viewer at work on the server).
  if (dm_.Busy != 0 || dm_.SettingsRunning() || !dm_.Timer1->isActive()) return S::Blocked;
  return S::Idle;
}

bool TdmWakeupTray::DialsOwnLine() const {
  const tusers& s = dm_.Settings();
  return s.Lan == 2 && !s.ChIfCon;
}

void TdmWakeupTray::RunCheck() {
  dm_.N26Click();
}

}  // namespace vigilo
