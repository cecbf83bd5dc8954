#include "core/notice.h"

namespace vigilo {

bool TNoticeMotion::Start() {
  if (Running()) return false;
  step_ = 0;
  return true;
}

bool TNoticeMotion::Step() {
  if (!Running()) return false;
  if (++step_ > 2 * kRise) {
    step_ = -1;
    return false;
  }
  return true;
}

int TNoticeMotion::Lift() const {
  if (!Running()) return 0;
  return step_ <= kRise ? step_ : 2 * kRise - step_;
}

}  // namespace vigilo
