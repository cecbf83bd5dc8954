// The LAN listener under load on loopback: 512 idle or slow connections and 10,000
// garbage frames while a real sender keeps sending. Prints the numbers.
//   lan_load [idle] [garbage]

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/lan/load_attack.h"

int main(int argc, char** argv) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);

  vigilo::test::LoadOptions options;
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
  const auto report = vigilo::test::RunLoad(server, options, delivered);
  std::printf("%s", report.Summary().c_str());
  const bool ok = report.RealAnswered == report.RealSent && report.WorstAnswerMs < 2000 &&
                  report.MaxConnections <= static_cast<std::size_t>(server.Limits.MaxConnections);
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
