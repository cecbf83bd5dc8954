// vigilo: the tray mail-watch program.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "core/app/application.h"
#include "core/cmdline.h"
#include "core/environment.h"
#include "core/headless.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "vigilo_version.h"

int main(int argc, char** argv) {
  using namespace vigilo;
  const CommandLine cmd = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cmd.Error.empty()) {
    std::fprintf(stderr, "vigilo: %s\n%s", cmd.Error.c_str(), UsageText().c_str());
    return 2;
  }
  if (cmd.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (cmd.Version) {
    std::printf("Vigilo %s\n", VIGILO_VERSION);
    return 0;
  }

  FailWritesBeyondFileSizeLimit();
  const EnvLookup env = ProcessEnvironment();
  if (cmd.Check) {
    // No display, no widgets and no single-instance lock: it runs beside the tray program.
    std::string error;
    auto check_env = AppEnvironment::Create(cmd, env, &error);
    if (!check_env) {
      std::fprintf(stderr, "vigilo: %s\n", error.c_str());
      return kCheckFailed;
    }
    return RunHeadlessCheck(*check_env, std::cout, std::cerr);
  }
  // Only one copy per user: a second start ends at once, silently. The lock lives in
  // the runtime folder, which needs no settings to find.
  const Folders folders = ResolveFolders(cmd.Home, env);
  std::unique_ptr<SingleInstance> instance;
  std::string error = MakePrivateDirs(folders.Temp);
  if (error.empty()) {
    if (SingleInstance::Acquire(folders.Temp, &instance, &error) ==
        SingleInstance::Result::HeldByAnother) {
      return 0;
    }
  }
  if (!error.empty()) std::fprintf(stderr, "vigilo: %s\n", error.c_str());

  auto app_env = AppEnvironment::Create(cmd, env, &error);
  if (!app_env) {
    std::fprintf(stderr, "vigilo: %s\n", error.c_str());
    return 1;
  }
  return RunTrayProgram(argc, argv, *app_env);
}
