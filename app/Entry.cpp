#include "app/Entry.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdio>
#include <exception>
#include <new>
#include <utility>

#include "app/RunTools.h"
#include "app/Playback.h"
#include "app/Setup.h"
#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/os/clock.h"
#include "platform/os/system.h"
#include "show/Show.h"

int ScreenWidth = 0;
int ScreenHeight = 0;
int ScreenRefresh = 0;
bool FullScreenMode = false;
bool VSyncMode = false;
D3DMULTISAMPLE_TYPE MultiSampleMode = D3DMULTISAMPLE_NONE;
D3DMULTISAMPLE_TYPE RequestedMultiSample = D3DMULTISAMPLE_NONE;  // --multisample
std::string StartupMessage;

const char* const ShowTitle = "Quorvanteplidusk";
const char* const ArchiveFileName = "Quorvanteplidusk.vkr";
const char* const MusicFileName = "Quorvanteplidusk.ogg";

namespace {

// The resolution of the "DEBUG" settings (--size changes it for small test runs).
int DebugWidth = 1280;
int DebugHeight = 720;
// --fullscreen: that resolution in full screen, without the dialog (scripted launches).
bool FullScreenOption = false;

template <typename Routine, typename... Args>
void Call(Routine Hook, Args&&... Arguments) {
  if (Hook) Hook(std::forward<Args>(Arguments)...);
}

// Scene one's drawing until the show's scenes are plugged in: an empty black frame.
void ClearToBlack(int) {
  if (Engine && Engine->D3D) Engine->D3D->ClearTarget(0xFF000000u);
}

void NoMove(int) {}

class TCursorRestore {
 public:
  TCursorRestore() = default;
  ~TCursorRestore() { os::SetCursor(os::Cursor::Arrow); }
  TCursorRestore(const TCursorRestore&) = delete;
  TCursorRestore& operator=(const TCursorRestore&) = delete;
};

// Releases in the fixed order: the scenes' objects, the shared textures and the shaders all go
// before the engine and its device wrapper.
void Cleanup() {
  FreeShowContent();
  delete Engine;
  Engine = nullptr;
  // The player outlives the engine only to stop the sound cleanly at the very end.
  Call(ShowFace.FreeMusic);
}

}  // namespace

void ReportFatal(const std::string& Text) {
  os::MessageBox(nullptr, Text.empty() ? std::string("The show stopped on an unexpected error.") : Text, "Error",
                 os::MB_OK | os::MB_ICONERROR);
}

namespace {

// When the process runs with a limit on its memory (ulimit -v), what a failure for want of memory
// looks like from inside (a driver library that "cannot be opened", no display, a refused
// allocation) is said to be that limit; empty without one.
std::string MemoryLimitNote() {
#ifdef _WIN32
  return "";
#else
  rlimit Limit{};
  if (getrlimit(RLIMIT_AS, &Limit) != 0 || Limit.rlim_cur == RLIM_INFINITY) return "";
  return "\r The process may use only " + std::to_string(Limit.rlim_cur >> 20) +
         " MiB of memory (ulimit -v); the graphics driver and the show need more.";
#endif
}

// Runs one stage of a run; an exception it lets out is shown in the error box and makes the
// run end with status 1. Returns what the stage returned, false after an exception.
template <class Stage>
bool Guarded(int& ExitCode, Stage&& Run) {
  try {
    return Run();
  } catch (const std::bad_alloc&) {
    ReportFatal("Out of memory." + MemoryLimitNote());
  } catch (const std::exception& Error) {
    ReportFatal(Error.what());
  } catch (...) {
    ReportFatal("");
  }
  ExitCode = 1;
  return false;
}

}  // namespace

bool HasSwitch(const std::string& Name) { return os::HasParamPrefix(Name); }

void ShowStartupWarning(const std::string& Text) {
  os::MessageBox(nullptr, Text + "\r Demo will be run with lower details.", ShowTitle, os::MB_OK);
}

void CheckPixelShader() {
  LPDIRECT3D9 Direct3D = Direct3DCreate9(VokSdkVersion);
  D3DCAPS9 Caps{};
  if (!Direct3D || FAILED(Direct3D->GetDeviceCaps(0, D3DDEVTYPE_HAL, &Caps))) {
    StartupMessage = "Error during GetDeviceCaps!";
    ShowStartupWarning(StartupMessage);
  } else {
    PostEffectsAvailable = static_cast<DWORD>(Caps.PixelShaderVersion) >= D3DPS_VERSION(2, 0);
    if (!PostEffectsAvailable) StartupMessage += "\r PixelShader 2.0 not supported.";
  }
  Direct3D.reset();
}

bool ChooseDisplayMode() {
  CheckPixelShader();
  // The post effects follow what the device really offers; the capability result is kept on
  // every path rather than switched on regardless.
  if (HasSwitch("DEBUG") || os::Headless() || FullScreenOption) {
    // Without a display there is no dialog to ask; the "DEBUG" settings apply.
    ScreenWidth = DebugWidth;
    ScreenHeight = DebugHeight;
    ScreenRefresh = 0;
    MultiSampleMode = RequestedMultiSample;
    FullScreenMode = false;
    VSyncMode = false;
    // What the dialog would have given for a full-screen choice; "NOVSYNC" still applies.
    if (FullScreenOption && !os::Headless()) FullScreenMode = VSyncMode = true;
    return true;
  }
  MultiSampleMode = RequestedMultiSample;
  return RunSetupDialog();
}

void HideCursorInFullScreen() {
  if (FullScreenMode) Engine->ShowCursor(false);
}

