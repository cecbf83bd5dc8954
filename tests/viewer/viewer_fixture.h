#pragma once
// Helpers of the viewer tests: a view that records what the viewer shows, services backed
// by a real check cycle, and the pieces put together over settings in a fresh folder.

#include <map>
#include <string>
#include <vector>

#include "tests/core/check_fixture.h"
#include "viewer/mailviewer.h"

namespace vigilo::test {

class RecordingViewerView : public ViewerView {
 public:
  void ShowText(const std::string& t) override { text = t; }
  void ClearAttachments() override { attachments.clear(); }
  void AddAttachment(const std::string& name, int64_t, const std::string& path) override {
    attachments.push_back(name);
    paths[name] = path;
  }
  void ShowCodePage(TCodePage cp) override { page = cp; }
  void CloseWindow() override { closed = true; }
  void Inform(const std::string& t) override { informed.push_back(t); }
  bool Ask(const std::string& t) override {
    asked.push_back(t);
    return answer;
  }
  void ShowDownloadProgress(int) override {}
  void SetDownloadProgress(int, const std::string&) override {}

  std::string text;
  std::vector<std::string> attachments;
  std::map<std::string, std::string> paths;
  TCodePage page = TCodePage::CP1251;
  bool closed = false;
  std::vector<std::string> informed, asked;
  bool answer = true;
};

// Server work through a real check cycle, an immediate deletion as the program wires it;
// external programs are recorded.
class RigServices : public RefreshingServices {
 public:
  explicit RigServices(CheckRig& rig) : RefreshingServices(rig), rig_(rig) {}
  bool EnsureConnection() override { return rig_.check.EnsureConnection(); }
  void FinishConnection() override { rig_.check.FinishConnection(); }
  void WriteErrorLog(const std::string& e, int32_t conf) override {
    rig_.check.WriteErrorLog(e, conf);
  }
  bool StartProgram(const std::string& program, const std::vector<std::string>& args) override {
    started.push_back({program, args});
    return true;
  }
  bool OpenDocument(const std::string& p) override {
    opened.push_back(p);
    return true;
  }
  struct Start {
    std::string program;
    std::vector<std::string> args;
  };
  std::vector<Start> started;
  std::vector<std::string> opened;

 private:
  CheckRig& rig_;
};

struct ViewerRig : CheckRig {
  TempDir temp;
  RecordingViewerView shown;
  RigServices services{*this};
  TMailViewer viewer{s, pop, services, shown, temp.str()};
};

// A header record as the check stores it.
inline void AddHead(tusers& s, int32_t conf, const std::string& id, const std::string& from,
                    const std::string& subject, const std::string& size, const std::string& date,
                    TCodePage cp = TCodePage::CP1251) {
  const int32_t k = s.Conf[static_cast<std::size_t>(conf)].HeadCount;
  s.AddHead(conf, k, from, subject, size, date, "to@example.test", id, static_cast<uint8_t>(cp));
}

}  // namespace vigilo::test
