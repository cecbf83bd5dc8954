#include "core/app/wire_lan.h"

#include <cstdlib>
#include <string>

#include "core/ui/datm.h"
#include "lan/ui/chat_form.h"
#include "platform/errorlog.h"
#include "platform/folders.h"

namespace vigilo {

namespace {

int32_t LanPort() {
  const char* text = std::getenv("VIGILO_LAN_PORT");
  if (!text || !*text) return kLanPort;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  return (*end == '\0' && port > 0 && port < 65536) ? static_cast<int32_t>(port) : kLanPort;
}

}  // namespace

std::unique_ptr<TForm7> WireLan(Tdm& dm, const Folders& folders, SoundPlayer* sound) {
  Form7Options options;
  options.Port = LanPort();
  options.VgIni = folders.Config + "vg.ini";
  options.Sound = sound;
  options.SoundName = [&dm] { return dm.Settings().Sound; };
  const std::string log = folders.Home + "error.log";
  options.LogError = [log](const std::string& error) { AppendErrorLog(log, "LAN", error); };
  auto form = std::make_unique<TForm7>(options);
  if (!form->ListenError().empty())
    AppendErrorLog(log, "LAN",
                   "Port " + std::to_string(options.Port) +
                       " is taken, LAN messages are not received: " + form->ListenError());
  TForm7* window = form.get();
  QObject::connect(&dm, &Tdm::MessengerRequested, window, [window] { window->ShowMessenger(); });
  return form;
}

}  // namespace vigilo
