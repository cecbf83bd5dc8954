#pragma once
// Tdm: the tray data module. It owns the tray icon, the check timer, the tray menus
// and their image lists, and runs the checks (global name dm).

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <string>

#include "config/dmuser.h"
#include "core/ui/imagelist.h"
#include "core/ui/trayicon.h"
#include "platform/folders.h"

class QAction;
class QMenu;

namespace vigilo {

class SoundPlayer;

class Tdm : public QObject {
  Q_OBJECT

 public:
  // The creation handler: loads "icon.ini" from the program folder when present,
  // takes the temporary folder, applies the settings and runs the first check.
  Tdm(TDMU& dmu, const Folders& folders, SoundPlayer* sound, QObject* parent = nullptr);
  ~Tdm() override;

  tusers& Settings() { return *DMU_.Settings; }

  // Components.
  TTrayIcon* TrayIcon1 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QMenu* ConfMenu = nullptr;
  ImageList ImageList1{"ImageList1"};
  ImageList ImageList2{"ImageList2"};
  ImageList ImageList3{"ImageList3"};
  ImageList ImageList4{"ImageList4"};
  ImageList ImageList5{"ImageList5"};
  ImageList ImageList6{"ImageList6"};
  ImageList ImageList8{"ImageList8"};

  // Items of PopupMenu1.
  QAction* N21 = nullptr;  // "О программе"
  QMenu* N5 = nullptr;     // "Просмотреть заголовки"
  QAction* N24 = nullptr;  // "Черный список"
  QAction* N1 = nullptr;   // "Адресная книга"
  QAction* N26 = nullptr;  // "Проверить почту" (default)
  QAction* N27 = nullptr;  // "Запустить почтовую программу"
  QAction* N28 = nullptr;  // "Остановить"
  QAction* n2 = nullptr;   // "Отправить сообщение по почте"
  QAction* N30 = nullptr;  // "Отправить сообщение по сети"
  QAction* N32 = nullptr;  // "Установки"
  QAction* N33 = nullptr;  // "Закрыть"
  // Items of PopupMenu2.
  QAction* N23 = nullptr;      // "О программе"
  QAction* Vigilo2 = nullptr;  // "Запустить Vigilo" (default)
  QAction* N36 = nullptr;      // "Отправить сообщение по сети"
  QAction* N38 = nullptr;      // "Установки"
  QAction* N39 = nullptr;      // "Закрыть"

  // Fields.
  std::string TempPath;  // the private temporary folder, with trailing '/'
  uint8_t Busy = 0;      // 1 while a POP3 session is open
  int32_t CurConf = 0;
  std::string MailProgram;
  std::string AntivirusProgram;
  bool Stopped = false;  // checking stopped by the user

  // Copies timing and program paths from the settings and restarts Timer1.
  void ApplySettings();
  // One check of every active configuration.
  void StartCheck();
  // Tray icon, tooltip and per-configuration menu items after a check.
  void UpdateStatus();
  void LoadIconSet(const std::string& ini_path);
  void SaveIconSet(const std::string& ini_path);
  // Returns once Busy is 0, processing events meanwhile.
  void WaitWhileBusy();
  // Starts Timer1 unless checking is stopped or the interval says no ticks.
  void StartTimer1();

  const Folders& folders() const { return folders_; }
  SoundPlayer* Sound() const { return sound_; }

  // Handlers.
  void Timer1Timer();
  void N26Click();  // Check now
  void N33Click();  // Exit

 signals:
  // The user chose "Закрыть": the program ends.
  void ExitRequested();

 private:
  void CreateMenus();
  ImageList* ListByName(const std::string& name);

  TDMU& DMU_;
  Folders folders_;
  SoundPlayer* sound_;
};

// The program's one Tdm while it exists (global name dm).
extern Tdm* dm;

}  // namespace vigilo
