#pragma once
// The settings window and the password prompt in the program.

#include <memory>

#include "platform/folders.h"

namespace vigilo {

class Tdm;
struct SettingsWindows;

// Creates TForm3 and TForm5 and connects them to dm; with first_start the settings
// open once the program runs. The windows live as long as the result.
std::shared_ptr<SettingsWindows> WireSettings(Tdm& dm, const Folders& folders, bool first_start);

}  // namespace vigilo
