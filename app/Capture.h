#pragma once
// --capture: every presented frame of a fixed-rate headless run goes into a video file with the
// music mixed offline against the show's clock. The back buffer is read back through pixel
// buffers a few frames late, and the file is encoded on the video writer's own thread.

#include <cstdint>
#include <memory>
#include <string>

#include "app/Options.h"

class TvokEngine;
namespace video {
class Writer;
}

class TCapture {
 public:
  TCapture();
  ~TCapture();
  TCapture(const TCapture&) = delete;
  TCapture& operator=(const TCapture&) = delete;

  // Opens the file (under its temporary name) and its encoders; false with Error when that fails.
  bool Open(const TOptions& Options, int Width, int Height, std::string& Error);
  // The run has been brought to its first frame: the music goes to the same moment.
  void Begin(TvokEngine& Engine);
  // After every presented frame.
  void FramePresented(TvokEngine& Engine);
  // Writes what is still in flight and completes the file. The process exit status: 0, 1 when the
  // file failed (nothing under its name), 128 + signal after Ctrl+C / SIGTERM (a playable file).
  int Finish(TvokEngine* Engine);

 private:
  void Take(TvokEngine& Engine, uint64_t Frame);
  void Progress(TvokEngine& Engine, bool Last);

  TOptions Options;
  std::unique_ptr<video::Writer> Writer;
  int Width = 0, Height = 0;
  uint64_t FirstFrame = 0;    // engine frame number of the first frame in the file
  uint64_t Queued = 0;        // frames whose read-back was started
  uint64_t Taken = 0;         // frames handed to the writer
  uint64_t AudioFrames = 0;   // sound frames handed to the writer
  uint32_t LastTime = 0;      // show time of the last frame in the file
  uint64_t Written = 0;        // frames the writer took
  bool Began = false;
  bool ReadFailed = false;    // a picture could not be read back
  double StartedAt = 0, LastProgress = -1;
  uint32_t EndTime = 0;
};
