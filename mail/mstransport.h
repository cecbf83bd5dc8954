#pragma once
// The byte transport under the client socket. The socket reads and writes
// only through this interface, so a layer that encrypts the bytes (TLS) can
// be put between the socket and the TCP connection without the protocol
// classes noticing: it wraps the plain transport and returns WouldBlock with
// the poll events it needs while its own handshake or records are in flight.

#include <poll.h>

#include <cstddef>
#include <memory>

namespace ms {

struct TmsIoResult {
  enum Outcome { Data, WouldBlock, Closed, Failed };
  Outcome Kind = Failed;
  size_t Count = 0;      // bytes moved (Data)
  short WaitEvents = 0;  // POLLIN / POLLOUT to wait for (WouldBlock)
  int ErrorCode = 0;     // Winsock error number (Failed)

  static TmsIoResult Moved(size_t n) { return {Data, n, 0, 0}; }
  static TmsIoResult Wait(short events) { return {WouldBlock, 0, events, 0}; }
  static TmsIoResult PeerClosed() { return {Closed, 0, 0, 0}; }
  static TmsIoResult Error(int code) { return {Failed, 0, 0, code}; }
};

class TmsTransport {
 public:
  virtual ~TmsTransport() = default;
  // Never block: data, WouldBlock (with the events to poll for), Closed
  // (orderly end of the peer's data) or Failed.
  virtual TmsIoResult Read(char* buffer, size_t length) = 0;
  virtual TmsIoResult Write(const char* buffer, size_t length) = 0;
  // The descriptor to poll while waiting.
  virtual int Handle() const = 0;
  // Ends the connection and releases the descriptor; safe to call twice.
  virtual void Close() = 0;
};

// The plain TCP connection: a non-blocking stream socket, owned.
class TmsPlainTransport : public TmsTransport {
 public:
  explicit TmsPlainTransport(int fd) : fd_(fd) {}
  ~TmsPlainTransport() override;
  TmsIoResult Read(char* buffer, size_t length) override;
  TmsIoResult Write(const char* buffer, size_t length) override;
  int Handle() const override { return fd_; }
  void Close() override;

 private:
  int fd_;
};

}  // namespace ms
