#include "core/app/wire_compose.h"

#include <QTimer>

#include "compose/ui/form8.h"
#include "compose/ui/form9.h"
#include "core/ui/datm.h"

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

ComposeWindows::ComposeWindows() = default;
ComposeWindows::ComposeWindows(ComposeWindows&&) noexcept = default;
ComposeWindows::~ComposeWindows() = default;

ComposeWindows WireCompose(Tdm& tdm) {
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
  return w;
}

}  // namespace vigilo
