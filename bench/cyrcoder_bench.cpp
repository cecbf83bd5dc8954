// Throughput of the code-page converter and of the code-page guess (bytes/s).

#include <benchmark/benchmark.h>

#include <string>

#include "viewer/CyrCoder.h"

namespace {

using vigilo::TCodePage;

// About `size` bytes of Russian prose with ASCII punctuation, in UTF-8.
std::string RussianUtf8(std::size_t size) {
  const std::string sentence =
      "Съешь же ещё этих мягких французских булок, да выпей чаю. В 1999 году ёжик нёс ёлку "
      "домой!\r\n";
  std::string text;
  while (text.size() < size)
    text += sentence;
  return text;
}

std::string Russian(TCodePage page, std::size_t size) {
  return vigilo::ConvertCodePage(RussianUtf8(size), TCodePage::UTF8, page);
}

void BM_CyrCoderConvert(benchmark::State& state, TCodePage source, TCodePage target) {
  const std::string text = Russian(source, static_cast<std::size_t>(state.range(0)));
  vigilo::TCyrCoder coder;
  coder.Source = source;
  coder.Target = target;
  for (auto _ : state) {
    coder.SetText(text);
    coder.Convert();
    benchmark::DoNotOptimize(coder.Text().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK_CAPTURE(BM_CyrCoderConvert, koi8r_to_cp1251, TCodePage::KOI8R, TCodePage::CP1251)
    ->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_CyrCoderConvert, cp1251_to_utf8, TCodePage::CP1251, TCodePage::UTF8)
    ->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_CyrCoderConvert, utf8_to_cp1251, TCodePage::UTF8, TCodePage::CP1251)
    ->Arg(1 << 20);

void BM_ToUtf8(benchmark::State& state) {
  const std::string text = Russian(TCodePage::KOI8R, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(vigilo::ToUtf8(text, TCodePage::KOI8R));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ToUtf8)->Arg(1 << 20);

void BM_DetectCodePage(benchmark::State& state, TCodePage page) {
  const std::string text = Russian(page, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(vigilo::DetectCodePage(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
// A subject line, and a message body.
BENCHMARK_CAPTURE(BM_DetectCodePage, koi8r, TCodePage::KOI8R)->Arg(40)->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_DetectCodePage, utf8, TCodePage::UTF8)->Arg(40)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
