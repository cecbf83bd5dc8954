#pragma once
// The program's command line.

#include <string>
#include <vector>

namespace vigilo {

struct CommandLine {
  bool Help = false;
  bool Version = false;
  bool Check = false;  // --check: one headless check, then exit
  std::string Home;    // --home DIR ("" when not given)
  std::string Error;   // not empty: the line cannot be used
};

// args without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace vigilo
