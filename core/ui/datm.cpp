#include "core/ui/datm.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageWriter>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <filesystem>

#include "base/text.h"
#include "config/inifile.h"
#include "core/iconset.h"
#include "core/shellwords.h"
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
  TrayIcon1->OnClick = [this] { ConfMenu->popup(QCursor::pos()); };

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
  const auto words = SplitCommandLine(program);
  QIcon icon;
  if (words && !words->empty()) {
    QString file = QString::fromStdString(words->front());
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
  if (Busy == 0 && !Check->Running()) {
    action();
    return;
  }
  QTimer::singleShot(
      50, this, [this, action = std::move(action)]() mutable { WhenNotBusy(std::move(action)); });
}

void Tdm::Timer1Timer() {
  StartCheck();
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
      QIcon icon(QString::fromStdString(entry.File));
      if (icon.isNull() || icon.availableSizes().isEmpty()) continue;  // cannot be loaded
      PlaceIcon(list->icons, entry.Position, std::move(icon));
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
