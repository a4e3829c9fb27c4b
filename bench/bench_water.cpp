// One water step: simulation, surface mesh and (optionally) the caustics mesh.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/vokWater.h"
#include "tests/support/device_fixture.h"

namespace {

// Waves everywhere, as in the show after a few drops.
void Stir(TWater& w) {
  for (int i = 0; i < 12; ++i) {
    w.Drop(95 + 7 * i, 95 - 5 * i);
    for (int s = 0; s < 10; ++s) w.Simulate();
  }
}

void BM_WaterUpdateOnDevice(benchmark::State& state) {
  const bool caustics = state.range(0) != 0;
  auto d3d = vktest::MakeD3D(gx::BackendKind::Recording);
  TWater w(d3d.get());
  w.Init(100);
  w.CreateBuffers();
  Stir(w);
  const D3DXVECTOR3 eye(1, 5, 1), light(0, 1, 0);
  int n = 0;
  for (auto _ : state) {
    if (++n % 64 == 0) w.Drop(95, 95);
    benchmark::DoNotOptimize(w.Update(eye, light, caustics));
  }
}
BENCHMARK(BM_WaterUpdateOnDevice)->Arg(0)->Arg(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(
    benchmark::kMicrosecond);

void BM_WaterUpdateInMemory(benchmark::State& state) {
  const bool caustics = state.range(0) != 0;
  TWater w(nullptr);
  w.Init(100);
  Stir(w);
  std::vector<TWaterVertex> surface(WaterVertexCount);
  std::vector<TCausticVertex> out(WaterVertexCount);
  const D3DXVECTOR3 eye(1, 5, 1), light(0, 1, 0);
  int n = 0;
  for (auto _ : state) {
    if (++n % 64 == 0) w.Drop(95, 95);
    w.Simulate();
    w.BuildSurface(surface.data(), eye);
    if (caustics) w.BuildCaustics(surface.data(), out.data(), light);
    benchmark::DoNotOptimize(surface.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_WaterUpdateInMemory)->Arg(0)->Arg(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(
    benchmark::kMicrosecond);

}  // namespace
