// When a check starts after a wake-up or the network coming up; the test lets the
// scheduled moments come. Bursts and the signals themselves: wakeup_guitest.cpp.

#include "core/wakeup.h"

#include <gtest/gtest.h>

#include <optional>

namespace vigilo {
namespace {

using S = WakeupChecks::TrayState;

struct WakeupTest : ::testing::Test, WakeupChecks::Tray {
  S state = S::Idle;
  bool dials = false;
  int checks = 0;
  std::optional<int> scheduled;  // the delay asked for last, until Pass()
  WakeupChecks w{*this, [this](int ms) { scheduled = ms; }};

  S State() const override { return state; }
  bool DialsOwnLine() const override { return dials; }
  void RunCheck() override { ++checks; }
  void Pass() {
    if (scheduled) {
      scheduled.reset();
      w.Due();
    }
  }
};

TEST_F(WakeupTest, NetworkStatesAndSleep) {
  for (uint32_t st : {0u, kNmStateConnecting, kNmStateConnectedLocal, 65u, kNmStateConnectedSite,
                      kNmStateConnectedGlobal, kNmStateConnectedGlobal}) {
    w.NetworkState(st);
    Pass();
  }
  EXPECT_EQ(checks, 1);  // SITE then GLOBAL is one network found to reach further
  // Going to sleep drops a check not yet started; waking waits for a network known
  // down, though not for ever.
  w.PrepareForSleep(false);
  w.PrepareForSleep(true);
  w.NetworkState(kNmStateAsleep);
  Pass();
  w.PrepareForSleep(false);
  EXPECT_EQ(scheduled, 30000);
  w.NetworkState(kNmStateConnectedGlobal);
  EXPECT_EQ(scheduled, 1000);
  Pass();
  w.NetworkState(kNmStateDisconnected);
  w.PrepareForSleep(false);
  Pass();
  EXPECT_EQ(checks, 3);
}

TEST_F(WakeupTest, BusyTrayGetsOneCheckAfterStoppedOrDiallingNone) {
  for (S busy : {S::Running, S::Blocked}) {
    state = busy;
    w.PrepareForSleep(false);
    Pass();
    Pass();
    EXPECT_EQ(scheduled, 250);
    state = S::Idle;
    Pass();
  }
  EXPECT_EQ(checks, 2);
  state = S::Running;  // the network coming up during a check serves that check
  w.NetworkState(kNmStateConnectedGlobal);
  state = S::Stopped;
  w.PrepareForSleep(false);
  Pass();
  state = S::Idle;
  Pass();
  dials = true;  // the program's own line comes up because of a check
  w.NetworkState(kNmStateDisconnected);
  w.NetworkState(kNmStateConnectedGlobal);
  Pass();
  EXPECT_EQ(checks, 2);
}

}  // namespace
}  // namespace vigilo
