#include "core/app/wire_about.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

#include "config/myuser.h"
#include "core/ui/Mail.h"
#include "core/ui/datm.h"
#include "core/ui/visual.h"
#include "vigilo_version.h"

namespace vigilo {

std::unique_ptr<TForm1> CreateAboutWindow(AppEnvironment& env) {
  auto form1 = std::make_unique<TForm1>(VIGILO_VERSION, env.ProgramFile,
                                        tusers::ReadUpdateURL(*env.Registry));
  form1->Splash();
  return form1;
}

std::unique_ptr<TVF> CreateNoticeWindow() {
  auto vf = std::make_unique<TVF>();
  vf->Notify = [](const QString& text) {
    if (dm && dm->TrayIcon1) {
      dm->TrayIcon1->Tray().showMessage(QCoreApplication::applicationName(), text,
                                        QSystemTrayIcon::Information);
    }
  };
  return vf;
}

void WireAbout(TForm1& form1, Tdm& tdm) {
  QObject::connect(&tdm, &Tdm::AboutRequested, &form1, [&form1] {
    form1.show();
    form1.raise();
    form1.activateWindow();
  });
  QObject::connect(&form1, &TForm1::MainWindowClosed, &form1, [] { QCoreApplication::quit(); });
}

}  // namespace vigilo
