#include "app/Playback.h"

#include <algorithm>
#include <cstdio>

#include "app/Capture.h"
#include "app/Entry.h"
#include "engine/vokEngine.h"
#include "platform/os/clock.h"
#include "platform/os/messages.h"
#include "platform/os/system.h"
#include "platform/os/window.h"
#include "show/Show.h"

namespace {

// The active run, for the engine's plain-procedure hooks.
TPlayback* Active = nullptr;
TCapture* ActiveCapture = nullptr;
TvokNotifyProc ChainedPresented = nullptr;  // what was hooked before us (the run tools)
uint32_t ShowSeed = 0;
uint32_t ShownTenths = ~0u;
bool ShownPaused = false;
TMusicResumeHook MusicResume = nullptr;

// The step a seek replays at when the run itself has none (the real clock).
constexpr uint32_t RealClockReplayStep = 16;
constexpr uint32_t JumpLength = 5000;

template <typename Routine>
void Call(Routine Hook) {
  if (Hook) Hook();
}

// Time of the next frame and of the one after it, at the engine's fixed step.
uint32_t FrameTimeAhead(const TvokEngine& Engine, uint64_t Ahead) {
  if (Engine.RateNum > 0) return Engine.RateFrameTime(Engine.FixedFrame + Ahead);
  return Engine.Time + static_cast<uint32_t>(Ahead + 1) * Engine.FixedStepLength;
}

// Music frame of show time Ms (the music started at show time 0).
uint64_t MusicFrameAt(uint32_t Ms) { return static_cast<uint64_t>(Ms) * MusicRate / 1000; }

// Back to show time 0 in the same process: the scenes' objects, textures and shaders are made
// again from the archive, the shared scene state and the random generator start over, and the
// engine's clock and first scene are those of a new run.
void RestartShow(TvokEngine& Engine) {
  FreeShowContent();
  // The device goes back to the state a new one has (every render state the scenes left behind
  // included), and the camera to that of a new device wrapper.
  TvokD3D* D3D = Engine.D3D;
  D3D->Device->Reset(&D3D->PresentParams);
  if (MultiSampleMode != D3DMULTISAMPLE_NONE) D3D->Device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
  D3D->CameraTargetBase = D3D->CameraTarget = D3D->CameraPosition = D3D->CameraRotation = D3DXVECTOR3(0, 0, 0);
  D3D->View = D3DMATRIX{};
  D3D->FrameTime = 0;
  // The clock too, before loading: the load routines (and the warm-up pass through the render
  // routines after them) run at show time 0 in a new process.
  Engine.Time = 0;
  Engine.DeltaTime = 0;
  Engine.FixedFrame = 0;
  if (ShowFace.Reset) ShowFace.Reset(ShowSeed);
  LoadShowContent(*D3D);
  Engine.QuitCalled = false;
  if (ShowFace.FirstMove) Engine.SetScene(ShowFace.FirstMove, ShowFace.FirstRender);
  Call(ShowFace.PlayMusic);  // the last scene may have stopped it
}

// Show time that passed between the last frame and a pause: the music played it, so the clock
// counts it too when the show goes on (else every pause put the music up to a frame ahead).
uint32_t PausedAfterFrame = 0;

// The music (already at the show's moment) and the clock go on together from here.
void GoOn(TvokEngine& Engine) {
  if (MusicResume) {
    MusicResume(Engine, Engine.Paused);
    return;
  }
  PauseMusic(Engine.Paused);
  RestartClock(Engine);
}

// Brings the show to Target (replaying from 0 when Target lies behind) and the music with it.
void SeekShow(TvokEngine& Engine, uint32_t Target) {
  PausedAfterFrame = 0;
  PauseMusic(true);
  if (Target < Engine.Time || Target == 0) RestartShow(Engine);
  if (Target > 0) ReplayTo(Engine, Target);
  SeekMusic(MusicFrameAt(Engine.Time));
  GoOn(Engine);
}

void ShowTimeInTitle(TvokEngine& Engine) {
  const uint32_t Tenths = Engine.Time / 100;
  if (Tenths == ShownTenths && Engine.Paused == ShownPaused) return;
  ShownTenths = Tenths;
  ShownPaused = Engine.Paused;
  char Text[96];
  std::snprintf(Text, sizeof Text, "%s  %u.%u s%s", ShowTitle, Tenths / 10, Tenths % 10,
                Engine.Paused ? "  (paused)" : "");
  os::SetWindowCaption(Engine.Handle, Text);
}

bool ControlKey(uint32_t Key) {
  TvokEngine* E = Engine;
  if (!E) return false;
  switch (Key) {
    case os::VK_SPACE:
      SetShowPaused(*E, !E->Paused);
      break;
    case os::VK_LEFT:
      SeekShow(*E, E->Time > JumpLength ? E->Time - JumpLength : 0);
      break;
    case os::VK_RIGHT:
      SeekShow(*E, std::min(E->Time + JumpLength, ShowEndTime - 1));
      break;
    case os::VK_HOME:
      SeekShow(*E, 0);
      break;
    default:
      return false;
  }
  ShowTimeInTitle(*E);
  return true;
}

void OnPresented() {
  if (ChainedPresented) ChainedPresented();
  if (!Engine) return;
  if (ActiveCapture) ActiveCapture->FramePresented(*Engine);
  if (Engine->OnKeyDown == ControlKey) ShowTimeInTitle(*Engine);
}

}  // namespace

