#pragma once
// An OpenGL 3.3 core context: on the SDL window when there is one, otherwise
// offscreen through EGL (Mesa's surfaceless platform, or the default display); on Windows,
// which has no EGL, on a hidden window of its own (context_win32.cpp).

#include <memory>
#include <string>

struct SDL_Window;

namespace gx {

class GlContext {
 public:
  ~GlContext();
  // nullptr (with the reason in error) when no 3.3 core context can be had.
  static std::unique_ptr<GlContext> Create(SDL_Window* window, std::string& error);

  void MakeCurrent();
  // Shows the window's back buffer; headless there is nothing to show.
  void Swap();
  void SetSwapInterval(int interval);
  bool headless() const { return window_ == nullptr; }
  SDL_Window* window() const { return window_; }

 private:
  GlContext() = default;
  SDL_Window* window_ = nullptr;
  void* sdlContext_ = nullptr;
  void* eglContext_ = nullptr;
  void* eglSurface_ = nullptr;
  SDL_Window* hiddenWindow_ = nullptr;  // Windows, headless: the window the context lives on
};

}  // namespace gx
