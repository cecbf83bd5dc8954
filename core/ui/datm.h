#pragma once
// Tdm: the tray data module. It owns the tray icon, the check timer, the tray menus
// and their image lists, and runs the checks (global name dm).

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/dmuser.h"
#include "core/check.h"
#include "core/checkview.h"
#include "core/ui/imagelist.h"
#include "core/ui/menulook.h"
#include "core/ui/trayicon.h"
#include "platform/folders.h"

class QAction;
class QMenu;

namespace vigilo {

class SoundPlayer;
class Tprogress;

// Tdm is the view of its checks: the tray icon, the tray menus and the progress window.
class Tdm : public QObject, public CheckView {
  Q_OBJECT

 public:
  // The creation handler: loads "icon.ini" from the program folder when present,
  // takes the temporary folder, applies the settings and runs the first check.
  // new_mail_notice shows the new-mail notice (already for that first check).
  Tdm(TDMU& dmu, const Folders& folders, SoundPlayer* sound, QObject* parent = nullptr,
      std::function<void()> new_mail_notice = {});
  ~Tdm() override;

  tusers& Settings() { return *DMU_.Settings; }

  // Components.
  TTrayIcon* TrayIcon1 = nullptr;
  QTimer* Timer1 = nullptr;
  TVgMenu* PopupMenu1 = nullptr;
  TVgMenu* PopupMenu2 = nullptr;
  TVgMenu* ConfMenu = nullptr;
  ImageList ImageList1{"ImageList1"};
  ImageList ImageList2{"ImageList2"};
  ImageList ImageList3{"ImageList3"};
  ImageList ImageList4{"ImageList4"};
  ImageList ImageList5{"ImageList5"};
  ImageList ImageList6{"ImageList6"};
  ImageList ImageList8{"ImageList8"};

  // Items of PopupMenu1.
  QAction* N21 = nullptr;  // "О программе"
  TVgMenu* N5 = nullptr;   // "Просмотреть заголовки"
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

  // Mail components, shared by the check, the viewer and the compose window.
  ms::TmsPOPClient POPClient;
  ms::TmsMessage POPMess;
  ms::TmsSMTPClient SMTPClient;
  ms::TmsMessage SMTPmess;
  TmsRas msRas1;
  // The check cycle over these components; its OnNewMailNotice starts the notice.
  std::unique_ptr<TCheckCycle> Check;
  // The progress window while one is shown (check, dial or download), else nullptr.
  Tprogress* Progress = nullptr;

  // Fields.
  std::string TempPath;  // the private temporary folder, with trailing '/'
  uint8_t Busy = 0;      // 1 while a POP3 session is open
  int32_t CurConf = 0;
  std::string MailProgram;
  std::string AntivirusProgram;
  bool Stopped = false;  // checking stopped by the user

  // Copies timing and program paths from the settings and restarts Timer1.
  void ApplySettings();
  // One check of every active configuration; does nothing while one runs. An error
  // that ends the check is shown in the application's error box (ShowError).
  void StartCheck();
  // Tray icon, tooltip and per-configuration menu items after a check.
  void UpdateStatus();
  bool EnsureConnection() { return Check->EnsureConnection(); }
  bool PopLogin(int32_t conf) { return Check->PopLogin(conf); }
  void WriteErrorLog(const std::string& error, int32_t conf) { Check->WriteErrorLog(error, conf); }
  void FinishConnection() { Check->FinishConnection(); }
  // Download progress into the progress window: Label2 "12k/40k", Bar at the count.
  void POPClientTransferProgress(ms::TmsSocketBase& Sender, int Perc, int ByteCount, int LineCount);
  // Creates the progress window (released by ReleaseProgress) and places it.
  Tprogress* CreateProgress();
  // Shows an error that ended an operation; OnError replaces the message box.
  void ShowError(const std::string& text);
  std::function<void(const std::string&)> OnError;
  // Per-configuration menu item chosen: CurConf := conf, then HeadersRequested.
  void ConfItemClick(int32_t conf);

