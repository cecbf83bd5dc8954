#pragma once
// What every way of running the program shares, without any window: the folders,
// the registry file and the autostart entry. The tray program and a headless run
// both start from here.

#include <memory>
#include <string>

#include "core/cmdline.h"
#include "platform/autostart.h"
#include "platform/folders.h"
#include "platform/keyring.h"
#include "platform/regfile.h"

namespace vigilo {

struct AppEnvironment {
  vigilo::Folders Folders;  // qualified: the member hides the type inside this struct
  std::string ProgramFile;
  std::unique_ptr<RegistryFile> Registry;
  std::unique_ptr<XdgAutostart> AutoStart;
  // The desktop keyring for passwords, and the file keeping a scrambled copy of each
  // password it holds (read when the keyring is locked or gone).
  std::unique_ptr<Keyring> Passwords;
  std::unique_ptr<RegistryFile> PasswordBackup;

  std::string ErrorLogPath() const { return Folders.Home + "error.log"; }
  std::string RegistryPath() const { return Folders.Config + "registry.reg"; }
  std::string PasswordBackupPath() const { return Folders.Config + "passwords.reg"; }

  // Creates the folders and opens the registry. On failure returns nullptr and sets *error.
  static std::unique_ptr<AppEnvironment> Create(const CommandLine& cmd, const EnvLookup& env,
                                                std::string* error);
};

}  // namespace vigilo
