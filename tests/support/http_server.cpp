#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

// True when a GET on 127.0.0.1:port is answered with an HTTP status line.
bool Answers(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  char reply[5] = {};
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                  send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0 &&
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
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         process.Alive() && std::chrono::steady_clock::now() < end;) {
      if (Answers(port) && process.Alive()) return port;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    process.Stop();
  }
  throw std::runtime_error("http.server did not start");
}

}  // namespace vigilo::test
