#pragma once
// Checks when they matter: after the computer wakes from sleep and when the network
// comes up, the tray should be right at once, not at the next tick. WakeupChecks
// decides when such a check starts; it knows nothing of D-Bus or Qt. A listener feeds
// it the events and gives it one timer, the tray side tells it what the program does.

#include <cstdint>
#include <functional>
#include <utility>

namespace vigilo {

// NetworkManager's overall states (NMState) that matter here.
inline constexpr uint32_t kNmStateAsleep = 10;
inline constexpr uint32_t kNmStateDisconnected = 20;
inline constexpr uint32_t kNmStateConnecting = 40;
inline constexpr uint32_t kNmStateConnectedLocal = 50;
inline constexpr uint32_t kNmStateConnectedSite = 60;
inline constexpr uint32_t kNmStateConnectedGlobal = 70;

// Whether a state lets a check reach its servers. CONNECTED_SITE counts: mail servers
// are often inside the local network, and NetworkManager stays at SITE when its
// internet probe is blocked or behind a login page. CONNECTED_LOCAL (no route beyond
// the link) does not.
bool NetworkConnected(uint32_t nm_state);

class WakeupChecks {
 public:
  // What the program is doing when a check is due.
  enum class TrayState {
    Idle,     // a check may start
    Running,  // a check runs
    Blocked,  // something else holds checks (a mailbox session, the settings window)
    Stopped,  // the user stopped checking, or chose no automatic checks
  };
  class Tray {
   public:
    virtual ~Tray() = default;
    virtual TrayState State() const = 0;
    // True when the program dials its own line for a check: the network then comes
    // up because of a check and must not start another one.
    virtual bool DialsOwnLine() const = 0;
    // Starts a check as "Проверить почту" does (the next tick a full interval later).
    virtual void RunCheck() = 0;
  };
  // Asks for Due() after `ms` milliseconds, replacing an earlier request.
  using Scheduler = std::function<void(int ms)>;

  struct Timing {
    int SettleMs = 1000;        // a burst of events within this gives one check
    int NetworkWaitMs = 30000;  // a wake-up waits this long for a network known down
    int RetryMs = 250;          // how often a blocked check looks again
  };

  WakeupChecks(Tray& tray, Scheduler schedule, Timing timing);
  WakeupChecks(Tray& tray, Scheduler schedule)
      : WakeupChecks(tray, std::move(schedule), Timing{}) {}

  // logind's PrepareForSleep: true before the computer sleeps, false after it woke.
  void PrepareForSleep(bool sleeping);
  // NetworkManager's StateChanged.
  void NetworkState(uint32_t nm_state);
  // The scheduled moment: starts the wanted check when nothing is in the way.
  void Due();

  // True when no check is wanted.
  bool Idle() const { return !pending_; }
  // Events seen so far (both kinds).
  int Events() const { return events_; }

 private:
  void Want(int after_ms);
  void Schedule(int after_ms);

  Tray& tray_;
  Scheduler schedule_;
  Timing timing_;
  bool pending_ = false;
  int scheduledMs_ = 0;  // the delay last asked for while pending_
  // The last network state as connected or not; unknown until NetworkManager reports.
  enum class Net { Unknown, Down, Up } net_ = Net::Unknown;
  int events_ = 0;
};

}  // namespace vigilo
