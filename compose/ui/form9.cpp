#include "compose/ui/form9.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "compose/ui/placement.h"

namespace vigilo {
namespace {

QPushButton* Button(const char* caption, const char* hint, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setToolTip(QString::fromUtf8(hint));
  b->setAccessibleName(QString::fromUtf8(caption));
  b->setAccessibleDescription(QString::fromUtf8(hint));
  return b;
}

}  // namespace

TForm9::TForm9(const std::string& programFolder, std::string iniPath, QWidget* parent)
    : QDialog(parent), book_(programFolder + "adrBook.txt"), iniPath_(std::move(iniPath)) {
  setWindowTitle(QString::fromUtf8("Адресная книга"));
  resize(330, 300);
  auto* top = new QVBoxLayout(this);
  GroupBox1 = new QGroupBox(QString::fromUtf8("Адреса электронной почты"), this);
  top->addWidget(GroupBox1);
  auto* inner = new QVBoxLayout(GroupBox1);
  ListBox1 = new QListWidget(GroupBox1);
  ListBox1->setAccessibleName(QString::fromUtf8("Адреса электронной почты"));
  inner->addWidget(ListBox1);
  Edit1 = new QLineEdit(GroupBox1);
  Edit1->setAccessibleName(QString::fromUtf8("Адрес"));
  inner->addWidget(Edit1);
  auto* row = new QHBoxLayout;
  BitBtn2 = Button("Добав", "Добавить новый адрес", this);
  BitBtn1 = Button("Изм", "Отредактировать выбранный адрес", this);
  BitBtn3 = Button("Удал", "Удалить выделенный адрес", this);
  BitBtn4 = Button("Ок", "Сохранить изменения", this);
  BitBtn4->setDefault(true);
  for (QPushButton* b : {BitBtn2, BitBtn1, BitBtn3, BitBtn4}) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  BitBtn4->setDefault(true);
  top->addLayout(row);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm9::Button1Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm9::BitBtn1Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TForm9::Button2Click);
  connect(BitBtn4, &QPushButton::clicked, this, &TForm9::Button3Click);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] { Button3Click(); });
  LoadPlacement(*this, iniPath_, "AdrBook");
}

void TForm9::showEvent(QShowEvent* e) {
  book_.Load();
  Fill();
  QDialog::showEvent(e);
}

void TForm9::done(int r) {
  SavePlacement(*this, iniPath_, "AdrBook");
  QDialog::done(r);
}

void TForm9::Fill() {
  ListBox1->clear();
  for (const std::string& entry : book_.Entries())
    ListBox1->addItem(QString::fromStdString(entry));
  ListBox1->setCurrentRow(book_.Selected());
}

void TForm9::TakeSelection() {
  book_.Select(ListBox1->currentItem() && ListBox1->currentItem()->isSelected()
                   ? ListBox1->currentRow()
                   : -1);
}

void TForm9::Button1Click() {
  TakeSelection();
  if (book_.Add(Edit1->text().toStdString())) Edit1->clear();
  Fill();
}

void TForm9::BitBtn1Click() {
  TakeSelection();
  if (book_.Selected() < 0) return;  // nothing selected: nothing to edit
  Edit1->setText(QString::fromStdString(book_.TakeForEdit()));
  Fill();
}

void TForm9::Button2Click() {
  TakeSelection();
  book_.Delete();
  Fill();
}

void TForm9::Button3Click() {
  TakeSelection();
  std::string error;
  if (!book_.Pick(error)) {
    reject();
    return;
  }
  if (!error.empty()) QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
  accept();
}

}  // namespace vigilo
