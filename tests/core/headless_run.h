#pragma once
// Runs the real binary's headless check (vigilo --check) over a program folder, and
// stores configurations there as the settings window would.

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "config/myuser.h"
#include "platform/regfile.h"
#include "tests/core/check_fixture.h"
#include "tests/support/tempdir.h"

#ifdef VIGILO_BINARY
namespace vigilo::test {

struct RunResult {
  int code = -1;
  std::string out;
};

inline RunResult RunCheck(const TempDir& home, const TempDir& xdg) {
  const std::string cmd =
      "cd " + xdg.str() + " && env -u VIGILO_HOME XDG_CONFIG_HOME=" + xdg.str() +
      "config XDG_DATA_HOME=" + xdg.str() + "data XDG_RUNTIME_DIR=" + xdg.str() +
      "run " VIGILO_BINARY " --check --home " + home.str() + " 2>" + xdg.str() + "stderr";
  RunResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Stores configurations in home's registry file, as the settings window would.
struct StoredSettings {
  // fresh: drop the configuration a first start makes.
  explicit StoredSettings(const TempDir& home, bool fresh = true)
      : reg(home.path() / "registry.reg", home.path() / "registry-errors.log"),
        s(reg, autostart, home.str(), "/usr/bin/vigilo") {
    if (!fresh) return;
    s.Conf.clear();
    s.Users = 0;
  }
  tuser& Add(const std::string& name, const std::string& user, const std::string& pwd, int port,
             bool nonActive = false) {
    tuser& u = s.Conf[static_cast<std::size_t>(s.AddConf())];
    u.ConfigNM = name;
    u.Host = "127.0.0.1";
    u.Port = port;
    u.UserName = user;
    u.UserPwd = pwd;
    u.NonActive = nonActive;
    return u;
  }
  void Save() {
    s.Save();
    reg.Flush();
  }
  NoAutostart autostart;
  RegistryFile reg;
  tusers s;
};

}  // namespace vigilo::test
#endif
