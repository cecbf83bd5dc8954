// Wake-up and network-up over a real D-Bus: a private dbus-daemon stands in for the
// system bus, the test plays logind and NetworkManager on it, and the tray program's
// checks reach a POP3 server that counts them.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "core/ui/datm.h"
#include "core/ui/wakeup_listener.h"
#include "core/ui/wakeup_tray.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"
#include "tests/support/scripted_server.h"
#include "tests/support/server_process.h"

namespace vigilo {
namespace {

using test::SpinUntil;

// A connection named `name` to the bus at `path`, waiting for the daemon to accept it:
// the socket file appears before the daemon listens on it.
QDBusConnection Connect(const std::filesystem::path& path, const QString& name) {
  QDBusConnection bus(name);
  SpinUntil([&] {
    if (!std::filesystem::exists(path)) return false;
    bus = QDBusConnection::connectToBus("unix:path=" + QString::fromStdString(path), name);
    if (bus.isConnected()) return true;
    QDBusConnection::disconnectFromBus(name);
    return false;
  });
  return bus;
}

void Emit(QDBusConnection& bus, const char* path, const char* iface, const char* signal,
          const QVariant& arg) {
  EXPECT_TRUE(bus.send(QDBusMessage::createSignal(path, iface, signal) << arg));
}

struct WakeupBusTest : ::testing::Test, test::StoreFixture {
  void SetUp() override { test::GuiApp(); }
  test::FakeSoundPlayer sound;
};

TEST_F(WakeupBusTest, WakeUpAndNetworkUpEachRunOneCheck) {
  std::vector<test::ScriptedServer::Step> script;
  for (int i = 0; i < 6; ++i)
    script.insert(script.end(), {test::Send("-ERR not now\r\n"), test::Close()});
  test::ScriptedServer pop(script);
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  tuser& u = dmu.Settings->Conf[0];
  u.Host = "127.0.0.1";
  u.Port = pop.Port();
  dmu.Settings->Delay = 600;
  Tdm tdm(dmu, Folders{dir.str(), dir.str(), dir.str() + "tmp/", true}, &sound);
  tdm.FramePauseMs = 1;
  ASSERT_EQ(pop.Connections(), 1);  // the first check, at creation

  test::ServerProcess daemon;
  const auto socket = dir.path() / "bus";
  daemon.Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                "--address=unix:path=" + socket.string()},
               dir.str() + "dbus.log");
  TdmWakeupTray tray(tdm);
  // Listening before the services are on the bus, as at a start before them.
  WakeupListener listener(Connect(socket, "listener"), tray);
  ASSERT_TRUE(listener.Listening());
  QDBusConnection services = Connect(socket, "services");
  ASSERT_TRUE(services.registerService("org.freedesktop.login1"));
  ASSERT_TRUE(services.registerService("org.freedesktop.NetworkManager"));
  const auto sleep = [&](QDBusConnection& bus, bool sleeping) {
    Emit(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
         sleeping);
  };
  const auto network = [&](const QVariant& state) {
    Emit(services, "/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager",
         "StateChanged", state);
  };
  // The POP3 connections once the listener has seen `events` and has nothing left to do.
  const auto checks_after = [&](int events) {
    EXPECT_TRUE(SpinUntil(
        [&] { return listener.Checks().Events() >= events && listener.Checks().Idle(); }));
    EXPECT_EQ(listener.Checks().Events(), events);
    return pop.Connections();
  };

  sleep(services, true);
  sleep(services, false);
  EXPECT_EQ(checks_after(2), 2);
  network(kNmStateConnectedGlobal);
  EXPECT_EQ(checks_after(3), 3);
  // A burst, a signal of the wrong type, and one from a client that does not own the
  // service's name (its round trip puts it before what follows): one check.
  QDBusConnection other = Connect(socket, "other");
  sleep(other, false);
  other.interface()->serviceOwner("org.freedesktop.login1");
  for (uint state :
       {kNmStateConnecting, kNmStateConnectedSite, kNmStateDisconnected, kNmStateConnectedGlobal})
    network(state);
  network(QString("70"));
  sleep(services, false);
  EXPECT_EQ(checks_after(8), 4);
  // Stopped by the user: nothing.
  tdm.N28Click();
  sleep(services, false);
  EXPECT_EQ(checks_after(9), 4);
}

TEST_F(WakeupBusTest, NoBusChangesNothingAndSaysNothing) {
  static QStringList said;
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { said << text; });
  struct : WakeupChecks::Tray {
    WakeupChecks::TrayState State() const override { return WakeupChecks::TrayState::Idle; }
    bool DialsOwnLine() const override { return false; }
    void RunCheck() override { ADD_FAILURE(); }
  } tray;
  const QString nowhere = "unix:path=" + QString::fromStdString(dir.path() / "nowhere");
  EXPECT_FALSE(WakeupListener(QDBusConnection::connectToBus(nowhere, "nowhere"), tray).Listening());
  qInstallMessageHandler(previous);
  EXPECT_TRUE(said.isEmpty()) << said.join('\n').toStdString();
}

}  // namespace
}  // namespace vigilo
