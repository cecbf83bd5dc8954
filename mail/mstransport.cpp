#include "mail/mstransport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "mail/mswsock.h"

namespace ms {

TmsPlainTransport::~TmsPlainTransport() {
  Close();
}

TmsIoResult TmsPlainTransport::Read(char* buffer, size_t length) {
  if (fd_ < 0) return TmsIoResult::Error(WSAENOTSOCK);
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, length, 0);
    if (n > 0) return TmsIoResult::Moved(static_cast<size_t>(n));
    if (n == 0) return TmsIoResult::PeerClosed();
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TmsIoResult::Wait(POLLIN);
    return TmsIoResult::Error(WinsockCodeFromErrno(errno));
  }
}

TmsIoResult TmsPlainTransport::Write(const char* buffer, size_t length) {
  if (fd_ < 0) return TmsIoResult::Error(WSAENOTSOCK);
  for (;;) {
    const ssize_t n = ::send(fd_, buffer, length, MSG_NOSIGNAL);
    if (n >= 0) return TmsIoResult::Moved(static_cast<size_t>(n));
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TmsIoResult::Wait(POLLOUT);
    return TmsIoResult::Error(WinsockCodeFromErrno(errno));
  }
}

void TmsPlainTransport::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace ms
