#pragma once
// TForm9 "Адресная книга": edits the address book and picks one entry (modal).

#include <QDialog>
#include <string>

#include "compose/addrbook.h"

class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vigilo {

class TForm9 : public QDialog {
  Q_OBJECT

 public:
  // programFolder ends with '/'; iniPath is "vg.ini" ("" keeps no window state).
  TForm9(const std::string& programFolder, std::string iniPath, QWidget* parent = nullptr);

  // The entry picked by the last successful "Ок".
  const std::string& SelectedAddress() const { return book_.SelectedAddress(); }
  const std::string& BookFileName() const { return book_.FileName(); }

  QGroupBox* GroupBox1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* BitBtn2 = nullptr;  // "Добав"
  QPushButton* BitBtn1 = nullptr;  // "Изм"
  QPushButton* BitBtn3 = nullptr;  // "Удал"
  QPushButton* BitBtn4 = nullptr;  // "Ок"

  void Button1Click();  // add
  void BitBtn1Click();  // take out for editing
  void Button2Click();  // delete
  void Button3Click();  // save and pick

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int r) override;

 private:
  void Fill();
  void TakeSelection();

  TAddressBook book_;
  std::string iniPath_;
};

}  // namespace vigilo
