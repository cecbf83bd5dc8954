#pragma once
// The new-mail notice's movement without widgets: the words rise 61 pixels, one pixel
// a step, from just below the lower edge of the primary screen at its right side,
// and sink back the same way, after which the notice is hidden. A notice asked for
// while one is on its way is dropped, so two never overlap.

namespace vigilo {

class TNoticeMotion {
 public:
  static constexpr int kRise = 61;    // pixels up, then as many down
  static constexpr int kMargin = 30;  // from the screen's right edge to the text's end
  static constexpr int kStepMs = 15;  // pause of each step: about one system clock tick

  // Starts a notice; false (and nothing changes) while one is running.
  bool Start();
  // One step of the running notice. Returns true while it is still to be shown at
  // Top; false when it is over (the window is hidden now) or none runs.
  bool Step();
  bool Running() const { return step_ >= 0; }
  // How far the notice has risen above its starting place.
  int Lift() const;

  // Window position on a screen at (x, y) of w x h pixels, for text `textWidth`
  // pixels wide: the text ends kMargin pixels from the right edge; top starts at
  // the lower edge.
  static int Left(int x, int w, int textWidth) { return x + w - textWidth - kMargin; }
  int Top(int y, int h) const { return y + h - Lift(); }

 private:
  int step_ = -1;  // 0 .. 2 * kRise while running
};

}  // namespace vigilo
