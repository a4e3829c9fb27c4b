#include "app/Playback.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "app/Capture.h"
#include "app/Entry.h"
#include "engine/vokEngine.h"
#include "platform/os/messages.h"
#include "platform/os/window.h"
#include "show/Hooks.h"
#include "show/Music.h"
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
bool FollowMusic = false;  // a program with controls of its own (SetMusicResumeHook)

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

// How far the music runs from the show's clock as it plays: music mixed minus show time, in ms,
// sampled at every presented frame while both move (the middle of the last samples: the output
// takes the music in blocks). A seek keeps this distance, whatever made it (the output's buffers,
// the moment the music started), so after it the music is exactly as far from the picture as
// before; putting the music at the show's time instead moved it by tens of milliseconds.
class TMusicOffset {
 public:
  void Note(const TvokEngine& Engine) {
    if (Engine.FixedStep || Engine.Paused) return;
    const uint32_t Position = MusicPosition();
    if (Position != LastPosition) LastChange = Engine.Time;
    LastPosition = Position;
    // Music that stopped (scene five, its end) or never started says nothing.
    if (Position == 0 || Engine.Time - LastChange > 250) return;
    Samples[Next] = double(Position) / 4 * 1000 / MusicRate - double(Engine.Time);
    Next = (Next + 1) % std::size(Samples);
    Count = std::min(Count + 1, std::size(Samples));
  }
  // The distance now (the last one known when too few frames have passed since the last seek),
  // and a fresh start for the frames after the seek.
  double TakeForSeek() {
    if (Count >= 5) {
      double Sorted[std::size(Samples)];
      std::copy(Samples, Samples + Count, Sorted);
      std::nth_element(Sorted, Sorted + Count / 2, Sorted + Count);
      Last = Sorted[Count / 2];
    }
    Count = Next = 0;
    return Last;
  }
  void Reset() { *this = TMusicOffset(); }

 private:
  double Samples[31] = {};
  size_t Count = 0, Next = 0;
  double Last = 0;
  uint32_t LastPosition = 0, LastChange = 0;
};
TMusicOffset MusicOffset;

// The music frame that goes with show time Ms, at the distance the music ran from the show.
uint64_t MusicFrameFor(uint32_t Ms, double OffsetMs) {
  const double Frame = (double(Ms) + OffsetMs) * MusicRate / 1000;
  return Frame > 0 ? static_cast<uint64_t>(Frame + 0.5) : 0;
}

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
  ResetShow(ShowSeed);
  LoadShowContent(*D3D);
  Engine.QuitCalled = false;
  if (DemoHooks.MovePart1) Engine.SetScene(DemoHooks.MovePart1, DemoHooks.RenderPart1);
  Call(DemoHooks.PlayMusic);  // scene five may have stopped it
}

// The music (already at the show's moment) and the clock go on together from here.
void GoOn(TvokEngine& Engine) {
  if (MusicResume) {
    MusicResume(Engine, Engine.Paused);
    return;
  }
  PauseMusic(Engine.Paused);
  Engine.ResetClock();
}

// Brings the show to Target (replaying from 0 when Target lies behind) and the music with it.
void SeekShow(TvokEngine& Engine, uint32_t Target) {
  const double Offset = MusicOffset.TakeForSeek();
  PauseMusic(true);
  if (Target < Engine.Time || Target == 0) RestartShow(Engine);
  if (Target > 0) ReplayTo(Engine, Target);
  SeekMusic(MusicFrameFor(Engine.Time, Offset));
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
  MusicOffset.Note(*Engine);
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
  while (!Engine.QuitCalled && FrameTimeAhead(Engine, 0) < Target) {
    // The last frame before Target is drawn (not presented): a frame that draws nothing, such as
    // a scene hand-over, then shows what a run from 0 shows.
    Engine.SkipFrame(FrameTimeAhead(Engine, 1) >= Target);
  }
  if (RealClock) {
    Engine.FixedStep = false;
    Engine.FixedStepLength = SavedStep;
  }
  return !Engine.QuitCalled;
}


void SetShowPaused(TvokEngine& Engine, bool Paused) {
  if (Paused == Engine.Paused) return;
  Engine.Paused = Paused;
  if (Paused)
    PauseMusic(true);
  else
    GoOn(Engine);  // the pause does not count as show time
}

void SeekShowTo(TvokEngine& Engine, uint32_t Target) { SeekShow(Engine, std::min(Target, ShowEndTime - 1)); }

void SetMusicResumeHook(TMusicResumeHook Hook) {
  MusicResume = Hook;
  FollowMusic = Hook != nullptr;
}

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
  if (Options.Controls && !os::Headless()) Engine.OnKeyDown = ControlKey;
  MusicOffset.Reset();
  // Every run that can seek follows its music (the page seeks without --controls).
  if (Capture || Engine.OnKeyDown || FollowMusic) {
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
