#pragma once
// What the options do while the show runs: the fixed step, the run limit, screenshots and the
// frame trace. One instance per run.

#include <cstdio>
#include <string>
#include <vector>

#include "app/Options.h"

class TvokEngine;

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
