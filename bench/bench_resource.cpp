// Loading from the archive: every entry read and inflated, and the whole texture set created,
// on the recording backend (decoding and mip chains only) and on the GL backend (with the upload).
// Run with --benchmark_repetitions=5 for medians.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"
#include "show/Textures.h"

namespace {

const std::string kArchive = std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr";

std::vector<std::string> AllEntries() {
  std::vector<std::string> n = {"texEye", "texEnvMap", "texInvSpot", "texShowDown", "texWater", "EndPic", "fog"};
  for (int i = 1; i <= 11; ++i) n.push_back("Ticket-" + std::to_string(i));
  for (const char* s : {"Floor", "particle", "WaterCube", "WaterFX", "pshBlur", "pshDream", "pshDream2",
                        "pshGhostDream", "pshContrastDream", "fxRadialBlur"})
    n.push_back(s);
  return n;
}

void NoFrame(int) {}

void BM_ReadEveryEntry(benchmark::State& state) {
  const auto names = AllEntries();
  int64_t bytes = 0;
  for (auto _ : state) {
    TvokResource r;
    if (!r.Open(kArchive)) {
      state.SkipWithError("no archive");
      return;
    }
    TResourceEntry e{};
    for (const auto& n : names) {
      if (!r.ReadByName(n, e)) {
        state.SkipWithError(("missing " + n).c_str());
        return;
      }
      bytes += e.Size;
    }
    r.FreeEntry(e);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadEveryEntry)->Unit(benchmark::kMillisecond);

// Open, LoadTextures, close: the texture part of the start-up.
void BM_LoadTextures(benchmark::State& state) {
  const bool gl = state.range(0) != 0;
  os::SetHeadless(true);
  gx::SetBackendKind(gl ? gx::BackendKind::Gl : gx::BackendKind::Recording);
  Engine = new TvokEngine(nullptr, 640, 360, 0, true, "bench", NoFrame, NoFrame, false, true, true, false, false,
                          true, D3DMULTISAMPLE_NONE, 0);
  if (!Engine->Ok) {
    state.SkipWithError(Engine->ErrorText.c_str());
  } else {
    for (auto _ : state) {
      OpenResource(kArchive);
      LoadTextures();
      CloseResource();
      FreeResource();
      state.PauseTiming();
      FreeTextures();
      TexParticle = nullptr;
      state.ResumeTiming();
    }
    if (!Engine->D3D->Ok) state.SkipWithError(Engine->D3D->ErrorText.c_str());
  }
  delete Engine;
  Engine = nullptr;
}
BENCHMARK(BM_LoadTextures)->Arg(0)->Arg(1)->ArgName("gl")->Unit(benchmark::kMillisecond);

}  // namespace
