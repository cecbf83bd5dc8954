#pragma once
// Helpers of the check-cycle tests: settings in a fresh folder, a view that records what a
// check shows, the mail components wired as the data module wires them, the viewer's
// immediate deletion over them, and the command of the headless check.

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "core/check.h"
#include "core/refresh.h"
#include "platform/regfile.h"
#include "tests/config/store_fixture.h"
#include "tests/support/fake_sound.h"
#include "tests/support/tempdir.h"
#include "viewer/mailviewer.h"

namespace vigilo::test {

class RecordingView : public CheckView {
 public:
  void PlayCheckFrames() override { calls.push_back("frames"); }
  void ShowCheckAnimation() override {}
  void ShowMailWaiting() override { calls.push_back("waiting"); }
  void ShowSteadyIcon() override { calls.push_back("steady"); }
  void SetHint(const std::string& h) override { hints.push_back(hint = h); }
  void SetTrayMenu(TrayMenu) override {}
  void ClearConfItems() override {
    calls.push_back("clear");
    tags.clear();
    looks.clear();
  }
  void AddConfItems(int32_t conf) override {
    tags.push_back(conf);
    looks.emplace_back();
  }
  void SetConfItem(std::size_t pos, const ConfItemLook& look) override { looks.at(pos) = look; }
  void ShowProgress(const std::string&, const std::string&, int max) override {
    progress = true;
    barMax = max;
  }
  void SetProgress(int, const std::string&) override {}
  void SetProgressLabels(const std::string& label1, const std::string&) override {
    labels.push_back(label1);
  }
  bool ProgressVisible() const override { return progress; }
  void ReleaseProgress() override { progress = false; }

  std::vector<std::string> calls, hints, labels;
  std::string hint;
  std::vector<int32_t> tags;
  std::vector<ConfItemLook> looks;
  bool progress = false;
  int barMax = 0;
};

// Settings (with their registry file) in a fresh program folder, without configurations.
struct Settings {
  explicit Settings(const TempDir& home, bool fresh = true)
      : reg(home.path() / "registry.reg", home.path() / "registry-errors.log"),
        s(reg, autostart, home.str(), "/usr/bin/vigilo") {
    if (!fresh) return;
    s.Conf.clear();  // the first start made "Конфигурация 1"
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
    s.ComputeDirs(u);
    return u;
  }
  void Save() {
    s.Save();
    ASSERT_TRUE(reg.Flush());
  }
  RecordingAutostart autostart;
  RegistryFile reg;
  tusers s;
};

struct CheckRig {
  TempDir dir;
  Settings st{dir};
  tusers& s = st.s;
  TCheckComponents parts;
  ms::TmsPOPClient& pop = parts.POPClient;
  ms::TmsMessage& popMess = parts.POPMess;
  ms::TmsSMTPClient& smtp = parts.SMTPClient;
  ms::TmsMessage& smtpMess = parts.SMTPmess;
  TmsRas& ras = parts.msRas1;
  uint8_t& busy = parts.Busy;
  RecordingView view;
  FakeSoundPlayer sound;
  TCheckCycle check{s, pop, popMess, smtp, smtpMess, ras, view, &sound, busy};

  CheckRig() {
    pop.TimeOut = 10;
    smtp.TimeOut = 10;
  }
  tuser& Add(const std::string& name, const std::string& user, const std::string& pwd, int port,
             bool nonActive = false) {
    return st.Add(name, user, pwd, port, nonActive);
  }
  tuser& Conf(int32_t i) { return s.Conf.at(static_cast<std::size_t>(i)); }
  std::string ErrorLog() const { return ReadFile(dir.path() / "error.log"); }
};

// The viewer's server work for an immediate deletion, as the program wires it, over a rig.
class RefreshingServices : public ViewerServices {
 public:
  explicit RefreshingServices(CheckRig& rig) : rig_(rig) {}
  bool PopLogin(int32_t conf) override { return rig_.check.PopLogin(conf); }
  std::vector<std::string> RefreshHeaders(int32_t conf,
                                          const std::vector<tmailhead>& chosen) override {
    if (!rig_.check.PopLogin(conf)) return {};
    return RefreshHeads(rig_.s, conf, rig_.pop, chosen);
  }

 private:
  CheckRig& rig_;
};

// The lines of a text without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line.empty() || line.back() != '\r' ? line : line.substr(0, line.size() - 1));
  return out;
}

// True when `line` starts with "dd.mm.yyyy hh:mm:ss ".
inline bool HasLogStamp(const std::string& line) {
  const std::string shape = "00.00.0000 00:00:00 ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == '0' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != shape[i]) return false;
  return true;
}

#ifdef VIGILO_BINARY
// The command that runs `vigilo --check` over the program folder `home`, with its
// environment and output in `xdg`; `prefix` goes before the program (a limit).
inline std::string CheckCommand(const TempDir& home, const TempDir& xdg,
                                const std::string& prefix = "") {
  const std::string x = xdg.str();
  return "cd " + x + " && env -u VIGILO_HOME XDG_CONFIG_HOME=" + x + "config XDG_DATA_HOME=" + x +
         "data XDG_RUNTIME_DIR=" + x + "run " + prefix + VIGILO_BINARY " --check --home " +
         home.str() + " >" + x + "stdout 2>" + x + "stderr";
}

// Runs `vigilo --check` over the program folder `home`: its exit code and output.
inline std::pair<int, std::string> RunCheck(const TempDir& home, const TempDir& xdg,
                                            const std::string& prefix = "") {
  const int status = std::system(CheckCommand(home, xdg, prefix).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(xdg.path() / "stdout")};
}
#endif

}  // namespace vigilo::test
