#pragma once
// TForm6: the blacklist editor, shown modally. Its list is a working copy; "Ок" (or a
// double click on the list) stores it, closing the window any other way discards it.

#include <QDialog>
#include <memory>
#include <string>

#include "config/myuser.h"
#include "viewer/blackedit.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace vigilo {

class TForm6 : public QDialog {
  Q_OBJECT

 public:
  TForm6(tusers& settings, std::string ini_path, QWidget* parent = nullptr);

  QListWidget* ListBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* BitBtn2 = nullptr;  // "Добав"
  QPushButton* BitBtn1 = nullptr;  // "Изм"
  QPushButton* BitBtn3 = nullptr;  // "Удал"
  QPushButton* BitBtn4 = nullptr;  // "Ок"

  // FormShow: a fresh working copy of the blacklist.
  void FormShow();
  void Button1Click();
  void BitBtn1Click();
  void Button2Click();
  void Button3Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void ShowList();

  tusers& s_;
  std::string ini_;
  std::unique_ptr<TBlackEditor> editor_;
};

}  // namespace vigilo
