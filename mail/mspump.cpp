#include "mail/mspump.h"

#include <mutex>
#include <utility>

namespace ms {
namespace {
std::mutex pump_mutex;
std::function<void()> pump;
}  // namespace

void SetMessagePump(std::function<void()> p) {
  std::lock_guard<std::mutex> lock(pump_mutex);
  pump = std::move(p);
}

void PumpMessages() {
  std::function<void()> p;
  {
    std::lock_guard<std::mutex> lock(pump_mutex);
    p = pump;
  }
  if (p) p();
}

}  // namespace ms
