#pragma once
// Checks after the computer wakes and when the network comes up, in the tray program.

#include <memory>

namespace vigilo {

class Tdm;

// Keeps the listener on the system bus while it lives; destroy it before `tdm`.
class WakeupWatch {
 public:
  virtual ~WakeupWatch() = default;
};

// Listens on the system bus for Tdm. Without a system bus, logind or NetworkManager
// nothing changes and nothing is said.
std::unique_ptr<WakeupWatch> WireWakeup(Tdm& tdm);

}  // namespace vigilo
