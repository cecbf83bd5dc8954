#pragma once
// The about window (also the main window, with the splash at start) and the new-mail
// notice, and their connections to the tray data module.

#include <memory>

#include "core/environment.h"

namespace vigilo {

class TForm1;
class TVF;
class Tdm;

// Creates TForm1, which starts the version check when the settings name the
// publisher's server, and shows it as the splash.
std::unique_ptr<TForm1> CreateAboutWindow(AppEnvironment& env);
// Creates the notice TVF; where windows cannot place themselves, its words go to a
// desktop notification of the tray icon instead.
std::unique_ptr<TVF> CreateNoticeWindow();
// "О программе" shows TForm1; closing TForm1 as the main window ends the program.
void WireAbout(TForm1& form1, Tdm& tdm);

}  // namespace vigilo
