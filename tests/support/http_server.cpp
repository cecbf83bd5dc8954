#include "tests/support/http_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

// True when a GET on 127.0.0.1:port is answered with an HTTP status line.
bool Answers(int port) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  char reply[5] = {};
  const bool ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0 &&
                  recv(fd, reply, sizeof reply, MSG_WAITALL) == sizeof reply &&
                  std::string(reply, sizeof reply) == "HTTP/";
  close(fd);
  return ok;
}

}  // namespace

int StartHttpServer(ServerProcess& process, const std::string& folder) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreePort();
    process.Start({"/usr/bin/python3", "-m", "http.server", std::to_string(port), "--bind",
                   "127.0.0.1", "--directory", folder},
                  "/dev/null");
    // A leftover server on the same port could have answered: ours must still be running.
    if (WaitUntil([&] { return !process.Alive() || Answers(port); }, 30000, 50) && process.Alive())
      return port;
    process.Stop();
  }
  throw std::runtime_error("http.server did not start");
}

}  // namespace vigilo::test
