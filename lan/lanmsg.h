#pragma once
// The LAN message protocol on TCP port 6711. A client writes one frame
//
//   "%.4d" byte length of the sender name, the name, "%.4d" byte length of the text, the text
//
// in Windows-1251, reads the 16-byte answer "OK" + 14 blanks and disconnects.
// TLanMsg is the sender; TLanMsgServ the listener, which serves every connection on a
// thread of its own (TLanServer) and hands each frame to OnMSG on the thread its owner
// chooses (Dispatch), waiting there until the handler has returned.
//
// The listener is bounded: a whole frame must arrive within FrameTimeLimitMs, at most
// MaxConnections connections (and threads) live at once, at most MaxPerAddress of them
// from one peer address. A newcomer over a limit takes the place of the oldest
// connection that was answered and waits for its peer to close, else of the oldest that
// waits for its frame with nothing to read; when none can make room, the newcomer is
// closed at once.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "lan/lansock.h"

namespace vigilo {

inline constexpr int32_t kLanPort = 6711;
inline constexpr std::size_t kLanMaxText = 9999;
inline constexpr char kLanAnswer[] = "OK              ";
inline constexpr std::size_t kLanAnswerSize = 16;

// "%.4d" of n (n at most 9999).
std::string LanLength(std::size_t n);
// The value of a length field: exactly four ASCII decimal digits, else -1.
int ParseLanLength(std::string_view field);

// Program text (UTF-8) in the wire's Windows-1251, cut at its first NUL; characters the
// code page lacks become "?".
std::string ToWireText(std::string_view utf8);
// Received bytes as UTF-8: valid UTF-8 with multi-byte sequences is taken as it is,
// anything else is read as Windows-1251.
std::string FromWireText(std::string_view bytes);

// The whole frame for a sender name and a text, both UTF-8. Raises ESockError when
// either is longer than 9999 bytes on the wire.
std::string LanFrame(std::string_view fromName, std::string_view msg);

class TLanMsg : public TLanSocket {
 public:
  // The sender name put into the frame (UTF-8).
  std::string FromName;
  // Raised after the frame is written and before the answer is read.
  std::function<void()> OnMessageSent;

  // One exchange with Host:Port: connect, write the frame of FromName and msg, read the
  // answer, disconnect. Raises ESockError or EAbortError on any failure, also when the
  // peer closes without answering; a name or text over 9999 bytes on the wire is refused
  // before anything is sent.
  void PostIt(const std::string& msg);
};

// Limits of the listener; tests shorten them.
struct LanLimits {
  int FrameTimeLimitMs = 30000;
  int MaxConnections = 64;
  int MaxPerAddress = 4;
};

class TLanServer {
 public:
  explicit TLanServer(int32_t port = kLanPort, LanLimits limits = {});
  virtual ~TLanServer();
  TLanServer(const TLanServer&) = delete;
  TLanServer& operator=(const TLanServer&) = delete;

  // Binds 0.0.0.0:Port and starts the accepting thread. Returns "" or the failure
  // ("Port 6711 is in use by another program").
  std::string Listen();
  bool Listening() const { return acceptThread_.joinable(); }
  // The port listened on (the bound one when Port was 0).
  int32_t BoundPort() const { return boundPort_; }

  // Cancels every live connection; the listener goes on listening.
  void Abort();
  // Stops listening, cancels every connection and joins every thread. Derived classes
  // call it from their destructor, before their part of the object goes away.
  void Stop();

  // Connection threads alive or not yet joined; the most there ever were at once.
  std::size_t ConnectionCount() const;
  std::size_t MaxConnectionCount() const { return maxSeen_; }

  // After every accepted connection, on the accepting thread.
  std::function<void()> OnClientContact;

  int32_t Port;
  const LanLimits Limits;

 protected:
  // One accepted connection, served on its own thread.
  class Connection {
   public:
    Connection(TLanServer& server, int fd, std::string peer);
    // Exactly n bytes of the frame into out before its time limit; false when the peer
    // closes, the time runs out or the connection is cancelled.
    bool Read(std::size_t n, std::string& out);
    bool Write(std::string_view data);
    // Waits until the peer closes (or the time limit, restarted here, runs out).
    void WaitClose();
    // The frame is complete: the connection waits for its handler and cannot be dropped.
    void Delivering() { stage_ = Stage::Delivering; }
    const std::string& Peer() const { return peer_; }

   private:
    friend class TLanServer;
    enum class Stage { Frame, Delivering, Closing };
    bool Wait(short events);
    bool HasInput() const;  // bytes wait to be read

    TLanServer& server_;
    int fd_;
    std::string peer_;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<Stage> stage_{Stage::Frame};
    bool dropped_ = false;  // guarded by the server's lock
    bool finished_ = false;
    std::thread thread_;
  };

  // The per-connection work, on the connection's thread.
  virtual void Serve(Connection& connection) = 0;
  bool Stopping() const { return stopping_; }

 private:
  void AcceptLoop();
  void StartServeThread(int fd, const std::string& peer);
  // Makes room for a newcomer from `peer`; false when it must be refused.
  bool MakeRoom(std::unique_lock<std::mutex>& lock, const std::string& peer);
  void JoinFinished();
  void Drop(Connection& c);

  int listenFd_ = -1;
  int wakeFd_ = -1;
  int32_t boundPort_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::size_t maxSeen_ = 0;
};

class TLanMsgServ : public TLanServer {
 public:
  using TLanServer::TLanServer;
  ~TLanMsgServ() override;

  // One per received frame (name and text as UTF-8), run through Dispatch.
  std::function<void(const std::string& fromName, const std::string& msg)> OnMSG;
  // Runs a handler call on the owner's thread (for a window: queued to the GUI thread).
  // Unset, OnMSG runs on the connection's thread.
  std::function<void(std::function<void()>)> Dispatch;

 protected:
  void Serve(Connection& connection) override;

 private:
  void Deliver(const std::string& fromName, const std::string& msg);

  // False once the listener stops: a handler call still queued then does nothing.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace vigilo
