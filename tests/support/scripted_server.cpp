#include "tests/support/scripted_server.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

constexpr int kSliceMs = 20;
constexpr size_t kMaxLine = 1 << 20;   // a runaway client cannot grow the buffer without bound
constexpr int kLingerMs = 1000;        // time the client gets to read the last reply
constexpr int kReadTimeoutMs = 15000;  // how long an Expect waits for the client's line

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
  listenFd_ = BindLoopback(port_, 8);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (connFd_ >= 0) close(connFd_);
  if (listenFd_ >= 0) close(listenFd_);
}

std::vector<std::string> ScriptedServer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool ScriptedServer::Finished(int waitMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return ended_; });
  return finished_;
}

std::string ScriptedServer::Failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

int ScriptedServer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void ScriptedServer::Fail(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_.empty()) failure_ = why;
}

bool ScriptedServer::AcceptNext() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    int r = poll(&p, 1, kSliceMs);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;  // each Send step leaves at once, however small
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connFd_ = fd;
    buffer_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    return true;
  }
  return false;
}

// Half-closes, then lets the client read what was sent before the socket goes: closing with
// unread input would reset the connection and could destroy the last reply in flight.
void ScriptedServer::CloseConnection() {
  if (connFd_ < 0) return;
  if (ssl_) {
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  shutdown(connFd_, SHUT_WR);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  char sink[4096];
  while (!stop_ && std::chrono::steady_clock::now() < until) {
    pollfd p{connFd_, POLLIN, 0};
    int r = poll(&p, 1, kSliceMs);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    ssize_t n = recv(connFd_, sink, sizeof sink, 0);
    if (n <= 0) break;
  }
  close(connFd_);
  connFd_ = -1;
}

bool ScriptedServer::SendAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size() && !stop_) {
    ssize_t n = ssl_ ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                     : send(connFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return done == bytes.size();
}

bool ScriptedServer::ReadLine(std::string& line) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
  for (;;) {
    size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(line);
      return true;
    }
    if (buffer_.size() > kMaxLine) {
      Fail("line longer than " + std::to_string(kMaxLine) + " bytes");
      return false;
    }
    if (stop_) return false;
    if (std::chrono::steady_clock::now() >= until) {
      Fail("timed out waiting for a line from the client");
      return false;
    }
    pollfd p{connFd_, POLLIN, 0};
    int r = ssl_ && SSL_pending(ssl_) > 0 ? 1 : poll(&p, 1, kSliceMs);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    char chunk[4096];
    ssize_t n = ssl_ ? SSL_read(ssl_, chunk, sizeof chunk) : recv(connFd_, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      Fail(n == 0 ? "client closed the connection" : "read error " + std::to_string(errno));
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

// A blocking handshake, bounded by a receive time-out; what the client sent in plain text before
// it is dropped.
bool ScriptedServer::StartTlsWith(const Step& step) {
  // OpenSSL writes with plain send(): a client gone away must not end the test program.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  const size_t lf = step.text.find('\n');
  const std::string cert = step.text.substr(0, lf), key = step.text.substr(lf + 1);
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  bool ok = ctx && SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) == 1 &&
            SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) == 1;
  if (ok) {
    timeval tv{kReadTimeoutMs / 1000, 0};
    setsockopt(connFd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ssl_ = SSL_new(ctx);
    SSL_set_fd(ssl_, connFd_);
    buffer_.clear();
    ok = SSL_accept(ssl_) == 1;
  }
  SSL_CTX_free(ctx);  // the connection holds its own reference
  if (ok) return true;
  char why[256];
  ERR_error_string_n(ERR_get_error(), why, sizeof why);
  ERR_clear_error();
  Fail(std::string("TLS handshake failed: ") + why);
  return false;
}

void ScriptedServer::Run() {
  bool ok = true;
  for (size_t i = 0; i < script_.size() && ok && !stop_; ++i) {
    const Step& step = script_[i];
    if (connFd_ < 0 && !(ok = AcceptNext())) break;
    std::string line;
    switch (step.kind) {
      case Step::Send:
        ok = SendAll(step.text);
        if (!ok) Fail("could not send step " + std::to_string(i));
        break;
      case Step::Expect:
        ok = ReadLine(line) && line == step.text;
        if (!ok) Fail("expected \"" + step.text + "\", got \"" + line + "\"");
        break;
      case Step::ExpectUntil:
        do {
          ok = ReadLine(line);
        } while (ok && line != step.text);
        if (!ok) Fail("expected a line \"" + step.text + "\"");
        break;
      case Step::Sleep:
        for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.ms);
             !stop_ && std::chrono::steady_clock::now() < until;)
          std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        break;
      case Step::Close:
        CloseConnection();
        break;
      case Step::StartTls:
        ok = StartTlsWith(step);
        break;
    }
  }
  bool complete = ok && !stop_;
  close(listenFd_);  // later connection attempts are refused
  listenFd_ = -1;
  {
    // Report the result before the closing linger, so Finished() does not wait for it.
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = complete;
    ended_ = true;
  }
  done_.notify_all();
  CloseConnection();
}

}  // namespace vigilo::test
