#include "tests/support/keyring_daemon.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace vigilo::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(60);

// Polls `ready` until it holds or the deadline passes.
template <class F>
bool WaitFor(F ready) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

KeyringDaemon::KeyringDaemon() {
  const std::string d = dir_.str();
  for (const char* sub : {"data", "run", "home"}) {
    std::filesystem::create_directories(d + sub);
    std::filesystem::permissions(d + sub, std::filesystem::perms::owner_all);
  }
  address_ = "unix:path=" + d + "bus";
  WriteFile(dir_.path() / "bus.conf",
            "<busconfig><type>session</type><listen>" + address_ +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>\n");
  try {
    bus_.Start({"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + d + "bus.conf"},
               d + "bus.log");
  } catch (const std::exception& e) {
    error_ = std::string("dbus-daemon cannot start: ") + e.what();
    return;
  }
  if (!WaitFor([&] { return std::filesystem::exists(d + "bus") || !bus_.Alive(); }) ||
      !bus_.Alive()) {
    error_ = "dbus-daemon did not come up: " + LogTail(d + "bus.log");
    return;
  }
  error_ = StartKeyring();
}

KeyringDaemon::~KeyringDaemon() {
  keyring_.Stop();
  bus_.Stop();
}

void KeyringDaemon::Use() const {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

bool KeyringDaemon::NameOwned() const {
  std::string out;
  RunShell("dbus-send --bus=" + Quote(address_) +
               " --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
               "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets",
           &out);
  return out.find("boolean true") != std::string::npos;
}

std::string KeyringDaemon::StartKeyring() {
  if (!std::filesystem::exists("/usr/bin/gnome-keyring-daemon"))
    return "gnome-keyring-daemon is not installed";
  const std::string d = dir_.str();
  // The password on standard input unlocks (on the first start: creates) the keyring.
  const std::string command = "printf keyring-test | exec env HOME=" + Quote(d + "home") +
                              " XDG_DATA_HOME=" + Quote(d + "data") +
                              " XDG_RUNTIME_DIR=" + Quote(d + "run") +
                              " DBUS_SESSION_BUS_ADDRESS=" + Quote(address_) +
                              " gnome-keyring-daemon --foreground --unlock --components=secrets";
  try {
    keyring_.Start({"/bin/sh", "-c", command}, d + "keyring.log");
  } catch (const std::exception& e) {
    return std::string("gnome-keyring-daemon cannot start: ") + e.what();
  }
  if (!WaitFor([&] { return NameOwned() || !keyring_.Alive(); }) || !keyring_.Alive())
    return "gnome-keyring-daemon did not come up: " + LogTail(d + "keyring.log");
  return {};
}

void KeyringDaemon::StopKeyring() {
  keyring_.Stop();
  WaitFor([&] { return !NameOwned(); });
}

std::string KeyringDaemon::Lock() {
  std::string out;
  const int status =
      RunShell("dbus-send --bus=" + Quote(address_) +
                   " --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
                   "org.freedesktop.Secret.Service.Lock "
                   "array:objpath:/org/freedesktop/secrets/collection/login",
               &out);
  return status == 0 ? "" : out;
}

}  // namespace vigilo::test
