#pragma once
// Inside the os layer: the window record and the translation of SDL events into messages.
// Tests include this to feed synthetic SDL events; nothing above platform/ should.

#include <SDL.h>

#include <string>

#include "platform/os/messages.h"
#include "platform/os/window.h"

namespace os {

class Window {
 public:
  SDL_Window* sdl = nullptr;
  std::string className;
  std::string caption;
  WindowProc proc = nullptr;
  Cursor cursor = Cursor::Arrow;  // the class cursor
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int width = 0;
  int height = 0;
  bool fullScreen = false;
  bool exclusive = false;  // the display runs a mode of ours (SetFullScreenMode)
  bool visible = false;
  bool destroyed = false;
};

namespace detail {

// Turns one SDL event into zero or more posted messages; keeps the keyboard state up to date.
void TranslateEvent(const SDL_Event& event);
// The same for an event already known to concern `window` (tests use it with headless windows).
void TranslateWindowEvent(const SDL_Event& event, HWND window);
// Virtual-key code of an SDL key, 0 when it has none.
uint32_t VirtualKeyOf(SDL_Scancode scancode, SDL_Keycode key);
// MK_* flags of the current mouse buttons and modifier keys.
uint32_t MouseKeyFlags(uint32_t buttons);
// Posts WM_CLOSE to every live window (signals and the window system's quit request); how many.
int CloseAllWindows();
// Every window in exclusive full screen gives the display its desktop mode back.
void RestoreAllDesktopModes();
// Destroys every SDL window and forgets every handle (Shutdown).
void FreeAllWindows();
// Pulls SDL events and pending signals into the queue.
void PumpEvents();
// Live window of an SDL window id, nullptr when there is none.
HWND WindowFromSdlId(uint32_t id);
void DropMessagesFor(HWND window);
void SetKeyDown(uint32_t vk, bool down);
// Ctrl+C and SIGTERM close every window at the next pump (os::StopRequested).
void InstallSignalHandlers();

}  // namespace detail
}  // namespace os
