#include "core/ui/Mail.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>

namespace vigilo {
namespace {

constexpr int kWidth = 380;
constexpr int kHeight = 330;
constexpr const char* kTargetProperty = "linkTarget";

QString Lines(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines)
    list << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  return list.join('\n');
}

// A picture of an envelope for the upper left corner.
QPixmap Envelope() {
  QPixmap pixmap(40, 28);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 0, 128), 2));
  p.setBrush(QColor(255, 255, 224));
  p.drawRect(1, 1, 38, 26);
  p.drawPolyline(QPolygon({QPoint(1, 1), QPoint(20, 16), QPoint(39, 1)}));
  return pixmap;
}

}  // namespace

TForm1::TForm1(const std::string& version, const std::string& program_file,
               const std::string& update_url, int fetch_timeout_s, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), updateUrl_(update_url) {
  setObjectName("Form1");
  setWindowTitle("О программе ...");
  setAccessibleName(windowTitle());
  setFixedSize(kWidth, kHeight);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  // The frame of four shapes along the edges.
  const QRect edges[] = {{0, 0, kWidth, 3},
                         {0, kHeight - 3, kWidth, 3},
                         {0, 0, 3, kHeight},
                         {kWidth - 3, 0, 3, kHeight}};
  for (const QRect& r : edges) {
    auto* shape = new QFrame(this);
    shape->setGeometry(r);
    shape->setStyleSheet("background: #000080;");
  }
  Image3 = new QLabel(this);
  Image3->setPixmap(Envelope());
  Image3->setGeometry(14, 14, 40, 28);
  Image1 = new QLabel(this);
  Image1->setPixmap(style()->standardIcon(QStyle::SP_TitleBarCloseButton).pixmap(16, 16));
  Image1->setGeometry(kWidth - 26, 10, 16, 16);
  Image1->setToolTip("Закрыть");
  Image1->setAccessibleName("Закрыть");
  Image1->setCursor(Qt::PointingHandCursor);

  const QFileInfo file(QString::fromStdString(program_file));
  const QString date = QLocale::system().toString(file.lastModified().date(), QLocale::ShortFormat);
  v1 = new QLabel(QString::fromStdString(VersionLabelText(version, date.toStdString())), this);
  v1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  v1->setGeometry(60, 30, kWidth - 74, 18);
  v1->setAccessibleName(v1->text());

  Label2 = new QLabel(
      "Программа предназначена для проверки почтового ящика на наличие почтовых сообщений", this);
  Label2->setWordWrap(true);
  Label2->setGeometry(14, 52, kWidth - 28, 34);
  Label2->setAccessibleName(Label2->text());

  Label4 =
      AddLink("Послать письмо", "Послать письмо автору", QString("mailto:") + kMakerMail, 14, 90);
  Label5 = AddLink("Домашняя страница программы", "Домашняя страница программы",
                   QString::fromStdString(PublisherUrl(update_url, kHomeDocument)), 130, 90);
  Label3 = AddLink(kMakerName, "Домашняя страница автора",
                   QString::fromStdString(PublisherUrl(update_url, "/")), 14, 110);

  Label1 = new QLabel("Версия на сервере:", this);
  Label1->setGeometry(14, 134, 150, 18);
  Label1->setAccessibleName(Label1->text());
  Memo1 = new QTextEdit(this);
  Memo1->setReadOnly(true);
  Memo1->setAcceptRichText(false);
  Memo1->setGeometry(14, 154, kWidth - 28, 52);
  Memo1->setAccessibleName("Версия на сервере");
  ApplyText(TVersion::Version, {kVersionPending});

  Panel1 = new QFrame(this);
  Panel1->setFrameShape(QFrame::Box);
  Panel1->setGeometry(14, 214, kWidth - 28, kHeight - 214 - 14);
  Panel1->setAutoFillBackground(true);
  QPalette tip = Panel1->palette();
  tip.setColor(QPalette::Window, tip.color(QPalette::ToolTipBase));
  Panel1->setPalette(tip);
  Memo2 = new QLabel(Panel1);
  Memo2->setTextFormat(Qt::PlainText);
  Memo2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // Read only: it takes no input, and a press on it drags the window.
  Memo2->setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont small = Memo2->font();
  small.setPixelSize(11);  // lines 13 pixels apart
  Memo2->setFont(small);
  Memo2->setAccessibleName("Описание программы");
  SetMemo2(AboutDescription());

  ScrollTimer = new QTimer(this);
  ScrollTimer->setInterval(TAboutScroll::kStepMs);
  connect(ScrollTimer, &QTimer::timeout, this, &TForm1::ScrollTimerTimer);

  OpenUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
  // Keys and dragging reach the window from every control (keyboard preview).
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>())
    child->installEventFilter(this);
  Memo1->viewport()->installEventFilter(this);

  Scroll.Tag = TAboutScroll::kSplash;
  if (!PublisherUrl(update_url, "").empty()) {
    Version = std::make_unique<TVersion>(
        update_url,
        [this](TVersion::Which which, std::vector<std::string> lines) {
          // Called on the fetching thread: the window changes on its own thread.
          QMetaObject::invokeMethod(
              this, [this, which, lines = std::move(lines)] { ApplyText(which, lines); },
              Qt::QueuedConnection);
        },
        fetch_timeout_s);
  }
}

