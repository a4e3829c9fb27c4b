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
  try {
    os::Message& Msg = Engine->Msg;
    while (!Engine->Terminated && !Engine->StopRequested && os::PeekMessage(Msg, nullptr, 0, 0, os::PM_NOREMOVE)) {
      Engine->Terminated = !os::GetMessage(Msg, nullptr, 0, 0);
      os::TranslateMessage(Msg);
      os::DispatchMessage(Msg);
    }
    if (!Engine->Terminated && !Engine->StopRequested) {
      Engine->RenderFrame();
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
  EM_ASM({ if (Module.vkStarted) Module.vkStarted(); });
  // The browser's animation frames drive the show from here; main returns at once.
  emscripten_set_main_loop(Frame, 0, false);
  if (Unthrottled) emscripten_set_main_loop_timing(EM_TIMING_SETIMMEDIATE, 0);
  return 0;
}
