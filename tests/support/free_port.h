#pragma once
// Ports on 127.0.0.1 for tests.

namespace vigilo::test {

// A port that was free a moment ago. It is released before the caller uses it, so a
// server started on it must retry with another one when its bind fails.
int FreePort();

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
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace vigilo::test
