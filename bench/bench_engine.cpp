// The engine's own cost: opening the window and device up to the first presented frame, and one
// empty frame (clock step, scene begin, colour clear, scene end, present), headless.

#include <benchmark/benchmark.h>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/os/system.h"

namespace {

void NoMove(int) {}
void ClearToBlack(int) { Engine->D3D->ClearTarget(0xFF000000u); }

void Prepare(gx::BackendKind kind) {
  os::SetHeadless(true);
  os::Init();
  gx::SetBackendKind(kind);
}

TvokEngine* MakeEngine(int width, int height) {
  return new TvokEngine(nullptr, width, height, 0, true, "Quorvanteplidusk", NoMove, ClearToBlack, false, true, true,
                        false, false, true, D3DMULTISAMPLE_NONE, 0);
}

// Window, device, font and shadow object, then one frame: what the show pays before its first
// picture, without its own loading.
void BM_StartupToFirstFrame(benchmark::State& state) {
  Prepare(gx::BackendKind::Gl);
  for (auto _ : state) {
    Engine = MakeEngine(1280, 720);
    if (!Engine->Ok) {
      state.SkipWithError(Engine->ErrorText.c_str());
      delete Engine;
      break;
    }
    Engine->RenderFrame();
    state.PauseTiming();
    delete Engine;
    Engine = nullptr;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartupToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void EmptyFrames(benchmark::State& state, gx::BackendKind kind) {
  Prepare(kind);
  Engine = MakeEngine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  if (!Engine->Ok) {
    state.SkipWithError(Engine->ErrorText.c_str());
  } else {
    for (auto _ : state) Engine->RenderFrame();
    state.SetItemsProcessed(state.iterations());  // frames per second
  }
  delete Engine;
  Engine = nullptr;
}

void BM_EmptyFrameGl(benchmark::State& state) { EmptyFrames(state, gx::BackendKind::Gl); }
BENCHMARK(BM_EmptyFrameGl)->Args({1280, 720})->Args({320, 180})->Unit(benchmark::kMicrosecond)->UseRealTime();

// The engine and device front end alone, with no GPU work behind them.
void BM_EmptyFrameRecording(benchmark::State& state) { EmptyFrames(state, gx::BackendKind::Recording); }
BENCHMARK(BM_EmptyFrameRecording)->Args({1280, 720})->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(20000);

}  // namespace
