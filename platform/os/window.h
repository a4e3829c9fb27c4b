#pragma once
// The render window as the graphics layer sees it. The os layer owns the window
// (SDL2 underneath, or no window at all when running headless); everything above
// it passes the window around as an opaque handle, as HWND was on the original.

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

}  // namespace os
