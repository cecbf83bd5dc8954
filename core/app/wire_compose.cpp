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

struct ComposeWindows::Services : ComposeService, AddressBookService {
  Services(TForm8& f8, TForm9& f9, TMailViewer* v) : form8(f8), form9(f9), viewer(v) {
    if (!viewer) return;
    viewer->Compose = this;
    viewer->AddressBook = this;
  }
  ~Services() override {
    if (!viewer) return;
    viewer->Compose = nullptr;
    viewer->AddressBook = nullptr;
  }
  void SendMessage(int32_t conf, const std::string& to, const std::string& subject) override {
    form8.SendMessage(conf, to, subject);
  }
  void AddAddress(const std::string& text) override {
    const std::string error = TAddressBook::AddAddress(form9.BookFileName(), text);
    if (!error.empty())
      QMessageBox::warning(nullptr, form9.windowTitle(), QString::fromStdString(error));
  }
  void ShowModal() override { form9.exec(); }

  TForm8& form8;
  TForm9& form9;
  TMailViewer* viewer;
};

ComposeWindows::ComposeWindows() = default;
ComposeWindows::ComposeWindows(ComposeWindows&&) noexcept = default;
ComposeWindows::~ComposeWindows() = default;

ComposeWindows WireCompose(Tdm& tdm, TMailViewer* viewer) {
  ComposeWindows w;
  const std::string ini = tdm.folders().Config + "vg.ini";
  w.form9 = std::make_unique<TForm9>(tdm.Settings().ProgramFolder(), ini);
  w.form8 = std::make_unique<TForm8>(tdm.Settings(), *w.form9, ini);
  TForm8& form8 = *w.form8;
  TForm9& form9 = *w.form9;
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
  w.services = std::make_unique<ComposeWindows::Services>(form8, form9, viewer);
  return w;
}

}  // namespace vigilo
