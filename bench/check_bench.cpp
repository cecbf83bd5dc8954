// Time of one check (TOP n 1 and LIST n of every message, header records, pruning,
// QUIT) of a mailbox of 1,000 messages on a private Dovecot on 127.0.0.1, reached
// directly or through a proxy that adds a round-trip time, with the commands sent
// one at a time or ahead of their replies (Dovecot announces PIPELINING).
//
// Beside each time stands the bound for that link: the round trips the conversation
// cannot avoid (greeting, USER, PASS, STAT, UIDL, CAPA, the TOP run, the LIST run,
// QUIT) times the round-trip time, plus the time of the same pipelined check
// without added latency (what moving and handling the bytes costs).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "core/check.h"
#include "platform/regfile.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/dovecot.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo;
using Clock = std::chrono::steady_clock;

constexpr double kRoundTrips = 8.5;  // the greeting is half of one
constexpr int kMessages = 1000;

class NoAutostart : public Autostart {
 public:
  bool Exists() const override { return false; }
  std::string Set(const std::string&) override { return {}; }
  void Remove() override {}
};

std::string Message(int n) {
  const std::string id = std::to_string(n);
  return "From: Sender " + id + " <sender" + id +
         "@example.test>\nTo: bench@example.test\nSubject: Сообщение номер " + id +
         "\nDate: Sun, 6 Dec 2026 10:00:00 +0000\nMessage-ID: <" + id +
         ".bench@example.test>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n" +
         std::string(2000, 'x') + "\n";
}

// One Dovecot with the mailbox, shared by every case.
test::DovecotServer& Server() {
  static test::DovecotServer* server = [] {
    auto* s = new test::DovecotServer({{"bench", "benchpw"}});
    for (int n = 0; n < kMessages; ++n)
      s->AddMessage("bench", Message(n));
    return s;
  }();
  return *server;
}

struct Checker {
  test::TempDir home;
  NoAutostart autostart;
  RegistryFile reg;  // in memory
  tusers s{reg, autostart, home.str(), "/usr/bin/vigilo"};
  TCheckComponents c;
  CheckView view;
  TCheckCycle check{s,        c.POPClient, c.POPMess, c.SMTPClient, c.SMTPmess,
                    c.msRas1, view,        nullptr,   c.Busy};

  Checker(int port, bool pipelining) {
    tuser& u = s.Conf.at(0);
    u.ConfigNM = "Bench";
    u.Host = "127.0.0.1";
    u.Port = port;
    u.UserName = "bench";
    u.UserPwd = "benchpw";
    s.ComputeDirs(u);
    c.POPClient.AllowPipelining = pipelining;
  }
  int32_t Kept() const { return s.Conf.at(0).HeadCount; }
};

// The pipelined check without added latency, best of five (seconds).
double TransferTime() {
  static const double best = [] {
    Checker direct(Server().Pop3Port(), true);
    direct.check.StartCheck();  // Dovecot indexes the new mailbox once
    double t = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto start = Clock::now();
      direct.check.StartCheck();
      t = std::min(t, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return t;
  }();
  return best;
}

// Arguments: the round-trip time in milliseconds, and 1 to allow pipelining.
void BM_CheckMailbox(benchmark::State& state) {
  const int rttMs = static_cast<int>(state.range(0));
  const bool pipelining = state.range(1) != 0;
  const double transfer = TransferTime();
  std::unique_ptr<test::DelayProxy> link;
  int port = Server().Pop3Port();
  if (rttMs > 0) {
    link = std::make_unique<test::DelayProxy>(port, std::chrono::milliseconds(rttMs / 2));
    port = link->Port();
  }
  Checker checker(port, pipelining);
  for (auto _ : state) {
    checker.check.StartCheck();
    benchmark::DoNotOptimize(checker.Kept());
  }
  if (checker.Kept() != kMessages) state.SkipWithError("the check did not keep every message");
  if (pipelining != checker.c.POPClient.ServerPipelines())
    state.SkipWithError("pipelining was not used as asked");
  state.counters["messages"] = kMessages;
  state.counters["bound_s"] = kRoundTrips * rttMs / 1000.0 + transfer;
}
BENCHMARK(BM_CheckMailbox)
    ->ArgNames({"rtt_ms", "pipelining"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({20, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(5);
// Two thousand round trips of 20 ms: one run says enough.
BENCHMARK(BM_CheckMailbox)
    ->ArgNames({"rtt_ms", "pipelining"})
    ->Args({20, 0})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
