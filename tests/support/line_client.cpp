#include "tests/support/line_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace vigilo::test {

using Clock = std::chrono::steady_clock;

LineClient::LineClient(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

LineClient::~LineClient() {
  if (fd_ >= 0) close(fd_);
}

bool LineClient::Write(const std::string& bytes) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return done == bytes.size();
}

std::string LineClient::ReadLine(int timeoutMs, bool* ok) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (ok) *ok = false;
  while (fd_ >= 0) {
    size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      std::string line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (ok) *ok = true;
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    buffer_.append(buf, static_cast<size_t>(n));
  }
  return {};
}

std::string LineClient::Command(const std::string& command, int timeoutMs) {
  if (!Write(command + "\r\n")) return {};
  return ReadLine(timeoutMs);
}

std::string LineClient::ReadMultiline(int timeoutMs) {
  std::string out;
  for (;;) {
    bool ok = false;
    std::string line = ReadLine(timeoutMs, &ok);
    if (!ok || line == ".") break;
    if (line.size() > 1 && line[0] == '.') line.erase(0, 1);
    out += line + "\r\n";
  }
  return out;
}

std::string LineClient::ReadSmtpReply(int timeoutMs) {
  for (;;) {
    bool ok = false;
    std::string line = ReadLine(timeoutMs, &ok);
    if (!ok) return {};
    if (line.size() < 4 || line[3] != '-') return line;
  }
}

bool LineClient::ClosedByPeer(int timeoutMs) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd_ >= 0 && Clock::now() < until) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
  }
  return false;
}

}  // namespace vigilo::test
