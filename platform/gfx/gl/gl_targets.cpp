// The gl backend's render targets: every one, the back buffer included, is a framebuffer in
// Direct3D orientation (row 0 is the top row), drawn through a multisampled twin when the device
// multisamples. Clears, fills, copies between surfaces, read-back and Present.

#include <SDL.h>

#include <algorithm>
#include <cstdio>

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/gl/debug.h"
#include "platform/gfx/gl/gl_backend.h"

namespace gx {

HRESULT GlBackend::CreateSurface(Surface& s) {
  gl_->Current();
  GlCallScope scope("CreateSurface");
  auto g = std::make_unique<GlSurface>(gl_);
  if (s.kind == Surface::Kind::BackBuffer) {
    if (HRESULT hr = CreateBackBuffer(s, *g); FAILED(hr)) return hr;
  } else if (s.kind == Surface::Kind::DepthStencil) {
    CreateDepthBuffer(s, *g);
  }
  targetDirty_ = true;
  s.gpu = std::move(g);
  return D3D_OK;
}

HRESULT GlBackend::CreateBackBuffer(Surface& s, GlSurface& g) {
  // A back buffer beyond what the implementation renders would be silently clipped or fail
  // at every draw; refuse the device instead.
  GLint maxTexture = 0, maxRenderbuffer = 0, maxViewport[2] = {0, 0};
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
  const GLint maxWidth = std::min({maxTexture, maxRenderbuffer, maxViewport[0]});
  const GLint maxHeight = std::min({maxTexture, maxRenderbuffer, maxViewport[1]});
  if (GLint(s.desc.Width) > maxWidth || GLint(s.desc.Height) > maxHeight) {
    std::fprintf(stderr, "graphics: a %ux%u picture is more than this OpenGL renders (at most %dx%d)\n",
                 s.desc.Width, s.desc.Height, maxWidth, maxHeight);
    return D3DERR_NOTAVAILABLE;
  }
  glGenTextures(1, &g.texture);
  gl_->cache.BindTextureForUpload(GL_TEXTURE_2D, g.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(s.desc.Width), GLsizei(s.desc.Height), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, nullptr);
  glGenFramebuffers(1, &g.target.fbo);
  gl_->cache.BindDrawFramebuffer(g.target.fbo);
  glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, g.texture, 0);
  gl_->cache.Scissor(false);
  gl_->cache.ColorMask(0xF);
  const GLfloat black[4] = {0, 0, 0, 1};
  glClearBufferfv(GL_COLOR, 0, black);
  backBuffer_ = &g;
  return D3D_OK;
}

void GlBackend::CreateDepthBuffer(Surface& s, GlSurface& g) {
  g.stencil = s.desc.Format != D3DFMT_D16 && s.desc.Format != D3DFMT_D16_LOCKABLE && s.desc.Format != D3DFMT_D32;
  GLenum internal = g.stencil ? GL_DEPTH24_STENCIL8 : (s.desc.Format == D3DFMT_D32 ? GL_DEPTH_COMPONENT32
                                                                                    : GL_DEPTH_COMPONENT16);
  g.depthFormat = internal;
  glGenRenderbuffers(1, &g.renderbuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, g.renderbuffer);
  // Every target draws multisampled when the device does, so every depth buffer matches it.
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, internal, GLsizei(s.desc.Width),
                                   GLsizei(s.desc.Height));
}

