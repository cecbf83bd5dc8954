#include "core/ui/datm.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageWriter>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <filesystem>

#include "base/text.h"
#include "config/inifile.h"
#include "core/iconset.h"
#include "core/timing.h"
#include "platform/errorlog.h"
#include "platform/folders.h"

namespace vigilo {

Tdm* dm = nullptr;

Tdm::Tdm(TDMU& dmu, const Folders& folders, SoundPlayer* sound, QObject* parent,
         std::function<void()> new_mail_notice)
    : QObject(parent), DMU_(dmu), folders_(folders), sound_(sound) {
  if (!dm) dm = this;
  ImageList1.icons = DrawImageList1();
  ImageList2.icons = DrawImageList2();
  ImageList3.icons = DrawImageList3();
  ImageList4.icons = DrawImageList4();
  ImageList5.icons = DrawImageList5();
  ImageList6.icons = DrawImageList6();
  ImageList8.icons = DrawImageList8();

  Timer1 = new QTimer(this);
  Timer1->setInterval(60000);
  connect(Timer1, &QTimer::timeout, this, &Tdm::Timer1Timer);

  CreateMenus();

  TrayIcon1 = new TTrayIcon(this);
  TrayIcon1->SetIconList(&ImageList1);
  TrayIcon1->SetIconIndex(0);
  TrayIcon1->SetCycleInterval(500);
  TrayIcon1->SetHint("Проверка почты");
  TrayIcon1->SetPopupMenu(PopupMenu1);

  SetUpMailComponents(POPClient, POPMess, SMTPClient, SMTPmess, Busy);
  Check = std::make_unique<TCheckCycle>(Settings(), POPClient, POPMess, SMTPClient, SMTPmess,
                                        msRas1, *this, sound_, Busy);
  Check->OnNewMailNotice = std::move(new_mail_notice);

  // Creation handler.
  const std::string ini = folders_.Home + "icon.ini";
  std::error_code ec;
  if (std::filesystem::exists(ini, ec)) LoadIconSet(ini);
  TempPath = folders_.Temp;
  ApplySettings();
  StartCheck();
}

Tdm::~Tdm() {
  ReleaseProgress();
  POPClient.OnConnected = nullptr;  // Busy goes before the clients
  POPClient.OnDisconnected = nullptr;
  // The tray icon refers to the menus: it goes first. Menus are top-level widgets,
  // owned here rather than by a parent.
  delete TrayIcon1;
  TrayIcon1 = nullptr;
  delete PopupMenu1;
  delete PopupMenu2;
  delete ConfMenu;
  if (dm == this) dm = nullptr;
}

void Tdm::CreateMenus() {
  const auto item = [](QMenu* menu, const char* caption, const ImageList& list, int picture) {
    return menu->addAction(list.Icon(picture), QString::fromUtf8(caption));
  };
  PopupMenu1 = new QMenu();
  PopupMenu1->setTitle("Vigilo");
  N21 = item(PopupMenu1, "О программе", ImageList2, 3);
  PopupMenu1->addSeparator();  // N22
  N5 = PopupMenu1->addMenu(ImageList2.Icon(2), "Просмотреть заголовки");
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

  PopupMenu2 = new QMenu();
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

  ConfMenu = new QMenu();

  connect(N26, &QAction::triggered, this, &Tdm::N26Click);
  connect(N33, &QAction::triggered, this, &Tdm::N33Click);
  connect(N39, &QAction::triggered, this, &Tdm::N33Click);
  connect(N21, &QAction::triggered, this, &Tdm::AboutRequested);
  connect(N23, &QAction::triggered, this, &Tdm::AboutRequested);
  connect(n2, &QAction::triggered, this, &Tdm::ComposeRequested);
  connect(N1, &QAction::triggered, this, &Tdm::AddressBookRequested);
  connect(PopupMenu1, &QMenu::aboutToShow, this,
          [this] { N27->setVisible(!Trim(Settings().Post).empty()); });
}

void Tdm::StartTimer1() {
  if (Stopped || Timer1->interval() <= 0) {
    Timer1->stop();
    return;
  }
  Timer1->start();
}

void Tdm::ApplySettings() {
  tusers& s = Settings();
  Timer1->stop();
  Timer1->setInterval(TimerIntervalMs(s.Delay));
  MailProgram = s.Post;
  AntivirusProgram = s.Avir;
  StartTimer1();

  const std::string program = Trim(MailProgram);
  if (program.empty()) {
    N27->setEnabled(false);
    return;
  }
  // The picture of "Запустить почтовую программу" is the mail program's own icon.
  const QStringList words = QProcess::splitCommand(QString::fromStdString(program));
  QIcon icon;
  if (!words.isEmpty()) {
    QString file = words.first();
    if (!file.contains('/')) file = QStandardPaths::findExecutable(file);
    if (!file.isEmpty()) {
      icon = QIcon::fromTheme(QFileInfo(file).completeBaseName());
      if (icon.isNull()) icon = QFileIconProvider().icon(QFileInfo(file));
    }
  }
  if (!icon.isNull()) {
    ImageList2.Delete(10);
    ImageList2.Add(icon);
    N27->setIcon(ImageList2.Icon(10));
  }
  N27->setEnabled(true);
}

void Tdm::WhenNotBusy(std::function<void()> action) {
  if (Busy == 0) {
    action();
    return;
  }
  QTimer::singleShot(
      50, this, [this, action = std::move(action)]() mutable { WhenNotBusy(std::move(action)); });
}

void Tdm::Timer1Timer() {
  StartCheck();
}

void Tdm::N26Click() {
  N5->setEnabled(false);
  N26->setEnabled(false);
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
    N5->setEnabled(true);
    N26->setEnabled(true);
    if (!error.empty()) {
      QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                            QString::fromStdString(error));
    }
  });
}

