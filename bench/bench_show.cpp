// CPU time of the show's own logic per frame: every move and render routine of the whole show
// at the fixed 40 ms step, drawing into the recording backend (which draws nothing).

#include <benchmark/benchmark.h>

#include <chrono>

#include "tests/support/show_harness.h"

namespace {

void BM_WholeShowLogic(benchmark::State& State) {
  double Seconds = 0;
  size_t Frames = 0;
  for (auto _ : State) {
    State.PauseTiming();
    vktest::WholeShow Show;
    Show.Load();
    if (!Show.Error.empty()) {
      State.SkipWithError(Show.Error.c_str());
      return;
    }
    State.ResumeTiming();
    const auto Start = std::chrono::steady_clock::now();
    Engine->Run();
    Seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    State.PauseTiming();
    Frames += Show.Frames.size();
    Show.Release();
    State.ResumeTiming();
  }
  State.counters["frames"] = static_cast<double>(Frames) / State.iterations();
  State.counters["ms_per_frame"] = Frames ? 1000.0 * Seconds / Frames : 0.0;
}
BENCHMARK(BM_WholeShowLogic)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
