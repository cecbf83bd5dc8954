#include "core/ui/prbar.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>

namespace vigilo {

Tprogress::Tprogress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setObjectName("progress");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kWidth, kHeight);
  Bar = new QProgressBar(this);
  Bar->setRange(0, 100);
  Bar->setTextVisible(false);
  Bar->setGeometry(2, 17, kWidth - 4, 9);
  Label1 = new QLabel(this);
  Label1->setGeometry(3, 1, 110, 15);
  Label2 = new QLabel(this);
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont bold = Label2->font();
  bold.setBold(true);
  Label2->setFont(bold);
  Label2->setGeometry(kWidth - 3 - 14 - 62, 1, 62, 15);
  StopButton = new QToolButton(this);
  StopButton->setText("×");
  StopButton->setAutoRaise(true);
  StopButton->setToolTip("Остановить");
  StopButton->setAccessibleName("Остановить");
  StopButton->setGeometry(kWidth - 3 - 14, 1, 14, 15);
  connect(StopButton, &QToolButton::clicked, this, &Tprogress::StopRequested);
  auto* stop = new QAction("Остановить", this);
  connect(stop, &QAction::triggered, this, &Tprogress::StopRequested);
  addAction(stop);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Tprogress::closeEvent(QCloseEvent* event) {
  emit StopRequested();
  QWidget::closeEvent(event);
}

void Tprogress::PlaceLowerRight() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect desktop = screen->virtualGeometry();
  move(desktop.x() + desktop.width() - width() - 3, desktop.y() + desktop.height() - height() - 20);
}

}  // namespace vigilo
