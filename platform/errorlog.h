#pragma once
// The program's "error.log": one line per problem, "date time who message", date and
// time in the short date and long time formats ("06.12.2026 20:19:00").

#include <filesystem>
#include <string>

namespace vigilo {

// Current local date and time as "dd.MM.yyyy HH:mm:ss".
std::string ErrorLogStamp();

// Appends "stamp who message\n" to the file (created with mode 0600, never opened
// through a symbolic link). Failures are ignored.
void AppendErrorLog(const std::filesystem::path& file, const std::string& who,
                    const std::string& message);
// The same, unless the log already holds that line (whatever its stamp): for
// conditions that persist and are found again at every start.
void AppendErrorLogOnce(const std::filesystem::path& file, const std::string& who,
                        const std::string& message);

}  // namespace vigilo
