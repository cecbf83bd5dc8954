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
// At most this much is held each way of a connection: a side that sends more waits.
constexpr std::size_t kMaxHeld = std::size_t{64} << 20;
constexpr std::size_t kMaxConnections = 64;

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
  while (!stop_) {
    fds.assign(
        1, pollfd{listenFd_, static_cast<short>(links.size() < kMaxConnections ? POLLIN : 0), 0});
    auto wake = Clock::now() + std::chrono::milliseconds(kSliceMs);
    // Two entries a flow: its source while it may read, its sink once a chunk is due. A
    // descriptor with nothing to wait for is left out: a closed peer's endless POLLHUP would
    // not let the loop sleep.
    for (const auto& link : links)
      for (const Flow* f : {&link->up, &link->down}) {
        const bool due = !f->held.empty() && f->held.front().due <= Clock::now();
        if (!f->held.empty() && !due) wake = std::min(wake, f->held.front().due);
        fds.push_back({!f->ended && f->heldBytes < kMaxHeld ? f->from : -1, POLLIN, 0});
        fds.push_back({due ? f->to : -1, POLLOUT, 0});
      }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    if (poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wait.count()))) < 0 &&
        errno != EINTR)
      break;

    auto at = fds.begin() + 1;
    for (const auto& link : links)
      for (Flow* f : {&link->up, &link->down}) {
        if ((at->revents & (POLLIN | POLLHUP | POLLERR)) && !ReadInto(*f, delay_))
          link->failed = true;
        at += 2;
        if (!WriteDue(*f)) link->failed = true;
      }
    std::erase_if(links, [](const auto& l) { return l->Finished(); });

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
