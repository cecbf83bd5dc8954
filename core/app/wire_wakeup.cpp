#include "core/app/wire_wakeup.h"

#include <QDBusConnection>

#include "core/ui/wakeup_listener.h"
#include "core/ui/wakeup_tray.h"

namespace vigilo {

namespace {

class Watch : public WakeupWatch {
 public:
  explicit Watch(Tdm& tdm) : tray_(tdm), listener_(QDBusConnection::systemBus(), tray_) {}

 private:
  TdmWakeupTray tray_;
  WakeupListener listener_;
};

}  // namespace

std::unique_ptr<WakeupWatch> WireWakeup(Tdm& tdm) {
  return std::make_unique<Watch>(tdm);
}

}  // namespace vigilo
