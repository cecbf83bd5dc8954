#pragma once
// Ports and sockets on 127.0.0.1 for tests.

#include <vector>

namespace vigilo::test {

// A port that was free a moment ago. It is released before the caller uses it, so a
// server started on it must retry with another one when its bind fails.
int FreePort();
// `count` different such ports.
std::vector<int> FreePorts(int count);

// A socket bound to a port the system chose (set in `port`), listening when backlog > 0;
// throws std::runtime_error on failure.
int BindLoopback(int& port, int backlog = 0);
// A connected socket, or -1.
int ConnectLoopback(int port);

// A port held bound, but not listening, for the object's lifetime: nobody else can
// take it, and every connection to it is refused.
class ClosedPort {
 public:
  ClosedPort();
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;
  int Port() const { return port_; }

 private:
  int port_ = 0;  // before fd_: set while fd_ is initialised
  int fd_ = -1;
};

}  // namespace vigilo::test
