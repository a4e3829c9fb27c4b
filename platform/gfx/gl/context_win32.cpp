// The GL context on Windows. A window's context comes from SDL (WGL) as on Linux. Windows has no
// EGL for offscreen rendering, so a headless context lives on a hidden window of its own: every
// render target, the back buffer included, is a framebuffer object anyway, so nothing is ever
// drawn to that window and it never shows.

#include "platform/gfx/gl/context.h"

#include <SDL.h>

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/gl/flavour.h"

namespace gx {

namespace {

GlContext* g_current = nullptr;

bool HasCore33() {
  int major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  return major > 3 || (major == 3 && minor >= 3);
}

void AskForCore33() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, DebugOutput() ? SDL_GL_CONTEXT_DEBUG_FLAG : 0);
}

}  // namespace

std::unique_ptr<GlContext> GlContext::Create(SDL_Window* window, std::string& error) {
  std::unique_ptr<GlContext> c(new GlContext);
  SDL_Window* target = window;
  if (!window) {
    // The video subsystem is counted: each headless context holds it once.
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      error = std::string("no window system for offscreen rendering: ") + SDL_GetError();
      return nullptr;
    }
    target = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 16, 16,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!target) {
      error = std::string("no hidden window for offscreen rendering: ") + SDL_GetError();
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      return nullptr;
    }
    c->hiddenWindow_ = target;  // from here on the destructor gives it back
  }
  AskForCore33();
  SDL_GLContext ctx = SDL_GL_CreateContext(target);
  if (!ctx) {
    error = std::string("no OpenGL 3.3 core context: ") + SDL_GetError();
    return nullptr;
  }
  c->window_ = window;
  c->sdlContext_ = ctx;
  g_current = nullptr;
  c->MakeCurrent();
  if (!HasCore33()) {
    error = "OpenGL 3.3 is not available";
    return nullptr;
  }
  return c;
}

GlContext::~GlContext() {
  if (sdlContext_) {
    MakeCurrent();
    glFinish();
  }
  if (g_current == this) g_current = nullptr;
  SDL_Window* target = window_ ? window_ : hiddenWindow_;
  if (sdlContext_) {
    SDL_GL_MakeCurrent(target, nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(sdlContext_));
  }
  if (hiddenWindow_) {
    SDL_DestroyWindow(hiddenWindow_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
}

void GlContext::MakeCurrent() {
  if (g_current == this) return;
  SDL_GL_MakeCurrent(window_ ? window_ : hiddenWindow_, static_cast<SDL_GLContext>(sdlContext_));
  g_current = this;
}

}  // namespace gx
