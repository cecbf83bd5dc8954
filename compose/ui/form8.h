#pragma once
// TForm8 "Отправка сообщений по почте": one plain-text message with attachments, sent
// at once or put into the chosen configuration's outgoing queue.

#include <QWidget>
#include <functional>
#include <string>

#include "compose/compose.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QSplitter;

namespace vigilo {

class TForm9;

class TForm8 : public QWidget {
  Q_OBJECT

 public:
  // settings: the configurations and delType; book: the address book window;
  // iniPath: "vg.ini" ("" keeps no window state).
  TForm8(tusers& settings, TForm9& book, std::string iniPath, QWidget* parent = nullptr);
  ~TForm8() override;

  // Fills the window for configuration confIndex and shows it (not modal).
  void SendMessage(int32_t confIndex, const std::string& recipient, const std::string& subject);
  // Adds an attachment row for an existing file (what "Добавить" does after the dialog).
  void AddAttachment(const std::string& path);

  // Around an immediate send: network, and the check after it.
  ComposeHost Host;
  // Runs the send once no check is running (set by the program; default: at once).
  std::function<void(std::function<void()>)> WhenIdle;
  // The boxes: an information box, or a question (true = OK). Tests replace them.
  std::function<void(const QString&)> Inform;
  std::function<bool(const QString&)> Ask;

  int32_t ConfIndex = 0;

  QComboBox* from = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QLineEdit* sendtoname = nullptr;
  QLineEdit* sendto = nullptr;
  QLineEdit* subject = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPlainTextEdit* messg = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTreeWidget* ListView1 = nullptr;
  QPushButton* bins = nullptr;
  QPushButton* bdel = nullptr;

  void BitBtn1Click();
  void SpeedButton1Click();
  void binsClick();
  void bdelClick();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void Send(const ComposeInput& in);
  void UpdateDeleteButton();
  void HideWithoutQuestion();

  tusers& s_;
  TForm9& book_;
  std::string iniPath_;
  ms::TmsSMTPClient smtp_;  // this window's own session and message: a check that runs
  ms::TmsMessage mess_;     // meanwhile never shares them
  bool sending_ = false;
  bool noQuestion_ = false;
};

}  // namespace vigilo
