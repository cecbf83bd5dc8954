#pragma once
// TForm7: the LAN messenger window. Tree of workgroups and computers, recipient box,
// message editor, the log of messages sent and received, its own blinking tray icon.
// Created at start-up and kept hidden; its listener receives from start-up to exit.

#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "core/ui/imagelist.h"
#include "lan/chat.h"

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;
class QTreeWidget;

namespace vigilo {

class TTrayIcon;

// The log as a table: marker picture, sender, time, text; unread rows bold.
class ChatGridModel : public QAbstractTableModel {
 public:
  ChatGridModel(const TChat& chat, const ImageList& markers, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void RowChanged(int row, bool added);

 private:
  const TChat& chat_;
  const ImageList& markers_;
};

struct Form7Options {
  int32_t Port = kLanPort;
  LanLimits Limits;
  std::string VgIni;  // the window-state file; "" keeps no state
  SoundPlayer* Sound = nullptr;
  std::function<std::string()> SoundName;
  NeighbourhoodSource* Network = nullptr;  // nullptr: the system's source
  // A failure that the user need not answer (the window state not saved).
  std::function<void(const std::string&)> LogError;
};

class TForm7 : public QWidget, public ChatView {
 public:
  explicit TForm7(Form7Options options, QWidget* parent = nullptr);
  ~TForm7() override;

  TChat& Chat() { return *chat_; }

  // From the tray menu: shows the window, which re-reads LocalName and rebuilds the tree.
  void ShowMessenger();
  // The listener's failure ("" when it listens), as shown in the window.
  const std::string& ListenError() const { return chat_->ListenError; }

  // Controls.
  QTreeWidget* TreeView1 = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* host = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QProgressBar* pb = nullptr;
  QPlainTextEdit* msg = nullptr;
  QTableView* grid = nullptr;
  QMenu* GridMenu = nullptr;
  QAction* N2 = nullptr;  // "Ответить отправителю"
  QAction* N1 = nullptr;  // "Копировать письмо"
  TTrayIcon* TrayIcon1 = nullptr;
  QLabel* Status = nullptr;
  QLabel* ListenStatus = nullptr;
  QSplitter* Splitter1 = nullptr;
  QSplitter* Splitter2 = nullptr;
  ImageList ImageList1{"ImageList1"};  // markers: read/unread, sent, empty
  ImageList ImageList2{"ImageList2"};  // the tray icon's frames
  ImageList ImageList3{"ImageList3"};  // tree: computer, workgroup, silent computer
  ChatGridModel* GridModel = nullptr;

  // Handlers.
  void GridMenuPopup();
  void TrayIcon1Click();
  // The current row of the grid (-1 when none).
  int CurrentRow() const;

  // ChatView.
  std::string HostText() const override;
  void SetHostText(const std::string& text) override;
  void HostItemsChanged() override;
  std::string MsgText() const override;
  void SetMsgText(const std::string& text) override;
  void FocusHost() override;
  void FocusMsg() override;
  void ShowMessage(const std::string& text) override;
  void ShowStatus(const std::string& text) override;
  bool IsVisible() const override { return isVisible(); }
  void ShowTrayIcon() override;
  void RowChanged(int row, bool added) override;
  void TreeChanged() override;
  void ComputerChanged(int group, int index) override;
  void SetProgress(int position, int max) override;
  void SetBusy(bool busy) override;

  // Replaces the modal message box (tests).
  std::function<void(const std::string&)> OnMessage;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void CreateControls();
  void RestoreState();
  void SaveState();
  void FitRowHeight(int row);

  Form7Options options_;
  std::unique_ptr<NeighbourhoodSource> ownNetwork_;
  std::unique_ptr<TChat> chat_;
};

}  // namespace vigilo
