#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "platform/os/internal.h"
#include "platform/os/system.h"

namespace os {
namespace {

bool g_headless = false;
std::map<std::string, WindowClass> g_classes;

// Every window ever created lives here until Shutdown, so handles stay valid after a close.
std::vector<std::unique_ptr<Window>>& Windows() {
  static std::vector<std::unique_ptr<Window>> windows;
  return windows;
}

bool Known(HWND window) {
  if (!window) return false;
  for (const auto& w : Windows())
    if (w.get() == window) return true;
  return false;
}

}  // namespace

bool Headless() { return g_headless; }
void SetHeadless(bool headless) { g_headless = headless; }

SDL_Window* SdlWindowOf(HWND window) { return Known(window) ? window->sdl : nullptr; }
int ClientWidth(HWND window) { return Known(window) ? window->width : 0; }
int ClientHeight(HWND window) { return Known(window) ? window->height : 0; }

bool RegisterClass(const WindowClass& windowClass) {
  if (windowClass.name.empty() || !windowClass.proc) return false;
  g_classes[windowClass.name] = windowClass;
  return true;
}

bool ClassRegistered(const std::string& name) { return g_classes.count(name) != 0; }

HWND CreateWindow(const std::string& className, const std::string& caption, uint32_t style,
                  uint32_t exStyle, int x, int y, int width, int height) {
  auto cls = g_classes.find(className);
  if (cls == g_classes.end() || width <= 0 || height <= 0) return nullptr;

  auto window = std::make_unique<Window>();
  window->className = className;
  window->caption = caption;
  window->proc = cls->second.proc;
  window->cursor = cls->second.cursor;
  window->style = style;
  window->exStyle = exStyle;
  window->width = width;
  window->height = height;
  window->fullScreen = (style & WS_POPUP) != 0 && width >= ScreenWidth() && height >= ScreenHeight();
  window->visible = (style & WS_VISIBLE) != 0;

  if (!g_headless) {
    if (!Init()) return nullptr;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
    flags |= window->visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if (style & WS_POPUP) flags |= SDL_WINDOW_BORDERLESS;
    if (window->fullScreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    if ((style & WS_THICKFRAME) && !(style & WS_POPUP)) flags |= SDL_WINDOW_RESIZABLE;
    window->sdl = SDL_CreateWindow(caption.c_str(), x, y, width, height, flags);
    if (!window->sdl) return nullptr;
    SDL_SetWindowData(window->sdl, "os::Window", window.get());
  }
  Windows().push_back(std::move(window));
  return Windows().back().get();
}

bool DestroyWindow(HWND window) {
  if (!IsWindow(window)) return false;
  SendMessage(window, WM_DESTROY, 0, 0);
  window->destroyed = true;
  window->visible = false;
  // Hiding a window in exclusive full screen gives the display its desktop mode back.
  if (window->sdl) SDL_HideWindow(window->sdl);
  window->exclusive = false;
  detail::DropMessagesFor(window);
  return true;
}

bool IsWindow(HWND window) { return Known(window) && !window->destroyed; }

namespace {

// The display's mode of width x height at `refresh` Hz; for refresh 0 the desktop's rate when
// the size offers it, otherwise the first (highest) rate SDL lists.
bool FindMode(int display, int width, int height, int refresh, SDL_DisplayMode& found) {
  SDL_DisplayMode desktop{};
  SDL_GetDesktopDisplayMode(display, &desktop);
  bool any = false;
  for (int i = 0, n = SDL_GetNumDisplayModes(display); i < n; ++i) {
    SDL_DisplayMode m{};
    if (SDL_GetDisplayMode(display, i, &m) != 0 || m.w != width || m.h != height) continue;
    if (refresh != 0 && m.refresh_rate != refresh) continue;
    if (!any || (refresh == 0 && m.refresh_rate == desktop.refresh_rate)) found = m;
    any = true;
  }
  return any;
}

// Gives the window a size and puts it at the display's corner while it is not full screen:
// a window manager fits a full-screen window to the display's mode by itself, but on a bare X
// server nobody else would, and the window would keep its old size.
void PlaceWindow(SDL_Window* sdl, int display, int width, int height) {
  SDL_SetWindowFullscreen(sdl, 0);
  SDL_SetWindowSize(sdl, width, height);
  SDL_Rect bounds{};
  if (SDL_GetDisplayBounds(display, &bounds) != 0) bounds = SDL_Rect{};
  SDL_SetWindowPosition(sdl, bounds.x, bounds.y);
}

// Back to covering the desktop in the desktop's own mode, as the window was created.
void CoverDesktop(Window* window) {
  SDL_Window* sdl = window->sdl;
  const int display = std::max(0, SDL_GetWindowDisplayIndex(sdl));
  SDL_DisplayMode desktop{};
  if (SDL_GetDesktopDisplayMode(display, &desktop) != 0) return;
  PlaceWindow(sdl, display, desktop.w, desktop.h);
  SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
  window->exclusive = false;
  window->width = desktop.w;
  window->height = desktop.h;
}

}  // namespace

bool SetFullScreenMode(HWND window, int width, int height, int refresh) {
  if (!IsWindow(window) || !window->sdl || width <= 0 || height <= 0) return false;
  SDL_Window* sdl = window->sdl;
  const int display = std::max(0, SDL_GetWindowDisplayIndex(sdl));
  SDL_DisplayMode mode{};
  if (!FindMode(display, width, height, refresh, mode)) return false;
  PlaceWindow(sdl, display, width, height);
  if (SDL_SetWindowDisplayMode(sdl, &mode) == 0 && SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN) == 0) {
    SDL_DisplayMode now{};
    if (SDL_GetCurrentDisplayMode(display, &now) == 0 && now.w == width && now.h == height) {
      window->exclusive = true;
      window->width = width;
      window->height = height;
      return true;
    }
  }
  // Refused: the desktop keeps its mode and the picture is scaled onto it.
  CoverDesktop(window);
  return false;
}

void RestoreDesktopMode(HWND window) {
  if (IsWindow(window) && window->sdl && window->exclusive) CoverDesktop(window);
}

bool InFullScreenMode(HWND window) { return IsWindow(window) && window->exclusive; }

void ShowWindow(HWND window, bool visible) {
  if (!IsWindow(window)) return;
  window->visible = visible;
  if (window->sdl) {
    if (visible)
      SDL_ShowWindow(window->sdl);
    else
      SDL_HideWindow(window->sdl);
  }
}

void UpdateWindow(HWND window) {
  if (IsWindow(window)) SendMessage(window, WM_PAINT, 0, 0);
}

std::string WindowCaption(HWND window) { return Known(window) ? window->caption : std::string(); }
void SetWindowCaption(HWND window, const std::string& caption) {
  if (!Known(window)) return;
  window->caption = caption;
  if (window->sdl) SDL_SetWindowTitle(window->sdl, caption.c_str());
}
bool WindowFullScreen(HWND window) { return Known(window) && window->fullScreen; }
bool WindowVisible(HWND window) { return IsWindow(window) && window->visible; }

int ScreenWidth() {
  SDL_DisplayMode mode;
  if (!g_headless && VideoAvailable() && SDL_GetDesktopDisplayMode(0, &mode) == 0) return mode.w;
  return 1920;
}

int ScreenHeight() {
  SDL_DisplayMode mode;
  if (!g_headless && VideoAvailable() && SDL_GetDesktopDisplayMode(0, &mode) == 0) return mode.h;
  return 1080;
}

int BorderWidth() { return 0; }

int WindowBitsPerPixel(HWND window) {
  if (window && !IsWindow(window)) return 0;
  Uint32 format = SDL_PIXELFORMAT_UNKNOWN;
  if (window && window->sdl) {
    format = SDL_GetWindowPixelFormat(window->sdl);
  } else if (!g_headless && VideoAvailable()) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) format = mode.format;
  }
  if (format == SDL_PIXELFORMAT_UNKNOWN) return 32;
  const int bits = SDL_BITSPERPIXEL(format);
  // 24-bit visuals are stored in 32-bit pixels.
  return bits == 24 ? 32 : bits;
}

namespace detail {

HWND WindowFromSdlId(uint32_t id) {
  SDL_Window* sdl = SDL_GetWindowFromID(id);
  if (!sdl) return nullptr;
  auto* window = static_cast<Window*>(SDL_GetWindowData(sdl, "os::Window"));
  return IsWindow(window) ? window : nullptr;
}

int CloseAllWindows() {
  int Closed = 0;
  for (const auto& w : Windows())
    if (!w->destroyed && PostMessage(w.get(), WM_CLOSE, 0, 0)) ++Closed;
  return Closed;
}

void RestoreAllDesktopModes() {
  for (const auto& w : Windows()) RestoreDesktopMode(w.get());
}

void FreeAllWindows() {
  for (const auto& w : Windows())
    if (w->sdl) SDL_DestroyWindow(w->sdl);
  Windows().clear();
}

}  // namespace detail
}  // namespace os
