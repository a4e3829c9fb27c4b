#include "show/Show.h"

#include <chrono>

#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "show/AssetWarnings.h"
#include "show/Globals.h"
#include "show/Music.h"
#include "show/Random.h"
#include "show/SceneTable.h"

TShowFace ShowFace;

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

// In a live run: the instant the frame was shown on the monotonic clock (ms) and the moment of the
// music heard then (ms, as the show's clock counts), so a run can be set against a recording of
// what the speakers played.
void TraceHeard(std::string& Json) {
  if (Engine == nullptr || Engine->FixedStep) return;
  using Clock = std::chrono::steady_clock;
  TraceNumber(Json, "clock_ms", std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count());
  double Heard = 0;
  bool Started = false;
  if (HeardMusicTime(Heard, Started) && Started) TraceNumber(Json, "heard_ms", Heard);
}

// Programs the graphics layer has built so far: a run can show that none is built mid-show.
void TracePrograms(std::string& Json) {
  if (Engine == nullptr || Engine->D3D == nullptr || !Engine->D3D->Device) return;
  TraceInt(Json, "programs", static_cast<long long>(gx::GxGetStats(Engine->D3D->Device.get()).programsCompiled));
}

void ResetShow(uint32_t Seed) {
  ResetSceneState();
  Randomize(Seed);
}

void LoadShow(const std::string& ArchiveFileName) {
  try {
    OpenResource(ArchiveFileName);
    for (const TShowStage& Stage : LoadStages()) Stage.Run();
    WarnDamagedEntries();
    CloseResource();
  } catch (...) {
    FreeResource();
    throw;
  }
  FreeResource();
}

void FreeShow() {
  for (const TShowStage& Stage : FreeStages()) Stage.Run();
}

}  // namespace

void InstallShow() {
  // Every traced frame carries the show's state, then the music, the wall clock, the programs.
  AddTraceAppender(AppendShowTrace);
  AddTraceAppender(TraceMusic);
  AddTraceAppender(TraceWallTime);
  AddTraceAppender(TraceHeard);
  AddTraceAppender(TracePrograms);
  const TScene& First = *Scenes().front();
  ShowFace.FirstMove = First.Move;
  ShowFace.FirstRender = First.Render;
  ShowFace.Reset = ResetShow;
  ShowFace.Load = LoadShow;
  ShowFace.Free = FreeShow;
  ShowFace.LoadMusic = LoadMusic;
  ShowFace.PlayMusic = PlayMusic;
  ShowFace.FreeMusic = FreeMusic;
}
