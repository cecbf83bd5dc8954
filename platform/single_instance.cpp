#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

namespace vigilo {

SingleInstance::Result SingleInstance::Acquire(const std::string& runtime_dir,
                                               std::unique_ptr<SingleInstance>* out,
                                               std::string* error) {
  const std::string path = runtime_dir + "CopyOfVigilo.lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (error) *error = "cannot open " + path + ": " + strerror(errno);
    return Result::Failed;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return Result::HeldByAnother;
    if (error) *error = "cannot lock " + path + ": " + strerror(err);
    return Result::Failed;
  }
  out->reset(new SingleInstance(fd));
  return Result::Acquired;
}

SingleInstance::~SingleInstance() {
  close(fd_);
}

}  // namespace vigilo
