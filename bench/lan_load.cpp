// The LAN listener under load on loopback: 512 idle or slow connections from many
// source addresses and 10,000 garbage frames while a real sender keeps sending. Prints
// the answer times, connection and thread counts and memory (scripts/lan-load).
//   lan_load [idle] [garbage]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lan/lanmsg.h"

namespace vigilo::bench {

struct LoadOptions {
  int Idle = 512;       // connections that send nothing or half a length field
  int Garbage = 10000;  // connections that send a garbage frame and close
  int RealSends = 5;    // real messages sent at least, and on until the garbage ends
};

struct LoadReport {
  int RealSent = 0;
  int RealAnswered = 0;
  double WorstAnswerMs = 0;        // the slowest real exchange
  std::size_t MaxConnections = 0;  // the listener's own count at its highest
  long MaxThreads = 0;             // threads of the process at the highest, minus the start
  long RssPeakKb = 0;              // resident memory at the highest
  int GarbageSent = 0;
  std::string Summary() const;
};

namespace {

using Clock = std::chrono::steady_clock;

long StatusField(const std::string& name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  return 0;
}

// A socket from 127.0.0.<host> to the listener; blocking connect with a short limit.
int Connect(int port, int host, bool nonBlocking) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in src{};
  src.sin_family = AF_INET;
  src.sin_addr.s_addr = htonl(0x7F000000u | static_cast<uint32_t>(host));
  ::bind(fd, reinterpret_cast<sockaddr*>(&src), sizeof src);
  if (nonBlocking) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string LoadReport::Summary() const {
  std::ostringstream out;
  out << "real sends: " << RealSent << ", answered: " << RealAnswered
      << ", slowest answer: " << WorstAnswerMs
      << " ms\nlistener connections at most: " << MaxConnections
      << ", process threads above the start at most: " << MaxThreads
      << "\nresident memory at most: " << RssPeakKb << " kB, garbage frames sent: " << GarbageSent
      << "\n";
  return out.str();
}

LoadReport RunLoad(TLanMsgServ& server, const LoadOptions& options,
                   const std::atomic<int>& delivered) {
  LoadReport report;
  const int port = server.BoundPort();
  const long threadsStart = StatusField("Threads");
  std::atomic<bool> done{false};
  // The load's own threads (sampler and four garbage senders) are not the listener's.
  std::thread sampler([&] {
    while (!done) {
      report.MaxThreads = std::max(report.MaxThreads, StatusField("Threads") - threadsStart - 5);
      report.RssPeakKb = std::max(report.RssPeakKb, StatusField("VmRSS"));
      report.MaxConnections = std::max(report.MaxConnections, server.ConnectionCount());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  // Idle and slow connections, four from each source address 127.0.0.2, .3, ...
  std::vector<int> idle;
  for (int i = 0; i < options.Idle; ++i) {
    const int fd = Connect(port, 2 + i / 4, true);
    if (fd < 0) continue;
    if (i % 2) ::send(fd, "00", 2, MSG_NOSIGNAL);  // half a length field, then silence
    idle.push_back(fd);
  }

  // Four garbage senders, each waiting for the listener to end one frame before the
  // next, so that the stream lasts as long as the real sends.
  std::atomic<int> garbageSent{0}, garbageLeft{4};
  std::vector<std::thread> garbage;
  for (int k = 0; k < 4; ++k) {
    garbage.emplace_back([&, k] {
      std::mt19937 random(17 + k);
      for (int i = k; i < options.Garbage; i += 4) {
        const int fd = Connect(port, 200 + i % 50, false);
        if (fd < 0) continue;
        timeval limit{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::string bytes = "X";  // never a length field
        for (int n = static_cast<int>(random() % 40); n > 0; --n)
          bytes += static_cast<char>(random() % 256);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        char sink[64];
        while (::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        ::close(fd);
        ++garbageSent;
      }
      --garbageLeft;
    });
  }

  // The real sender, from 127.0.0.1, again and again while the load runs.
  for (int i = 0; i < options.RealSends || garbageLeft > 0; ++i) {
    ++report.RealSent;
    TLanMsg sender;
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.TimeOut = 10000;
    sender.FromName = "Реальный";
    const int before = delivered;
    const auto start = Clock::now();
    try {
      sender.PostIt("Сообщение под нагрузкой");
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      report.WorstAnswerMs = std::max(report.WorstAnswerMs, ms);
      // The handler runs right after the answer is written.
      const auto end = Clock::now() + std::chrono::seconds(10);
      while (delivered == before && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (delivered > before) ++report.RealAnswered;
    } catch (const std::exception&) {
      report.WorstAnswerMs = std::max(report.WorstAnswerMs, 1e9);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  for (auto& t : garbage)
    t.join();
  report.GarbageSent = garbageSent;
  server.Stop();
  done = true;
  sampler.join();
  for (int fd : idle)
    ::close(fd);
  return report;
}

}  // namespace vigilo::bench

int main(int argc, char** argv) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);

  vigilo::bench::LoadOptions options;
  if (argc > 1) options.Idle = std::atoi(argv[1]);
  if (argc > 2) options.Garbage = std::atoi(argv[2]);
  vigilo::TLanMsgServ server(0);
  std::atomic<int> delivered{0};
  server.OnMSG = [&](const std::string&, const std::string&) { ++delivered; };
  const std::string error = server.Listen();
  if (!error.empty()) {
    std::fprintf(stderr, "cannot listen: %s\n", error.c_str());
    return 2;
  }
  std::printf(
      "idle or slow connections: %d, garbage frames: %d, limits: %d connections, "
      "%d per address, %d ms per frame\n",
      options.Idle, options.Garbage, server.Limits.MaxConnections, server.Limits.MaxPerAddress,
      server.Limits.FrameTimeLimitMs);
  const auto report = vigilo::bench::RunLoad(server, options, delivered);
  std::printf("%s", report.Summary().c_str());
  const bool ok = report.RealAnswered == report.RealSent && report.WorstAnswerMs < 2000 &&
                  report.MaxConnections <= static_cast<std::size_t>(server.Limits.MaxConnections);
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
