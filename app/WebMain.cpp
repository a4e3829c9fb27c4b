// The browser build's entry point (emscripten). The page (web/shell.html) fetches the archive
// and the music into the in-memory file system and calls main on the user's click, with the
// page's query turned into the usual switches and options. main prepares and loads the show as
// the native program does, then hands the frames to the browser: each animation frame handles
// the pending messages and renders one frame (the body of TvokEngine::Run), until the show ends.

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/RunTools.h"
#include "app/Playback.h"
#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/os/clock.h"
#include "platform/os/system.h"
#include "show/Show.h"

namespace {

TOptions Options;
TRunTools* Tools = nullptr;
TPlayback* Playback = nullptr;  // --start and --controls work in the page as in a window
int State = 0;  // 0 not started, 1 playing, 2 ended
int ExitCode = 0;
bool Unthrottled = false;
int Volume = 100;
int Frames = 0;  // frames that moved the show's clock


// After a seek, a resume or the start, music and clock wait until the page's sound runs again
// (the page calls vk_web_release from its first sound request then): the requests that piled up
// while a seek held the page come back to back, and mixing them would put the music ahead of the
// picture. A page that never releases (no sound output) is released after a second by the frames.
bool Holding = false;
bool HeldPaused = false;  // the paused state to go on with
uint32_t HoldSince = 0;
constexpr uint32_t HoldLimit = 1000;

void Release() {
  if (!Holding || !Engine) return;
  Holding = false;
  Engine->Paused = HeldPaused;
  PauseMusic(HeldPaused);
  RestartClock(*Engine);
}

void HoldMusic(TvokEngine& E, bool Paused) {
  if (Holding) Paused = HeldPaused;  // a seek while held keeps the state asked for before it
  const bool Output = MusicAudible();
  if (Paused || !Output || E.FixedStep) {
    // Nothing to wait for: paused, silent, or a clock that does not follow the wall clock.
    Holding = false;
    E.Paused = Paused;
    PauseMusic(Paused);
    RestartClock(E);
    return;
  }
  PauseMusic(true);
  Holding = true;
  HeldPaused = Paused;
  HoldSince = os::TimeGetTime();
  E.Paused = true;
}

// While the browser holds the graphics context back, the show waits where it is, music and clock
// alike; the paused state asked for meanwhile is the one it goes on with.
bool ContextLost = false;
bool PausedAfterLoss = false;

// Message boxes become a message on the page (a blocking alert would stop the show's page).
int PageMessage(const std::string& Text, const std::string& Caption, unsigned Flags) {
  // clang-format off
  EM_ASM({
    if (Module.vkMessage) Module.vkMessage(UTF8ToString($0), UTF8ToString($1), $2);
  }, Text.c_str(), Caption.c_str(), Flags);
  // clang-format on
  return os::IDOK;
}

// The show's pauses (a second before the music starts) would block the page: the browser
// build goes on at once.
void NoSleep(uint32_t) {}

// The run's tools go and the page hears the exit status.
void Ended() {
  delete Tools;
  Tools = nullptr;
  delete Playback;
  Playback = nullptr;
  State = 2;
  EM_ASM({ if (Module.vkEnded) Module.vkEnded($0); }, ExitCode);
}

void End() {
  emscripten_cancel_main_loop();
  if (const int Status = Playback->End(Engine)) ExitCode = Status;
  ExitCode = FinishDemo(*Tools, ExitCode);
  Ended();
}

// One animation frame: the messages that arrived since the last one, then a frame.
void Frame() {
  if (Holding && os::TimeGetTime() - HoldSince > HoldLimit) Release();
  try {
    os::Message& Msg = Engine->Msg;
    while (!Engine->Terminated && !Engine->StopRequested && os::PeekMessage(Msg, nullptr, 0, 0, os::PM_NOREMOVE)) {
      Engine->Terminated = !os::GetMessage(Msg, nullptr, 0, 0);
      os::TranslateMessage(Msg);
      os::DispatchMessage(Msg);
    }
    if (!Engine->Terminated && !Engine->StopRequested) {
      const uint32_t Before = Engine->Time;
      Engine->RenderFrame();
      if (Engine->Time != Before) ++Frames;
      // Measured frames end when the GPU has drawn them (WebGL queues the work otherwise, and
      // the next frame would only pay for it), as the native headless frames end with glFinish.
      // (A one-pixel read-back is the sync point: Chromium's WebGL finish() does not wait.)
      if (Unthrottled) {
        // clang-format off
        EM_ASM({
          if (typeof GLctx !== "undefined" && GLctx)
            GLctx.readPixels(0, 0, 1, 1, GLctx.RGBA, GLctx.UNSIGNED_BYTE, new Uint8Array(4));
        });
        // clang-format on
      }
    }
    if (!Engine->Terminated && !Engine->StopRequested) return;
  } catch (const std::exception& Error) {
    // As in TvokEngine::Run: an exception without text stops the show quietly.
    const char* Text = Error.what();
    if (Text && *Text) {
      ReportFatal(Text);
      ExitCode = 1;
    }
  } catch (...) {
    ReportFatal("");
    ExitCode = 1;
  }
  End();
}

}  // namespace

