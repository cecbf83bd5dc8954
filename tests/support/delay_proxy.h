#pragma once
// A TCP proxy on 127.0.0.1 in front of a loopback port that holds every chunk it reads for a set
// time before passing it on, each way and in order: a link with latency, without privileges. One
// thread serves every connection; the destructor stops it and closes every socket.

#include <atomic>
#include <chrono>
#include <thread>

namespace vigilo::test {

class DelayProxy {
 public:
  // oneWay: the time each chunk is held; a round trip through the proxy takes twice that.
  DelayProxy(int targetPort, std::chrono::milliseconds oneWay);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }
  int Connections() const { return connections_; }

 private:
  void Run();

  int targetPort_;
  std::chrono::milliseconds delay_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace vigilo::test
