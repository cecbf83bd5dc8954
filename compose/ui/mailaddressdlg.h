#pragma once
// TMailAddressDlg: edits one address and its display name ("Address", OK / Cancel).

#include <QDialog>

class QLineEdit;

namespace vigilo {

class TMailAddressDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TMailAddressDlg(QWidget* parent = nullptr);

  QLineEdit* AddressEdit = nullptr;
  QLineEdit* NameEdit = nullptr;
};

}  // namespace vigilo
