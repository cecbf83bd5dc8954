// Time of one check (TOP n 1 and LIST n of every message, header records, pruning,
// QUIT) of a mailbox of 1,000 messages on a private Dovecot on 127.0.0.1.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/check.h"
#include "platform/regfile.h"
#include "tests/support/dovecot.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo;

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

void BM_CheckMailbox(benchmark::State& state) {
  const int messages = static_cast<int>(state.range(0));
  test::DovecotServer server({{"bench", "benchpw"}});
  for (int n = 0; n < messages; ++n)
    server.AddMessage("bench", Message(n));

  test::TempDir home;
  NoAutostart autostart;
  RegistryFile reg;  // in memory
  tusers s(reg, autostart, home.str(), "/usr/bin/vigilo");
  tuser& u = s.Conf.at(0);
  u.ConfigNM = "Bench";
  u.Host = "127.0.0.1";
  u.Port = server.Pop3Port();
  u.UserName = "bench";
  u.UserPwd = "benchpw";
  s.ComputeDirs(u);

  TCheckComponents c;
  CheckView view;
  TCheckCycle check(s, c.POPClient, c.POPMess, c.SMTPClient, c.SMTPmess, c.msRas1, view, nullptr,
                    c.Busy);
  check.StartCheck();  // Dovecot indexes the new mailbox once
  if (u.HeadCount != messages) state.SkipWithError("the check did not keep every message");

  for (auto _ : state) {
    check.StartCheck();
    benchmark::DoNotOptimize(u.HeadCount);
  }
  state.counters["messages"] = messages;
}
BENCHMARK(BM_CheckMailbox)->Arg(1000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
