#include "core/app/wire_compose.h"

#include <QMessageBox>
#include <QTimer>

#include "compose/ui/form8.h"
#include "compose/ui/form9.h"
#include "core/ui/datm.h"
#include "viewer/mailviewer.h"

namespace vigilo {
namespace {

// Runs action once neither a check nor a POP3 session is under way.
void WhenNoCheck(Tdm& tdm, std::function<void()> action) {
  if (tdm.Busy == 0 && !tdm.Check->Running()) {
    action();
    return;
  }
  QTimer::singleShot(100, &tdm, [&tdm, action = std::move(action)]() mutable {
    WhenNoCheck(tdm, std::move(action));
  });
}

}  // namespace

struct ComposeWindows::ViewerServices : ComposeService, AddressBookService {
  ViewerServices(TForm8& f8, TForm9& f9, TMailViewer* v) : Form8(f8), Form9(f9), Viewer(v) {
    if (!Viewer) return;
    Viewer->Compose = this;
    Viewer->AddressBook = this;
  }
  ~ViewerServices() override {
    if (!Viewer) return;
    Viewer->Compose = nullptr;
    Viewer->AddressBook = nullptr;
  }
  void SendMessage(int32_t conf, const std::string& to, const std::string& subject) override {
    Form8.SendMessage(conf, to, subject);
  }
  void AddAddress(const std::string& text) override {
    const std::string error = TAddressBook::AddAddress(Form9.BookFileName(), text);
    if (!error.empty())
      QMessageBox::warning(nullptr, Form9.windowTitle(), QString::fromStdString(error));
  }
  void ShowModal() override { Form9.exec(); }

  TForm8& Form8;
  TForm9& Form9;
  TMailViewer* Viewer;
};

ComposeWindows::ComposeWindows() = default;
ComposeWindows::ComposeWindows(ComposeWindows&&) noexcept = default;
ComposeWindows::~ComposeWindows() = default;

ComposeWindows WireCompose(Tdm& tdm, TMailViewer* viewer) {
  ComposeWindows w;
  const std::string ini = tdm.folders().Config + "vg.ini";
  w.Form9 = std::make_unique<TForm9>(tdm.Settings().ProgramFolder(), ini);
  w.Form8 = std::make_unique<TForm8>(tdm.Settings(), *w.Form9, ini);
  TForm8& form8 = *w.Form8;
  TForm9& form9 = *w.Form9;
  form8.Host.EnsureConnection = [&tdm] { return tdm.EnsureConnection(); };
  form8.Host.AfterSend = [&tdm] {
    tdm.StartCheck();
    tdm.UpdateStatus();
    tdm.FinishConnection();
  };
  form8.WhenIdle = [&tdm](std::function<void()> action) { WhenNoCheck(tdm, std::move(action)); };
  QObject::connect(&tdm, &Tdm::ComposeRequested, &form8,
                   [&form8] { form8.SendMessage(0, "", ""); });
  QObject::connect(&tdm, &Tdm::AddressBookRequested, &form9, [&form9] { form9.exec(); });
  w.Services = std::make_unique<ComposeWindows::ViewerServices>(form8, form9, viewer);
  return w;
}

}  // namespace vigilo
