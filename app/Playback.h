#pragma once
// Capture, seek and playback: what --capture, --fps, --start and --controls add to a run.
// Seeking replays the show's logic from its start at the run's fixed step without drawing
// (Engine->SkipFrame), so any moment is reached exactly as a run from 0 reaches it; nothing is
// special-cased per scene.

#include <cstdint>
#include <memory>
#include <string>

#include "app/Options.h"

class TvokEngine;
class TCapture;

// Replays the show from its current state up to the last frame before show time Target: every
// frame without a picture but that last one, which is drawn but not presented (so a frame that
// draws nothing, such as a scene hand-over, shows what a run from 0 shows). False when the show
// quit first.
bool ReplayTo(TvokEngine& Engine, uint32_t Target);

// The controls for a program that drives them itself (the page): pause or resume, and go to a
// moment of the show (replayed from its start when it lies behind), as the keys of --controls do.
void SetShowPaused(TvokEngine& Engine, bool Paused);
void SeekShowTo(TvokEngine& Engine, uint32_t Target);
// The clock goes on from now (Engine.ResetClock), with the moments between the last frame and a
// pause counted, as the music played them.
void RestartClock(TvokEngine& Engine);

// How the music goes on after a seek, a resume or --start: by default at once, with the show's
// clock counting from that moment. A program whose sound output asks for data on the program's own
// thread (the browser) sets a hook instead: the requests that piled up while a seek held the thread
// would otherwise all be mixed at once and push the music ahead; the hook holds music and clock
// until the output runs again. Paused is the run's paused state to go on with.
using TMusicResumeHook = void (*)(TvokEngine& Engine, bool Paused);
void SetMusicResumeHook(TMusicResumeHook Hook);

class TPlayback {
 public:
  TPlayback();
  ~TPlayback();
  TPlayback(const TPlayback&) = delete;
  TPlayback& operator=(const TPlayback&) = delete;

  // Before the engine exists: the capture's file and encoders, the offline music. False with
  // Error when the capture cannot be written.
  bool Prepare(const TOptions& Options, int Width, int Height, std::string& Error);
  // Once the engine exists: its step, the capture's per-frame hook, the keys.
  void Attach(TvokEngine& Engine);
  // After loading, before the loop: goes to --start and starts the capture there.
  void Begin(TvokEngine& Engine);
  // After the loop, while the device still exists: completes the capture. The exit status it
  // asks for (0 when there is nothing to say).
  int End(TvokEngine* Engine);

 private:
  TOptions Options;
  std::unique_ptr<TCapture> Capture;
};
