// The tray menus of Tdm and the commands behind their items.

#include <QAction>
#include <QCoreApplication>
#include <QMetaMethod>
#include <QProcess>
#include <QTimer>

#include "base/text.h"
#include "core/shellwords.h"
#include "core/ui/datm.h"

namespace vigilo {

void Tdm::CreateMenus() {
  const auto item = [](QMenu* menu, const char* caption, const ImageList& list, int picture) {
    return menu->addAction(list.Icon(picture), QString::fromUtf8(caption));
  };
  PopupMenu1 = new TVgMenu("Vigilo");
  PopupMenu1->setTitle("Vigilo");
  N21 = item(PopupMenu1, "О программе", ImageList2, 3);
  PopupMenu1->addSeparator();  // N22
  N5 = new TVgMenu(QString(), PopupMenu1);
  N5->setTitle("Просмотреть заголовки");
  N5->setIcon(ImageList2.Icon(2));
  PopupMenu1->addMenu(N5);
  N24 = item(PopupMenu1, "Черный список", ImageList2, 6);
  N1 = item(PopupMenu1, "Адресная книга", ImageList2, 8);
  PopupMenu1->addSeparator();  // N25
  N26 = item(PopupMenu1, "Проверить почту", ImageList2, 1);
  PopupMenu1->setDefaultAction(N26);
  N27 = item(PopupMenu1, "Запустить почтовую программу", ImageList2, 10);
  N28 = item(PopupMenu1, "Остановить", ImageList2, 4);
  PopupMenu1->addSeparator();  // N29
  n2 = item(PopupMenu1, "Отправить сообщение по почте", ImageList2, 9);
  N30 = item(PopupMenu1, "Отправить сообщение по сети", ImageList2, 7);
  PopupMenu1->addSeparator();  // N31
  N32 = item(PopupMenu1, "Установки", ImageList2, 0);
  N33 = item(PopupMenu1, "Закрыть", ImageList2, 5);

  PopupMenu2 = new TVgMenu("Vg Stop !");
  PopupMenu2->setTitle("Vg Stop !");
  N23 = item(PopupMenu2, "О программе", ImageList6, 1);
  PopupMenu2->addSeparator();  // N34
  Vigilo2 = item(PopupMenu2, "Запустить Vigilo", ImageList6, 0);
  PopupMenu2->setDefaultAction(Vigilo2);
  PopupMenu2->addSeparator();  // N35
  N36 = item(PopupMenu2, "Отправить сообщение по сети", ImageList6, 4);
  PopupMenu2->addSeparator();  // N37
  N38 = item(PopupMenu2, "Установки", ImageList6, 3);
  N39 = item(PopupMenu2, "Закрыть", ImageList6, 2);

  ConfMenu = new TVgMenu();

  connect(N21, &QAction::triggered, this, &Tdm::AboutRequested);
  connect(N23, &QAction::triggered, this, &Tdm::AboutRequested);
  connect(N24, &QAction::triggered, this, &Tdm::BlackListRequested);
  connect(N1, &QAction::triggered, this, &Tdm::AddressBookRequested);
  connect(N26, &QAction::triggered, this, &Tdm::N26Click);
  connect(N27, &QAction::triggered, this, &Tdm::N27Click);
  connect(N28, &QAction::triggered, this, &Tdm::N28Click);
  connect(n2, &QAction::triggered, this, &Tdm::ComposeRequested);
  connect(N30, &QAction::triggered, this, &Tdm::MessengerRequested);
  connect(N36, &QAction::triggered, this, &Tdm::MessengerRequested);
  connect(Vigilo2, &QAction::triggered, this, &Tdm::Vigilo2Click);
  connect(N32, &QAction::triggered, this, &Tdm::N32Click);
  connect(N38, &QAction::triggered, this, &Tdm::N38Click);
  connect(N33, &QAction::triggered, this, &Tdm::N33Click);
  connect(N39, &QAction::triggered, this, &Tdm::N33Click);
  for (TVgMenu* menu : {PopupMenu1, PopupMenu2, ConfMenu}) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { MenuPopup(menu); });
  }
  UpdateCommandItems();
}

void Tdm::MenuPopup(TVgMenu* menu) {
  const bool ponty = Settings().Ponty;
  menu->SetOwnerDrawn(ponty);
  if (menu == PopupMenu1) {
    N5->SetOwnerDrawn(ponty);
    N27->setVisible(!Trim(Settings().Post).empty());
  }
}

void Tdm::connectNotify(const QMetaMethod& signal) {
  QObject::connectNotify(signal);
  // Connections made while the menus are built come before the items exist.
  if (N21) UpdateCommandItems();
}

