#include "core/ui/visual.h"

#include <QBitmap>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace vigilo {
namespace {

// Times New Roman where installed, else the serif face fontconfig chooses.
QFont NoticeFont() {
  const QString family = QFontDatabase::hasFamily("Times New Roman") ? "Times New Roman" : "serif";
  QFont font(family, 28, QFont::Bold);
  font.setStyleHint(QFont::Serif);
  // Crisp edges: the window's shape is made of exactly the black pixels.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

}  // namespace

TVF::TVF(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint) {
  setObjectName("VF");
  setAccessibleName(QString::fromUtf8(kText));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedSize(kWidth, kHeight);
  QPalette blue = palette();
  blue.setColor(QPalette::Window, QColor(0, 0, 255));
  setPalette(blue);
  setAutoFillBackground(true);
  Image1 = QImage(505, 97, QImage::Format_RGB32);
  StepTimer = new QTimer(this);
  StepTimer->setInterval(TNoticeMotion::kStepMs);
  connect(StepTimer, &QTimer::timeout, this, &TVF::StepTimerTimer);
  Draw();
}

bool TVF::CanPlaceWindows() {
  return !QGuiApplication::platformName().startsWith("wayland");
}

void TVF::Draw() {
  const QFont font = NoticeFont();
  Image1.fill(Qt::white);
  QPainter p(&Image1);
  p.setFont(font);
  p.setPen(Qt::black);
  const QFontMetrics metrics(font);
  p.drawText(30, 2 + metrics.ascent(), QString::fromUtf8(kText));
  p.end();
  textWidth_ = metrics.horizontalAdvance(QString::fromUtf8(kText));
  // Only the letters stay: the window's blue shows through them.
  setMask(QBitmap::fromImage(Image1.createMaskFromColor(qRgb(0, 0, 0), Qt::MaskOutColor)));
}

void TVF::Go() {
  if (!CanPlaceWindows() && Notify) {
    Notify(QString::fromUtf8(kText));
    return;
  }
  if (!Motion.Start()) return;  // one notice at a time
  Place();
  show();
  StepTimer->start();
}

void TVF::StepTimerTimer() {
  if (!Motion.Step()) {
    StepTimer->stop();
    hide();
    return;
  }
  Place();
}

void TVF::Place() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect g = screen->geometry();
  move(TNoticeMotion::Left(g.x(), g.width(), textWidth_), Motion.Top(g.y(), g.height()));
}

}  // namespace vigilo
