#pragma once
// A private desktop keyring: a D-Bus session bus of its own (no service activation, so nothing
// starts behind the test's back) with gnome-keyring-daemon's Secret Service on it, data and
// runtime folders in a fresh folder. The user's own keyring is never touched.

#include <string>

#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {

class KeyringDaemon {
 public:
  // Starts the bus and the keyring, unlocked. Failures leave Ready() false with the reason in
  // Error().
  KeyringDaemon();
  ~KeyringDaemon();
  KeyringDaemon(const KeyringDaemon&) = delete;
  KeyringDaemon& operator=(const KeyringDaemon&) = delete;

  bool Ready() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  // Points this process's session bus at it (before its first keyring call).
  void Use() const;

  // Starts the keyring again (same data, unlocked); "" or why it did not come up.
  std::string StartKeyring();
  void StopKeyring();  // ends the keyring daemon; the bus stays
  std::string Lock();  // locks the keyring's collections; "" or the failure

 private:
  int Send(const std::string& args, std::string* out) const;  // dbus-send to the bus
  bool NameOwned() const;

  TempDir dir_;
  std::string address_;
  std::string error_;
  ServerProcess bus_;
  ServerProcess keyring_;
};

}  // namespace vigilo::test
