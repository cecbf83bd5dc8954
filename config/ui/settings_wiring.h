#pragma once
// How the settings window and the password prompt meet the tray data module: the
// settings command shows TForm3, the password gate asks TForm5, and the window uses
// the module's dial-up entries, icon set, sound and the mail client's account.

#include <string>

#include "platform/folders.h"

namespace vigilo {

class Tdm;
class TForm3;
class TForm5;

void ConnectSettingsWindows(Tdm& dm, TForm3& form, TForm5& prompt, const Folders& folders);

// After start-up, opens the settings on the configuration a first start created.
void OpenSettingsAfterStart(Tdm& dm);

}  // namespace vigilo
