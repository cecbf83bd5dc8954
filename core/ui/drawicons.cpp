// The program's own pictures, drawn on a 16 x 16 grid and rendered at 16 and 32 pixels.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <functional>
#include <numbers>

#include "core/ui/imagelist.h"

namespace vigilo {
namespace {

using Draw = std::function<void(QPainter&)>;

const QColor kInk(40, 40, 48);
const QColor kPaper(250, 246, 226);
const QColor kGrey(150, 150, 156);
const QColor kRed(208, 40, 36);
const QColor kGreen(40, 150, 60);
const QColor kBlue(40, 96, 196);
const QColor kGold(230, 170, 30);

QIcon Make(const Draw& draw) {
  QIcon icon;
  for (const int size : {16, 32}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    draw(p);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

void Pen(QPainter& p, const QColor& c, double w = 1.0) {
  p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void Envelope(QPainter& p, const QColor& body, const QColor& line, double x = 0.5, double y = 3.5,
              double w = 15, double h = 10) {
  Pen(p, line);
  p.setBrush(body);
  p.drawRoundedRect(QRectF(x, y, w, h), 1, 1);
  p.setBrush(Qt::NoBrush);
  QPainterPath flap;
  flap.moveTo(x, y);
  flap.lineTo(x + w / 2, y + h * 0.6);
  flap.lineTo(x + w, y);
  p.drawPath(flap);
}

void Dot(QPainter& p, const QColor& c, double cx, double cy, double r) {
  Pen(p, Qt::white, 1);
  p.setBrush(c);
  p.drawEllipse(QPointF(cx, cy), r, r);
  p.setBrush(Qt::NoBrush);
}

void Cross(QPainter& p, const QColor& c, double cx, double cy, double r, double w = 2) {
  Pen(p, c, w);
  p.drawLine(QPointF(cx - r, cy - r), QPointF(cx + r, cy + r));
  p.drawLine(QPointF(cx - r, cy + r), QPointF(cx + r, cy - r));
}

void Gear(QPainter& p, const QColor& c, double angle_deg) {
  p.save();
  p.translate(8, 8);
  p.rotate(angle_deg);
  Pen(p, c, 2.2);
  for (int i = 0; i < 8; ++i) {
    p.drawLine(QPointF(0, -5.2), QPointF(0, -7.2));
    p.rotate(45);
  }
  Pen(p, c, 1.6);
  p.setBrush(c.lighter(160));
  p.drawEllipse(QPointF(0, 0), 4.6, 4.6);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0, 0), 1.8, 1.8);
  p.restore();
}

void Info(QPainter& p) {
  Pen(p, kBlue.darker(130));
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(8, 8), 7, 7);
  Pen(p, Qt::white, 2);
  p.drawLine(QPointF(8, 7), QPointF(8, 12));
  p.drawPoint(QPointF(8, 4.2));
}

void CloseMark(QPainter& p) {
  Pen(p, kRed.darker(130));
  p.setBrush(kRed);
  p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2, 2);
  Cross(p, Qt::white, 8, 8, 3.5);
}

void Network(QPainter& p) {
  for (const double x : {0.5, 8.5}) {
    Pen(p, kInk);
    p.setBrush(QColor(120, 180, 230));
    p.drawRect(QRectF(x, 1.5, 7, 6));
    p.drawLine(QPointF(x + 3.5, 7.5), QPointF(x + 3.5, 10));
  }
  Pen(p, kGreen, 1.5);
  p.drawLine(QPointF(4, 10.5), QPointF(4, 13.5));
  p.drawLine(QPointF(12, 10.5), QPointF(12, 13.5));
  p.drawLine(QPointF(4, 13.5), QPointF(12, 13.5));
}

void Spinner(QPainter& p, int frame, int frames, const QColor& c) {
  const double a = 2 * std::numbers::pi * frame / frames - std::numbers::pi / 2;
  Dot(p, c, 8 + 5.5 * std::cos(a), 8 + 5.5 * std::sin(a), 2.4);
}

// The program's own picture: the tray's envelope with mail waiting.
void MailWaiting(QPainter& p) {
  Envelope(p, kPaper, kInk);
  Dot(p, kRed, 12.5, 4, 3.3);
}

}  // namespace

QImage DrawProgramIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  MailWaiting(p);
  p.end();
  return image;
}

std::vector<QIcon> DrawImageList1() {
  return {Make(MailWaiting), Make([](QPainter& p) { Envelope(p, QColor(226, 226, 230), kGrey); })};
}

