#pragma once
// The client socket: one TCP connection to a host, text lines, server replies,
// dot-terminated blocks, chunked bodies and streams, with an inactivity
// time-out. Calls are synchronous; while they wait they poll the connection in
// short slices and run the process-wide message pump between slices (see
// mail/mspump.h). Every failure is raised as an exception of mail/msexcept.h.
//
// The bytes go through a TmsTransport (mail/mstransport.h). After the TCP
// connection is made, TransportLayer (when set) may wrap the plain transport,
// for example in TLS; a layer can also be put in later with SetTransport.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "mail/mstransport.h"

namespace ms {

class TmsSocketBase;
class TmsClientSocket;

using TmsNotifyEvent = std::function<void(TmsSocketBase& Sender)>;
// Perc 0..100 or -1 when the total is unknown; ByteCount bytes moved so far in
// this operation; LineCount lines received so far, or -1.
using TmsProgressEvent =
    std::function<void(TmsSocketBase& Sender, int Perc, int ByteCount, int LineCount)>;

class TmsSocketBase {
 public:
  TmsSocketBase() = default;
  virtual ~TmsSocketBase();
  TmsSocketBase(const TmsSocketBase&) = delete;
  TmsSocketBase& operator=(const TmsSocketBase&) = delete;

  // Seconds without progress after which a waiting operation fails with
  // EmsTimedOutError; values below 1 count as 1. Not used in blocking mode.
  int TimeOut = 60;
  // Blocking mode: no inactivity time-out and no message pump while waiting.
  bool Blocking = false;

  std::string Version() const { return "2.02"; }

  // The transport of the open connection, nullptr when closed.
  TmsTransport* Transport() const { return transport_.get(); }
  // Bytes received but not yet read are dropped with the transport they came from
  // (nothing read ahead in plain text survives a switch to TLS).
  // Output queued but not yet written goes the same way.
  void SetTransport(std::unique_ptr<TmsTransport> transport) {
    DropInput();
    DropOutput();
    transport_ = std::move(transport);
  }
  std::unique_ptr<TmsTransport> TakeTransport() {
    DropInput();
    DropOutput();
    return std::move(transport_);
  }
  bool IsOpen() const { return transport_ != nullptr; }

  // The inactivity clock: started at the beginning of an operation and reset
  // by every transfer that makes progress.
  void StartCounter();
  void ResetCounter() { StartCounter(); }
  bool TimedOut() const;
  // An optional absolute limit for the operations that follow, on top of the
  // inactivity time-out (a peer that trickles a byte now and then keeps the
  // inactivity clock from ever running out).
  void SetDeadline(std::chrono::steady_clock::time_point deadline) {
    deadline_ = deadline;
    hasDeadline_ = true;
  }
  void ClearDeadline() { hasDeadline_ = false; }
  bool HasDeadline() const { return hasDeadline_; }
  std::chrono::steady_clock::time_point Deadline() const { return deadline_; }

 protected:
  void DropInput() {
    input_.clear();
    inputPos_ = 0;
  }
  void DropOutput() {
    output_.clear();
    outputPos_ = 0;
  }

  std::unique_ptr<TmsTransport> transport_;
  // Received bytes not yet consumed: input_ from inputPos_ on.
  std::string input_;
  size_t inputPos_ = 0;
  // Bytes queued to send but not yet written: output_ from outputPos_ on. Every
  // read writes what it can of them first, and waits for the connection to
  // take more as well as for input, so queued commands go out while the
  // replies to earlier ones are being read.
  std::string output_;
  size_t outputPos_ = 0;

 private:
  std::chrono::steady_clock::time_point lastProgress_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point deadline_;
  bool hasDeadline_ = false;
};

// Limits the operations done during its life to `limit` from its creation (an
// earlier deadline already set stays); the deadline before it comes back at its end.
class TmsTimeLimit {
 public:
  TmsTimeLimit(TmsSocketBase& socket, std::chrono::steady_clock::duration limit);
  ~TmsTimeLimit();
  TmsTimeLimit(const TmsTimeLimit&) = delete;
  TmsTimeLimit& operator=(const TmsTimeLimit&) = delete;

 private:
  TmsSocketBase& socket_;
  bool had_;
  std::chrono::steady_clock::time_point previous_;
};

class TmsSocket : public TmsSocketBase {
 public:
  TmsNotifyEvent OnDisconnected;
  TmsNotifyEvent OnConnected;
  TmsProgressEvent OnTransferProgress;

  // Asks the running operation to stop with EmsCanceledError; may be called
  // from the message pump or from another thread. Cleared by Connect.
  void Cancel() { cancel_ = true; }
  bool Canceled() const { return cancel_; }
  bool Connected() const { return connected_; }
  bool ClosedByPeer() const { return closedByPeer_; }

  // Waits one short slice for the transport (or the given descriptor) to
  // become ready for events, then runs the message pump (non-blocking mode).
  // Raises EmsCanceledError when the cancel flag is set and EmsTimedOutError
  // when the inactivity time-out has passed. For operations, and for a
  // transport layer's handshake, which passes the descriptor it wraps.
  void WaitReady(short events, int handle = -1);

  // Clears the connected, closed-by-peer and cancel flags and restarts the
  // inactivity clock.
  virtual void ResetState();

