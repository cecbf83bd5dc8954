#include "core/timing.h"

#include <limits>

namespace vigilo {

int TimerIntervalMs(int32_t delay_seconds) {
  if (delay_seconds <= 0) return 0;
  const int64_t ms = static_cast<int64_t>(delay_seconds) * 1000;
  return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                              : static_cast<int>(ms);
}

}  // namespace vigilo
