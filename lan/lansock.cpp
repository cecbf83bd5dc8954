#include "lan/lansock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mail/mspump.h"
#include "mail/mswsock.h"

namespace vigilo {

namespace {

constexpr int kSliceMs = 20;

int OpenSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ESockError(LanErrorText(errno));
  return fd;
}

// A host-name lookup on a thread of its own, so that a slow resolver can be waited for
// with a time limit. Threads still running when their socket goes away are joined at exit.
struct Lookup {
  std::mutex Mutex;
  bool Done = false;
  bool Found = false;
  in_addr Address{};
};

class LookupThreads {
 public:
  ~LookupThreads() {
    for (auto& entry : running_)
      entry.second.join();
  }
  std::shared_ptr<Lookup> Start(const std::string& host) {
    auto lookup = std::make_shared<Lookup>();
    std::lock_guard<std::mutex> lock(mutex_);
    JoinFinished();
    std::thread thread([lookup, host] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* res = nullptr;
      const bool ok = ::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res;
      std::lock_guard<std::mutex> l(lookup->Mutex);
      if (ok) {
        lookup->Address = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        lookup->Found = true;
      }
      if (res) ::freeaddrinfo(res);
      lookup->Done = true;
    });
    running_.emplace_back(lookup, std::move(thread));
    return lookup;
  }

 private:
  void JoinFinished() {
    for (auto it = running_.begin(); it != running_.end();) {
      bool done;
      {
        std::lock_guard<std::mutex> l(it->first->Mutex);
        done = it->first->Done;
      }
      if (done) {
        it->second.join();
        it = running_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  std::vector<std::pair<std::shared_ptr<Lookup>, std::thread>> running_;
};

LookupThreads& Lookups() {
  static LookupThreads lookups;
  return lookups;
}

}  // namespace

std::string LanErrorText(int err) {
  const int code = ms::WinsockCodeFromErrno(err);
  return std::to_string(code) + ":" + std::strerror(err);
}

TLanSocket::TLanSocket() {
  fd_ = OpenSocket();
}

TLanSocket::~TLanSocket() {
  if (fd_ >= 0) ::close(fd_);
}

TLanSocket::Clock::time_point TLanSocket::Deadline() const {
  if (TimeOut <= 0) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(TimeOut);
}

bool TLanSocket::WaitFor(short events, Clock::time_point deadline, const char* abortText) {
  for (;;) {
    if (cancel_) throw EAbortError(abortText);
    if (Clock::now() >= deadline) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, kSliceMs);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) throw ESockError(LanErrorText(errno));
    ms::PumpMessages();
  }
}

in_addr TLanSocket::ResolveHost() {
  in_addr address{};
  if (::inet_pton(AF_INET, Host.c_str(), &address) == 1) return address;
  if (Host.empty()) throw ESockError("Host Lookup Failed");
  auto lookup = Lookups().Start(Host);
  const auto deadline = Deadline();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(lookup->Mutex);
      if (lookup->Done) {
        if (!lookup->Found) throw ESockError("Host Lookup Failed");
        return lookup->Address;
      }
    }
    if (cancel_) throw ESockError("Host Lookup Canceled");
    if (Clock::now() >= deadline) throw ESockError("Host Lookup Timed Out");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ms::PumpMessages();
  }
}

void TLanSocket::Connect() {
  cancel_ = false;
  if (connected_) throw ESockError("Already connected");
  const in_addr address = ResolveHost();
  if (address.s_addr == 0) throw ESockError("Null Remote Address");
  if (fd_ < 0) fd_ = OpenSocket();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(Port));
  to.sin_addr = address;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)
    throw ESockError(LanErrorText(errno));
  bool ready;
  try {
    ready = WaitFor(POLLOUT, Deadline(), "Connection Canceled");
  } catch (const EAbortError&) {
    throw ESockError("Connection Canceled");
  }
  if (!ready) throw ESockError("Connection Timed out");
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) throw ESockError("Connection Failed");
  connected_ = true;
}

void TLanSocket::Disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = false;
  fd_ = OpenSocket();
}

void TLanSocket::Abort() {
  cancel_ = true;
}

void TLanSocket::Write(const std::string& data) {
  std::size_t sent = 0;
  const auto deadline = Deadline();
  while (sent < data.size()) {
    const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      throw ESockError(LanErrorText(errno));
    if (!WaitFor(POLLOUT, deadline, "Socket send aborted"))
      throw ESockError(LanErrorText(ETIMEDOUT));
  }
}

std::string TLanSocket::Read(std::size_t n) {
  std::string out;
  const auto deadline = Deadline();
  while (out.size() < n) {
    char buffer[4096];
    const std::size_t want = std::min(sizeof buffer, n - out.size());
    const ssize_t got = ::recv(fd_, buffer, want, 0);
    if (got > 0) {
      out.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got == 0) return {};
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      if (errno == ECONNRESET) return {};
      throw ESockError(LanErrorText(errno));
    }
    if (!WaitFor(POLLIN, deadline, "Socket send aborted"))
      throw ESockError(LanErrorText(ETIMEDOUT));
  }
  return out;
}

}  // namespace vigilo
