#pragma once
// TVF: the new-mail notice. The words "Пришла новая почта" in blue, without frame or
// background (the window is shaped to the letters), rise from below the lower right
// corner of the primary screen and sink back, moved by a timer of the GUI thread.
// Where a window cannot place itself (a Wayland session) the words go to a desktop
// notification instead.

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "core/notice.h"

namespace vigilo {

class TVF : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kText = "Пришла новая почта";
  static constexpr int kWidth = 535;
  static constexpr int kHeight = 277;

  explicit TVF(QWidget* parent = nullptr);

  // Shows one notice; one asked for while another runs is dropped.
  void Go();

  // The drawing surface: the words in black on white at (30, 2).
  QImage Image1;
  TNoticeMotion Motion;
  QTimer* StepTimer = nullptr;
  // Width of the words in the notice's font.
  int TextWidth() const { return textWidth_; }
  // Where Go sends the words instead of the window (a Wayland session); set by the
  // program's assembly.
  std::function<void(const QString& text)> Notify;

  // True when the window system lets a window place itself on the screen.
  static bool CanPlaceWindows();

 private:
  void Draw();
  void StepTimerTimer();
  void Place();
  int textWidth_ = 0;
};

}  // namespace vigilo