 protected:
  // Reads up to length bytes: returns the count, 0 when the peer has closed
  // (the closed-by-peer flag is set and OnDisconnected raised once). Waits as
  // needed; raises on failure, time-out and cancellation.
  size_t ReadSome(char* buffer, size_t length);
  // Raises an event with this object as Sender.
  void Raise(const TmsNotifyEvent& event);
  void RaiseProgress(int perc, int64_t byteCount, int64_t lineCount);
  void MarkClosedByPeer();
  // Writes what the transport takes of the queued output without waiting;
  // true when nothing stays queued.
  bool FlushOutput();
  size_t QueuedOutput() const { return output_.size() - outputPos_; }

  std::atomic<bool> cancel_{false};
  bool connected_ = false;
  bool closedByPeer_ = false;
};

class TmsClientSocket : public TmsSocket {
 public:
  TmsClientSocket() = default;
  ~TmsClientSocket() override;

  // "host", "host:port" or "[ipv6]:port" (see SetHost); at most 255 characters.
  const std::string& Host() const { return host_; }
  // A value with a port after ":" sets Port too (the default port when the
  // port is not a number); a value without one resets Port to the default
  // port. While a proxy is set the value is taken whole.
  void SetHost(const std::string& value);
  int Port = 0;

  // The proxy: Connect goes there instead of Host when ProxyHost is not empty.
  const std::string& ProxyHost() const { return proxyHost_; }
  int ProxyPort = 0;
  // "host:port" or "host" (port 0); an empty value removes the proxy and
  // applies Host again.
  void SetProxy(const std::string& value);

  TmsNotifyEvent OnConnecting;
  // The last line read by ReadReply.
  std::string LastReply;
  int DefaultPort() const { return defaultPort_; }

  // Limit in bytes of one dot-terminated block, stream or body received;
  // more raises EmsError. No buffer is ever sized by a number the peer sends.
  int64_t MaxDataSize = int64_t{256} << 20;

  // Called after the TCP connection is made and before OnConnected; may wrap
  // the plain transport (TLS) and drive its handshake through
  // WaitReady(events, plain->Handle()). Returning nullptr fails the Connect.
  std::function<std::unique_ptr<TmsTransport>(TmsClientSocket&, std::unique_ptr<TmsTransport>)>
      TransportLayer;

  virtual void Connect();
  // Closes the connection (if open) and raises OnDisconnected.
  void Disconnect();

  void WriteLine(const std::string& text);
  // One line without its terminator (LF, the first CR removed). What arrived
  // after the LF stays for the next read. A line of 2048 bytes or more without
  // LF raises EmsError; when the peer closes mid-line, what came is the line.
  std::string ReadLine();
  int ReadReply();
  // Reads a continued reply ("250-...") to its last line; returns the first
  // code, LastReply holds the last line.
  int ReadMultiLineReply();
  virtual int ReplyCode(const std::string& line) const;

  // Sends everything queued, then data; waits until the transport has taken all.
  void SendBuffer(const char* data, size_t length);
  void SendBuffer(const std::string& data) { SendBuffer(data.data(), data.size()); }
  // Queues data to be sent while later reads wait for input (see output_); the
  // caller bounds how much it queues ahead of the replies it reads.
  void QueueBuffer(const std::string& data);
  using TmsSocket::QueuedOutput;
  // Sends the whole stream from its start in 32768-byte blocks.
  void SendStream(std::istream& stream);
  // Receives size bytes (size <= 0: until the peer closes) into stream at
  // startPosition.
  void ReceiveStream(std::ostream& stream, int64_t size, int64_t startPosition);
  // Receives a dot-terminated block (RFC 1939, RFC 5321) in one pass: each
  // line's doubled leading dot is removed and the terminating "." line is
  // dropped; the rest goes to sink as it arrives, line ends included, in pieces
  // that never span two lines. Lines end at LF (CR LF or a bare LF); a lone CR
  // is part of its line. The terminator is found wherever it lies in what was
  // received, and what follows it stays for the next read. expectedSize (> 0)
  // only scales the progress. The sink may raise to stop.
  using TmsBlockSink = std::function<void(const char* data, size_t length)>;
  void ReceiveDotBlock(const TmsBlockSink& sink, int64_t expectedSize);
  // The same into a string, limited to MaxDataSize bytes (more raises EmsError).
  void ReceiveDotBlock(std::string& out, int64_t expectedSize);
  // Receives an HTTP chunked body into stream.
  void ReceiveChunked(std::ostream& stream);

  static constexpr size_t kLineBufferSize = 2048;
  static constexpr size_t kBlockSize = 32768;

 protected:
  void SetDefaultPort(int port) {
    defaultPort_ = port;
    Port = port;
  }
  [[noreturn]] void RaiseTooLarge() const;
  // Appends what the transport has (one read, up to kBlockSize bytes) to the
  // input; false when the peer has closed.
  bool FillInput();
  // Moves up to length bytes of input (or, with none, of one read) to buffer;
  // 0 when the peer has closed.
  size_t ReadInput(char* buffer, size_t length);

 private:
  bool ConnectTo(const struct TmsResolvedAddress& address, int& lastError);

  std::string host_;
  std::string proxyHost_;
  int defaultPort_ = 0;
};

// Splits "host", "host:port", "[v6]" or "[v6]:port". hasPort tells whether a
// ":" followed the host; port is then the number after it, or -1 when that is
// not a decimal number. An unbracketed value with two or more ":" is an IPv6
// literal without a port.
void SplitHostPort(const std::string& value, std::string& host, bool& hasPort, int& port);

}  // namespace ms
