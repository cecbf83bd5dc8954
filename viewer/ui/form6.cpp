#include "viewer/ui/form6.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "config/inifile.h"
#include "platform/errorlog.h"

namespace vigilo {
namespace {

QPushButton* Button(QWidget* parent, const char* caption, const char* hint) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setToolTip(QString::fromUtf8(hint));
  b->setAccessibleName(QString::fromUtf8(caption));
  b->setAccessibleDescription(QString::fromUtf8(hint));
  b->setAutoDefault(false);
  return b;
}

}  // namespace

TForm6::TForm6(tusers& settings, std::string ini_path, QWidget* parent)
    : QDialog(parent), s_(settings), ini_(std::move(ini_path)) {
  setObjectName("Form6");
  setWindowTitle("Черный список");
  setAccessibleName(windowTitle());
  setModal(true);
  resize(264, 375);
  auto* outer = new QVBoxLayout(this);
  auto* group = new QGroupBox("Адреса электронной почты", this);
  outer->addWidget(group);
  auto* layout = new QVBoxLayout(group);
  ListBox1 = new QListWidget(group);
  ListBox1->setAccessibleName("Адреса электронной почты");
  layout->addWidget(ListBox1, 1);
  Edit1 = new QLineEdit(group);
  Edit1->setAccessibleName("Адрес");
  layout->addWidget(Edit1);
  auto* buttons = new QHBoxLayout();
  layout->addLayout(buttons);
  BitBtn2 = Button(group, "Добав", "Добавить новый адрес");
  BitBtn1 = Button(group, "Изм", "Отредактировать выбранный адрес");
  BitBtn3 = Button(group, "Удал", "Удалить выделенный адрес");
  BitBtn4 = Button(group, "Ок", "Сохранить изменения");
  BitBtn4->setDefault(true);
  for (QPushButton* b : {BitBtn2, BitBtn1, BitBtn3, BitBtn4})
    buttons->addWidget(b);

  connect(BitBtn2, &QPushButton::clicked, this, &TForm6::Button1Click);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm6::BitBtn1Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TForm6::Button2Click);
  connect(BitBtn4, &QPushButton::clicked, this, &TForm6::Button3Click);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm6::Button3Click);
  connect(ListBox1, &QListWidget::currentRowChanged, this, [this](int row) {
    if (editor_) editor_->Select(row);
  });

  const IniFile ini(ini_);
  if (ini.HasSection("BlackBook")) {
    resize(ini.ReadInteger("BlackBook", "Width", width()),
           ini.ReadInteger("BlackBook", "Height", height()));
    move(ini.ReadInteger("BlackBook", "Left", x()), ini.ReadInteger("BlackBook", "Top", y()));
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - rect().center());
  }
}

void TForm6::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TForm6::FormShow() {
  editor_ = std::make_unique<TBlackEditor>(s_.Black);
  Edit1->clear();
  ShowList();
}

void TForm6::ShowList() {
  const QSignalBlocker block(ListBox1);
  ListBox1->clear();
  for (const std::string& entry : editor_->Items())
    ListBox1->addItem(QString::fromStdString(entry));
  ListBox1->setCurrentRow(editor_->Selected());
  Edit1->setText(QString::fromStdString(editor_->Edit));
}

void TForm6::Button1Click() {
  editor_->Edit = Edit1->text().toStdString();
  editor_->Add();
  ShowList();
}

void TForm6::BitBtn1Click() {
  editor_->Change();
  ShowList();
}

void TForm6::Button2Click() {
  editor_->Remove();
  ShowList();
}

void TForm6::Button3Click() {
  s_.Black = editor_->Result();
  s_.Save();
  accept();
}

void TForm6::done(int result) {
  if (!ini_.empty()) {
    IniFile ini(ini_);
    ini.Write("BlackBook", "Left", std::to_string(x()));
    ini.Write("BlackBook", "Top", std::to_string(y()));
    ini.Write("BlackBook", "Width", std::to_string(width()));
    ini.Write("BlackBook", "Height", std::to_string(height()));
    ini.Write("BlackBook", "State", "0");
    if (const std::string e = ini.Save(); !e.empty())
      AppendErrorLog(s_.ErrorLogPath(), "vg.ini", "window place not saved: " + e);
  }
  QDialog::done(result);
}

}  // namespace vigilo
