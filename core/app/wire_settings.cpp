#include "core/app/wire_settings.h"

#include "config/ui/parol.h"
#include "config/ui/settings_wiring.h"
#include "config/ui/setuser.h"
#include "core/ui/datm.h"

namespace vigilo {

struct SettingsWindows {
  SettingsWindows(tusers& settings, const Folders& folders)
      : Form(settings, Prompt, folders.Config + "vg.ini") {}
  TForm5 Prompt;
  TForm3 Form;
};

std::shared_ptr<SettingsWindows> WireSettings(Tdm& dm, const Folders& folders, bool first_start) {
  auto windows = std::make_shared<SettingsWindows>(dm.Settings(), folders);
  ConnectSettingsWindows(dm, windows->Form, windows->Prompt, folders);
  if (first_start) OpenSettingsAfterStart(dm);
  return windows;
}

}  // namespace vigilo
