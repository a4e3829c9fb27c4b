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
