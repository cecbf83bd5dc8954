#pragma once
// A raw TCP client on loopback: it writes what a test gives it byte for byte and reads what
// comes back, each wait bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "lan/lanmsg.h"

namespace vigilo::test {

class RawClient {
 public:
  // Connects to 127.0.0.1:port from the given loopback source address.
  explicit RawClient(int port, const char* from = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in src{};
    src.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &src.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&src), sizeof src);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return ok_; }
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads until n bytes came, the peer closed, or nothing came for `waitMs`.
  std::string Read(std::size_t n, int waitMs = 20000) {
    std::string out;
    char buffer[256];
    for (pollfd p{fd_, POLLIN, 0}; out.size() < n && ::poll(&p, 1, waitMs) > 0;) {
      const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }
  // True when the peer closes (or resets) within waitMs without sending anything.
  bool ClosedByPeer(int waitMs = 20000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    char c;
    return ::recv(fd_, &c, 1, 0) <= 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

// Sends one message to 127.0.0.1:port as another computer would; throws ESockError.
inline void Post(int port, const std::string& from, const std::string& text) {
  TLanMsg m;
  m.Host = "127.0.0.1";
  m.Port = port;
  m.TimeOut = 20000;
  m.FromName = from;
  m.PostIt(text);
}

}  // namespace vigilo::test
