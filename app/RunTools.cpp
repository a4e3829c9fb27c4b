#include "app/RunTools.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "show/Trace.h"

namespace {

// The active run's tools, for the engine's plain-procedure hook.
TRunTools* ActiveTools = nullptr;

void OnFramePresented() {
  if (ActiveTools && Engine) ActiveTools->FramePresented(*Engine);
}

}  // namespace

TRunTools::~TRunTools() {
  if (ActiveTools == this) ActiveTools = nullptr;
  // Finish was never reached: the trace is incomplete and goes (TraceFile removes it).
  if (Trace) std::fclose(Trace);
}

bool TRunTools::Start(const TOptions& Options, std::string& Error) {
  this->Options = Options;
  // A screenshot that cannot be written is refused now, like the trace, not when its frame comes.
  for (const auto& Shot : Options.Screenshots) {
    HeldShots.emplace_back();
    if (WrittenInPlace(Shot.File)) {
      HeldShots.back() = std::make_unique<TOutputFile>();
      if (!HeldShots.back()->Open(Shot.File, Error)) return false;
    } else if (!CheckWritable(Shot.File, Error)) {
      return false;
    }
  }
  if (!Options.TraceFile.empty()) {
    if (!TraceFile.Open(Options.TraceFile, Error)) return false;
    // The stream writes through its own copy of the descriptor; Finish commits the file.
    const int Copy = dup(TraceFile.Descriptor());
    Trace = Copy >= 0 ? fdopen(Copy, "w") : nullptr;
    if (!Trace) {
      Error = Options.TraceFile + ": " + std::strerror(errno);
      if (Copy >= 0) ::close(Copy);
      TraceFile.Discard();
      return false;
    }
  }
  SetTraceActive(Trace != nullptr);
  return true;
}

void TRunTools::Attach(TvokEngine& Engine) {
  if (Options.FixedStep > 0) {
    Engine.FixedStep = true;
    Engine.FixedStepLength = Options.FixedStep;
  }
  // The recording backend keeps every draw it saw; over a whole show that must be let go per frame.
  Recording = gx::GetBackendKind() == gx::BackendKind::Recording;
  if (Trace || Options.HasUntil || !Options.Screenshots.empty() || Recording) {
    ActiveTools = this;
    Engine.OnFramePresented = ::OnFramePresented;
  }
}

void TRunTools::FramePresented(TvokEngine& Engine) {
  ++Frames;
  for (size_t I = 0; I < Options.Screenshots.size(); ++I) {
    auto& Shot = Options.Screenshots[I];
    if (Shot.Done || Engine.Time < Shot.Time) continue;
    Shot.Done = true;
    std::vector<uint8_t> Rgba;
    UINT W = 0, H = 0;
    std::string Error;
    if (!Engine.D3D || !Engine.D3D->Device ||
        FAILED(gx::GxReadBackBuffer(Engine.D3D->Device.get(), Rgba, W, H))) {
      Failures.push_back(Shot.File + ": the back buffer could not be read");
    } else if (I < HeldShots.size() && HeldShots[I] ? !WritePng(*HeldShots[I], Shot.File, Rgba, W, H, Error)
                                                     : !WritePng(Shot.File, Rgba, W, H, Error)) {
      Failures.push_back(Error);
    }
    if (I < HeldShots.size()) HeldShots[I].reset();
  }
  if (Trace) {
    std::string Line = TraceFrameFields(Frames, Engine.Time, Engine.DeltaTime, Engine.Fps);
    Line += "}\n";
    std::fwrite(Line.data(), 1, Line.size(), Trace);
  }
  if (Options.HasUntil && Engine.Time >= Options.Until) Engine.Quit();
  if (Recording && Engine.D3D && Engine.D3D->Device) gx::GxClearRecording(Engine.D3D->Device.get());
}

std::string TRunTools::OutputNames() const {
  std::string Names = Options.TraceFile;
  for (const auto& Shot : Options.Screenshots)
    if (!Shot.Done) Names += (Names.empty() ? "" : ", ") + Shot.File;
  return Names;
}

bool TRunTools::Finish(bool Succeeded, std::string& Problems) {
  if (ActiveTools == this) ActiveTools = nullptr;
  SetTraceActive(false);
  if (Trace && !Succeeded) {
    // An incomplete trace of a failed run would replace a good one under the same name.
    std::fclose(Trace);
    Trace = nullptr;
    const bool Renamed = TraceFile.Path() != Options.TraceFile;  // not a stream written in place
    TraceFile.Discard();
    if (Renamed) Failures.push_back(Options.TraceFile + ": not written, the run did not complete");
  }
  if (Trace) {
    const bool Written = std::fflush(Trace) == 0 && !std::ferror(Trace);
    const int WriteError = errno;
    const bool Closed = std::fclose(Trace) == 0;
    const int CloseError = errno;
    Trace = nullptr;
    std::string Error;
    if (!Written || !Closed) {
      Failures.push_back(Options.TraceFile + ": " + std::strerror(Written ? CloseError : WriteError));
      TraceFile.Discard();
    } else if (!TraceFile.Commit(Error)) {
      Failures.push_back(Error);
    }
  }
  HeldShots.clear();
  for (const auto& Shot : Options.Screenshots)
    if (!Shot.Done && Succeeded) Failures.push_back(Shot.File + ": the show ended before " + std::to_string(Shot.Time) + " ms");
  Problems.clear();
  for (const auto& F : Failures) Problems += (Problems.empty() ? "" : "; ") + F;
  return Failures.empty();
}
