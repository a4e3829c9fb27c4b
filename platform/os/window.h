#pragma once
// The render window as the graphics layer sees it. The os layer owns the window
// (SDL2 underneath, or no window at all when running headless); everything above
// it passes the window around as an opaque handle, as Win32 passes an HWND.

#include <cstdint>
#include <string>

struct SDL_Window;

namespace os {
class Window;
}

using HWND = os::Window*;

namespace os {

// True when the program renders without any display (offscreen GL through EGL).
bool Headless();
void SetHeadless(bool headless);

// The SDL window behind a handle; nullptr for a headless window or a null handle.
SDL_Window* SdlWindowOf(HWND window);

// Client-area size in pixels (the size asked for when the window was created).
int ClientWidth(HWND window);
int ClientHeight(HWND window);

// ---------------------------------------------------------------------------------------------
// Window styles. The values are Win32's WS_* values, so callers can
// keep their style constants; only the bits below mean anything here.
constexpr uint32_t WS_POPUP = 0x80000000u;       // borderless; with the screen size: covers the desktop
constexpr uint32_t WS_VISIBLE = 0x10000000u;     // shown at creation
constexpr uint32_t WS_CAPTION = 0x00C00000u;     // title bar
constexpr uint32_t WS_SYSMENU = 0x00080000u;     // close box
constexpr uint32_t WS_THICKFRAME = 0x00040000u;  // resizable
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u;

// Class styles are accepted and kept; double clicks are always reported.
constexpr uint32_t CS_VREDRAW = 0x0001u;
constexpr uint32_t CS_HREDRAW = 0x0002u;
constexpr uint32_t CS_DBLCLKS = 0x0008u;

enum class Cursor { None, Arrow, Wait };

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
// A window procedure, called for every message dispatched or sent to a window of its class.
using WindowProc = LRESULT (*)(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

struct WindowClass {
  std::string name;
  uint32_t style = 0;
  WindowProc proc = nullptr;
  Cursor cursor = Cursor::Arrow;
};

// Registers (or replaces) a class in the window-procedure table. False for an empty name or no procedure.
bool RegisterClass(const WindowClass& windowClass);
bool ClassRegistered(const std::string& name);

// Creates a window of a registered class whose CLIENT area is width x height at (x, y) of the
// screen; the window manager adds any frame outside it. WS_POPUP with the screen size makes a
// window covering the desktop. Headless, the window is a size and nothing else. Returns nullptr when
// the class is unknown or the window system refuses.
HWND CreateWindow(const std::string& className, const std::string& caption, uint32_t style,
                  uint32_t exStyle, int x, int y, int width, int height);

// Sends WM_DESTROY to the window procedure, hides the window and drops its queued messages.
// The handle stays valid (messages to it are ignored) until Shutdown(), so a device that still
// holds a GL context on it can be released after the window closed. False if already destroyed.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);  // created and not yet destroyed
void ShowWindow(HWND window, bool visible);
void UpdateWindow(HWND window);  // sends WM_PAINT now
std::string WindowCaption(HWND window);
// Changes the title (SetWindowText); the show-maker controls show the show time there.
void SetWindowCaption(HWND window, const std::string& caption);
bool WindowFullScreen(HWND window);
bool WindowVisible(HWND window);

// Exclusive full screen, as a full-screen Direct3D device has it: the display switches to
// width x height at `refresh` Hz (0: the display's own choice of rate for that size) and the
// window covers exactly that mode. True when the display runs the mode now; false when the mode
// cannot be set (not offered, refused, headless), and the window keeps covering the desktop in the
// desktop's own mode. The desktop mode comes back with RestoreDesktopMode, and whenever the window
// is hidden, destroyed or minimized, or the window system stops.
bool SetFullScreenMode(HWND window, int width, int height, int refresh);
// Gives the display its desktop mode back; the window stays, covering the desktop. Nothing
// happens for a window that is not in exclusive full screen.
void RestoreDesktopMode(HWND window);
bool InFullScreenMode(HWND window);

// Size of the desktop (the primary display); headless, a virtual screen of 1920 x 1080.
int ScreenWidth();
int ScreenHeight();
// Colour depth of a window's surface in bits per pixel; a null handle asks about the screen.
// 0 when the window is gone (there is nothing to ask).
int WindowBitsPerPixel(HWND window);
// Width of a window border inside client coordinates: client coordinates here already start at the
// client area, so this is 0.
int BorderWidth();

}  // namespace os