HRESULT GlBackend::ReadSurface(Surface& s, std::vector<std::uint8_t>& rgba) {
  rgba.assign(size_t(s.desc.Width) * s.desc.Height * 4, 0);
  gl_->Current();
  GlCallScope scope("ReadSurface");
  GlTarget* target = TargetOf(s);
  if (!target) return Refused(D3DERR_INVALIDCALL, "ReadSurface", "the surface is no render target of this device");
  Resolve(*target);
  gl_->cache.BindReadFramebuffer(target->fbo);
  glReadPixels(0, 0, GLsizei(s.desc.Width), GLsizei(s.desc.Height), GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  ++gl_->cache.calls.frame;
  // Formats without alpha read back opaque, as Direct3D 9 reads them.
  if (s.desc.Format == D3DFMT_X8R8G8B8 || s.desc.Format == D3DFMT_R5G6B5 || s.desc.Format == D3DFMT_X1R5G5B5)
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
  return D3D_OK;
}

void GlBackend::Clear(const DeviceState& s, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
  if (warmUp_ || context_ != Context::InUse) return;
  gl_->Current();
  GlCallScope scope("Clear");
  auto& c = gl_->cache;
  if (!BindTarget(s)) {
    Refused(D3DERR_INVALIDCALL, "Clear", "the render target cannot be bound");
    return;
  }
  const GLbitfield mask = ClearMasks(flags, color, z, stencil);
  if (gl_->drawing && gl_->drawing->msFbo) gl_->drawing->unresolved = true;
  const D3DVIEWPORT9& vp = s.viewport;
  auto* rt = static_cast<Surface*>(s.renderTarget.get());
  const bool full = vp.X == 0 && vp.Y == 0 && vp.Width == rt->desc.Width && vp.Height == rt->desc.Height &&
                    !s.render[D3DRS_SCISSORTESTENABLE];
  if (count == 0 && full) {
    c.Scissor(false);
    glClear(mask);
    ++c.calls.draw;
  } else if (count == 0) {
    ClearRect(s, mask, LONG(vp.X), LONG(vp.Y), LONG(vp.X + vp.Width), LONG(vp.Y + vp.Height));
  } else {
    for (DWORD i = 0; i < count; ++i) ClearRect(s, mask, rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
  }
  c.Scissor(false);
}

// The clear values and write masks of what is cleared.
GLbitfield GlBackend::ClearMasks(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  auto& c = gl_->cache;
  GLbitfield mask = 0;
  if (flags & D3DCLEAR_TARGET) {
    float rgba[4];
    ColorOf(color, rgba);
    glClearColor(rgba[0], rgba[1], rgba[2], rgba[3]);
    c.ColorMask(0xF);
    mask |= GL_COLOR_BUFFER_BIT;
    ++c.calls.state;
  }
  if (flags & D3DCLEAR_ZBUFFER) {
    glClearDepth(std::clamp(z, 0.0f, 1.0f));
    c.DepthMask(true);
    mask |= GL_DEPTH_BUFFER_BIT;
    ++c.calls.state;
  }
  if (flags & D3DCLEAR_STENCIL) {
    glClearStencil(GLint(stencil));
    c.StencilWriteMask(0xFFFFFFFFu);
    mask |= GL_STENCIL_BUFFER_BIT;
    ++c.calls.state;
  }
  rasterDirty_ = true;  // masks were changed for the clear
  return mask;
}

// Clears keep inside the viewport and, with the scissor test on, inside the scissor rectangle.
void GlBackend::ClearRect(const DeviceState& s, GLbitfield mask, LONG l, LONG t, LONG r, LONG b) {
  const D3DVIEWPORT9& vp = s.viewport;
  l = std::max<LONG>(l, LONG(vp.X)), t = std::max<LONG>(t, LONG(vp.Y));
  r = std::min<LONG>(r, LONG(vp.X + vp.Width)), b = std::min<LONG>(b, LONG(vp.Y + vp.Height));
  if (s.render[D3DRS_SCISSORTESTENABLE]) {
    l = std::max(l, s.scissor.left), t = std::max(t, s.scissor.top);
    r = std::min(r, s.scissor.right), b = std::min(b, s.scissor.bottom);
  }
  if (l >= r || t >= b) return;
  gl_->cache.Scissor(true, l, t, r - l, b - t);
  glClear(mask);
  ++gl_->cache.calls.draw;
}

HRESULT GlBackend::Present() {
  ++frames_;
  gl_->Current();
  GlCallScope scope("Present");
  if (!gl_->context->headless() && backBuffer_) {
    CopyToWindow();
    gl_->context->Swap();
    targetDirty_ = true;
  } else {
    // Offscreen nothing is shown, and without a finish the queued frames pile up.
    glFinish();
    ++gl_->cache.calls.frame;
  }
  return D3D_OK;
}

// The picture keeps its proportions: scaled to fit the window and centred, black bars beside or
// above and below it (a full-screen show whose mode the display could not take).
void GlBackend::CopyToWindow() {
  auto& c = gl_->cache;
  Resolve(backBuffer_->target);
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(gl_->context->window(), &w, &h);
  c.BindReadFramebuffer(backBuffer_->target.fbo);
  c.BindDrawFramebuffer(0);
  c.Scissor(false);
  c.ColorMask(0xF);
  GLsizei bw = GLsizei(backBufferWidth_), bh = GLsizei(backBufferHeight_);
  GLint x0 = 0, y0 = 0, x1 = w, y1 = h;
  const long long wide = (long long)w * bh, tall = (long long)h * bw;
  if (bw > 0 && bh > 0 && wide != tall) {
    if (wide > tall) {
      const GLint dw = GLint((tall + bh / 2) / bh);
      x0 = (w - dw) / 2, x1 = x0 + dw;
    } else {
      const GLint dh = GLint((wide + bw / 2) / bw);
      y0 = (h - dh) / 2, y1 = y0 + dh;
    }
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ++c.calls.frame;
  }
  // Top row first in ours, bottom row first in the window's: flip while copying.
  const bool same = x1 - x0 == bw && y1 - y0 == bh;
  glBlitFramebuffer(0, 0, bw, bh, x0, y1, x1, y0, GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
  ++c.calls.frame;
}

HRESULT GlBackend::QueueRead(Surface& s, unsigned slot) {
  if (kGlEs) return D3DERR_NOTAVAILABLE;  // no buffer mapping in WebGL 2: read directly
  if (!gl_) return D3DERR_INVALIDCALL;
  gl_->Current();
  GlTarget* target = TargetOf(s);
  if (!target) return D3DERR_INVALIDCALL;
  Resolve(*target);  // a multisampled target's pixels are read from its resolved picture
  if (!reader_) reader_ = std::make_unique<GlPixelReader>(*gl_);
  return reader_->Queue(target->fbo, s.desc.Width, s.desc.Height, slot) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlBackend::TakeRead(unsigned slot, std::uint8_t* rgba, std::size_t size) {
  return reader_ && reader_->Take(slot, rgba, size) ? D3D_OK : D3DERR_INVALIDCALL;
}

GlTarget* GlBackend::TargetOf(Surface& s) {
  if (s.kind == Surface::Kind::BackBuffer) {
    auto* g = static_cast<GlSurface*>(s.gpu.get());
    return g && g->Live() ? &g->target : nullptr;  // a lost context's back buffer is made anew by Reset
  }
  if (s.kind != Surface::Kind::TextureLevel || !s.texture) return nullptr;
  GlTexture* g = LiveTexture(s.texture->store);
  if (!g || g->targets.empty()) return nullptr;
  GlTarget& t = g->targets[s.face * s.texture->store.levels + s.level];
  if (!t.fbo) {
    glGenFramebuffers(1, &t.fbo);
    gl_->cache.BindDrawFramebuffer(t.fbo);
    GLenum target = g->target == GL_TEXTURE_CUBE_MAP ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + s.face) : GL_TEXTURE_2D;
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, g->name, GLint(s.level));
    gl_->cache.calls.object += 2;
  }
  return &t;
}

// The multisampled twin of a target, made the first time it is drawn into. It starts as its
// texture does: transparent black for a render target, opaque black for the back buffer.
bool GlBackend::Multisampled(GlTarget& t, const Surface& rt) {
  if (t.msFbo) return true;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLenum internal = GL_RGBA8;
  const bool texture = rt.kind == Surface::Kind::TextureLevel;
  if (texture) internal = static_cast<GlTexture*>(rt.texture->store.gpu.get())->format.internal;
  t.width = GLsizei(rt.desc.Width);
  t.height = GLsizei(rt.desc.Height);
  glGenRenderbuffers(1, &t.msColor);
  glBindRenderbuffer(GL_RENDERBUFFER, t.msColor);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, internal, t.width, t.height);
  glGenFramebuffers(1, &t.msFbo);
  auto& c = gl_->cache;
  c.BindDrawFramebuffer(t.msFbo);
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, t.msColor);
  c.Scissor(false);
  c.ColorMask(0xF);
  const GLfloat start[4] = {0, 0, 0, texture ? 0.0f : 1.0f};
  glClearBufferfv(GL_COLOR, 0, start);
  c.calls.object += 5, ++c.calls.draw;  // the renderbuffer, framebuffer and attachment; the clear
  t.depthSerial = ~0ull;
  rasterDirty_ = true;
  if (glGetError() != GL_NO_ERROR) {
    std::fprintf(stderr, "graphics: no multisampled render target of %d samples\n", int(samples_));
    return false;
  }
  return true;
}

