// Wake-up and network-up checks over a real D-Bus: a private dbus-daemon stands in for
// the system bus, and the test plays logind and NetworkManager on it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <filesystem>

#include "core/ui/datm.h"
#include "core/ui/wakeup_listener.h"
#include "core/ui/wakeup_tray.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"
#include "tests/support/scripted_server.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

constexpr char kLogin[] = "org.freedesktop.login1";
constexpr char kNetwork[] = "org.freedesktop.NetworkManager";

bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 30'000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// A dbus-daemon of the test's own, on a socket in a private folder.
class PrivateBus {
 public:
  PrivateBus() {
    address_ = "unix:path=" + (dir_.path() / "bus").string();
    daemon_.Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                   "--address=" + address_},
                  (dir_.path() / "dbus.log").string());
  }
  ~PrivateBus() {
    for (const QString& name : names_)
      QDBusConnection::disconnectFromBus(name);
  }

  // A new connection to the bus, once the daemon answers.
  QDBusConnection Connect() {
    static int serial = 0;
    const QString name = QStringLiteral("wakeup-test-%1").arg(++serial);
    names_.push_back(name);
    std::error_code ec;
    SpinUntil([&] { return std::filesystem::exists(dir_.path() / "bus", ec); });
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
  }

 private:
  test::TempDir dir_;
  std::string address_;
  test::ServerProcess daemon_;
  std::vector<QString> names_;
};

// Plays a system service: owns its bus name and emits its signals.
class Service {
 public:
  Service(QDBusConnection bus, const char* name, const char* path, const char* interface)
      : bus_(bus), path_(path), interface_(interface) {
    if (name) {
      EXPECT_TRUE(bus_.registerService(name));
    }
  }
  void Emit(const char* signal, const QVariant& arg) {
    QDBusMessage m = QDBusMessage::createSignal(path_, interface_, signal);
    m << arg;
    EXPECT_TRUE(bus_.send(m));
  }

 private:
  QDBusConnection bus_;
  QString path_;
  QString interface_;
};

struct CountingTray : WakeupChecks::Tray {
  int checks = 0;
  WakeupChecks::TrayState State() const override { return WakeupChecks::TrayState::Idle; }
  bool DialsOwnLine() const override { return false; }
  void RunCheck() override { ++checks; }
};

struct WakeupBusTest : ::testing::Test {
  void SetUp() override { test::GuiApp(); }

  PrivateBus bus;
  CountingTray tray;
  // Listening before either service is on the bus, as at a start before them.
  WakeupListener listener{bus.Connect(), tray};
  QDBusConnection services = bus.Connect();
  Service login{services, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager"};
  Service network{services, kNetwork, "/org/freedesktop/NetworkManager", kNetwork};

  // Waits until the listener has seen `events` and has nothing left to do.
  int ChecksAfter(int events) {
    EXPECT_TRUE(SpinUntil([&] {
      return listener.Checks().Events() >= events && listener.Checks().Idle();
    }));
    EXPECT_EQ(listener.Checks().Events(), events);
    return tray.checks;
  }
};

TEST_F(WakeupBusTest, WakeUpAndNetworkUpEachStartOneCheck) {
  ASSERT_TRUE(listener.Listening());
  login.Emit("PrepareForSleep", true);
  login.Emit("PrepareForSleep", false);
  EXPECT_EQ(ChecksAfter(2), 1);

  network.Emit("StateChanged", uint(kNmStateConnectedGlobal));
  EXPECT_EQ(ChecksAfter(3), 2);
}

TEST_F(WakeupBusTest, BurstGivesOneCheck) {
  login.Emit("PrepareForSleep", false);
  for (uint state : {kNmStateConnecting, kNmStateConnectedSite, kNmStateDisconnected,
                     kNmStateConnectedGlobal}) {
    network.Emit("StateChanged", state);
  }
  login.Emit("PrepareForSleep", false);
  EXPECT_EQ(ChecksAfter(6), 1);
}

TEST_F(WakeupBusTest, OnlyTheServicesThemselvesAreHeard) {
  // Another client emits the same signals without owning the names, and a signal of
  // the wrong type comes from the real service: neither counts.
  QDBusConnection other = bus.Connect();
  Service impostor{other, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager"};
  impostor.Emit("PrepareForSleep", false);
  network.Emit("StateChanged", QString("70"));
  // A round trip from each sender: what they sent before has reached the bus.
  other.interface()->serviceOwner(kLogin);
  services.interface()->serviceOwner(kLogin);
  login.Emit("PrepareForSleep", false);
  EXPECT_EQ(ChecksAfter(1), 1);
}

TEST(WakeupNoBusTest, NoBusChangesNothingAndSaysNothing) {
  test::GuiApp();
  static QStringList said;
  said.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { said << text; });
  test::TempDir dir;
  const QString name = "wakeup-test-nobus";
  {
    CountingTray tray;
    WakeupListener listener(QDBusConnection::connectToBus(
                                "unix:path=" + QString::fromStdString(dir.str()) + "none", name),
                            tray);
    EXPECT_FALSE(listener.Listening());
    QCoreApplication::processEvents();
    EXPECT_EQ(tray.checks, 0);
  }
  QDBusConnection::disconnectFromBus(name);
  qInstallMessageHandler(previous);
  EXPECT_TRUE(said.isEmpty()) << said.join('\n').toStdString();
}

// The whole way: the tray program's own check runs once per wake-up, against a POP3
// server that counts the connections.
struct WakeupTdmTest : ::testing::Test, test::StoreFixture {
  void SetUp() override { test::GuiApp(); }
  test::FakeSoundPlayer sound;
};

TEST_F(WakeupTdmTest, WakeUpRunsTheTrayProgramsCheck) {
  std::vector<test::ScriptedServer::Step> script;
  for (int i = 0; i < 4; ++i) {
    script.push_back(test::Send("-ERR not now\r\n"));
    script.push_back(test::Close());
  }
  test::ScriptedServer pop(script);
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  tusers& s = *dmu.Settings;
  s.Conf.clear();
  s.Users = 0;
  tuser& u = s.Conf[static_cast<std::size_t>(s.AddConf())];
  u.ConfigNM = "Box";
  u.Host = "127.0.0.1";
  u.Port = pop.Port();
  u.UserName = "box";
  s.Delay = 600;
  Tdm tdm(dmu, Folders{dir.str(), dir.str(), dir.str() + "tmp/", true}, &sound);
  tdm.FramePauseMs = 1;
  ASSERT_EQ(pop.Connections(), 1);  // the first check, at creation

  PrivateBus bus;
  TdmWakeupTray tray(tdm);
  WakeupListener listener(bus.Connect(), tray);
  QDBusConnection services = bus.Connect();
  Service login{services, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager"};
  login.Emit("PrepareForSleep", false);
  EXPECT_TRUE(SpinUntil([&] { return pop.Connections() == 2 && listener.Checks().Idle(); }));
  EXPECT_TRUE(tdm.Timer1->isActive());

  // Stopped by the user: a wake-up starts nothing.
  tdm.N28Click();
  login.Emit("PrepareForSleep", false);
  EXPECT_TRUE(SpinUntil([&] { return listener.Checks().Events() == 2 && listener.Checks().Idle(); }));
  EXPECT_EQ(pop.Connections(), 2);
}

}  // namespace
}  // namespace vigilo
