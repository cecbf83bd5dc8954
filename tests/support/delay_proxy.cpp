#include "tests/support/delay_proxy.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 20;  // the longest the loop sleeps, so a stop is seen soon
constexpr std::size_t kChunk = 64 * 1024;

void NonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// One direction of a connection: what was read from `from`, held until due, then
// written to `to`. An empty chunk stands for the end of `from`'s data.
struct Flow {
  int from = -1;
  int to = -1;
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
    std::size_t written = 0;
  };
  std::deque<Chunk> held;
  std::size_t heldBytes = 0;
  bool ended = false;  // `from` has no more data (its end is queued)
  bool done = false;   // everything, the end included, went on
};

struct Link {
  int client = -1;
  int server = -1;
  Flow up, down;  // client to server, server to client
  bool failed = false;
  ~Link() {
    if (client >= 0) close(client);
    if (server >= 0) close(server);
  }
  bool Finished() const { return failed || (up.done && down.done); }
};

// Reads what `flow.from` has into a chunk due after `delay`; false on a failure.
bool ReadInto(Flow& flow, std::chrono::milliseconds delay) {
  std::string bytes(kChunk, '\0');
  const ssize_t n = recv(flow.from, bytes.data(), bytes.size(), 0);
  if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
  bytes.resize(static_cast<std::size_t>(n));
  if (n == 0) flow.ended = true;
  flow.heldBytes += bytes.size();
  flow.held.push_back({Clock::now() + delay, std::move(bytes), 0});
  return true;
}

// Writes the chunks that are due; false on a failure.
bool WriteDue(Flow& flow) {
  while (!flow.held.empty() && flow.held.front().due <= Clock::now()) {
    Flow::Chunk& c = flow.held.front();
    if (c.bytes.empty()) {  // the end of the data: passed on as a half close
      shutdown(flow.to, SHUT_WR);
      flow.held.pop_front();
      flow.done = true;
      return true;
    }
    const ssize_t n =
        send(flow.to, c.bytes.data() + c.written, c.bytes.size() - c.written, MSG_NOSIGNAL);
    if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
    c.written += static_cast<std::size_t>(n);
    if (c.written < c.bytes.size()) return true;  // the rest when `to` takes more
    flow.heldBytes -= c.bytes.size();
    flow.held.pop_front();
  }
  return true;
}

}  // namespace

DelayProxy::DelayProxy(int targetPort, std::chrono::milliseconds oneWay)
    : targetPort_(targetPort), delay_(oneWay) {
  listenFd_ = BindLoopback(port_, 16);
  NonBlocking(listenFd_);
  thread_ = std::thread([this] { Run(); });
}

DelayProxy::~DelayProxy() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  close(listenFd_);
}

void DelayProxy::Run() {
  std::vector<std::unique_ptr<Link>> links;
  std::vector<pollfd> fds;
  // For each descriptor after the listening one: its link and whether it is the client side.
  std::vector<std::pair<Link*, bool>> owners;
  while (!stop_) {
    fds.assign(
        1, pollfd{listenFd_, static_cast<short>(links.size() < kMaxConnections ? POLLIN : 0), 0});
    owners.clear();
    auto wake = Clock::now() + std::chrono::milliseconds(kSliceMs);
    for (const auto& link : links) {
      for (bool clientSide : {true, false}) {
        // The client side is read for `up` and written for `down`; the server side the other way.
        Flow& in = clientSide ? link->up : link->down;
        Flow& out = clientSide ? link->down : link->up;
        short events = 0;
        if (!in.ended && in.heldBytes < kMaxHeld) events |= POLLIN;
        if (!out.held.empty()) {
          const Flow::Chunk& c = out.held.front();
          if (c.due <= Clock::now())
            events |= POLLOUT;
          else
            wake = std::min(wake, c.due);
        }
        // A descriptor with nothing to wait for is left out: a closed peer's
        // endless POLLHUP would not let the loop sleep.
        const int fd = clientSide ? link->client : link->server;
        fds.push_back({events ? fd : -1, events, 0});
        owners.emplace_back(link.get(), clientSide);
      }
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    const int rc =
        poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wait.count())));
    if (rc < 0 && errno != EINTR) break;

    for (std::size_t i = 1; i < fds.size(); ++i) {
      Link& link = *owners[i - 1].first;
      const bool clientSide = owners[i - 1].second;
      Flow& in = clientSide ? link.up : link.down;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!in.ended && !ReadInto(in, delay_)) link.failed = true;
      }
    }
    for (const auto& link : links) {
      if (!WriteDue(link->up) || !WriteDue(link->down)) link->failed = true;
    }
    links.erase(std::remove_if(links.begin(), links.end(),
                               [](const std::unique_ptr<Link>& l) { return l->Finished(); }),
                links.end());

    if (fds[0].revents & POLLIN) {
      const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      auto link = std::make_unique<Link>();
      link->client = client;
      link->server = ConnectLoopback(targetPort_);
      if (link->server < 0) continue;  // the link closes the client: the target is not there
      NonBlocking(link->client);
      NonBlocking(link->server);
      link->up.from = link->down.to = link->client;
      link->down.from = link->up.to = link->server;
      links.push_back(std::move(link));
      ++connections_;
    }
  }
}

}  // namespace vigilo::test