// Copies what was drawn into a multisampled twin to the target's own texture.
void GlBackend::Resolve(GlTarget& t) {
  if (!t.unresolved || !t.msFbo) return;
  auto& c = gl_->cache;
  c.BindReadFramebuffer(t.msFbo);
  c.BindDrawFramebuffer(t.fbo);
  c.Scissor(false);
  c.ColorMask(0xF);
  glBlitFramebuffer(0, 0, t.width, t.height, 0, 0, t.width, t.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  ++c.calls.frame;
  t.unresolved = false;
  targetDirty_ = rasterDirty_ = true;  // the draw framebuffer and the masks moved
}

bool GlBackend::BindTarget(const DeviceState& s) {
  if (!targetDirty_) return boundOk_;
  targetDirty_ = false;
  boundOk_ = false;
  auto* rt = static_cast<Surface*>(s.renderTarget.get());
  if (!rt) return false;
  GlTarget* t = TargetOf(*rt);
  if (!t) return false;
  // Leaving a multisampled target: what was drawn there goes into its texture now, before
  // anything can sample it.
  if (gl_->drawing && gl_->drawing != t) Resolve(*gl_->drawing);
  gl_->drawing = t;
  if (samples_ && !Multisampled(*t, *rt)) return false;
  gl_->cache.BindDrawFramebuffer(t->msFbo ? t->msFbo : t->fbo);
  auto* ds = static_cast<Surface*>(s.depthStencil.get());
  if (!AttachDepth(*t, *rt, ds, ds ? LiveDepth(*ds) : nullptr)) return false;
  viewportDirty_ = true;
  rasterDirty_ = true;
  boundOk_ = true;
  return true;
}

// Attaches the depth-stencil surface in force to the bound framebuffer, unless it is there already.
bool GlBackend::AttachDepth(GlTarget& t, const Surface& rt, Surface* ds, GlSurface* g) {
  std::uint64_t depthSerial = ds ? ds->serial : 0;
  if (t.depthSerial == depthSerial) {
    depthAttached_ = g && g->renderbuffer;
    stencilAttached_ = g && g->stencil;
    return true;
  }
  GLuint rb = g ? DepthBufferFor(t, rt, *ds, *g) : 0;
  bool stencil = g && g->stencil;
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                            GL_RENDERBUFFER, rb);
  gl_->cache.calls.object += 2;
  t.depthSerial = depthSerial;
  depthAttached_ = rb != 0;
  stencilAttached_ = stencil;
  if (glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    std::fprintf(stderr, "graphics: render target is not complete\n");
    return false;
  }
  return true;
}

