#include "platform/errorlog.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace vigilo {

std::string ErrorLogStamp() {
  const time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
  return buf;
}

void AppendErrorLog(const std::filesystem::path& file, const std::string& who,
                    const std::string& message) {
  if (file.empty()) return;
  std::string line = ErrorLogStamp() + " " + who + " " + message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // One write call, so concurrent writers do not interleave within a line.
  [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
  close(fd);
}

}  // namespace vigilo