std::vector<QIcon> DrawImageList2() {
  return {
      Make([](QPainter& p) { Gear(p, kGrey.darker(140), 0); }),  // 0 settings
      Make([](QPainter& p) {                                     // 1 check mail
        Envelope(p, kPaper, kInk, 0.5, 5.5, 15, 9);
        Pen(p, kGreen, 2);
        p.drawLine(QPointF(8, 0.5), QPointF(8, 6));
        p.drawLine(QPointF(5.5, 3.5), QPointF(8, 6));
        p.drawLine(QPointF(10.5, 3.5), QPointF(8, 6));
      }),
      Make([](QPainter& p) {  // 2 view headers
        Pen(p, kInk);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        Pen(p, kBlue, 1.5);
        for (const double y : {4.5, 7.5, 10.5})
          p.drawLine(QPointF(4, y), QPointF(12, y));
      }),
      Make(Info),             // 3 about
      Make([](QPainter& p) {  // 4 stop
        Pen(p, kRed.darker(130));
        p.setBrush(kRed);
        p.drawRect(QRectF(3.5, 3.5, 9, 9));
      }),
      Make(CloseMark),        // 5 close
      Make([](QPainter& p) {  // 6 blacklist
        Pen(p, kInk);
        p.setBrush(QColor(30, 30, 30));
        p.drawEllipse(QPointF(8, 5), 3, 3);
        p.drawPie(QRectF(2.5, 8.5, 11, 11), 0, 180 * 16);
        Pen(p, kRed, 1.8);
        p.drawLine(QPointF(2, 14), QPointF(14, 2));
      }),
      Make(Network),          // 7 LAN message
      Make([](QPainter& p) {  // 8 address book
        Pen(p, kInk);
        p.setBrush(QColor(170, 60, 40));
        p.drawRoundedRect(QRectF(2.5, 1.5, 11, 13), 1, 1);
        p.setBrush(kPaper);
        p.drawRect(QRectF(5, 4, 6, 3));
        Pen(p, kPaper, 1.2);
        p.drawLine(QPointF(4, 1.5), QPointF(4, 14.5));
      }),
      Make([](QPainter& p) {  // 9 compose
        Envelope(p, kPaper, kInk, 0.5, 6.5, 12, 8);
        Pen(p, kGold.darker(140), 2.2);
        p.drawLine(QPointF(7, 9), QPointF(14.5, 1.5));
        Pen(p, kInk, 1);
        p.drawPoint(QPointF(7, 9));
      }),
      Make([](QPainter& p) { Envelope(p, QColor(200, 220, 250), kBlue); }),  // 10 mail program
  };
}

std::vector<QIcon> DrawImageList3() {
  std::vector<QIcon> frames;
  for (int i = 0; i < 10; ++i) {
    frames.push_back(Make([i](QPainter& p) { Gear(p, kBlue, i * 4.5); }));
  }
  return frames;
}

std::vector<QIcon> DrawImageList4() {
  std::vector<QIcon> frames;
  for (int i = 0; i < 8; ++i) {
    frames.push_back(Make([i](QPainter& p) {
      Envelope(p, kPaper, kInk, 2.5, 5, 11, 7);
      Spinner(p, i, 8, kGreen);
    }));
  }
  return frames;
}

std::vector<QIcon> DrawImageList5() {
  return {Make([](QPainter& p) {  // 0 no connection
            Envelope(p, QColor(226, 226, 230), kGrey);
            Cross(p, kRed, 11.5, 10.5, 3);
          }),
          Make(MailWaiting),      // 1 mail waiting
          Make([](QPainter& p) {  // 2 empty
            Envelope(p, Qt::white, kGrey);
          })};
}

std::vector<QIcon> DrawImageList6() {
  return {Make([](QPainter& p) {  // 0 resume
            Pen(p, kGreen.darker(130));
            p.setBrush(kGreen);
            QPolygonF tri;
            tri << QPointF(4, 2) << QPointF(14, 8) << QPointF(4, 14);
            p.drawPolygon(tri);
          }),
          Make(Info),                                                // 1 about
          Make(CloseMark),                                           // 2 close
          Make([](QPainter& p) { Gear(p, kGrey.darker(140), 0); }),  // 3 settings
          Make(Network)};                                            // 4 LAN message
}

std::vector<QIcon> DrawImageList8() {
  return {Make([](QPainter& p) {
    Envelope(p, QColor(226, 226, 230), kGrey);
    Pen(p, Qt::white, 1);
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(7.5, 8.5, 8, 5), 1, 1);
    Pen(p, Qt::white, 1.6);
    p.drawLine(QPointF(9.5, 11), QPointF(13.5, 11));
  })};
}

}  // namespace vigilo
