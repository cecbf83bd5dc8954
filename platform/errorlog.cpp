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

namespace {

std::string Tail(const std::string& who, const std::string& message) {
  std::string tail = " " + who + " " + message;
  for (char& c : tail) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return tail;
}

}  // namespace

void AppendErrorLog(const std::filesystem::path& file, const std::string& who,
                    const std::string& message) {
  if (file.empty()) return;
  const std::string line = ErrorLogStamp() + Tail(who, message) + "\n";
  // Never through a symbolic link: a planted link must not make us append anywhere else.
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  // One write call, so concurrent writers do not interleave within a line.
  [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
  close(fd);
}

void AppendErrorLogOnce(const std::filesystem::path& file, const std::string& who,
                        const std::string& message) {
  if (file.empty()) return;
  const std::string tail = Tail(who, message) + "\n";
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    // The last megabyte is enough to remember: a log that grew past it may repeat it.
    constexpr off_t kLook = 1 << 20;
    const off_t size = lseek(fd, 0, SEEK_END);
    const off_t from = size > kLook ? size - kLook : 0;
    std::string text(static_cast<std::size_t>(size - from), '\0');
    const ssize_t n = size > 0 ? pread(fd, text.data(), text.size(), from) : 0;
    close(fd);
    if (n > 0) {
      text.resize(static_cast<std::size_t>(n));
      for (std::size_t p = text.find(tail); p != std::string::npos; p = text.find(tail, p + 1)) {
        // Only a whole line counts: the tail after the stamp, up to the line end.
        const std::size_t start = text.rfind('\n', p);
        const std::size_t lineStart = start == std::string::npos ? 0 : start + 1;
        if (p - lineStart == ErrorLogStamp().size()) return;
      }
    }
  }
  AppendErrorLog(file, who, message);
}

}  // namespace vigilo
