#pragma once
// Helpers of the check-cycle tests: settings in a fresh folder, a view that records
// what a check shows, and the mail components wired as the data module wires them.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "core/check.h"
#include "platform/regfile.h"
#include "tests/support/fake_sound.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {

class NoAutostart : public Autostart {
 public:
  bool Exists() const override { return false; }
  void Set(const std::string&) override {}
  void Remove() override {}
};

// Records every call; keeps the items and the progress window's state.
class RecordingView : public CheckView {
 public:
  void PlayCheckFrames() override { calls.push_back("frames"); }
  void ShowCheckAnimation() override { calls.push_back("animation"); }
  void ShowMailWaiting() override { calls.push_back("waiting"); }
  void ShowSteadyIcon() override { calls.push_back("steady"); }
  void SetHint(const std::string& h) override {
    hints.push_back(h);
    hint = h;
  }
  void SetTrayMenu(TrayMenu m) override {
    calls.push_back(m == TrayMenu::Main ? "menu1" : "menu2");
  }
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
  void ShowProgress(const std::string& l1, const std::string& l2, int max) override {
    progress = true;
    label1 = l1;
    label2 = l2;
    barMax = max;
    ++progressShown;
  }
  void SetProgress(int position, const std::string& l2) override {
    barPos = position;
    label2 = l2;
    if (onProgress) onProgress();
  }
  void SetProgressLabels(const std::string& l1, const std::string& l2) override {
    label1 = l1;
    label2 = l2;
  }
  bool ProgressVisible() const override { return progress; }
  void ReleaseProgress() override { progress = false; }

  std::function<void()> onProgress;  // after each message of a mailbox
  std::vector<std::string> calls;
  std::vector<std::string> hints;
  std::string hint;
  std::vector<int32_t> tags;
  std::vector<ConfItemLook> looks;
  bool progress = false;
  int progressShown = 0;
  std::string label1, label2;
  int barMax = 0, barPos = 0;
};

// A settings object in a fresh folder (the program folder) with its own registry file.
struct CheckRig {
  TempDir dir;
  NoAutostart autostart;
  RegistryFile reg{dir.path() / "registry.reg", dir.path() / "registry-errors.log"};
  tusers s{reg, autostart, dir.str(), "/usr/bin/vigilo"};
  ms::TmsPOPClient pop;
  ms::TmsMessage popMess;
  ms::TmsSMTPClient smtp;
  ms::TmsMessage smtpMess;
  TmsRas ras;
  uint8_t busy = 0;
  RecordingView view;
  FakeSoundPlayer sound;
  TCheckCycle check{s, pop, popMess, smtp, smtpMess, ras, view, &sound, busy};

  CheckRig() {
    SetUpMailComponents(pop, popMess, smtp, smtpMess, busy);
    pop.TimeOut = 10;
    smtp.TimeOut = 10;
    s.Conf.clear();  // the first start made "Конфигурация 1"
    s.Users = 0;
  }

  int32_t Add(const std::string& name, const std::string& user, const std::string& pwd, int port,
              bool nonActive = false) {
    const int32_t i = s.AddConf();
    tuser& u = s.Conf[static_cast<std::size_t>(i)];
    u.ConfigNM = name;
    u.Host = "127.0.0.1";
    u.Port = port;
    u.UserName = user;
    u.UserPwd = pwd;
    u.NonActive = nonActive;
    s.ComputeDirs(u);
    return i;
  }
  tuser& Conf(int32_t i) { return s.Conf.at(static_cast<std::size_t>(i)); }
  std::string ErrorLog() const { return ReadFile(dir.path() / "error.log"); }
};

// The lines of a text, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out.push_back(line);
  return out;
}

// True when `line` starts with "dd.mm.yyyy hh:mm:ss ".
inline bool HasLogStamp(const std::string& line) {
  const std::string shape = "00.00.0000 00:00:00 ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '0' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != shape[i]) return false;
  }
  return true;
}

}  // namespace vigilo::test
