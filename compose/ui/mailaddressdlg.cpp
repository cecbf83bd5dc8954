#include "compose/ui/mailaddressdlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace vigilo {

TMailAddressDlg::TMailAddressDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Address");
  auto* form = new QFormLayout(this);
  AddressEdit = new QLineEdit(this);
  AddressEdit->setAccessibleName("Address");
  NameEdit = new QLineEdit(this);
  NameEdit->setAccessibleName("Name");
  form->addRow("Address", AddressEdit);
  form->addRow("Name", NameEdit);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("OK", QDialogButtonBox::AcceptRole)->setAccessibleName("OK");
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setAccessibleName("Cancel");
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

}  // namespace vigilo