#if GX_GLES
// GL ES attaches only a depth buffer of the target's own size: a larger one is stood in for by
// one of the target's own.
GLuint GlBackend::DepthBufferFor(GlTarget& t, const Surface& rt, const Surface& ds, GlSurface& g) {
  if (!g.renderbuffer || (ds.desc.Width == rt.desc.Width && ds.desc.Height == rt.desc.Height)) return g.renderbuffer;
  if (!t.ownDepth) {
    glGenRenderbuffers(1, &t.ownDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, t.ownDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, g.depthFormat, GLsizei(rt.desc.Width), GLsizei(rt.desc.Height));
  }
  return t.ownDepth;
}
#else
GLuint GlBackend::DepthBufferFor(GlTarget&, const Surface&, const Surface&, GlSurface& g) { return g.renderbuffer; }
#endif

// The scissor rectangle in force (framebuffer rows run top first, as Direct3D's do).
void GlBackend::ApplyScissor(const DeviceState& s) {
  if (!s.render[D3DRS_SCISSORTESTENABLE]) {
    gl_->cache.Scissor(false);
    return;
  }
  const RECT& r = s.scissor;
  gl_->cache.Scissor(true, GLint(r.left), GLint(r.top), GLsizei(std::max<LONG>(r.right - r.left, 0)),
                     GLsizei(std::max<LONG>(r.bottom - r.top, 0)));
}

