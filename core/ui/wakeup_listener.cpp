#include "core/ui/wakeup_listener.h"

namespace vigilo {

namespace {

constexpr char kLogin[] = "org.freedesktop.login1";
constexpr char kLoginPath[] = "/org/freedesktop/login1";
constexpr char kLoginManager[] = "org.freedesktop.login1.Manager";
constexpr char kNetwork[] = "org.freedesktop.NetworkManager";
constexpr char kNetworkPath[] = "/org/freedesktop/NetworkManager";

}  // namespace

WakeupListener::WakeupListener(const QDBusConnection& bus, WakeupChecks::Tray& tray,
                               WakeupChecks::Timing timing, QObject* parent)
    : QObject(parent),
      bus_(bus),
      checks_(
          tray, [this](int ms) { timer_.start(ms); }, timing) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { checks_.Due(); });
  if (!bus_.isConnected()) return;
  // Only the services' own signals count: the match names their bus names, which
  // only they may own on the system bus.
  const bool sleep = bus_.connect(kLogin, kLoginPath, kLoginManager, "PrepareForSleep", this,
                                  SLOT(PrepareForSleep(bool)));
  const bool network = bus_.connect(kNetwork, kNetworkPath, kNetwork, "StateChanged", this,
                                    SLOT(StateChanged(uint)));
  listening_ = sleep && network;
}

WakeupListener::~WakeupListener() {
  if (!bus_.isConnected()) return;
  bus_.disconnect(kLogin, kLoginPath, kLoginManager, "PrepareForSleep", this,
                  SLOT(PrepareForSleep(bool)));
  bus_.disconnect(kNetwork, kNetworkPath, kNetwork, "StateChanged", this, SLOT(StateChanged(uint)));
}

void WakeupListener::PrepareForSleep(bool sleeping) {
  checks_.PrepareForSleep(sleeping);
}

void WakeupListener::StateChanged(uint state) {
  checks_.NetworkState(state);
}

}  // namespace vigilo
