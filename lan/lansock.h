#pragma once
// The socket base of the LAN message components and its exceptions. One TCP stream
// socket over IPv4, non-blocking, waited on with poll in short slices; between slices
// the process-wide message pump runs, so a caller on the GUI thread stays responsive.

#include <netinet/in.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vigilo {

// A socket failure: one of the component's texts, or "code:text" for a system error.
class ESockError : public std::runtime_error {
 public:
  explicit ESockError(const std::string& text) : std::runtime_error(text) {}
};

// A transfer cancelled by Abort ("Socket send aborted").
class EAbortError : public std::runtime_error {
 public:
  explicit EAbortError(const std::string& text) : std::runtime_error(text) {}
};

// "code:text" for an errno value, with the Winsock numbering of the program's texts.
std::string LanErrorText(int err);

class TLanSocket {
 public:
  TLanSocket();
  virtual ~TLanSocket();
  TLanSocket(const TLanSocket&) = delete;
  TLanSocket& operator=(const TLanSocket&) = delete;

  std::string Host;
  int32_t Port = 6711;
  // Time limit of each wait in milliseconds; 0 means none.
  int32_t TimeOut = 0;

  bool Connected() const { return connected_; }

  // Resolves Host and connects to Host:Port. Raises ESockError ("Connection Timed out",
  // "Connection Canceled", "Host Lookup Failed", or the system's error).
  virtual void Connect();
  // Closes the socket; the next Connect opens a fresh one.
  virtual void Disconnect();
  // Cancels the wait in progress (from any thread); the waiting call raises.
  virtual void Abort();

  // Sends all of data. Raises EAbortError when cancelled, ESockError on failure or time-out.
  void Write(const std::string& data);
  // Reads exactly n bytes; "" when the peer closes first.
  std::string Read(std::size_t n);

 protected:
  using Clock = std::chrono::steady_clock;
  // Waits until fd is ready for `events` or the deadline passes; runs the message pump
  // between slices. Returns false on time-out; raises EAbortError when cancelled.
  bool WaitFor(short events, Clock::time_point deadline, const char* abortText);
  Clock::time_point Deadline() const;
  in_addr ResolveHost();

  int fd_ = -1;
  bool connected_ = false;
  std::atomic<bool> cancel_{false};
};

}  // namespace vigilo
