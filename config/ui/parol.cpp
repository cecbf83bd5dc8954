#include "config/ui/parol.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace vigilo {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  setObjectName("TForm5");
  // Single border with only the system-menu button.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle("Пароль");
  setModal(true);

  GroupBox1 = new QGroupBox("Введите пароль:", this);
  pwd = new QLineEdit(GroupBox1);
  pwd->setObjectName("pwd");
  pwd->setEchoMode(QLineEdit::Password);
  pwd->setAccessibleName("Пароль");
  BitBtn1 = new QPushButton("Ок", GroupBox1);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn1->setAccessibleName("Ок");
  auto* inner = new QVBoxLayout(GroupBox1);
  inner->addWidget(pwd);
  inner->addWidget(BitBtn1, 0, Qt::AlignHCenter);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(GroupBox1);
  setFixedSize(220, 110);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm5::BitBtn1Click);
}

std::optional<std::string> TForm5::Ask(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
  if (exec() != QDialog::Accepted) return std::nullopt;
  return Entered;
}

void TForm5::BitBtn1Click() {
  Entered = pwd->text().toStdString();
  accept();
}

void TForm5::showEvent(QShowEvent* event) {
  Entered.clear();
  pwd->clear();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - rect().center());
  }
  QDialog::showEvent(event);
  pwd->setFocus();
}

void TForm5::keyPressEvent(QKeyEvent* event) {
  // The one button is the cancel button too: Escape presses it.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    BitBtn1Click();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace vigilo
