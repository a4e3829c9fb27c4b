// What a window's context does alike on every platform: SDL presents it and paces it.

#include "platform/gfx/gl/context.h"

#include <SDL.h>

namespace gx {

void GlContext::Swap() {
  if (window_) SDL_GL_SwapWindow(window_);
}

void GlContext::SetSwapInterval(int interval) {
  if (window_) {
    MakeCurrent();
    SDL_GL_SetSwapInterval(interval);
  }
}

}  // namespace gx