void Tdm::UpdateCommandItems() {
  const auto connected = [this](auto signal) {
    return isSignalConnected(QMetaMethod::fromSignal(signal));
  };
  const bool about = connected(&Tdm::AboutRequested);
  N21->setEnabled(about);
  N23->setEnabled(about);
  N24->setEnabled(connected(&Tdm::BlackListRequested));
  N1->setEnabled(connected(&Tdm::AddressBookRequested));
  n2->setEnabled(connected(&Tdm::ComposeRequested));
  const bool messenger = connected(&Tdm::MessengerRequested);
  N30->setEnabled(messenger);
  N36->setEnabled(messenger);
  N5->setEnabled(checkItemsEnabled_ && connected(&Tdm::HeadersRequested));
  const bool settings = showSettings_ && !settingsRunning_ && !passwordOpen_;
  N32->setEnabled(settings);
  N38->setEnabled(settings);
}

void Tdm::SetCheckItemsEnabled(bool on) {
  checkItemsEnabled_ = on;
  N26->setEnabled(on);
  UpdateCommandItems();
}

void Tdm::SetSettingsWindow(std::function<SettingsOutcome()> show) {
  showSettings_ = std::move(show);
  UpdateCommandItems();
}

void Tdm::N26Click() {
  SetCheckItemsEnabled(false);
  Timer1->stop();
  WhenNotBusy([this] {
    std::string error;
    try {
      StartCheck();
    } catch (const std::exception& e) {
      error = e.what();
    }
    // Whatever the check did, checking goes on.
    StartTimer1();
    SetCheckItemsEnabled(true);
    if (!error.empty()) ShowError(error);
  });
}

void Tdm::N27Click() {
  // One program with its arguments, never a shell: nothing in the line is expanded.
  const std::string line = Trim(MailProgram);
  const auto words = SplitCommandLine(line);
  bool started = false;
  if (words && !words->empty()) {
    QStringList args;
    for (std::size_t i = 1; i < words->size(); ++i)
      args << QString::fromStdString((*words)[i]);
    started = QProcess::startDetached(QString::fromStdString(words->front()), args);
  }
  if (!started) ShowError("Не удалось запустить почтовую программу " + line);
}

void Tdm::N28Click() {
  WhenNotBusy([this] {
    Timer1->stop();
    Stopped = true;
    TrayIcon1->SetCycleIcons(false);
    TrayIcon1->SetIconList(&ImageList8);
    TrayIcon1->SetHint("Vigilo остановлен");
    TrayIcon1->SetPopupMenu(PopupMenu2);
  });
}

void Tdm::Vigilo2Click() {
  Stopped = false;
  StartTimer1();
  TrayIcon1->SetIconList(&ImageList1);
  UpdateStatus();
  TrayIcon1->SetPopupMenu(PopupMenu1);
}

void Tdm::N32Click() {
  if (settingsRunning_ || passwordOpen_ || !showSettings_) return;
  settingsRunning_ = true;
  SetCheckItemsEnabled(false);
  Timer1->stop();
  WhenNotBusy([this] { OpenSettings(); });
}

void Tdm::N38Click() {
  if (settingsRunning_ || passwordOpen_ || !showSettings_) return;
  settingsRunning_ = true;
  UpdateCommandItems();
  WhenNotBusy([this] { OpenSettings(); });
}

void Tdm::OpenSettings() {
  UpdateCommandItems();
  SettingsOutcome outcome;
  try {
    emit SettingsOpening();
    outcome = showSettings_();
  } catch (const std::exception&) {
    // Errors of the settings sequence are swallowed.
  }
  if (outcome.Deleted) {
    // The per-configuration items carry numbers a delete has changed.
    ClearConfItems();
    Check->ForgetConfItems();
  }
  TrayIcon1->SetCycleIcons(false);
  TrayIcon1->SetIconList(&ImageList3);
  afterFrames_ = [this, outcome] { EndSettings(outcome); };
  SettingsFrame(0);
}

void Tdm::SettingsFrame(int frame) {
  if (frame >= std::min(10, ImageList3.Count())) {
    auto then = std::move(afterFrames_);
    afterFrames_ = nullptr;
    if (then) then();
    return;
  }
  TrayIcon1->SetIconIndex(frame);
  QTimer::singleShot(SettingsFramePauseMs, this, [this, frame] { SettingsFrame(frame + 1); });
}

void Tdm::EndSettings(SettingsOutcome outcome) {
  try {
    ApplySettings();
  } catch (const std::exception&) {
    // Swallowed, as every error of the settings sequence.
  }
  settingsRunning_ = false;
  // Stop and Resume stay usable while the window is open: the state at its end counts.
  if (Stopped) {
    // Checking stays stopped: the stopped icon again, no timer; the items of the
    // main menu are ready for Resume.
    TrayIcon1->SetIconList(&ImageList8);
    SetCheckItemsEnabled(true);
    return;
  }
  if (outcome.Accepted) {
    // New settings are seen at once: the changed mailboxes are checked now.
    StartCheck();
  } else {
    UpdateStatus();
  }
  StartTimer1();
  SetCheckItemsEnabled(true);
}

void Tdm::N33Click() {
  emit ExitRequested();
  QCoreApplication::quit();
}

}  // namespace vigilo
