#include "platform/gfx/gl/context.h"

#include <SDL.h>

#include "platform/gfx/gl/flavour.h"
#if !GX_GLES
#include <epoxy/egl.h>
#endif

#include "platform/gfx/diagnostics.h"

namespace gx {

namespace {

GlContext* g_current = nullptr;

#if GX_GLES
// The browser: a WebGL 2 context on the page's canvas; there is no offscreen EGL.
bool HasCore33() {
  int major = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  return major >= 3;
}
#else

// One EGL display for the whole process: EGL does not count initialisations,
// so terminating it when one device goes would pull it from under the others.
EGLDisplay HeadlessDisplay() {
  static EGLDisplay display = [] {
    EGLDisplay d = EGL_NO_DISPLAY;
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
      auto getPlatformDisplay =
          reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
      if (getPlatformDisplay) d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      EGLint major, minor;
      if (d != EGL_NO_DISPLAY && !eglInitialize(d, &major, &minor)) d = EGL_NO_DISPLAY;
    }
    if (d == EGL_NO_DISPLAY) {
      d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
      EGLint major, minor;
      if (d != EGL_NO_DISPLAY && !eglInitialize(d, &major, &minor)) d = EGL_NO_DISPLAY;
    }
    return d;
  }();
  return display;
}

bool HasCore33() {
  int major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  return major > 3 || (major == 3 && minor >= 3);
}
#endif

}  // namespace

std::unique_ptr<GlContext> GlContext::Create(SDL_Window* window, std::string& error) {
  std::unique_ptr<GlContext> c(new GlContext);
  if (window) {
#if GX_GLES
    // OpenGL ES 3.0 is WebGL 2. Every target is our own framebuffer: the canvas needs no depth.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
#else
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
#endif
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, DebugOutput() ? SDL_GL_CONTEXT_DEBUG_FLAG : 0);
    SDL_GLContext ctx = SDL_GL_CreateContext(window);
    if (!ctx) {
      error = std::string("no OpenGL 3.3 core context: ") + SDL_GetError();
      return nullptr;
    }
    c->window_ = window;
    c->sdlContext_ = ctx;
  } else {
#if GX_GLES
    error = "no offscreen rendering in the browser";
    return nullptr;
#else
    EGLDisplay d = HeadlessDisplay();
    if (d == EGL_NO_DISPLAY) {
      error = "no EGL display for offscreen rendering";
      return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
      error = "EGL has no desktop OpenGL";
      return nullptr;
    }
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_DONT_CARE, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(d, configAttribs, &config, 1, &count) || count == 0) {
      error = "no EGL configuration for desktop OpenGL";
      return nullptr;
    }
    const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_CONTEXT_OPENGL_DEBUG, DebugOutput() ? EGL_TRUE : EGL_FALSE,
                                     EGL_NONE};
    EGLContext ctx = eglCreateContext(d, config, EGL_NO_CONTEXT, contextAttribs);
    if (ctx == EGL_NO_CONTEXT) {
      error = "no OpenGL 3.3 core context through EGL";
      return nullptr;
    }
    c->eglContext_ = ctx;
    if (!epoxy_has_egl_extension(d, "EGL_KHR_surfaceless_context")) {
      const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
      EGLSurface surface = eglCreatePbufferSurface(d, config, pbufferAttribs);
      if (surface == EGL_NO_SURFACE) {
        error = "no EGL pbuffer";
        return nullptr;
      }
      c->eglSurface_ = surface;
    }
#endif
  }
  g_current = nullptr;
  c->MakeCurrent();
  if (!HasCore33()) {
    error = "OpenGL 3.3 is not available";
    return nullptr;
  }
  return c;
}

GlContext::~GlContext() {
  // Nothing may still be queued when the context and then the display go: Mesa's llvmpipe
  // hangs for good in its thread teardown (at XCloseDisplay) when work is left in flight, which
  // happens when a show is closed while it loads (render-target clears without a frame since).
  if (sdlContext_ || eglContext_) {
    MakeCurrent();
    glFinish();
  }
  if (g_current == this) g_current = nullptr;
  if (sdlContext_) {
    SDL_GL_MakeCurrent(window_, nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(sdlContext_));
  }
#if !GX_GLES
  if (eglContext_) {
    EGLDisplay d = HeadlessDisplay();
    eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (eglSurface_) eglDestroySurface(d, static_cast<EGLSurface>(eglSurface_));
    eglDestroyContext(d, static_cast<EGLContext>(eglContext_));
  }
#endif
}

void GlContext::MakeCurrent() {
  if (g_current == this) return;
  if (sdlContext_) {
    SDL_GL_MakeCurrent(window_, static_cast<SDL_GLContext>(sdlContext_));
  } else {
#if !GX_GLES
    EGLSurface s = eglSurface_ ? static_cast<EGLSurface>(eglSurface_) : EGL_NO_SURFACE;
    eglMakeCurrent(HeadlessDisplay(), s, s, static_cast<EGLContext>(eglContext_));
#endif
  }
  g_current = this;
}

}  // namespace gx
