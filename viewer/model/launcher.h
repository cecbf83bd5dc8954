#pragma once
// Starting the programs the viewer hands a file to: each argument is passed as one
// argument, never through a shell.

#include <string>
#include <vector>

namespace vigilo {

// Starts `program` detached with `args`. False when it cannot be started.
bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& args);
// Opens a local file (an absolute path) or a web address with the desktop's program for it.
bool OpenWithDesktop(const std::string& path_or_url);

}  // namespace vigilo
