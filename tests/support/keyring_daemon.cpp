#include "tests/support/keyring_daemon.h"

#include <cstdlib>
#include <filesystem>

namespace vigilo::test {
namespace {

constexpr int kDeadlineMs = 60000;

}  // namespace

KeyringDaemon::KeyringDaemon() {
  const std::string d = dir_.str();
  for (const char* sub : {"data", "run", "home"})
    MakeDir(d + sub, 0700);
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
  WaitUntil([&] { return std::filesystem::exists(d + "bus") || !bus_.Alive(); }, kDeadlineMs, 50);
  if (!bus_.Alive() || !std::filesystem::exists(d + "bus"))
    error_ = "dbus-daemon did not come up: " + LogTail(d + "bus.log");
  else
    error_ = StartKeyring();
}

KeyringDaemon::~KeyringDaemon() {
  keyring_.Stop();
  bus_.Stop();
}

void KeyringDaemon::Use() const {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

int KeyringDaemon::Send(const std::string& args, std::string* out) const {
  return RunShell("dbus-send --bus=" + ShellQuote(address_) + " --print-reply " + args, out);
}

bool KeyringDaemon::NameOwned() const {
  std::string out;
  Send(
      "--dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
      "string:org.freedesktop.secrets",
      &out);
  return out.find("boolean true") != std::string::npos;
}

std::string KeyringDaemon::StartKeyring() {
  if (!std::filesystem::exists("/usr/bin/gnome-keyring-daemon"))
    return "gnome-keyring-daemon is not installed";
  const std::string d = dir_.str();
  // The password on standard input unlocks (on the first start: creates) the keyring.
  const std::string command = "printf keyring-test | exec env HOME=" + ShellQuote(d + "home") +
                              " XDG_DATA_HOME=" + ShellQuote(d + "data") +
                              " XDG_RUNTIME_DIR=" + ShellQuote(d + "run") +
                              " DBUS_SESSION_BUS_ADDRESS=" + ShellQuote(address_) +
                              " gnome-keyring-daemon --foreground --unlock --components=secrets";
  try {
    keyring_.Start({"/bin/sh", "-c", command}, d + "keyring.log");
  } catch (const std::exception& e) {
    return std::string("gnome-keyring-daemon cannot start: ") + e.what();
  }
  WaitUntil([&] { return NameOwned() || !keyring_.Alive(); }, kDeadlineMs, 50);
  if (!keyring_.Alive() || !NameOwned())
    return "gnome-keyring-daemon did not come up: " + LogTail(d + "keyring.log");
  return {};
}

void KeyringDaemon::StopKeyring() {
  keyring_.Stop();
  WaitUntil([&] { return !NameOwned(); }, kDeadlineMs, 50);
}

std::string KeyringDaemon::Lock() {
  std::string out;
  const int status = Send(
      "--dest=org.freedesktop.secrets /org/freedesktop/secrets org.freedesktop.Secret.Service.Lock "
      "array:objpath:/org/freedesktop/secrets/collection/login",
      &out);
  return status == 0 ? "" : out;
}

}  // namespace vigilo::test