bool ReplayTo(TvokEngine& Engine, uint32_t Target) {
  const bool RealClock = !Engine.FixedStep;
  const uint32_t SavedStep = Engine.FixedStepLength;
  if (RealClock) {
    Engine.FixedStep = true;
    Engine.FixedStepLength = RealClockReplayStep;
  }
  while (!Engine.QuitCalled && !os::StopRequested() && FrameTimeAhead(Engine, 0) < Target) {
    // The last frame before Target is drawn (not presented): a frame that draws nothing, such as
    // a scene hand-over, then shows what a run from 0 shows.
    Engine.SkipFrame(FrameTimeAhead(Engine, 1) >= Target);
  }
  if (RealClock) {
    Engine.FixedStep = false;
    Engine.FixedStepLength = SavedStep;
  }
  return !Engine.QuitCalled && !os::StopRequested();
}


void SetShowPaused(TvokEngine& Engine, bool Paused) {
  if (Paused == Engine.Paused) return;
  Engine.Paused = Paused;
  if (Paused) {
    PauseMusic(true);
    if (!Engine.FixedStep) PausedAfterFrame = os::TimeGetTime() - Engine.LastTick;
  } else {
    GoOn(Engine);  // the pause does not count as show time
  }
}

void RestartClock(TvokEngine& Engine) {
  Engine.ResetClock();
  Engine.LastTick -= PausedAfterFrame;
  PausedAfterFrame = 0;
}

void SeekShowTo(TvokEngine& Engine, uint32_t Target) { SeekShow(Engine, std::min(Target, ShowEndTime - 1)); }

void SetMusicResumeHook(TMusicResumeHook Hook) { MusicResume = Hook; }

TPlayback::TPlayback() = default;

TPlayback::~TPlayback() {
  if (Active == this) {
    Active = nullptr;
    ActiveCapture = nullptr;
  }
}

bool TPlayback::Prepare(const TOptions& Options, int Width, int Height, std::string& Error) {
  this->Options = Options;
  ShowSeed = Options.Seed;
  if (Options.CaptureFile.empty()) return true;
  UseOfflineMusic();
  Capture = std::make_unique<TCapture>();
  return Capture->Open(Options, Width, Height, Error);
}

void TPlayback::Attach(TvokEngine& Engine) {
  Active = this;
  ActiveCapture = Capture.get();
  if (Options.HasFps || Capture) {
    Engine.FixedStep = true;
    Engine.RateNum = Options.FpsNum;
    Engine.RateDen = Options.FpsDen;
    Engine.FixedFrame = 0;
  }
  // A live run's clock follows the music as it is heard; a fixed step has its own.
  if (!Engine.FixedStep && !Options.WallClock) Engine.HeardTime = HeardMusicTime;
  if (Options.Controls && !os::Headless()) Engine.OnKeyDown = ControlKey;
  if (Capture || Engine.OnKeyDown) {
    ChainedPresented = Engine.OnFramePresented;
    Engine.OnFramePresented = OnPresented;
  }
}

void TPlayback::Begin(TvokEngine& Engine) {
  if (Options.HasStart && Options.Start > 0) {
    PauseMusic(true);
    ReplayTo(Engine, Options.Start);
    // The music goes on from the moment of the next frame (a fixed rate) or of the last replayed
    // one (the real clock, which counts on from there).
    if (Capture) {
      // The capture puts the music at its first frame itself.
    } else if (Engine.FixedStep && Engine.RateNum > 0) {
      SeekMusic(Engine.FixedFrame * MusicRate * Engine.RateDen / Engine.RateNum);
    } else {
      SeekMusic(MusicFrameAt(Engine.Time));
    }
    if (Capture) {
      PauseMusic(false);
      Engine.ResetClock();
    } else {
      GoOn(Engine);
    }
  }
  if (Capture) Capture->Begin(Engine);
}

int TPlayback::End(TvokEngine* Engine) {
  int Status = 0;
  if (Capture) {
    Status = Capture->Finish(Engine);
    Capture.reset();
  }
  ActiveCapture = nullptr;
  return Status;
}
