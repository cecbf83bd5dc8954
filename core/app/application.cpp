#include "core/app/application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QThread>

#include "config/dmuser.h"
#include "core/app/wire_about.h"
#include "core/app/wire_compose.h"
#include "core/app/wire_dialup.h"
#include "core/app/wire_lan.h"
#include "core/app/wire_settings.h"
#include "core/app/wire_viewer.h"
#include "core/app/wire_wakeup.h"
#include "core/ui/Mail.h"
#include "core/ui/datm.h"
#include "core/ui/visual.h"
#include "lan/ui/chat_form.h"
#include "mail/mspump.h"
#include "platform/process.h"
#include "platform/sound.h"
#include "viewer/ui/form2.h"

namespace vigilo {

int RunTrayProgram(int argc, char** argv, AppEnvironment& env) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Vigilo");
  QApplication::setApplicationDisplayName(QString::fromUtf8(kAppTitle));
  QApplication::setQuitOnLastWindowClosed(false);  // no main window is shown
  app.setProperty("HelpFile", kHelpFile);

  // Synchronous network calls keep the interface alive through this pump.
  QThread* gui_thread = app.thread();
  ms::SetMessagePump([gui_thread] {
    if (QThread::currentThread() == gui_thread) QCoreApplication::processEvents();
  });

  // The end of the session: consent to it, then quit cleanly.
  QObject::connect(&app, &QGuiApplication::commitDataRequest,
                   [](QSessionManager& manager) { manager.release(); });
  std::unique_ptr<QSocketNotifier> end_notifier;
  if (const int fd = InstallSessionEndSignals(); fd >= 0) {
    end_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(end_notifier.get(), &QSocketNotifier::activated, [] {
      ConsumeSessionEnd();
      QCoreApplication::quit();
    });
  }

  // Give unused memory back whenever the loop goes idle (at most once a second).
  QElapsedTimer since_trim;
  since_trim.start();
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   [&since_trim] {
                     if (since_trim.elapsed() < 1000) return;
                     since_trim.restart();
                     TrimWorkingSet();
                   });

  auto sound = CreateSystemSoundPlayer(env.ErrorLogPath());
  int code;
  {
    // Creation order: TForm1 (about, main window) and its splash, TVF, TDMU, TForm2,
    // TForm3, Tdm, TForm5 ... TForm9. Windows are added here as they are built.
    std::unique_ptr<TForm1> form1 = CreateAboutWindow(env);
    std::unique_ptr<TVF> vf = CreateNoticeWindow();
    // A store that does not exist yet is made by TDMU: the first start.
    const bool first_start = !env.Registry->KeyExists(tusers::kRoot);
    TDMU dmu(*env.Registry, *env.AutoStart, env.Folders.Home, env.ProgramFile, env.Passwords.get(),
             env.PasswordBackup.get());
    InstallDialupBoxes();
    Tdm tdm(dmu, env.Folders, sound.get(), nullptr, [&vf] { vf->Go(); });
    WireAbout(*form1, tdm);
    auto viewer = WireViewer(tdm, env.Folders);
    const auto settings_windows = WireSettings(tdm, env.Folders, first_start);
    ComposeWindows compose = WireCompose(tdm, &viewer->Form().Viewer());
    tdm.TrayIcon1->Show();
    auto form7 = WireLan(tdm, env.Folders, sound.get());
    const auto wakeup = WireWakeup(tdm);
    code = QApplication::exec();
    ms::SetMessagePump(nullptr);
  }
  return code;
}

}  // namespace vigilo
