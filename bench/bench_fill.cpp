// Fill cost of the graphics layer: one frame of scene two (tickets streaming through 95 fog
// planes, blurred) and one of scene three (the ticket slide show over the floor) at 1280 x 720,
// drawn (a) through the layer and (b) as the same draws on plain GL with small hand-written
// programs, one per kind of draw. On llvmpipe every fragment-shader instruction is paid per
// pixel, so the ratio of the two shows what the generated shaders cost beyond need.
//
// The frames are the show's own: its code runs to the chosen moment on the recording backend,
// which keeps each draw's vertices and the state in force; both sides then replay that one
// frame with the same geometry, textures, blending and depth. The set-up compares the two
// pictures and stops the program when they differ, so the ratio compares like with like.
// The machine is shared and llvmpipe's threads feel every other job on it: run with
// --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true, so that both sides of a
// scene meet the same load, and compare the medians.


#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/frame_replay.h"
#include "bench/support/gl_replay.h"
#include "platform/gfx/backend.h"

namespace {

using namespace replay;

constexpr UINT kWidth = 1280, kHeight = 720;

std::vector<CapturedFrame> g_frames;  // scene two, scene three

void Capture() {
  if (g_frames.empty()) g_frames = CaptureFrames(kWidth, kHeight, {30000, 52000});  // each scene's second step
}

// ---------------------------------------------------------------------------
// The pictures must agree before anything is timed

std::vector<std::uint8_t> g_layerPicture[2];

const std::vector<std::uint8_t>& LayerPicture(int scene) {
  if (g_layerPicture[scene].empty()) {
    LayerReplay layer;
    layer.Init(g_frames[scene]);
    layer.Frame();
    layer.Frame();  // the second frame samples what the first left in the post target, as the show does
    g_layerPicture[scene] = layer.Picture();
  }
  return g_layerPicture[scene];
}

// Both pictures as PPM files, to look at when they differ.
void Keep(const std::vector<std::uint8_t>& rgba, const std::string& path) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return;
  std::fprintf(out, "P6 %u %u 255\n", kWidth, kHeight);
  for (size_t i = 0; i < rgba.size(); i += 4) std::fwrite(&rgba[i], 1, 3, out);
  std::fclose(out);
  std::fprintf(stderr, "bench_fill: wrote %s\n", path.c_str());
}

// The largest difference of a channel, after failing where the pictures differ.
int Compare(int scene, const std::vector<std::uint8_t>& direct) {
  const auto& layer = LayerPicture(scene);
  if (layer.size() != direct.size()) Fail("pictures of different sizes");
  // A few steps of rounding are expected (the two sides do the same arithmetic in another order);
  // a wrong texture, blend or fog moves whole areas far more than that.
  size_t far = 0;
  int worst = 0;
  double sum[2] = {0, 0};
  for (size_t i = 0; i < layer.size(); ++i) {
    if (i % 4 == 3) continue;  // the back buffer has no alpha
    int diff = std::abs(int(layer[i]) - int(direct[i]));
    worst = std::max(worst, diff);
    if (diff > 8) ++far;
    sum[0] += layer[i], sum[1] += direct[i];
  }
  if (far > layer.size() / 4 / 1000 || std::abs(sum[0] - sum[1]) > 0.002 * (sum[0] + 1.0) || sum[0] == 0) {
    char why[256];
    std::snprintf(why, sizeof why,
                  "scene %d: the layer's and the direct picture differ (%zu channels off by more than 8, worst %d, "
                  "sums %.0f and %.0f)",
                  scene + 2, far, worst, sum[0], sum[1]);
    std::string stem = "/tmp/bench_fill_scene" + std::to_string(scene + 2);
    Keep(layer, stem + "_layer.ppm");
    Keep(direct, stem + "_direct.ppm");
    Fail(why);
  }
  return worst;
}

void BM_FillLayer(benchmark::State& state) {
  Capture();
  const int scene = int(state.range(0)) - 2;
  LayerReplay layer;
  layer.Init(g_frames[scene]);
  layer.Frame();
  layer.Frame();
  if (g_layerPicture[scene].empty()) g_layerPicture[scene] = layer.Picture();
  gx::GxResetStats(layer.d.get());
  for (auto _ : state) layer.Frame();
  auto stats = gx::GxGetStats(layer.d.get());
  state.counters["draws"] = double(g_frames[scene].draws.size());
  state.counters["programs_after_warm_up"] = double(stats.programsCompiled);
}
BENCHMARK(BM_FillLayer)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_FillDirect(benchmark::State& state) {
  Capture();
  const int scene = int(state.range(0)) - 2;
  LayerPicture(scene);
  GlReplay direct(g_frames[scene]);
  direct.Frame();
  direct.Frame();
  int worst = Compare(scene, direct.Picture());
  for (auto _ : state) direct.Frame();
  state.counters["draws"] = double(g_frames[scene].draws.size());
  state.counters["largest_channel_difference"] = worst;
}
BENCHMARK(BM_FillDirect)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace