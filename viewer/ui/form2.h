#pragma once
// TForm2: the mailbox viewer window. The header list sgd over THeadsModel, the message
// pane memo1, the attachment list ListFile, the toolbar and the menus; what the commands
// do is TMailViewer's.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "viewer/mailviewer.h"

class QAction;
class QActionGroup;
class QMenu;
class QPrinter;
class QSplitter;
class QTableView;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vigilo {

class THeadsModel;
class Tprogress;

class TForm2 : public QWidget, public ViewerView {
  Q_OBJECT

 public:
  // ini_path: "vg.ini"; conf_menu: the configurations menu of the tray (may be null).
  TForm2(tusers& settings, ms::TmsPOPClient& pop, ViewerServices& services,
         const std::string& temp_path, std::string ini_path, QMenu* conf_menu,
         QWidget* parent = nullptr);
  ~TForm2() override;

  // Shows the headers of configuration conf; closes and shows again when visible.
  void ShowConf(int32_t conf);

  TMailViewer& Viewer() { return *viewer_; }
  THeadsModel& Model() { return *model_; }

  // Controls (names of the window's definition).
  QToolBar* ToolBar1 = nullptr;
  QToolButton* ToolButton8 = nullptr;  // "Ящик"
  QAction* BitBtn1 = nullptr;
  QAction* BitBtn2 = nullptr;
  QAction* BtnView = nullptr;
  QAction* btnav = nullptr;
  QAction* btnsav = nullptr;
  QAction* ToolButton5 = nullptr;
  QAction* ToolButton6 = nullptr;
  QAction* ShowBody = nullptr;
  QAction* ShowAll = nullptr;
  QToolButton* ToolButton1 = nullptr;
  QAction* BitBtn4 = nullptr;
  QAction* BitBtn3 = nullptr;
  QTableView* sgd = nullptr;
  QTextEdit* memo1 = nullptr;
  QTreeWidget* ListFile = nullptr;
  QSplitter* Splitter1 = nullptr;
  QSplitter* Splitter2 = nullptr;
  QMenu* GridMenu = nullptr;
  QMenu* FileMenu = nullptr;
  QMenu* MemoMenu = nullptr;
  QMenu* PopupMenu11 = nullptr;
  QMenu* Recode = nullptr;  // "Перекодировать" in GridMenu
  QAction* MnLoad = nullptr;
  QAction* MnView = nullptr;
  QAction* MnCheck = nullptr;
  QAction* MnSave = nullptr;
  QAction* N6 = nullptr;  // "Исходное сообщение"
  QAction* N8 = nullptr;  // "Отправить ответ"
  QAction* mAddAdress = nullptr;
  QAction* adrbook = nullptr;
  QAction* MnBlackAdd = nullptr;
  QAction* MnBlack = nullptr;
  QAction* MnDelete = nullptr;
  QAction* MFileView = nullptr;
  QAction* MFileCheck = nullptr;
  QAction* mFlSave = nullptr;
  QAction* N5 = nullptr;  // "Автоперенос строк"
  QAction* MViewHTML = nullptr;
  QAction* N1 = nullptr;  // "Просмотреть как текст"
  QAction* N3 = nullptr;  // "Копировать"

  // Handlers.
  void MnLoadClick();
  void MFileViewClick();
  void MFileCheckClick();
  void mFlSaveClick();
  void N3Click();
  void N5Click();
  void OpenLinkAtCaret();
  void MainMenuPopup();
  // Prints the message as the print dialog would, onto `printer`.
  void PrintTo(QPrinter& printer);
  void ToolButton6Click();

  // The blacklist editor is asked for (toolbar, context menu).
  std::function<void()> OnBlacklist;

  // Replace the message and question boxes and the save dialog (tests).
  std::function<void(const std::string&)> OnInform;
  std::function<bool(const std::string&)> OnAsk;
  std::function<std::string(const std::string&)> OnSaveDialog;

  // ViewerView.
  void SetCaption(const std::string& caption) override;
  void HeadsReset() override;
  void HeadChanged(int record) override;
  void SetCurrentRecord(int record) override;
  void SetAntivirusEnabled(bool enabled) override;
  void ShowText(const std::string& text) override;
  void ClearAttachments() override;
  void AddAttachment(const std::string& name, int64_t size, const std::string& path) override;
  void ShowCodePage(TCodePage cp) override;
  void CloseWindow() override;
  void Inform(const std::string& text) override;
  bool Ask(const std::string& text) override;
  void ShowDownloadProgress(int max) override;
  void SetDownloadProgress(int bytes, const std::string& label2) override;
  void HideDownloadProgress() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls(QMenu* conf_menu);
  void CreateMenus();
  void ShowSortMarker();
  void UpdateDeleteButtons();
  QMenu* CodePageMenu(QWidget* parent, const QString& title);
  std::string SelectedAttachment() const;
  void RestorePlace();
  void SavePlace();

  tusers& s_;
  std::unique_ptr<TMailViewer> viewer_;
  THeadsModel* model_ = nullptr;
  std::string ini_;
  Tprogress* progress_ = nullptr;
  bool selecting_ = false;  // the viewer moves the current row itself
  bool placed_ = false;
};

}  // namespace vigilo
