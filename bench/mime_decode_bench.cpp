// Decoding speed: a large message with base64 attachments, and a large
// quoted-printable text body.

#include <benchmark/benchmark.h>

#include "bench/mime_bench_data.h"
#include "bench/mime_compare_data.h"

namespace {

void BM_DecodeBase64Attachments(benchmark::State& state) {
  const std::string raw = bench::Base64Message(4 << 20);
  for (auto _ : state) {
    ms::TmsMessage d;
    d.LoadFromString(raw);
    benchmark::DoNotOptimize(d.Attachments.Items(3).Data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(raw.size()));
}
BENCHMARK(BM_DecodeBase64Attachments)->Unit(benchmark::kMillisecond);

void BM_DecodeQuotedPrintableBody(benchmark::State& state) {
  ms::TmsMessage m = bench::BaseMessage();
  m.Body = bench::TextLines(8 << 20);
  const std::string raw = m.SaveToString();  // utf-8 text: quoted-printable
  for (auto _ : state) {
    ms::TmsMessage d;
    d.LoadFromString(raw);
    benchmark::DoNotOptimize(d.Body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(raw.size()));
}
BENCHMARK(BM_DecodeQuotedPrintableBody)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
