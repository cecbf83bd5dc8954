#include "core/headless.h"

#include <ostream>

#include "config/dmuser.h"
#include "core/check.h"
#include "mail/msmsgcls.h"

namespace vigilo {

int RunHeadlessCheck(AppEnvironment& env, std::ostream& out, std::ostream& err) {
  TDMU dmu(*env.Registry, *env.AutoStart, env.Folders.Home, env.ProgramFile, env.Passwords.get(),
           env.PasswordBackup.get());
  TCheckComponents c;
  CheckView view;  // nothing to show
  TCheckCycle check(*dmu.Settings, c.POPClient, c.POPMess, c.SMTPClient, c.SMTPmess, c.msRas1, view,
                    nullptr, c.Busy);

  // Decided by whether an error was caught: its text may well be empty.
  bool failed = false;
  std::string failure;
  try {
    check.StartCheck();
  } catch (const std::exception& e) {
    failed = true;
    failure = ms::ReplaceControls(e.what());
  }
  std::string text = check.StatusText();
  std::string line;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out << line << '\n';
      line.clear();
    } else {
      line += text[i];
    }
  }
  out.flush();
  if (failed) {
    err << "vigilo: " << failure << '\n';
    return kCheckFailed;
  }
  const CheckResult& r = check.LastResult();
  if (r.Active > 0 && r.LoggedIn == 0) return kCheckNoLogin;
  return r.Waiting > 0 ? kCheckMailWaits : kCheckNoMail;
}

}  // namespace vigilo
