#include "core/environment.h"

#include "platform/errorlog.h"

namespace vigilo {

std::unique_ptr<AppEnvironment> AppEnvironment::Create(const CommandLine& cmd, const EnvLookup& env,
                                                       std::string* error) {
  auto e = std::make_unique<AppEnvironment>();
  e->Folders = ResolveFolders(cmd.Home, env);
  if (std::string failure = CreateFolders(e->Folders); !failure.empty()) {
    if (error) *error = failure;
    return nullptr;
  }
  std::vector<std::string> open;
  if (std::string failure = CheckPrivateFolders(e->Folders, &open); !failure.empty()) {
    if (error) *error = failure;
    return nullptr;
  }
  for (const std::string& folder : open)
    AppendErrorLogOnce(e->ErrorLogPath(), "vigilo",
                       "the folder " + folder +
                           " is open to other users; chmod 700 keeps its mail and settings "
                           "private");
  e->ProgramFile = vigilo::ProgramFile();
  e->Registry = std::make_unique<RegistryFile>(e->RegistryPath(), e->ErrorLogPath());
  e->Passwords = CreateSecretServiceKeyring();
  e->PasswordBackup = std::make_unique<RegistryFile>(e->PasswordBackupPath(), e->ErrorLogPath());
  std::vector<std::string> args;
  if (e->Folders.HomeGiven) args = {"--home", e->Folders.Home};
  e->AutoStart = std::make_unique<XdgAutostart>(XdgAutostart::DefaultPath(env), std::move(args));
  return e;
}

}  // namespace vigilo
