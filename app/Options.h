#pragma once
// Long options for tests and for people who make shows. They all start with "--", so they can
// never be mistaken for the show's bare-word switches ("DEBUG", "SHOWFPS", "NOVSYNC"), and they are
// kept out of the switch test.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "show/Show.h"

class TvokEngine;

struct TScreenshotRequest {
  uint32_t Time = 0;  // ms of the demo clock
  std::string File;
  bool Done = false;
};

struct TOptions {
  bool Help = false;
  bool Version = false;
  bool Headless = false;
  uint32_t FixedStep = 0;  // ms per frame; 0 = the real clock
  bool HasUntil = false;
  uint32_t Until = 0;
  int Width = 1280;  // the "DEBUG" resolution, and the --fullscreen one
  int Height = 720;
  bool FullScreen = false;  // full screen at Width x Height without the setup dialog
  std::vector<TScreenshotRequest> Screenshots;
  std::string TraceFile;
  bool HasSeed = false;
  uint32_t Seed = 0;
  std::string Backend = "gl";
  bool Strict = false;  // an asset the show must do without fails the run at the end of loading
  int MultiSample = 0;  // samples per pixel (2, 4 or 8); 0 = off
  bool GfxDebug = false;  // the graphics layer's debug output (on anyway in debug builds)
  std::vector<std::string> Switches;  // every parameter that is not an option or an option's value

  // Capture, seek and playback.
  std::string CaptureFile;  // --capture: render headless into this video file
  bool HasFps = false;      // --fps N[/D]: a fixed step of exactly D/N s (default 60/1 for a capture)
  uint32_t FpsNum = 60;
  uint32_t FpsDen = 1;
  bool HasStart = false;  // --start MS: begin at this show time (replayed from 0)
  uint32_t Start = 0;
  bool HasSize = false;   // --size was given
  bool Lossless = false;  // --lossless: FFV1 in .mkv
  int Quality = -1;       // --quality: CRF-like, -1 = the encoder's default
  bool Controls = false;  // --controls: Space, Left, Right, Home in a window
};

// Parses the parameters after the program name. False with Error set for an unknown option, a
// missing or malformed value.
bool ParseOptions(const std::vector<std::string>& Args, TOptions& Options, std::string& Error);
std::string HelpText();
std::string VersionText();

// Writes 8-bit RGBA rows (top row first) as a PNG file.
bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error);

// What the options do while the show runs: the fixed step, the run limit, screenshots and the
// frame trace. One instance per run.
class TRunTools {
 public:
  TRunTools() = default;
  ~TRunTools();
  TRunTools(const TRunTools&) = delete;
  TRunTools& operator=(const TRunTools&) = delete;

  // Opens the trace file; false with Error when it cannot be written.
  bool Start(const TOptions& Options, std::string& Error);
  // Sets the engine's step and hooks the per-frame work onto it.
  void Attach(TvokEngine& Engine);
  // Closes the trace; false with Problems when an output asked for was not produced.
  bool Finish(std::string& Problems);

  // The per-frame work, after each presented frame.
  void FramePresented(TvokEngine& Engine);

 private:
  TOptions Options;
  std::FILE* Trace = nullptr;
  std::string TracePartial;  // where the trace is written until Finish moves it into place
  unsigned long long Frames = 0;
  bool Recording = false;
  std::vector<std::string> Failures;
};
