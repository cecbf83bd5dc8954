// Vigilo's MIME decoder and encoder beside GMime 3 doing the same work on the
// same inputs: a 48 MB message with base64 files, a 20 MB quoted-printable
// text, 10,000 small messages (decoded), and a 24 MB attachment (encoded).
// Each pair reports its throughput and, from a probe process of its own, the
// peak memory the work took as a multiple of the message ("peak_x").

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/mime_compare_data.h"
#include "bench/mime_gmime.h"

namespace {

namespace fs = std::filesystem;

// The input files, written once into a folder removed at exit.
class Inputs {
 public:
  static Inputs& Get() {
    static Inputs inputs;
    return inputs;
  }
  const std::string& Base64Path() {
    if (base64_.empty()) base64_ = Write("base64.eml", bench::Base64Message());
    return base64_;
  }
  const std::string& QuotedPrintablePath() {
    if (qp_.empty()) qp_ = Write("qp.eml", bench::QuotedPrintableMessage());
    return qp_;
  }
  const std::vector<std::string>& Small() {
    if (small_.empty()) small_ = bench::SmallMessages(10000);
    return small_;
  }
  ~Inputs() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  Inputs() {
    std::string t = (fs::temp_directory_path() / "vigilo-mime-bench-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    dir_ = t;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path dir_;
  std::string base64_, qp_;
  std::vector<std::string> small_;
};

std::size_t FileSize(const std::string& path) {
  return static_cast<std::size_t>(fs::file_size(path));
}

// Peak memory of the work in a probe process, as a multiple of the message.
double PeakTimes(const char* lib, const char* work, const std::string& arg) {
  const std::string command =
      std::string(VIGILO_PEAK_PROBE) + " " + lib + " " + work + " '" + arg + "'";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  unsigned long long growth = 0, message = 0;
  const int got = std::fscanf(p, "%llu %llu", &growth, &message);
  pclose(p);
  return got == 2 && message > 0 ? static_cast<double>(growth) / static_cast<double>(message) : -1;
}

// Vigilo's decoded files and body against GMime's decoded parts: 1 when every
// file matches the part at its place, byte for byte.
double SameFiles(const ms::TmsMessage& m, const bench::GMimeDecoded& g, std::size_t firstFile) {
  if (g.Count() != firstFile + static_cast<std::size_t>(m.Attachments.Count())) return 0;
  for (int i = 0; i < m.Attachments.Count(); ++i)
    if (g.Bytes(firstFile + static_cast<std::size_t>(i)) != m.Attachments.Items(i).Data) return 0;
  return 1;
}

// ---- 48 MB of base64 files

void BM_Base64Message_Vigilo(benchmark::State& state) {
  const std::string& path = Inputs::Get().Base64Path();
  for (auto _ : state) {
    ms::TmsMessage m;
    m.LoadFromFile(path);
    benchmark::DoNotOptimize(m.Attachments.Items(3).Data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize(path)));
  state.counters["peak_x"] = PeakTimes("vigilo", "decode", path);
  ms::TmsMessage m;
  m.LoadFromFile(path);
  bench::GMimeDecoded g;
  g.ParseFile(path);
  state.counters["same_bytes"] = SameFiles(m, g, 1);
}

// GMime parsing the message file at `path`, with its peak memory.
void GMimeDecodeFile(benchmark::State& state, const std::string& path) {
  bench::GMimeInit();
  for (auto _ : state) {
    bench::GMimeDecoded g;
    g.ParseFile(path);
    benchmark::DoNotOptimize(g.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize(path)));
  state.counters["peak_x"] = PeakTimes("gmime", "decode", path);
}

void BM_Base64Message_GMime(benchmark::State& state) {
  GMimeDecodeFile(state, Inputs::Get().Base64Path());
}

// ---- 20 MB of quoted-printable text

void BM_QuotedPrintableMessage_Vigilo(benchmark::State& state) {
  const std::string& path = Inputs::Get().QuotedPrintablePath();
  for (auto _ : state) {
    ms::TmsMessage m;
    m.LoadFromFile(path);
    benchmark::DoNotOptimize(m.Body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize(path)));
  state.counters["peak_x"] = PeakTimes("vigilo", "decode", path);
  ms::TmsMessage m;
  m.LoadFromFile(path);
  bench::GMimeDecoded g;
  g.ParseFile(path);
  state.counters["same_bytes"] = g.Count() == 1 && g.Bytes(0) == ms::JoinLines(m.Body) ? 1 : 0;
}

void BM_QuotedPrintableMessage_GMime(benchmark::State& state) {
  GMimeDecodeFile(state, Inputs::Get().QuotedPrintablePath());
}

// ---- 10,000 small messages, each from bytes in memory

std::size_t TotalBytes(const std::vector<std::string>& all) {
  std::size_t n = 0;
  for (const auto& s : all)
    n += s.size();
  return n;
}

void BM_SmallMessages_Vigilo(benchmark::State& state) {
  const auto& all = Inputs::Get().Small();
  for (auto _ : state) {
    for (const std::string& raw : all) {
      ms::TmsMessage m;
      m.LoadFromString(raw);
      benchmark::DoNotOptimize(m.Body.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(all)));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}

void BM_SmallMessages_GMime(benchmark::State& state) {
  const auto& all = Inputs::Get().Small();
  bench::GMimeInit();
  for (auto _ : state) {
    for (const std::string& raw : all) {
      bench::GMimeDecoded g;
      g.ParseBytes(raw);
      benchmark::DoNotOptimize(g.Count());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(all)));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}

// ---- a 24 MB attachment encoded

void BM_EncodeAttachment_Vigilo(benchmark::State& state) {
  ms::TmsMessage m = bench::AttachmentMessage(bench::RandomBytes(bench::kAttachmentBytes));
  for (auto _ : state) {
    std::string raw = m.SaveToString();
    benchmark::DoNotOptimize(raw.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bench::kAttachmentBytes));
  state.counters["peak_x"] = PeakTimes("vigilo", "encode", std::to_string(bench::kAttachmentBytes));
}

void BM_EncodeAttachment_GMime(benchmark::State& state) {
  bench::GMimeAttachmentMessage m(bench::RandomBytes(bench::kAttachmentBytes));
  const bool crlf = state.range(0) != 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(m.Write(crlf));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bench::kAttachmentBytes));
  if (crlf)
    state.counters["peak_x"] =
        PeakTimes("gmime", "encode", std::to_string(bench::kAttachmentBytes));
}

}  // namespace

BENCHMARK(BM_Base64Message_Vigilo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Message_GMime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableMessage_Vigilo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableMessage_GMime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallMessages_Vigilo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallMessages_GMime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeAttachment_Vigilo)->Unit(benchmark::kMillisecond);
// Argument 1: CR LF line ends, the bytes Vigilo writes; 0: GMime's default LF.
BENCHMARK(BM_EncodeAttachment_GMime)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
