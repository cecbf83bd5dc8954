#pragma once
// The process-wide message pump. Every wait loop of the library calls
// PumpMessages() between its short poll slices, so that a program with a user
// interface stays responsive while a synchronous network call waits. The
// default pump does nothing; a program installs its own with SetMessagePump.

#include <functional>

namespace ms {

void SetMessagePump(std::function<void()> pump);
void PumpMessages();

}  // namespace ms
