#pragma once
// A one-connection scripted server on 127.0.0.1 that can switch to TLS in the
// middle of its script (or speak TLS from the start), for the mail library's
// TLS tests: forged lines before a handshake, certificates a real server would
// not show, what the client sent before it gave up. Runs on its own thread.

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/mail/tls_test_certs.h"

namespace tlstest {

struct Step {
  enum Kind { Send, Expect, StartTls, Sleep } kind;
  std::string text;
  int ms = 0;
};
inline Step Send(std::string s) {
  return {Step::Send, std::move(s), 0};
}
inline Step Expect(std::string s) {
  return {Step::Expect, std::move(s), 0};
}
inline Step StartTls() {
  return {Step::StartTls, "", 0};
}
inline Step Sleep(int ms) {
  return {Step::Sleep, "", ms};
}

class TlsScriptServer {
 public:
  // cert: what the server shows when it turns to TLS; implicitTls makes the
  // handshake before the first step.
  TlsScriptServer(const Cert& cert, std::vector<Step> script, bool implicitTls = false)
      : script_(std::move(script)), implicit_(implicitTls) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx_, cert.x);
    SSL_CTX_use_PrivateKey(ctx_, cert.key);
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~TlsScriptServer() {
    stop_ = true;
    thread_.join();
    SSL_CTX_free(ctx_);
    ::close(listen_);
  }

  int Port() const { return port_; }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> l(mutex_);
    return received_;
  }
  // Waits for the end of the script; the first failure, or "" when it ran through.
  std::string Outcome(int timeoutMs = 10000) {
    for (int waited = 0; !done_ && waited < timeoutMs; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard<std::mutex> l(mutex_);
    return done_ ? failure_ : "script did not finish";
  }

 private:
  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> l(mutex_);
    if (failure_.empty()) failure_ = why;
  }

  bool Accept() {
    for (int i = 0; i < 1000 && !stop_; ++i) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) {
        fd_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        timeval tv{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        return fd_ >= 0;
      }
    }
    return false;
  }

  bool Handshake() {
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    if (SSL_accept(ssl_) != 1) {
      char buf[256];
      ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
      Fail(std::string("handshake failed: ") + buf);
      ERR_clear_error();
      return false;
    }
    return true;
  }

  bool ReadByte(char& c) {
    if (ssl_) return SSL_read(ssl_, &c, 1) == 1;
    return ::recv(fd_, &c, 1, 0) == 1;
  }

  bool ReadLine(std::string& line) {
    line.clear();
    char c;
    while (ReadByte(c)) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line += c;
    }
    return false;
  }

  bool Write(const std::string& s) {
    if (ssl_) return SSL_write(ssl_, s.data(), static_cast<int>(s.size())) > 0;
    return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }

  void Run() {
    if (!Accept()) {
      Fail("no connection");
    } else if (!implicit_ || Handshake()) {
      for (const Step& s : script_) {
        if (s.kind == Step::Send) {
          if (!Write(s.text)) {
            Fail("send failed");
            break;
          }
        } else if (s.kind == Step::Expect) {
          std::string line;
          if (!ReadLine(line)) {
            Fail("connection ended while expecting " + s.text);
            break;
          }
          {
            std::lock_guard<std::mutex> l(mutex_);
            received_.push_back(line);
          }
          if (line != s.text) {
            Fail("expected '" + s.text + "', got '" + line + "'");
            break;
          }
        } else if (s.kind == Step::StartTls) {
          if (!Handshake()) break;
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
        }
      }
      // Whatever else the client sends is recorded until it closes.
      std::string line;
      while (failure_.empty() && ReadLine(line)) {
        std::lock_guard<std::mutex> l(mutex_);
        received_.push_back(line);
      }
    }
    if (ssl_) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    if (fd_ >= 0) ::close(fd_);
    done_ = true;
  }

  std::vector<Step> script_;
  bool implicit_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  int listen_ = -1, fd_ = -1, port_ = 0;
  std::atomic<bool> stop_{false}, done_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace tlstest
