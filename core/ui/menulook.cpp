#include "core/ui/menulook.h"

#include <QLinearGradient>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <algorithm>

namespace vigilo {
namespace {

constexpr int kPictureLeft = 11;  // the item's picture starts 11 pixels from the edge
constexpr int kPicture = 16;
constexpr int kTextGap = 8;

// Paints the items of an owner-drawn menu; everything else as the application's style.
class OwnerDrawnStyle : public QProxyStyle {
 public:
  OwnerDrawnStyle() : QProxyStyle() {}

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type != CT_MenuItem) return s;
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (item && item->menuItemType == QStyleOptionMenuItem::Separator) return {s.width(), 7};
    const int text = item ? item->fontMetrics.horizontalAdvance(item->text) : 0;
    return {std::max(s.width(), kPictureLeft + kPicture + kTextGap + text + 28),
            std::max(s.height(), 22)};
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* p,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item) {
      QProxyStyle::drawControl(element, option, p, widget);
      return;
    }
    const QRect r = item->rect;
    p->save();
    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
      p->fillRect(r, QColor(Qt::white));
      const int y = r.center().y();
      p->setPen(QColor(Qt::gray));
      p->drawLine(r.left() + 4, y, r.right() - 4, y);
      if (!item->text.isEmpty()) {  // the separator's hint at its right end
        QFont f = item->font;
        f.setPointSizeF(f.pointSizeF() * 0.8);
        p->setFont(f);
        const int w = QFontMetrics(f).horizontalAdvance(item->text) + 6;
        const QRect hint(r.right() - w - 4, r.top(), w, r.height());
        p->fillRect(hint, QColor(Qt::white));
        p->drawText(hint, Qt::AlignCenter, item->text);
      }
      p->restore();
      return;
    }
    const bool selected = (item->state & State_Selected) && (item->state & State_Enabled);
    QLinearGradient g(r.topLeft(), r.topRight());
    if (selected) {
      g.setColorAt(0, QColor(0x2f, 0x4f, 0x7f));
      g.setColorAt(1, QColor(Qt::white));
    } else {
      g.setColorAt(0, item->palette.color(QPalette::Button));
      g.setColorAt(1, QColor(Qt::white));
    }
    p->fillRect(r, g);
    if (selected) {
      p->setPen(QColor(Qt::gray));
      p->drawRect(r.adjusted(0, 0, -1, -1));
    }
    if (!item->icon.isNull()) {
      const QRect pic(r.left() + kPictureLeft, r.top() + (r.height() - kPicture) / 2, kPicture,
                      kPicture);
      item->icon.paint(p, pic, Qt::AlignCenter,
                       (item->state & State_Enabled) ? QIcon::Normal : QIcon::Disabled);
    }
    QColor text = selected ? QColor(Qt::white) : QColor(Qt::black);
    if (!(item->state & State_Enabled))
      text = item->palette.color(QPalette::Disabled, QPalette::Text);
    p->setPen(text);
    QFont f = item->font;
    if (item->menuItemType == QStyleOptionMenuItem::DefaultItem) f.setBold(true);
    p->setFont(f);
    const QRect caption = r.adjusted(kPictureLeft + kPicture + kTextGap, 0, -18, 0);
    QString label = item->text;
    label = label.left(label.indexOf('\t') < 0 ? label.size() : label.indexOf('\t'));
    p->drawText(caption, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextShowMnemonic, label);
    if (item->menuItemType == QStyleOptionMenuItem::SubMenu) {
      QStyleOption arrow = *option;
      arrow.rect = QRect(r.right() - 14, r.top() + (r.height() - 9) / 2, 9, 9);
      arrow.palette.setColor(QPalette::ButtonText, text);
      QProxyStyle::drawPrimitive(PE_IndicatorArrowRight, &arrow, p, widget);
    }
    p->restore();
  }
};

}  // namespace

TVgMenu::TVgMenu(QString banner, QWidget* parent) : QMenu(parent), banner_(std::move(banner)) {}

TVgMenu::~TVgMenu() {
  if (ownerDrawn_) {
    QStyle* own = style();
    setStyle(nullptr);
    delete own;
  }
}

void TVgMenu::SetOwnerDrawn(bool on) {
  if (on == ownerDrawn_) return;
  ownerDrawn_ = on;
  if (on) {
    setStyle(new OwnerDrawnStyle());
  } else {
    QStyle* own = style();
    setStyle(nullptr);
    delete own;
  }
  const int left = on && !banner_.isEmpty() ? kBannerWidth : 0;
  setContentsMargins(left, 0, 0, 0);
  adjustSize();
}

void TVgMenu::paintEvent(QPaintEvent* event) {
  QMenu::paintEvent(event);
  if (!ownerDrawn_ || banner_.isEmpty()) return;
  QPainter p(this);
  const QRect strip(0, 0, kBannerWidth, height());
  QLinearGradient g(strip.bottomLeft(), strip.topLeft());
  g.setColorAt(0, QColor(0x10, 0x28, 0x50));
  g.setColorAt(1, QColor(0x5a, 0x86, 0xc0));
  p.fillRect(strip, g);
  QFont f = font();
  f.setPixelSize(19);
  f.setBold(true);
  f.setItalic(true);
  p.setFont(f);
  p.setPen(Qt::white);
  // The caption runs upwards from the bottom of the strip.
  p.translate(strip.left(), strip.bottom());
  p.rotate(-90);
  p.drawText(QRect(6, 0, strip.height() - 12, kBannerWidth), Qt::AlignLeft | Qt::AlignVCenter,
             banner_);
}

}  // namespace vigilo
