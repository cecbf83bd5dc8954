#pragma once
// The headless check (vigilo --check): one check over the stored configurations
// without a display, for a status bar or a script. It writes "error.log" as the tray
// program does, prints the tooltip the check ends with (one line per configuration,
// or "Новой почты нет"), plays no sound and shows no notice.

#include <iosfwd>

#include "core/environment.h"

namespace vigilo {

// Exit codes of the headless check.
inline constexpr int kCheckMailWaits = 0;
inline constexpr int kCheckNoMail = 1;
inline constexpr int kCheckNoLogin = 3;  // no active configuration could log in
inline constexpr int kCheckFailed = 4;   // an error after a login ended the check

int RunHeadlessCheck(AppEnvironment& env, std::ostream& out, std::ostream& err);

}  // namespace vigilo