// The setup dialog's place: the page plays in its window at the "DEBUG" resolution.
bool RunSetupDialog() {
  ScreenWidth = 1280;
  ScreenHeight = 720;
  ScreenRefresh = 0;
  FullScreenMode = false;
  VSyncMode = false;
  return true;
}

extern "C" {

// For the page and its tests: the show's clock in ms (-1 before the engine exists) and the state.
EMSCRIPTEN_KEEPALIVE int vk_web_show_time() { return Engine ? static_cast<int>(Engine->Time) : -1; }
EMSCRIPTEN_KEEPALIVE int vk_web_state() { return State; }
EMSCRIPTEN_KEEPALIVE int vk_web_exit_code() { return ExitCode; }
// Escape's path: the window is closed, the show ends at the next frame.
EMSCRIPTEN_KEEPALIVE void vk_web_quit() {
  if (Engine && State == 1) Engine->Quit();
}

// The page's controls. Each does nothing before the show plays or after it ended.
EMSCRIPTEN_KEEPALIVE int vk_web_paused() {
  if (!Engine || State != 1) return 0;
  if (ContextLost) return PausedAfterLoss ? 1 : 0;
  return (Holding ? HeldPaused : Engine->Paused) ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE void vk_web_set_paused(int Paused) {
  if (!Engine || State != 1) return;
  if (ContextLost) {
    PausedAfterLoss = Paused != 0;
    return;
  }
  if (Holding) {
    HeldPaused = Paused != 0;
    return;
  }
  SetShowPaused(*Engine, Paused != 0);
}
EMSCRIPTEN_KEEPALIVE void vk_web_seek(int Ms) {
  if (!Engine || State != 1) return;
  try {
    SeekShowTo(*Engine, static_cast<uint32_t>(Ms < 0 ? 0 : Ms));
  } catch (const std::exception& Error) {
    if (Error.what() && *Error.what()) ReportFatal(Error.what());
    ExitCode = 1;
    End();
  }
}
EMSCRIPTEN_KEEPALIVE int vk_web_volume() { return Volume; }
EMSCRIPTEN_KEEPALIVE void vk_web_set_volume(int Percent) {
  Volume = Percent < 0 ? 0 : Percent > 100 ? 100 : Percent;
  SetMusicVolume(Volume);
}
EMSCRIPTEN_KEEPALIVE int vk_web_show_length() { return static_cast<int>(ShowEndTime); }
// Start of scene I + 1 (I from 1), 0 past the last one: the marks on the page's slider.
EMSCRIPTEN_KEEPALIVE int vk_web_scene_start(int I) { return I < 1 ? 0 : static_cast<int>(SceneStartTime(I + 1)); }
EMSCRIPTEN_KEEPALIVE int vk_web_frames() { return Frames; }

// The music and the show's clock, for the page's sound requests: decoded frames of the music mixed
// so far, the show's clock at this instant (between frames too), and the hold after a seek.
EMSCRIPTEN_KEEPALIVE double vk_web_music_frame() { return MusicPosition() / 4.0; }
EMSCRIPTEN_KEEPALIVE double vk_web_clock_now() {
  if (!Engine) return -1;
  if (Engine->Paused || Engine->FixedStep) return Engine->Time;
  return static_cast<double>(Engine->Time) + static_cast<double>(os::TimeGetTime() - Engine->LastTick);
}
// The page's WebGL context was lost, and given back. The device reports itself lost from the loss
// on; the frame after the context is back finds it so, and the engine's lost-device path resets
// it (TvokEngine::RestoreDevice): what the device held is made again, and the show plays on from
// the moment it stopped, with its music, as after a pause.
EMSCRIPTEN_KEEPALIVE void vk_web_context_lost() {
  if (!Engine || State != 1 || ContextLost || !Engine->D3D) return;
  PausedAfterLoss = vk_web_paused() != 0;
  vk_web_set_paused(1);
  ContextLost = true;
  gx::GxContextLost(Engine->D3D->Device.get());
}
// 1 when the show goes on, 0 when the context could not be taken up again (the show waits).
EMSCRIPTEN_KEEPALIVE int vk_web_context_restored() {
  if (!Engine || State != 1 || !ContextLost) return 0;
  if (FAILED(gx::GxContextRestored(Engine->D3D->Device.get()))) return 0;
  ContextLost = false;
  vk_web_set_paused(PausedAfterLoss ? 1 : 0);
  return 1;
}
EMSCRIPTEN_KEEPALIVE int vk_web_holding() { return Holding ? 1 : 0; }
// The page's audio clock, before each sound request: when (performance.now() ms) the block asked
// for begins to be heard. The show's clock follows what is heard (TvokEngine::HeardTime).
EMSCRIPTEN_KEEPALIVE void vk_web_block_heard_at(double Ms) { NoteMusicHeardAt(Ms); }
EMSCRIPTEN_KEEPALIVE void vk_web_release() { Release(); }

}  // extern "C"

int main(int argc, char** argv) {
  // --web-unthrottled (the page's ?unthrottled, for frame-time measurements): frames follow each
  // other at once instead of waiting for the display's next refresh, each one finished.
  std::vector<std::string> Args;
  for (int I = 1; I < argc; ++I) {
    if (std::string(argv[I]) == "--web-unthrottled")
      Unthrottled = true;
    else
      Args.push_back(argv[I]);
  }
  std::string Error;
  os::SetMessageBoxHook(PageMessage);
  if (!ParseOptions(Args, Options, Error)) {
    PageMessage(Error, "Quorvanteplidusk", os::MB_ICONERROR);
    State = 2;
    return 2;
  }
  InstallShow();
  os::SetSleepHook(NoSleep);
  SetMusicResumeHook(HoldMusic);
  Tools = new TRunTools;
  Playback = new TPlayback;
  State = 1;
  const int Early = PrepareDemo(Options, *Tools, *Playback);
  if (Early >= 0) {
    ExitCode = Early;
    Ended();
    return Early;
  }
  if (!CreateAndLoadDemo(Options, *Tools, *Playback, ExitCode)) {
    End();
    return ExitCode;
  }
  // The native show plays on silently when its music cannot be played; the page says why.
  if (const std::string Why = MusicError(); !Why.empty())
    PageMessage("The music could not be played (" + Why + "): the show runs without sound.", "Music", os::MB_OK);
  // The music starts as after a seek: held with the clock until the page's sound runs, so that
  // the sound requests that piled up while the show loaded do not run it ahead.
  if (!Holding) HoldMusic(*Engine, false);
  EM_ASM({ if (Module.vkStarted) Module.vkStarted(); });
  // The browser's animation frames drive the show from here; main returns at once.
  emscripten_set_main_loop(Frame, 0, false);
  if (Unthrottled) emscripten_set_main_loop_timing(EM_TIMING_SETIMMEDIATE, 0);
  return 0;
}
