#include "core/wakeup.h"

#include <utility>

namespace vigilo {

bool NetworkConnected(uint32_t nm_state) {
  return nm_state == kNmStateConnectedSite || nm_state == kNmStateConnectedGlobal;
}

WakeupChecks::WakeupChecks(Tray& tray, Scheduler schedule, Timing timing)
    : tray_(tray), schedule_(std::move(schedule)), timing_(timing) {}

void WakeupChecks::PrepareForSleep(bool sleeping) {
  ++events_;
  if (sleeping) {
    // A check wanted now would meet a sleeping computer; waking brings a new one.
    pending_ = false;
    return;
  }
  // Right after waking the network is usually still coming back: when NetworkManager
  // said it is down, its coming up starts the check, or the wait ends and it runs
  // anyway (the tray then shows what a check without network finds).
  Want(net_ == Net::Down ? timing_.NetworkWaitMs : timing_.SettleMs);
}

void WakeupChecks::NetworkState(uint32_t nm_state) {
  ++events_;
  const bool up = NetworkConnected(nm_state);
  const bool came_up = up && net_ != Net::Up;
  net_ = up ? Net::Up : Net::Down;
  if (!came_up || tray_.DialsOwnLine()) return;
  // A running check goes on over the network that has just come up (it may have
  // dialled it itself): nothing more for this event. A wake-up that waited for the
  // network keeps its check, which now need not wait.
  if (tray_.State() == TrayState::Running) {
    if (pending_) Want(timing_.SettleMs);
    return;
  }
  Want(timing_.SettleMs);
}

void WakeupChecks::Want(int after_ms) {
  // A moment already asked for comes no later than this one would: a stream of events
  // cannot put the check off.
  if (pending_ && after_ms >= scheduledMs_) return;
  pending_ = true;
  Schedule(after_ms);
}

void WakeupChecks::Schedule(int after_ms) {
  scheduledMs_ = after_ms;
  schedule_(after_ms);
}

void WakeupChecks::Due() {
  if (!pending_) return;
  switch (tray_.State()) {
    case TrayState::Stopped:
      pending_ = false;
      return;
    case TrayState::Running:
    case TrayState::Blocked:
      // A check that runs may have started before the sleep or before the network
      // came back: one more follows it.
      Schedule(timing_.RetryMs);
      return;
    case TrayState::Idle:
      pending_ = false;
      tray_.RunCheck();
      return;
  }
}

}  // namespace vigilo
