#pragma once
// The check timer's interval from the setting Delay (seconds between checks).

#include <cstdint>

namespace vigilo {

// Delay x 1000 ms; 0 (or less) means the timer never ticks. Intervals too long for
// a timer are held at the longest one it can count.
int TimerIntervalMs(int32_t delay_seconds);

}  // namespace vigilo
