#include "lan/lanmsg.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "base/utf8.h"
#include "viewer/CyrCoder.h"

namespace vigilo {

using Clock = std::chrono::steady_clock;

// --- Frame and text -------------------------------------------------------------------

std::string LanLength(std::size_t n) {
  char field[8];
  std::snprintf(field, sizeof field, "%.4d", static_cast<int>(std::min<std::size_t>(n, 9999)));
  return field;
}

int ParseLanLength(std::string_view field) {
  if (field.size() != 4) return -1;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string ToWireText(std::string_view utf8) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  return ConvertCodePage(utf8, TCodePage::UTF8, TCodePage::CP1251);
}

std::string FromWireText(std::string_view bytes) {
  const bool high = std::any_of(bytes.begin(), bytes.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (high && IsValidUtf8(bytes)) return std::string(bytes);
  return ToUtf8(bytes, TCodePage::CP1251);
}

std::string LanFrame(std::string_view fromName, std::string_view msg) {
  const std::string name = ToWireText(fromName);
  const std::string text = ToWireText(msg);
  if (name.size() > kLanMaxText)
    throw ESockError("Sender name too long: " + std::to_string(name.size()) +
                     " bytes, at most 9999");
  if (text.size() > kLanMaxText)
    throw ESockError("Message too long: " + std::to_string(text.size()) + " bytes, at most 9999");
  return LanLength(name.size()) + name + LanLength(text.size()) + text;
}

// --- Sender ---------------------------------------------------------------------------

void TLanMsg::PostIt(const std::string& msg) {
  const std::string frame = LanFrame(FromName, msg);  // refused before connecting
  try {
    Connect();
  } catch (...) {
    Disconnect();  // a half-made connection leaves a fresh socket for the next use
    throw;
  }
  try {
    Write(frame);
    if (OnMessageSent) OnMessageSent();
    // The content is not examined, but a peer that closes without answering has not
    // taken the message.
    if (Read(kLanAnswerSize).size() != kLanAnswerSize)
      throw ESockError("Connection closed before the answer");
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
}

// --- Listener -------------------------------------------------------------------------

TLanServer::TLanServer(int32_t port, LanLimits limits) : Port(port), Limits(limits) {}

TLanServer::~TLanServer() {
  Stop();
}

std::string TLanServer::Listen() {
  if (Listening()) return "";
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return LanErrorText(errno);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(static_cast<uint16_t>(Port));
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  // A long backlog keeps a real sender's connect from being dropped (and retried seconds
  // later) while a burst of connections waits to be accepted.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) return "Port " + std::to_string(Port) + " is in use by another program";
    return LanErrorText(err);
  }
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  boundPort_ = ntohs(bound.sin_port);
  listenFd_ = fd;
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return "";
}

namespace {

// True when bytes have arrived and they cannot begin a length field.
bool StartsWithGarbage(int fd) {
  char head[4];
  const ssize_t n = ::recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  for (ssize_t i = 0; i < n; ++i)
    if (head[i] < '0' || head[i] > '9') return true;
  return false;
}

}  // namespace

void TLanServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(p, 2, 1000) < 0 && errno != EINTR) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      JoinFinished();
    }
    if (stopping_) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&from), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: give the connections a moment to end rather than spin.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (StartsWithGarbage(fd)) {  // ended at once, without a thread or an answer
      ::close(fd);
      continue;
    }
    char peer[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
    StartServeThread(fd, peer);
    if (OnClientContact) OnClientContact();
  }
}

void TLanServer::StartServeThread(int fd, const std::string& peer) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!MakeRoom(lock, peer)) {
    ::close(fd);
    return;
  }
  connections_.push_back(std::make_unique<Connection>(*this, fd, peer));
  Connection* c = connections_.back().get();
  maxSeen_ = std::max(maxSeen_, connections_.size());
  try {
    c->thread_ = std::thread([this, c] {
      try {
        Serve(*c);
      } catch (...) {
        // A failed connection ends alone; the listener goes on.
      }
      std::lock_guard<std::mutex> l(mutex_);
      ::close(c->fd_);
      c->fd_ = -1;
      c->finished_ = true;
      changed_.notify_all();
    });
  } catch (const std::system_error&) {  // no thread to be had: the newcomer is refused
    ::close(fd);
    connections_.pop_back();
  }
}