void Tdm::N33Click() {
  emit ExitRequested();
  QCoreApplication::quit();
}

ImageList* Tdm::ListByName(const std::string& name) {
  for (ImageList* l : {&ImageList1, &ImageList2, &ImageList3, &ImageList4, &ImageList5, &ImageList6,
                       &ImageList8}) {
    if (l->Name() == name) return l;
  }
  return nullptr;
}

void Tdm::LoadIconSet(const std::string& ini_path) {
  const IniFile ini(ini_path);
  for (const char* name : kIconSetLists) {
    ImageList* list = ListByName(name);
    for (const auto& entry : IconSetEntries(ini, name)) {
      QIcon icon(QString::fromStdString(entry.file));
      if (icon.isNull() || icon.availableSizes().isEmpty()) continue;  // cannot be loaded
      PlaceIcon(list->icons, entry.position, std::move(icon));
    }
  }
  TrayIcon1->Refresh();
}

std::string Tdm::SaveIconSet(const std::string& ini_path) {
  std::string error = MakePrivateDirs(folders_.Home + "icon");
  if (error.empty()) error = WriteIconSet(ini_path);
  if (!error.empty()) AppendErrorLog(Settings().ErrorLogPath(), "icons", "export failed: " + error);
  return error;
}

std::string Tdm::WriteIconSet(const std::string& ini_path) {
  IniFile ini(ini_path);
  std::string unwritten;
  for (const char* name : kIconSetLists) {
    const ImageList* list = ListByName(name);
    for (int i = 0; i < list->Count(); ++i) {
      const std::string file = IconSetFileName(folders_.Home, name, i);
      QImageWriter writer(QString::fromStdString(file), "ico");
      if (!writer.write(list->Icon(i).pixmap(16, 16).toImage())) {
        if (unwritten.empty()) unwritten = file + ": " + writer.errorString().toStdString();
        continue;
      }
      ini.Write(name, std::to_string(i), file);
    }
  }
  if (std::string error = ini.Save(); !error.empty()) return error;
  return unwritten;
}

}  // namespace vigilo
