#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vigilo::test {
namespace {

// A socket bound to a port the system chose; returns the descriptor and sets port.
int BindAnyPort(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("FreePort: socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("FreePort: bind failed");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

int FreePort() {
  int port = 0;
  close(BindAnyPort(port));
  return port;
}

ClosedPort::ClosedPort() : fd_(BindAnyPort(port_)) {}

ClosedPort::~ClosedPort() {
  close(fd_);
}

}  // namespace vigilo::test
