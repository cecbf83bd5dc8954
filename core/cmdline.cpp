#include "core/cmdline.h"

namespace vigilo {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      c.Help = true;
    } else if (a == "--version") {
      c.Version = true;
    } else if (a == "--check") {
      c.Check = true;
    } else if (a == "--home") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        c.Error = "--home needs a folder";
        return c;
      }
      c.Home = args[++i];
    } else if (a.rfind("--home=", 0) == 0 && a.size() > 7) {
      c.Home = a.substr(7);
    } else {
      c.Error = "unknown argument: " + a;
      return c;
    }
  }
  return c;
}

std::string UsageText() {
  return "Usage: vigilo [--check] [--home DIR]\n"
         "Watches POP3 mailboxes from the desktop tray.\n"
         "\n"
         "  --home DIR   keep settings and files in DIR (default: $VIGILO_HOME, else\n"
         "               $XDG_DATA_HOME/vigilo with settings in $XDG_CONFIG_HOME/vigilo)\n"
         "  --check      check the mailboxes once without a display, print one line per\n"
         "               mailbox and exit: 0 mail waits, 1 no mail, 3 no mailbox could log in\n"
         "  --version    print the version and exit\n"
         "  --help       print this help and exit\n";
}

}  // namespace vigilo
