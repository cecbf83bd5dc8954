#pragma once
// Tprogress: the small progress window of a check, a dial and a download. A
// borderless, always-on-top window of 177 x 28 pixels with a progress bar Bar
// (0..100 by default), a left label Label1 and a right-aligned bold label Label2,
// created for each use and released after it. A small "Остановить" button at its
// right edge, its context menu and closing it ask to stop the work it shows.

#include <QWidget>

class QLabel;
class QProgressBar;
class QToolButton;

namespace vigilo {

class Tprogress : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 177;
  static constexpr int kHeight = 28;

  explicit Tprogress(QWidget* parent = nullptr);

  // Moves the window to the lower right of the whole desktop (all screens): 3 pixels
  // from its right edge and 20 from its bottom edge.
  void PlaceLowerRight();

  QProgressBar* Bar = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QToolButton* StopButton = nullptr;  // "Остановить"

 signals:
  // The user asked to stop (the button, the context menu or closing the window).
  void StopRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace vigilo