TForm1::~TForm1() {
  Version.reset();  // no text arrives for a window that is gone
}

QLabel* TForm1::AddLink(const char* caption, const char* hint, const QString& target, int x,
                        int y) {
  auto* label = new QLabel(QString::fromUtf8(caption), this);
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  QPalette blue = label->palette();
  blue.setColor(QPalette::Active, QPalette::WindowText, QColor(0, 0, 255));
  blue.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 0, 255));
  label->setPalette(blue);
  label->setToolTip(QString::fromUtf8(hint));
  label->setAccessibleName(label->text());
  label->setAccessibleDescription(label->toolTip());
  label->setCursor(Qt::PointingHandCursor);
  label->setProperty(kTargetProperty, target);
  label->setEnabled(!target.isEmpty());
  label->adjustSize();
  label->move(x, y);
  return label;
}

QString TForm1::LinkTarget(const QLabel* label) const {
  return label ? label->property(kTargetProperty).toString() : QString();
}

void TForm1::ApplyText(TVersion::Which which, const std::vector<std::string>& lines) {
  if (which == TVersion::Info) {
    SetMemo2(lines);
    return;
  }
  Memo1->setPlainText(Lines(lines));
  // Centred lines.
  QTextCursor all(Memo1->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat centre;
  centre.setAlignment(Qt::AlignHCenter);
  all.mergeBlockFormat(centre);
}

void TForm1::SetMemo2(const std::vector<std::string>& lines) {
  memo2Lines_ = static_cast<int>(lines.size());
  Memo2->setText(Lines(lines));
  Scroll.SetLines(memo2Lines_);
  Memo2->setGeometry(0, isVisible() ? Scroll.MemoTop : 0, Panel1->width(),
                     std::max(Scroll.MemoHeight, 1));
}

void TForm1::Splash(int ms) {
  show();
  repaint();
  QEventLoop wait;
  QTimer::singleShot(ms, &wait, &QEventLoop::quit);
  wait.exec();
  hide();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!Scroll.Show(Panel1->height(), memo2Lines_)) return;  // the splash
  Memo2->setGeometry(0, Scroll.MemoTop, Panel1->width(), std::max(Scroll.MemoHeight, 1));
  ScrollTimer->start();
}

void TForm1::hideEvent(QHideEvent* event) {
  // Hidden, the window costs nothing: the scrolling stops.
  Scroll.Stop();
  ScrollTimer->stop();
  QWidget::hideEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit MainWindowClosed();
}

void TForm1::ScrollTimerTimer() {
  if (!Scroll.Tick()) {
    ScrollTimer->stop();
    return;
  }
  Memo2->move(0, Scroll.MemoTop);
}

void TForm1::Image1Click() {
  Scroll.Stop();
  hide();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
          key == Qt::Key_Space) {
        hide();
        return true;
      }
      return false;
    }
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      if (watched == Memo1 || watched == Memo1->viewport()) return false;  // text selection
      pressed_ = true;
      dragged_ = false;
      pressAt_ = mouse->globalPosition().toPoint();
      windowAt_ = pos();
      return true;
    }
    case QEvent::MouseMove: {
      if (!pressed_) return false;
      const QPoint moved = static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - pressAt_;
      if (!dragged_ && moved.manhattanLength() < 3) return true;
      dragged_ = true;
      move(windowAt_ + moved);
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!pressed_) return false;
      pressed_ = false;
      if (dragged_) return true;
      if (watched == Image1) {
        Image1Click();
      } else if (auto* label = qobject_cast<QLabel*>(watched); label && label->isEnabled()) {
        const QString target = LinkTarget(label);
        if (!target.isEmpty() && OpenUrl) OpenUrl(target);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace vigilo