bool TLanServer::MakeRoom(std::unique_lock<std::mutex>& lock, const std::string& peer) {
  const auto from_peer = [&](const std::unique_ptr<Connection>& c) {
    return !c->finished_ && c->peer_ == peer;
  };
  const auto count_peer = [&] {
    return static_cast<int>(std::count_if(connections_.begin(), connections_.end(), from_peer));
  };
  // The oldest connection, optionally of one peer, that was answered already, else the
  // oldest one waiting for its frame with nothing arrived to read: a frame that has
  // arrived is about to be served and keeps its place.
  const auto victim = [&](bool samePeer) -> Connection* {
    for (auto stage : {Connection::Stage::Closing, Connection::Stage::Frame})
      for (auto& c : connections_)
        if (!c->finished_ && !c->dropped_ && c->stage_ == stage &&
            (!samePeer || c->peer_ == peer) &&
            (stage == Connection::Stage::Closing || !c->HasInput()))
          return c.get();
    return nullptr;
  };
  const auto peerFull = [&] { return count_peer() >= Limits.MaxPerAddress; };
  const auto allFull = [&] {
    return connections_.size() >= static_cast<std::size_t>(Limits.MaxConnections);
  };
  const auto dropping = [&](bool samePeer) {
    return std::any_of(connections_.begin(), connections_.end(), [&](const auto& c) {
      return c->dropped_ && !c->finished_ && (!samePeer || c->peer_ == peer);
    });
  };
  // One connection at most is dropped for the newcomer; then it waits, up to a second, for
  // that thread to end or for another connection to finish, so that the number of
  // threads never passes the cap.
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    JoinFinished();
    if (stopping_) return false;
    if (!peerFull() && !allFull()) return true;
    const bool samePeer = peerFull();
    if (!dropping(samePeer))
      if (Connection* v = victim(samePeer)) Drop(*v);
    const auto now = Clock::now();
    if (now >= deadline) return false;
    changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(20)));
  }
}

void TLanServer::Drop(Connection& c) {
  // The descriptor stays open until the connection's thread closes it under this lock.
  c.dropped_ = true;
  if (c.fd_ >= 0) ::shutdown(c.fd_, SHUT_RDWR);
}

void TLanServer::JoinFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->finished_) {
      (*it)->thread_.join();  // it has released the lock and is returning
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

std::size_t TLanServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_.size();
}

void TLanServer::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : connections_)
    if (!c->finished_) Drop(*c);
  changed_.notify_all();
}

void TLanServer::Stop() {
  stopping_ = true;
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  Abort();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!connections_.empty()) {
    JoinFinished();
    if (!connections_.empty()) changed_.wait_for(lock, std::chrono::milliseconds(100));
  }
  lock.unlock();
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
}

// --- One connection -------------------------------------------------------------------

TLanServer::Connection::Connection(TLanServer& server, int fd, std::string peer)
    : server_(server),
      fd_(fd),
      peer_(std::move(peer)),
      deadline_(Clock::now() + std::chrono::milliseconds(server.Limits.FrameTimeLimitMs)) {}

bool TLanServer::Connection::HasInput() const {
  int waiting = 0;
  return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool TLanServer::Connection::Wait(short events) {
  for (;;) {
    if (server_.stopping_) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 500)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool TLanServer::Connection::Read(std::size_t n, std::string& out) {
  out.clear();
  while (out.size() < n) {
    char buffer[4096];
    const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
    if (got > 0) {
      out.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
               !Wait(POLLIN)) {
      return false;
    }
  }
  return true;
}

bool TLanServer::Connection::Write(std::string_view data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
               !Wait(POLLOUT)) {
      return false;
    }
  }
  return true;
}

void TLanServer::Connection::WaitClose() {
  stage_ = Stage::Closing;
  deadline_ = Clock::now() + std::chrono::milliseconds(server_.Limits.FrameTimeLimitMs);
  char sink[512];
  while (Wait(POLLIN)) {
    const ssize_t got = ::recv(fd_, sink, sizeof sink, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return;
  }
}

// --- Message listener -----------------------------------------------------------------

TLanMsgServ::~TLanMsgServ() {
  alive_->store(false);
  Stop();
}

void TLanMsgServ::Serve(Connection& c) {
  std::string field, fromName, msg;
  if (!c.Read(4, field)) return;
  const int l1 = ParseLanLength(field);
  if (l1 < 0 || (l1 > 0 && !c.Read(static_cast<std::size_t>(l1), fromName))) return;
  if (!c.Read(4, field)) return;
  const int l2 = ParseLanLength(field);
  if (l2 < 0 || (l2 > 0 && !c.Read(static_cast<std::size_t>(l2), msg))) return;
  if (!c.Write(std::string_view(kLanAnswer, kLanAnswerSize))) return;
  c.Delivering();
  Deliver(FromWireText(fromName), FromWireText(msg));
  c.WaitClose();
}

void TLanMsgServ::Deliver(const std::string& fromName, const std::string& msg) {
  if (!OnMSG) return;
  if (!Dispatch) {
    OnMSG(fromName, msg);
    return;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  Dispatch([this, alive = alive_, done, fromName, msg] {
    if (alive->load() && OnMSG) OnMSG(fromName, msg);
    std::lock_guard<std::mutex> lock(done->mutex);
    done->done = true;
    done->cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(done->mutex);
  while (!done->done && !Stopping())
    done->cv.wait_for(lock, std::chrono::milliseconds(100));
}

}  // namespace vigilo
