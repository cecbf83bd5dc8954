// Opening the viewer on a configuration of many header records: the sort by date, the
// code pages from "info.txt", the model's fill (converted texts, blacklist, file test)
// and the first message shown.

#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/core/check_fixture.h"
#include "viewer/mailviewer.h"
#include "viewer/model/headsmodel.h"

namespace {

using namespace vigilo;

class ModelView : public ViewerView {
 public:
  explicit ModelView(THeadsModel& m, int32_t conf) : model_(m), conf_(conf) {}
  void HeadsReset() override { model_.SetConf(conf_); }

 private:
  THeadsModel& model_;
  int32_t conf_;
};

void BM_ViewerOpen(benchmark::State& state, int sortColumn) {
  test::TempDir dir;
  test::Settings st(dir);
  tusers& s = st.s;
  st.Add("Work", "work", "pw", 110);
  for (int i = 0; i < 50; ++i)
    s.Black.push_back("spammer" + std::to_string(i) + "@example.test");
  std::mt19937 random(7);
  const int count = static_cast<int>(state.range(0));
  for (int i = 0; i < count; ++i) {
    const int day = 1 + static_cast<int>(random() % 28);
    const std::string id = "msg" + std::to_string(random()) + "@example.test";
    s.AddHead(0, i, "\xE8\xE2\xE0\xED <ivan" + std::to_string(i % 300) + "@example.test>",
              "\xCE\xF2\xF7\xE5\xF2 " + std::to_string(i),
              " " + std::to_string(random() % 100000) + " байт",
              "Mon, " + std::to_string(day) + " Dec 2026 " + std::to_string(random() % 24) +
                  ":00:00 +0300",
              "work@example.test", id, 0);
  }
  const std::vector<tmailhead> original = s.Conf[0].Heads;
  THeadsModel model(s);
  ModelView view(model, 0);
  ViewerServices services;
  ms::TmsPOPClient pop;
  TMailViewer viewer(s, pop, services, view, dir.str());
  viewer.SortColumn = sortColumn;
  for (auto _ : state) {
    state.PauseTiming();
    s.Conf[0].Heads = original;  // as the check left them
    state.ResumeTiming();
    viewer.Show(0);
    benchmark::DoNotOptimize(model.rowCount());
  }
  state.counters["records"] = static_cast<double>(count);
}

BENCHMARK_CAPTURE(BM_ViewerOpen, by_date, 3)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerOpen, by_subject, 1)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerOpen, by_size, 2)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