void FreeShowContent() { Call(ShowFace.Free); }

void LoadShowContent(TvokD3D& D3D) {
  Call(ShowFace.Load, std::string(ArchiveFileName));
  D3D.SetProjection(D3D.Aspect, 0.1f, 1000.0f, SinglePi / 4.0f);
}

void LoadDemo() {
  os::SetCursor(os::Cursor::Wait);
  {
    TCursorRestore Restore;
    LoadShowContent(*Engine->D3D);
    Call(ShowFace.LoadMusic, Engine->Handle, std::string(MusicFileName));
    // The pause after loading; a request to stop cuts it short.
    for (int Waited = 0; Waited < 1000 && !os::StopRequested(); Waited += 10) os::Sleep(10);
  }
  HideCursorInFullScreen();
  Call(ShowFace.PlayMusic);
  Engine->ResetClock();
}

int PrepareDemo(TOptions& Options, TRunTools& Tools, TPlayback& Playback) {
  // A capture renders headless (at a fixed rate: Playback).
  if (!Options.CaptureFile.empty()) Options.Headless = true;
  os::SetParams(Options.Switches);
  os::SetHeadless(Options.Headless);
  gx::SetBackendKind(Options.Backend == "recording" ? gx::BackendKind::Recording : gx::BackendKind::Gl);
  if (Options.GfxDebug) gx::SetDebugOutput(true);
  DebugWidth = Options.Width;
  DebugHeight = Options.Height;
  ResetAssetWarnings();
  FullScreenOption = Options.FullScreen;
  RequestedMultiSample = D3DMULTISAMPLE_TYPE(Options.MultiSample);

  if (!os::Init()) {
    std::fprintf(stderr, "%s: %s\n", ShowTitle, os::InitError().c_str());
    return 1;
  }
  // An output that cannot be written is refused before anything is shown.
  std::string ToolError;
  if (!Tools.Start(Options, ToolError)) {
    std::fprintf(stderr, "%s: %s\n", ShowTitle, ToolError.c_str());
    os::Shutdown();
    return 1;
  }
  if (!ChooseDisplayMode()) {
    os::Shutdown();
    return 0;
  }
  // The seed is kept: the show-maker controls start the same show over.
  if (!Options.HasSeed) Options.Seed = os::TimeGetTime();
  if (!Playback.Prepare(Options, ScreenWidth, ScreenHeight, ToolError)) {
    std::fprintf(stderr, "%s: %s\n", ShowTitle, ToolError.c_str());
    os::Shutdown();
    return 1;
  }
  return -1;
}

bool CreateAndLoadDemo(const TOptions& Options, TRunTools& Tools, TPlayback& Playback, int& ExitCode) {
  return Guarded(ExitCode, [&] {
    Call(ShowFace.Reset, Options.Seed);
    Engine = new TvokEngine(nullptr, ScreenWidth, ScreenHeight, ScreenRefresh, true, ShowTitle,
                            ShowFace.FirstMove ? ShowFace.FirstMove : NoMove,
                            ShowFace.FirstRender ? ShowFace.FirstRender : ClearToBlack, FullScreenMode, true, true,
                            false, VSyncMode, true, MultiSampleMode, 0);
    Engine->ShowFps = HasSwitch("SHOWFPS");
    GentleLight = HasSwitch("GENTLE");
    MusicCoda = HasSwitch("CODA");
    PostScale = Options.PostScale;
    Tools.Attach(*Engine);
    Playback.Attach(*Engine);
    if (!Engine->Ok) {
      os::MessageBox(nullptr, Engine->ErrorText + MemoryLimitNote(), "Error", os::MB_OK);
      ExitCode = 1;
      return false;
    }
    LoadDemo();
    if (Options.Strict && AssetWarningCount() > 0) {
      std::fprintf(stderr, "%s: --strict: %d asset%s could not be used (see the warnings above)\n", ShowTitle,
                   AssetWarningCount(), AssetWarningCount() == 1 ? "" : "s");
      ExitCode = 1;
      return false;
    }
    Playback.Begin(*Engine);
    return true;
  });
}

int FinishDemo(TRunTools& Tools, int ExitCode) {
  Guarded(ExitCode, [] {
    Cleanup();
    return true;
  });
  // Stopped before the first frame, a run asked for outputs has made none of them: no success.
  const int Signal = os::StopSignal();
  if (ExitCode == 0 && Signal != 0 && Tools.HasOutputs() && Tools.FramesSeen() == 0) {
    std::fprintf(stderr, "%s: interrupted by %s before the first frame\n", ShowTitle,
                 os::StopSignalName(Signal));
    ExitCode = 128 + Signal;
  }
  std::string Problems;
  if (!Tools.Finish(ExitCode == 0, Problems)) {
    std::fprintf(stderr, "%s: %s\n", ShowTitle, Problems.c_str());
    if (ExitCode == 0) ExitCode = 1;
  }
  os::Shutdown();
  return ExitCode;
}

int RunDemo(const TOptions& Given) {
  TOptions Options = Given;
  TRunTools Tools;
  TPlayback Playback;
  const int Early = PrepareDemo(Options, Tools, Playback);
  if (Early >= 0) return Early;
  int ExitCode = 0;
  if (CreateAndLoadDemo(Options, Tools, Playback, ExitCode)) {
    Guarded(ExitCode, [&] {
      Engine->Run();
      if (const int Status = Playback.End(Engine)) ExitCode = Status;
      return true;
    });
  }
  return FinishDemo(Tools, ExitCode);
}
