#pragma once
// The tray program: application set-up, the data modules and windows in their
// order of creation, the message loop.

#include "core/environment.h"

namespace vigilo {

// Application title and help file name.
inline constexpr const char* kAppTitle = "Vigilo - проверка новой почты";
inline constexpr const char* kHelpFile = "vigilo.hlp";

// Runs the tray program until it ends; returns the exit code. The caller holds the
// single-instance lock.
int RunTrayProgram(int argc, char** argv, AppEnvironment& env);

}  // namespace vigilo