  // CheckView.
  void PlayCheckFrames() override;
  void ShowCheckAnimation() override;
  void ShowMailWaiting() override;
  void ShowSteadyIcon() override;
  void SetHint(const std::string& hint) override;
  void SetTrayMenu(TrayMenu menu) override;
  void ClearConfItems() override;
  void AddConfItems(int32_t conf) override;
  void SetConfItem(std::size_t position, const ConfItemLook& look) override;
  void ShowProgress(const std::string& label1, const std::string& label2, int max) override;
  void SetProgress(int position, const std::string& label2) override;
  void SetProgressLabels(const std::string& label1, const std::string& label2) override;
  bool ProgressVisible() const override;
  void ReleaseProgress() override;
  // Pause of each of the eight frames at the start of a check.
  int FramePauseMs = 25;
  void LoadIconSet(const std::string& ini_path);
  // Exports every image list to the folder "icon" and names the files in ini_path.
  // Returns "" or the first failure, which is also logged.
  [[nodiscard]] std::string SaveIconSet(const std::string& ini_path);
  // Runs `action` once Busy is 0 and no check runs: at once, or later from the event
  // loop. A check that holds Busy runs further down the same thread's stack, so
  // waiting in a nested loop here could never see it end.
  void WhenNotBusy(std::function<void()> action);
  // Starts Timer1 unless checking is stopped or the interval says no ticks.
  void StartTimer1();

  const Folders& folders() const { return folders_; }
  SoundPlayer* Sound() const { return sound_; }

  // Windows reached from the menus. A command whose window is not connected stays
  // disabled: connecting a receiver to its signal (AboutRequested, ...) enables its
  // items, and so does SetSettingsWindow for "Установки".
  //
  // The settings window, shown modally; returns whether it closed with "Ок" and
  // whether a configuration was deleted in it (configuration numbers changed).
  struct SettingsOutcome {
    bool Accepted = false;
    bool Deleted = false;
  };
  void SetSettingsWindow(std::function<SettingsOutcome()> show);
  // The password prompt with a caption: the typed text, std::nullopt when cancelled.
  std::function<std::optional<std::string>(const std::string& caption)> AskPassword;
  // Pause of each frame of the animation after the settings window.
  int SettingsFramePauseMs = 60;
  // True from the settings command until its sequence has ended.
  bool SettingsRunning() const { return settingsRunning_; }

  // Handlers.
  void Timer1Timer();
  void N26Click();      // Check now
  void N27Click();      // Start mail program
  void N28Click();      // Stop
  void Vigilo2Click();  // Resume
  void N32Click();      // Settings
  void N38Click();      // Settings while stopped
  void N33Click();      // Exit
  // Before a tray menu opens: its look from Ponty; PopupMenu1 shows N27 only with a
  // mail program.
  void MenuPopup(TVgMenu* menu);

 signals:
  // The user chose "Закрыть": the program ends.
  void ExitRequested();
  // The user chose a configuration's item and passed its password gate: show its
  // headers (CurConf is set; the viewer closes and shows again when visible).
  void HeadersRequested(int conf);
  void AboutRequested();        // "О программе": the about window, not modal
  void BlackListRequested();    // "Черный список": modal; then the viewer's RefillGrid
  void AddressBookRequested();  // "Адресная книга": modal
  void ComposeRequested();  // "Отправить сообщение по почте": SendMessage, empty
  void MessengerRequested();  // "Отправить сообщение по сети": not modal
  // The settings window is about to open: nothing may keep configuration numbers
  // (a visible viewer closes), since a delete there renumbers them.
  void SettingsOpening();

 protected:
  void connectNotify(const QMetaMethod& signal) override;

 private:
  std::string WriteIconSet(const std::string& ini_path);
  void CreateMenus();
  void UpdateCommandItems();
  void SetCheckItemsEnabled(bool on);
  // Open settings: the window, then the ImageList3 animation, then EndSettings.
  void OpenSettings();
  void SettingsFrame(int frame);
  // ApplySettings, then the running or the stopped state shown again.
  void EndSettings(SettingsOutcome outcome);
  ImageList* ListByName(const std::string& name);

  std::function<SettingsOutcome()> showSettings_;
  bool settingsRunning_ = false;
  bool passwordOpen_ = false;  // the password gate of a configuration's headers
  std::function<void()> afterFrames_;
  bool checkItemsEnabled_ = true;

  TDMU& DMU_;
  Folders folders_;
  SoundPlayer* sound_;
  // The per-configuration items of N5 and ConfMenu, in menu order.
  std::vector<QAction*> n5Items_;
  std::vector<QAction*> confItems_;
};

// The program's one Tdm while it exists (global name dm).
extern Tdm* dm;

}  // namespace vigilo