HRESULT GlBackend::Fill(Surface& surface, const RECT& r, D3DCOLOR color) {
  if (context_ != Context::InUse) return D3D_OK;
  gl_->Current();
  GlCallScope scope("ColorFill");
  GlTarget* t = TargetOf(surface);
  if (!t) return Refused(D3DERR_INVALIDCALL, "ColorFill", "the surface is no render target of this device");
  auto& c = gl_->cache;
  // A target drawn multisampled is filled in its twin, which its texture is resolved from.
  if (samples_ && !Multisampled(*t, surface))
    return Refused(D3DERR_INVALIDCALL, "ColorFill", "no multisampled twin for the target");
  c.BindDrawFramebuffer(t->msFbo ? t->msFbo : t->fbo);
  if (t->msFbo) t->unresolved = true;
  float rgba[4];
  ColorOf(color, rgba);
  c.ColorMask(0xF);
  c.Scissor(true, GLint(r.left), GLint(r.top), GLsizei(r.right - r.left), GLsizei(r.bottom - r.top));
  glClearBufferfv(GL_COLOR, 0, rgba);
  ++c.calls.draw;
  c.Scissor(false);
  targetDirty_ = rasterDirty_ = true;
  return D3D_OK;
}

HRESULT GlBackend::Blit(Surface& source, const RECT& from, Surface& dest, const RECT& to, bool linear) {
  if (context_ != Context::InUse) return D3D_OK;
  gl_->Current();
  GlCallScope scope("StretchRect");
  GlTarget* src = TargetOf(source);
  GlTarget* dst = TargetOf(dest);
  if (!src || !dst) return Refused(D3DERR_INVALIDCALL, "StretchRect", "a surface is no render target of this device");
  // GL cannot blit into a multisampled framebuffer, and every target of a multisampled device
  // is drawn through one.
  if (samples_) return Refused(D3DERR_INVALIDCALL, "StretchRect", "not into a multisampled render target");
  Resolve(*src);
  auto& c = gl_->cache;
  c.BindReadFramebuffer(src->fbo);
  c.BindDrawFramebuffer(dst->fbo);
  c.Scissor(false);
  c.ColorMask(0xF);
  glBlitFramebuffer(GLint(from.left), GLint(from.top), GLint(from.right), GLint(from.bottom), GLint(to.left),
                    GLint(to.top), GLint(to.right), GLint(to.bottom), GL_COLOR_BUFFER_BIT,
                    linear ? GL_LINEAR : GL_NEAREST);
  ++c.calls.frame;
  targetDirty_ = rasterDirty_ = true;
  return D3D_OK;
}

}  // namespace gx
