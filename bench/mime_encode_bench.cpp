// Encoding speed: base64 of a large attachment, quoted-printable of a large text.

#include <benchmark/benchmark.h>

#include "bench/mime_bench_data.h"

namespace {

void BM_EncodeBase64Attachment(benchmark::State& state) {
  ms::TmsMessage m = bench::BaseMessage();
  ms::TmsAttItem a;
  a.SetFileName("big.bin");
  a.ContentType = "application/octet-stream";
  a.EncodingKind = ms::ekBase64;
  a.Data = bench::RandomBytes(16 << 20);
  m.Attachments.AddItem(a);
  for (auto _ : state) {
    std::string raw = m.SaveToString();
    benchmark::DoNotOptimize(raw.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (16 << 20));
}
BENCHMARK(BM_EncodeBase64Attachment)->Unit(benchmark::kMillisecond);

void BM_EncodeQuotedPrintableText(benchmark::State& state) {
  ms::TmsMessage m = bench::BaseMessage();
  m.Body = bench::TextLines(8 << 20);
  std::size_t bytes = 0;
  for (const auto& l : m.Body)
    bytes += l.size() + 2;
  for (auto _ : state) {
    std::string raw = m.SaveToString();
    benchmark::DoNotOptimize(raw.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_EncodeQuotedPrintableText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
