#include "core/app/wire_viewer.h"

#include <QTimer>

#include "core/ui/datm.h"
#include "platform/folders.h"
#include "viewer/model/launcher.h"
#include "viewer/ui/form2.h"
#include "viewer/ui/form6.h"

namespace vigilo {
namespace {

// The viewer's access to the check: its server operations wait until neither a POP3
// session (Busy) nor a check is running; the event loop goes on meanwhile.
class TdmViewerServices : public ViewerServices {
 public:
  explicit TdmViewerServices(Tdm& dm) : dm_(dm) {}

  void WhenIdle(std::function<void()> action) override {
    if (dm_.Busy == 0 && !dm_.Check->Running()) {
      action();
      return;
    }
    QTimer::singleShot(
        50, &dm_, [this, action = std::move(action)]() mutable { WhenIdle(std::move(action)); });
  }
  void StopTimer() override { dm_.Timer1->stop(); }
  void StartTimer() override { dm_.StartTimer1(); }
  bool EnsureConnection() override { return dm_.EnsureConnection(); }
  bool PopLogin(int32_t conf) override { return dm_.PopLogin(conf); }
  void FinishConnection() override { dm_.FinishConnection(); }
  void WriteErrorLog(const std::string& error, int32_t conf) override {
    dm_.WriteErrorLog(error, conf);
  }
  bool StartProgram(const std::string& program, const std::vector<std::string>& args) override {
    return StartDetachedProgram(program, args);
  }
  bool OpenDocument(const std::string& path_or_url) override {
    return OpenWithDesktop(path_or_url);
  }

 private:
  Tdm& dm_;
};

class Wiring : public ViewerWiring {
 public:
  Wiring(Tdm& dm, const Folders& folders)
      : services_(dm),
        form_(dm.Settings(), dm.POPClient, services_, dm.TempPath, folders.Config + "vg.ini",
              dm.ConfMenu),
        black_(dm.Settings(), folders.Config + "vg.ini") {
    QObject::connect(&dm, &Tdm::HeadersRequested, &form_, [this, &dm](int conf) {
      form_.Viewer().AntivirusProgram = dm.AntivirusProgram;
      form_.ShowConf(conf);
    });
    // "Черный список" of the tray menu and of the viewer: the editor, then the viewer's
    // rows drawn again when it is open.
    QObject::connect(&dm, &Tdm::BlackListRequested, &form_, [this] { ShowBlacklist(); });
    form_.OnBlacklist = [this] { ShowBlacklist(); };
    // The settings may renumber the configurations: the viewer lets go of its own.
    QObject::connect(&dm, &Tdm::SettingsOpening, &form_, [this] {
      if (form_.isVisible()) form_.close();
    });
  }
  void ShowBlacklist() {
    black_.exec();
    if (!form_.isVisible()) return;
    const int current = form_.Viewer().Current();
    if (form_.Viewer().RefillGrid()) form_.SetCurrentRecord(current);
  }
  TForm2& Form() override { return form_; }

 private:
  TdmViewerServices services_;
  TForm2 form_;
  TForm6 black_;
};

}  // namespace

std::unique_ptr<ViewerWiring> WireViewer(Tdm& dm, const Folders& folders) {
  return std::make_unique<Wiring>(dm, folders);
}

}  // namespace vigilo
