#pragma once
// What the options do while the show runs: the fixed step, the run limit, screenshots and the
// frame trace. One instance per run.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/OutputFile.h"

class TvokEngine;

class TRunTools {
 public:
  TRunTools() = default;
  ~TRunTools();
  TRunTools(const TRunTools&) = delete;
  TRunTools& operator=(const TRunTools&) = delete;

  // Opens the trace file and tries every screenshot's; false with Error when one cannot be written.
  bool Start(const TOptions& Options, std::string& Error);
  // Sets the engine's step and hooks the per-frame work onto it.
  void Attach(TvokEngine& Engine);
  // Closes the trace and puts it under its name when the run Succeeded; a failed run leaves the
  // name as it was. False with Problems when an output asked for was not produced.
  bool Finish(bool Succeeded, std::string& Problems);
  // Whether the run asked for an output (a trace or a screenshot) and how many frames it saw.
  bool HasOutputs() const { return !Options.TraceFile.empty() || !Options.Screenshots.empty(); }
  unsigned long long FramesSeen() const { return Frames; }
  // The outputs' names, for a message about what was not written.
  std::string OutputNames() const;

  // The per-frame work, after each presented frame.
  void FramePresented(TvokEngine& Engine);

 private:
  TOptions Options;
  TOutputFile TraceFile;
  std::FILE* Trace = nullptr;
  // Per screenshot: its pipe or device, opened at the start (a regular file is made at its frame).
  std::vector<std::unique_ptr<TOutputFile>> HeldShots;
  unsigned long long Frames = 0;
  bool Recording = false;
  std::vector<std::string> Failures;
};
