#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vigilo {
namespace {
int pipe_fds[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
  const int saved = errno;
  const char b = 1;
  [[maybe_unused]] const ssize_t n = write(pipe_fds[1], &b, 1);
  errno = saved;
}
}  // namespace

void FailWritesBeyondFileSizeLimit() {
  signal(SIGXFSZ, SIG_IGN);
}

void TrimWorkingSet() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

int InstallSessionEndSignals() {
  if (pipe_fds[0] >= 0) return pipe_fds[0];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_fds[0] = pipe_fds[1] = -1;
    return -1;
  }
  struct sigaction sa = {};
  sa.sa_handler = OnEndSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  return pipe_fds[0];
}

int SessionEndFd() {
  return pipe_fds[0];
}

void ConsumeSessionEnd() {
  char buf[64];
  while (pipe_fds[0] >= 0 && read(pipe_fds[0], buf, sizeof buf) > 0) {
  }
}

}  // namespace vigilo
