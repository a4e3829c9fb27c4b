#include "show/Show.h"

#include <chrono>

#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "show/Globals.h"
#include "show/Hooks.h"
#include "show/Music.h"
#include "show/Parts.h"
#include "show/Random.h"
#include "show/Trace.h"

namespace {

// The music's progress in the frame trace, so that a run can show when the music played.
void TraceMusic(std::string& Json) { TraceInt(Json, "music_pos", MusicPosition()); }

// Wall-clock time since the previous traced frame, in ms with microsecond resolution: with a fixed
// step the engine's own delta says nothing about how long a frame really took.
void TraceWallTime(std::string& Json) {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point Previous;
  const Clock::time_point Now = Clock::now();
  const double Ms = Previous == Clock::time_point{} ? 0.0 : std::chrono::duration<double, std::milli>(Now - Previous).count();
  Previous = Now;
  TraceNumber(Json, "wall_ms", Ms);
}

// Programs the graphics layer has built so far: a run can show that none is built mid-show.
void TracePrograms(std::string& Json) {
  if (Engine == nullptr || Engine->D3D == nullptr || !Engine->D3D->Device) return;
  TraceInt(Json, "programs", static_cast<long long>(gx::GxGetStats(Engine->D3D->Device.get()).programsCompiled));
}

// Scene one is loaded last: once it is there, every object of the show exists.
void LoadPart1AndWarmUp() {
  LoadPart1();
  WarmUpShow();
}

}  // namespace

void ResetShow(uint32_t Seed) {
  ResetSceneState();
  Randomize(Seed);
}

void InstallShowHooks() {
  AddTraceAppender(TraceMusic);
  AddTraceAppender(TraceWallTime);
  AddTraceAppender(TracePrograms);
  DemoHooks.MovePart1 = MovePart1;
  DemoHooks.RenderPart1 = RenderPart1;
  DemoHooks.OpenResource = OpenResource;
  DemoHooks.CloseResource = CloseResource;
  DemoHooks.FreeResource = FreeResource;
  DemoHooks.CreatePostTarget = CreatePostTarget;
  DemoHooks.LoadTextures = LoadTextures;
  DemoHooks.LoadPart2 = LoadPart2;
  DemoHooks.LoadPart3 = LoadPart3;
  DemoHooks.LoadPart4 = LoadPart4;
  DemoHooks.LoadPart5 = LoadPart5;
  DemoHooks.LoadPostShaders = LoadPostShaders;
  DemoHooks.LoadPart1 = LoadPart1AndWarmUp;
  DemoHooks.LoadMusic = LoadMusic;
  DemoHooks.PlayMusic = PlayMusic;
  DemoHooks.FreeMusic = FreeMusic;
  DemoHooks.FreePart1 = FreePart1;
  DemoHooks.FreePart2 = FreePart2;
  DemoHooks.FreePart3 = FreePart3;
  DemoHooks.FreePart4 = FreePart4;
  DemoHooks.FreePart5 = FreePart5;
  DemoHooks.FreeTextures = FreeTextures;
  DemoHooks.FreePostShaders = FreePostShaders;
}
