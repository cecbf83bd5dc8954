// When a check starts after a wake-up or a network coming up, with the clock in the
// test's hands: Due() is called when the test says the scheduled moment has come.

#include "core/wakeup.h"

#include <gtest/gtest.h>

#include <optional>

namespace vigilo {
namespace {

using S = WakeupChecks::TrayState;

struct FakeTray : WakeupChecks::Tray {
  S state = S::Idle;
  bool dials = false;
  int checks = 0;
  S State() const override { return state; }
  bool DialsOwnLine() const override { return dials; }
  void RunCheck() override { ++checks; }
};

struct WakeupTest : ::testing::Test {
  FakeTray tray;
  std::optional<int> scheduled;  // the delay asked for last, until the test lets it pass
  WakeupChecks checks{tray, [this](int ms) { scheduled = ms; }};

  // Lets the scheduled moment come, if one is due.
  void Pass() {
    if (!scheduled) return;
    scheduled.reset();
    checks.Due();
  }
};

TEST_F(WakeupTest, WakingStartsOneCheckGoingToSleepNone) {
  checks.PrepareForSleep(true);
  EXPECT_FALSE(scheduled);
  EXPECT_TRUE(checks.Idle());

  checks.PrepareForSleep(false);
  EXPECT_EQ(scheduled, 1000);
  Pass();
  EXPECT_EQ(tray.checks, 1);
  EXPECT_TRUE(checks.Idle());
  checks.Due();  // a stray timer starts nothing more
  EXPECT_EQ(tray.checks, 1);

  // Going to sleep again drops a check not yet started.
  checks.PrepareForSleep(false);
  checks.PrepareForSleep(true);
  Pass();
  EXPECT_EQ(tray.checks, 1);
}

TEST_F(WakeupTest, OnlyTheNetworkComingUpCounts) {
  for (uint32_t state : {0u, kNmStateAsleep, kNmStateDisconnected, 30u, kNmStateConnecting,
                         kNmStateConnectedLocal, 65u, 4000000000u}) {
    checks.NetworkState(state);
  }
  EXPECT_FALSE(scheduled);

  checks.NetworkState(kNmStateConnectedSite);
  Pass();
  EXPECT_EQ(tray.checks, 1);
  // SITE to GLOBAL is the same network found to reach further, not a new one.
  checks.NetworkState(kNmStateConnectedGlobal);
  checks.NetworkState(kNmStateConnectedGlobal);
  EXPECT_FALSE(scheduled);

  checks.NetworkState(kNmStateConnectedLocal);
  checks.NetworkState(kNmStateConnectedGlobal);
  Pass();
  EXPECT_EQ(tray.checks, 2);
}

TEST_F(WakeupTest, BurstGivesOneCheckAndCannotPutItOff) {
  checks.PrepareForSleep(false);
  for (int i = 0; i < 5; ++i) {
    scheduled.reset();
    checks.PrepareForSleep(false);
    checks.NetworkState(kNmStateDisconnected);
    checks.NetworkState(kNmStateConnectedGlobal);
    // The moment first asked for stands: no later one replaces it.
    EXPECT_FALSE(scheduled);
  }
  checks.Due();
  EXPECT_EQ(tray.checks, 1);
  EXPECT_EQ(checks.Events(), 16);
}

TEST_F(WakeupTest, WakingWaitsForANetworkKnownDown) {
  checks.NetworkState(kNmStateConnectedGlobal);
  Pass();
  checks.PrepareForSleep(true);
  checks.NetworkState(kNmStateAsleep);
  checks.PrepareForSleep(false);
  EXPECT_EQ(scheduled, 30000);
  checks.NetworkState(kNmStateConnecting);
  EXPECT_EQ(scheduled, 30000);
  checks.NetworkState(kNmStateConnectedGlobal);
  EXPECT_EQ(scheduled, 1000);  // the wait is over
  Pass();
  EXPECT_EQ(tray.checks, 2);

  // A network that does not come back: the check runs when the wait ends.
  checks.NetworkState(kNmStateDisconnected);
  checks.PrepareForSleep(false);
  EXPECT_EQ(scheduled, 30000);
  Pass();
  EXPECT_EQ(tray.checks, 3);
}

TEST_F(WakeupTest, RunningOrBlockedCheckIsFollowedByOne) {
  for (S busy : {S::Running, S::Blocked}) {
    tray.checks = 0;
    tray.state = busy;
    checks.PrepareForSleep(false);
    Pass();
    EXPECT_EQ(scheduled, 250);
    Pass();
    Pass();
    EXPECT_EQ(tray.checks, 0);
    tray.state = S::Idle;
    Pass();
    EXPECT_EQ(tray.checks, 1);
    EXPECT_TRUE(checks.Idle());
  }
}

TEST_F(WakeupTest, NetworkDuringARunningCheckIsThatChecks) {
  tray.state = S::Running;
  checks.NetworkState(kNmStateConnectedGlobal);
  EXPECT_FALSE(scheduled);
  EXPECT_TRUE(checks.Idle());
  tray.state = S::Idle;
  checks.NetworkState(kNmStateConnectedGlobal);
  EXPECT_FALSE(scheduled);  // nothing new since
}

TEST_F(WakeupTest, StoppedCheckingOrOwnDialStartsNothing) {
  tray.state = S::Stopped;
  checks.PrepareForSleep(false);
  Pass();
  EXPECT_TRUE(checks.Idle());
  tray.state = S::Idle;  // resumed later: the dropped wake-up stays dropped
  Pass();
  EXPECT_EQ(tray.checks, 0);

  // A line the program dials itself comes up because of a check.
  tray.dials = true;
  checks.NetworkState(kNmStateConnectedGlobal);
  EXPECT_FALSE(scheduled);
  checks.PrepareForSleep(false);
  Pass();
  EXPECT_EQ(tray.checks, 1);
}

}  // namespace
}  // namespace vigilo
