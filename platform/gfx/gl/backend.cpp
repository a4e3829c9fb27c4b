// The gl backend: draws the device's state with OpenGL 3.3 core. Every render
// target, the back buffer included, is a framebuffer in Direct3D orientation
// (row 0 is the top row); Present copies the back buffer to the window upside
// down, as GL windows count rows from the bottom.

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gfx/backend_impl.h"
#include "platform/gfx/diagnostics.h"
#include "platform/gfx/draw_reach.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/gl/debug.h"
#include "platform/gfx/gl/glsl_gen.h"
#include "platform/gfx/gl/objects.h"
#include "platform/gfx/gl/readback.h"
#include "platform/gfx/matrix_math.h"
#include "platform/gfx/shader_interface.h"

namespace gx {
namespace {

constexpr GLsizeiptr kStreamSize = 4 << 20;

void ColorOf(D3DCOLOR c, float out[4]) {
  out[0] = float((c >> 16) & 0xFF) / 255.0f;
  out[1] = float((c >> 8) & 0xFF) / 255.0f;
  out[2] = float(c & 0xFF) / 255.0f;
  out[3] = float(c >> 24) / 255.0f;
}

class GlBackend final : public Backend {
 public:
  ~GlBackend() override {
    if (!gl_) return;
    gl_->Current();
    if (vao_) glDeleteVertexArrays(1, &vao_);
    GLuint buffers[2] = {streamVbo_, streamIbo_};
    glDeleteBuffers(2, buffers);
    for (auto& s : samplers_) glDeleteSamplers(1, &s.second);
    reader_.reset();
    gl_->Close();
  }

  HRESULT Open(HWND window, UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) override {
    GlCallScope scope("Open");
    std::string error;
    auto context = GlContext::Create(os::SdlWindowOf(window), error);
    if (!context) {
      std::fprintf(stderr, "graphics: %s\n", error.c_str());
      return D3DERR_NOTAVAILABLE;
    }
    gl_ = std::make_shared<GlShared>();
    gl_->context = std::move(context);
    SetUpContext();
    SetInterval(params);
    (void)width, (void)height;
    return D3D_OK;
  }

  // What a new context needs before the first draw: the backend's own objects and the state
  // set once.
  void SetUpContext() {
    InstallGlDebugOutput();
    gl_->cache.Invalidate();
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples_);
    auto& c = gl_->cache;
    glGenVertexArrays(1, &vao_);
    c.BindVertexArray(vao_);
    glGenBuffers(1, &streamVbo_);
    glGenBuffers(1, &streamIbo_);
    c.BindArrayBuffer(streamVbo_);
    glBufferData(GL_ARRAY_BUFFER, kStreamSize, nullptr, GL_STREAM_DRAW);
    c.BindElementBuffer(streamIbo_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, kStreamSize / 4, nullptr, GL_STREAM_DRAW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // D3D's clockwise (on screen) is GL's counter-clockwise in our top-row-first framebuffers.
    glFrontFace(GL_CCW);
#if !GX_GLES
    // WebGL 2 has only the last-vertex convention; the show shades nothing flat.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
#endif
    // Colours a vertex lacks read as Direct3D's defaults.
    glVertexAttrib4f(kAttrDiffuse, 1.0f, 1.0f, 1.0f, 1.0f);
    glVertexAttrib4f(kAttrSpecular, 0.0f, 0.0f, 0.0f, 0.0f);
  }

  // While the context is lost nothing is drawn; when it is back every name held is abandoned
  // (none deleted: it may name something else now), the backend's own objects are made anew, and
  // resources are remade from their system copies as they are used (LiveTexture, Upload).
  HRESULT RestoreContext() override {
    if (context_ != Context::Lost || !gl_) return Backend::RestoreContext();
    reader_.reset();  // its buffers are the old context's: deleted there while it exists
    std::string error;
    if (!RenewContext(*gl_, error)) {
      std::fprintf(stderr, "graphics: the lost context does not come back: %s\n", error.c_str());
      return D3DERR_DEVICELOST;
    }
    gl_->AbandonNames();
    vao_ = streamVbo_ = streamIbo_ = 0;
    streamAt_ = 0, streamCapacity_ = kStreamSize, indexAt_ = 0, indexCapacity_ = kStreamSize / 4;
    samplers_.clear();
    stageSampler_.fill(0);
    program_ = nullptr;
    multisampleOn_ = -1;
    SetUpContext();
    StateChanged(StateKind::All, 0, 0, 0);
    return Backend::RestoreContext();
  }

  HRESULT Resize(UINT, UINT, const D3DPRESENT_PARAMETERS& params) override {
    backBuffer_ = nullptr;  // the device makes a new one
    SetInterval(params);
    targetDirty_ = true;
    return D3D_OK;
  }

  void StateChanged(StateKind kind, DWORD index, DWORD type, DWORD) override {
    switch (kind) {
      case StateKind::Render:
        // A render state is a uniform, part of the program's key, or raster state (ApplyRaster).
        switch (type) {
          case D3DRS_FOGSTART: case D3DRS_FOGEND: case D3DRS_FOGDENSITY:
            ++versions_[kGroupFog]; break;
          case D3DRS_FOGCOLOR:  // black fog has programs of its own
            ++versions_[kGroupFog];
            keyDirty_ = true;
            break;
          case D3DRS_AMBIENT: ++versions_[kGroupAmbient]; break;
          case D3DRS_TEXTUREFACTOR: ++versions_[kGroupTFactor]; break;
          case D3DRS_ALPHAREF:  // a reference nothing fails takes the test out of the key
            ++versions_[kGroupAlphaRef];
            keyDirty_ = true;
            break;
          default:
            if (RenderStateShapesKey(type))
              keyDirty_ = true;
            else
              rasterDirty_ = true;
            break;
        }
        break;
      case StateKind::Stage: keyDirty_ = true; break;
      case StateKind::Texture: keyDirty_ = true; break;
      case StateKind::Sampler: samplerDirty_ |= 1u << index; break;
      case StateKind::Transform:
        if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7) {
          ++versions_[kGroupTexMatrix];
        } else {
          if (type == D3DTS_PROJECTION) {
            ++versions_[kGroupProjection];
          } else {
            ++versions_[kGroupTransform];
            if (type == D3DTS_VIEW) ++versions_[kGroupLights];
          }
        }
        break;
      case StateKind::Material: ++versions_[kGroupMaterial]; break;
      case StateKind::Light:
      case StateKind::LightEnable: ++versions_[kGroupLights], keyDirty_ = true; break;
      case StateKind::PixelShader:
      case StateKind::VertexShader:
      case StateKind::Fvf: keyDirty_ = true; break;
      case StateKind::ShaderConstant: break;  // versions are compared at the draw
      case StateKind::Stream:
      case StateKind::Indices: break;
      case StateKind::RenderTarget:
      case StateKind::DepthStencil: targetDirty_ = true; rasterDirty_ = true; break;
      case StateKind::Viewport: ++versions_[kGroupViewport]; viewportDirty_ = true; break;
      case StateKind::Scissor: rasterDirty_ = true; break;
      case StateKind::All:
        keyDirty_ = rasterDirty_ = targetDirty_ = viewportDirty_ = true;
        samplerDirty_ = 0xFF;
        for (auto& v : versions_) ++v;
        break;
    }
  }

  // -------------------------------------------------------------------------
  // Resources

  HRESULT CreateTexture(TextureStore& t) override {
    gl_->Current();
    GlCallScope scope("CreateTexture");
    auto g = std::make_unique<GlTexture>(gl_);
    if (!GlFormatOf(t.format, g->format))
      return Refused(D3DERR_INVALIDCALL, "CreateTexture", Why("no GL format for D3DFORMAT %u", unsigned(t.format)));
    g->target = t.type == D3DRTYPE_CUBETEXTURE ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
    glGenTextures(1, &g->name);
    gl_->cache.BindTextureForUpload(g->target, g->name);
    glTexParameteri(g->target, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(g->target, GL_TEXTURE_MAX_LEVEL, GLint(t.levels) - 1);
    const GLenum kSwizzle[4] = {GL_TEXTURE_SWIZZLE_R, GL_TEXTURE_SWIZZLE_G, GL_TEXTURE_SWIZZLE_B,
                                GL_TEXTURE_SWIZZLE_A};
    const GLint kIdentity[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
    for (int i = 0; i < 4; ++i)
      if (g->format.swizzle[i] != kIdentity[i]) {
        glTexParameteri(g->target, kSwizzle[i], g->format.swizzle[i]);
        ++gl_->cache.calls.object;
      }
    for (UINT f = 0; f < t.faces; ++f) {
      GLenum target = t.faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f) : GL_TEXTURE_2D;
      for (UINT l = 0; l < t.levels; ++l) {
        const Image& img = t.At(f, l);
        glTexImage2D(target, GLint(l), g->format.internal, GLsizei(img.width), GLsizei(img.height), 0,
                     g->format.format, g->format.type, img.pixels.empty() ? nullptr : UploadPixels(t, *g, img));
      }
    }
    gl_->cache.calls.object += 3 + t.faces * t.levels;  // gen, base and max level, one image a level
    if (t.IsRenderTarget()) {
      g->targets.resize(size_t(t.faces) * t.levels);
      // A new render target reads as transparent black until drawn into.
      GLuint fbo = 0;
      glGenFramebuffers(1, &fbo);
      gl_->cache.BindDrawFramebuffer(fbo);
      gl_->cache.Scissor(false);
      gl_->cache.ColorMask(0xF);
      for (UINT f = 0; f < t.faces; ++f) {
        GLenum target = t.faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f) : GL_TEXTURE_2D;
        for (UINT l = 0; l < t.levels; ++l) {
          glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, g->name, GLint(l));
          const GLfloat zero[4] = {0, 0, 0, 0};
          glClearBufferfv(GL_COLOR, 0, zero);
        }
      }
      gl_->cache.BindDrawFramebuffer(0);
      gl_->cache.ForgetFramebuffer(fbo);
      glDeleteFramebuffers(1, &fbo);
      targetDirty_ = true;
    }
    t.gpu = std::move(g);
    return D3D_OK;
  }

  void UploadTexture(TextureStore& t, UINT face, UINT level) override {
    auto* g = static_cast<GlTexture*>(t.gpu.get());
    if (!g) return;
    gl_->Current();
    if (!g->Live()) {
      LiveTexture(t);  // made anew from the system copy, this level included
      return;
    }
    GlCallScope scope("UploadTexture");
    const Image& img = t.At(face, level);
    gl_->cache.BindTextureForUpload(g->target, g->name);
    GLenum target = t.faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face) : GL_TEXTURE_2D;
    glTexSubImage2D(target, GLint(level), 0, 0, GLsizei(img.width), GLsizei(img.height), g->format.format,
                    g->format.type, UploadPixels(t, *g, img));
    ++gl_->cache.calls.upload;
  }

  HRESULT CreateSurface(Surface& s) override {
    gl_->Current();
    GlCallScope scope("CreateSurface");
    auto g = std::make_unique<GlSurface>(gl_);
    if (s.kind == Surface::Kind::BackBuffer) {
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
      glGenTextures(1, &g->texture);
      gl_->cache.BindTextureForUpload(GL_TEXTURE_2D, g->texture);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(s.desc.Width), GLsizei(s.desc.Height), 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, nullptr);
      glGenFramebuffers(1, &g->target.fbo);
      gl_->cache.BindDrawFramebuffer(g->target.fbo);
      glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, g->texture, 0);
      gl_->cache.Scissor(false);
      gl_->cache.ColorMask(0xF);
      const GLfloat black[4] = {0, 0, 0, 1};
      glClearBufferfv(GL_COLOR, 0, black);
      backBuffer_ = g.get();
    } else if (s.kind == Surface::Kind::DepthStencil) {
      g->stencil = s.desc.Format != D3DFMT_D16 && s.desc.Format != D3DFMT_D16_LOCKABLE && s.desc.Format != D3DFMT_D32;
      GLenum internal = g->stencil ? GL_DEPTH24_STENCIL8 : (s.desc.Format == D3DFMT_D32 ? GL_DEPTH_COMPONENT32
                                                                                         : GL_DEPTH_COMPONENT16);
      g->depthFormat = internal;
      glGenRenderbuffers(1, &g->renderbuffer);
      glBindRenderbuffer(GL_RENDERBUFFER, g->renderbuffer);
      // Every target draws multisampled when the device does, so every depth buffer matches it.
      glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, internal, GLsizei(s.desc.Width),
                                       GLsizei(s.desc.Height));
    }
    targetDirty_ = true;
    s.gpu = std::move(g);
    return D3D_OK;
  }

  HRESULT CreateShader(ShaderStore& shader) override {
    if (context_ == Context::Lost) {
      // Nothing compiles without a context: the source is checked when it is first drawn with.
      auto tag = std::make_unique<GlShaderTag>(gl_);
      tag->serial = shader.serial;
      shader.gpu = std::move(tag);
      return D3D_OK;
    }
    gl_->Current();
    GlCallScope scope("CreateShader");
    // Compile once now so a bad source fails here, with the compiler's words.
    FixedFunctionKey key;
    std::memset(&key, 0, sizeof key);
    std::string log;
    std::string source =
        shader.pixel ? WrapPixelShader(shader.source, key) : WrapVertexShader(shader.source);
    GLuint s = gl_->shaders.Get(shader.pixel ? GL_FRAGMENT_SHADER : GL_VERTEX_SHADER, source, log);
    if (!s) {
      std::fprintf(stderr, "graphics: %s shader does not compile:\n%s\n", shader.pixel ? "pixel" : "vertex",
                   log.c_str());
      return D3DERR_INVALIDCALL;
    }
    auto tag = std::make_unique<GlShaderTag>(gl_);
    tag->serial = shader.serial;
    shader.gpu = std::move(tag);
    if (shader.pixel) {
      // Screen-space passes draw pre-transformed textured quads: have that program ready.
      ProgramKey pk{};
      std::memset(&pk.ff, 0, sizeof pk.ff);
      pk.ff.position = kPosRhw, pk.ff.texSets = 1, pk.ff.texSize[0] = 2, pk.ff.customPixel = 1;
      pk.pixelShader = shader.serial;
      // GLSL ES links only when every input the pixel shader reads is written: a pixel shader
      // meant for a vertex shader of its own (the water's) cannot go with the quads' stage. It
      // is linked with its real partner when drawn; this one is dropped quietly.
      quietLink_ = kGlEs;
      GlProgram* quad = Program(pk, &shader, nullptr);
      quietLink_ = false;
      if (!quad) return D3DERR_INVALIDCALL;
      if (kGlEs && !quad->ok) gl_->programs.erase(pk);
      // A shader that compiles but links with nothing (more uniforms than the driver holds) would
      // fail every draw it is used in: it is refused now, where its maker can hear of it.
      if (!kGlEs && !quad->ok) {
        shader.gpu.reset();
        return D3DERR_INVALIDCALL;
      }
    }
    return D3D_OK;
  }

  HRESULT ReadSurface(Surface& s, std::vector<std::uint8_t>& rgba) override {
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

  // -------------------------------------------------------------------------
  // Frame

  void Clear(const DeviceState& s, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
             DWORD stencil) override {
    if (warmUp_ || context_ != Context::InUse) return;
    gl_->Current();
    GlCallScope scope("Clear");
    auto& c = gl_->cache;
    if (!BindTarget(s)) {
      Refused(D3DERR_INVALIDCALL, "Clear", "the render target cannot be bound");
      return;
    }
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
    if (gl_->drawing && gl_->drawing->msFbo) gl_->drawing->unresolved = true;
    const D3DVIEWPORT9& vp = s.viewport;
    auto* rt = static_cast<Surface*>(s.renderTarget.get());
    bool full = vp.X == 0 && vp.Y == 0 && vp.Width == rt->desc.Width && vp.Height == rt->desc.Height;
    // Clears keep inside the viewport and, with the scissor test on, inside the scissor rectangle.
    const bool scissor = s.render[D3DRS_SCISSORTESTENABLE] != 0;
    if (scissor) full = false;
    auto clearRect = [&](LONG l, LONG t, LONG r, LONG b) {
      l = std::max<LONG>(l, LONG(vp.X)), t = std::max<LONG>(t, LONG(vp.Y));
      r = std::min<LONG>(r, LONG(vp.X + vp.Width)), b = std::min<LONG>(b, LONG(vp.Y + vp.Height));
      if (scissor) {
        l = std::max(l, s.scissor.left), t = std::max(t, s.scissor.top);
        r = std::min(r, s.scissor.right), b = std::min(b, s.scissor.bottom);
      }
      if (l >= r || t >= b) return;
      c.Scissor(true, l, t, r - l, b - t);
      glClear(mask);
      ++c.calls.draw;
    };
    if (count == 0) {
      if (full) {
        c.Scissor(false);
        glClear(mask);
        ++c.calls.draw;
      } else {
        clearRect(LONG(vp.X), LONG(vp.Y), LONG(vp.X + vp.Width), LONG(vp.Y + vp.Height));
      }
    } else {
      for (DWORD i = 0; i < count; ++i) clearRect(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
    }
    c.Scissor(false);
  }

  HRESULT Present() override {
    ++frames_;
    gl_->Current();
    GlCallScope scope("Present");
    auto& c = gl_->cache;
    if (!gl_->context->headless() && backBuffer_) {
      Resolve(backBuffer_->target);
      int w = 0, h = 0;
      SDL_GL_GetDrawableSize(gl_->context->window(), &w, &h);
      c.BindReadFramebuffer(backBuffer_->target.fbo);
      c.BindDrawFramebuffer(0);
      c.Scissor(false);
      c.ColorMask(0xF);
      GLsizei bw = GLsizei(backBufferWidth_), bh = GLsizei(backBufferHeight_);
      // The picture keeps its proportions: scaled to fit the window and centred, black bars
      // beside or above and below it (a full-screen show whose mode the display could not take).
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
      gl_->context->Swap();
      targetDirty_ = true;
    } else {
      // Offscreen nothing is shown, and without a finish the queued frames pile up.
      glFinish();
      ++c.calls.frame;
    }
    return D3D_OK;
  }

  // -------------------------------------------------------------------------
  // Drawing

  HRESULT Draw(const DeviceState& s, const DrawCall& call) override {
    // Warm-up draws build their programs whatever they would cover.
    if (!warmUp_ && LeavesTargetUnchanged(s, call)) return D3D_OK;
    if (context_ != Context::InUse) return D3D_OK;  // a lost device draws nothing, and says nothing
    gl_->Current();
    GlCallScope scope("Draw");
    auto& c = gl_->cache;
    if (!BindTarget(s)) return Refused(D3DERR_INVALIDCALL, "Draw", "the render target cannot be bound");
    if (viewportDirty_) {
      const auto& vp = s.viewport;
      c.Viewport(GLint(vp.X), GLint(vp.Y), GLsizei(vp.Width), GLsizei(vp.Height));
      c.DepthRange(vp.MinZ, vp.MaxZ);
      viewportDirty_ = false;
    }
    if (rasterDirty_) ApplyRaster(s);

    if (keyDirty_) {
      BuildKey(s, programKey_.ff);
      keyDirty_ = false;
      program_ = nullptr;
    }
    auto* ps = s.pixelShader ? &static_cast<PixelShader*>(s.pixelShader.get())->store : nullptr;
    auto* vs = s.vertexShader ? &static_cast<VertexShader*>(s.vertexShader.get())->store : nullptr;
    std::uint64_t psSerial = ps ? ps->serial : 0, vsSerial = vs ? vs->serial : 0;
    if (!program_ || programKey_.pixelShader != psSerial || programKey_.vertexShader != vsSerial) {
      programKey_.pixelShader = psSerial, programKey_.vertexShader = vsSerial;
      program_ = Program(programKey_, ps, vs);
    }
    // A program that failed to build draws nothing rather than something stale.
    if (!program_ || !program_->ok)
      return Refused(D3DERR_INVALIDCALL, "Draw", "the program for the state in force does not build");
    c.UseProgram(program_->id);
    UploadUniforms(*program_, s);
    if (ps || vs) UploadShaderConstants(*program_, s, ps != nullptr, vs != nullptr);
    BindTextures(s, programKey_.ff);
    // A render target remade just now (the context came back) moved the framebuffer and masks.
    if (targetDirty_) {
      if (!BindTarget(s)) return Refused(D3DERR_INVALIDCALL, "Draw", "the render target cannot be bound");
      if (rasterDirty_) ApplyRaster(s);
    }

    FvfLayout layout = LayoutOf(s.fvf);
    c.BindVertexArray(vao_);
    GLenum mode = GlPrimitive(call.type);
    GLint first = 0;
    GLint baseVertex = 0;
    const void* indexOffset = nullptr;
    bool indexed = false;
    GLuint attribBuffer = 0;  // where the attributes were pointed, for GL ES's rebasing
    UINT attribBase = 0, attribStride = 0;
    switch (call.kind) {
      case DrawRecord::Kind::Primitive:
      case DrawRecord::Kind::IndexedPrimitive: {
        auto* vb = static_cast<VertexBuffer*>(s.streamBuffer.get());
        GLuint name = Upload(vb->store, GL_ARRAY_BUFFER);
        SetAttributes(layout, name, s.streamOffset, s.streamStride);
        attribBuffer = name, attribBase = s.streamOffset, attribStride = s.streamStride;
        if (call.kind == DrawRecord::Kind::Primitive) {
          first = GLint(call.startVertex);
        } else {
          auto* ib = static_cast<IndexBuffer*>(s.indices.get());
          c.BindElementBuffer(Upload(ib->store, GL_ELEMENT_ARRAY_BUFFER));
          indexed = true;
          baseVertex = call.baseVertex;
          indexOffset = reinterpret_cast<const void*>(std::uintptr_t(call.startIndex) * 2);
        }
        break;
      }
      case DrawRecord::Kind::PrimitiveUP: {
        GLint at = Stream(static_cast<const std::uint8_t*>(call.userVertices), call.vertexCount, call.userStride);
        SetAttributes(layout, streamVbo_, 0, call.userStride);
        first = at;
        break;
      }
      case DrawRecord::Kind::IndexedPrimitiveUP: {
        const auto* v = static_cast<const std::uint8_t*>(call.userVertices) + size_t(call.minIndex) * call.userStride;
        // ES draws cannot start below the buffer (see the draw below): keep room for minIndex.
        GLint at = Stream(v, call.numVertices, call.userStride, kGlEs ? call.minIndex : 0);
        SetAttributes(layout, streamVbo_, 0, call.userStride);
        attribBuffer = streamVbo_, attribStride = call.userStride;
        indexed = true;
        baseVertex = at - GLint(call.minIndex);
        indexOffset = StreamIndexes(static_cast<const std::uint16_t*>(call.userIndices), call.vertexCount);
        break;
      }
    }
    if (warmUp_) return D3D_OK;
#if GX_GLES
    // No base-vertex draws on ES: the attributes start baseVertex vertices further instead.
    if (indexed && baseVertex != 0) {
      std::int64_t base = std::int64_t(attribBase) + std::int64_t(baseVertex) * attribStride;
      if (base < 0) return D3DERR_INVALIDCALL;
      SetAttributes(layout, attribBuffer, UINT(base), attribStride);
    }
    if (indexed)
      glDrawElements(mode, GLsizei(call.vertexCount), GL_UNSIGNED_SHORT, indexOffset);
    else
#else
    (void)attribBuffer, (void)attribBase, (void)attribStride;
    if (indexed)
      glDrawElementsBaseVertex(mode, GLsizei(call.vertexCount), GL_UNSIGNED_SHORT, const_cast<void*>(indexOffset),
                               baseVertex);
    else
#endif
      glDrawArrays(mode, first, GLsizei(call.vertexCount));
    ++c.calls.draw;
    if (gl_->drawing && gl_->drawing->msFbo) gl_->drawing->unresolved = true;
    return D3D_OK;
  }

  // A draw that provably changes no pixel is not sent: its state stays dirty for the next one.
  static bool LeavesTargetUnchanged(const DeviceState& s, const DrawCall& call) {
    auto* target = static_cast<Surface*>(s.renderTarget.get());
    if (!target) return false;
    VertexSpan v;
    switch (call.kind) {
      case DrawRecord::Kind::Primitive:
      case DrawRecord::Kind::IndexedPrimitive: {
        auto* vb = static_cast<VertexBuffer*>(s.streamBuffer.get());
        if (!vb || s.streamStride == 0) return false;
        const std::int64_t first = call.kind == DrawRecord::Kind::Primitive
                                       ? std::int64_t(call.startVertex)
                                       : std::int64_t(call.baseVertex) + call.minIndex;
        const UINT count = call.kind == DrawRecord::Kind::Primitive ? call.vertexCount : call.numVertices;
        const std::int64_t begin = std::int64_t(s.streamOffset) + first * s.streamStride;
        if (first < 0 || begin + std::int64_t(count) * s.streamStride > std::int64_t(vb->store.data.size()))
          return false;
        v = {vb->store.data.data() + begin, s.streamStride, count};
        break;
      }
      case DrawRecord::Kind::PrimitiveUP:
        v = {static_cast<const std::uint8_t*>(call.userVertices), call.userStride, call.vertexCount};
        break;
      case DrawRecord::Kind::IndexedPrimitiveUP:
        v = {static_cast<const std::uint8_t*>(call.userVertices) + size_t(call.minIndex) * call.userStride,
             call.userStride, call.numVertices};
        break;
    }
    return DrawLeavesTargetUnchanged(s, call.type, v, target->desc.Format);
  }

  void AddStats(Stats& stats) override {
    if (gl_) {
      const GlCallCounts& n = gl_->cache.calls;
      const GlCallCounts& b = callsBase_;
      stats.glStateCalls += n.state - b.state;
      stats.glUniformCalls += n.uniform - b.uniform;
      stats.glUploadCalls += n.upload - b.upload;
      stats.glDrawCalls += n.draw - b.draw;
      stats.glObjectCalls += n.object - b.object;
      stats.glFrameCalls += n.frame - b.frame;
      stats.glCalls += n.Total() - b.Total();
    }
    stats.programsCompiled += gl_ ? gl_->programsCompiled - compiledBase_ : 0;
    stats.shadersCompiled += gl_ ? gl_->shaders.compiled - shadersBase_ : 0;
  }
  void ResetStats() override {
    if (!gl_) return;
    callsBase_ = gl_->cache.calls;
    compiledBase_ = gl_->programsCompiled;
    shadersBase_ = gl_->shaders.compiled;
  }

  void SetWarmUp(bool on) override { warmUp_ = on; }

  // Capture's read-back through pixel buffers: gl_readback.cpp.
  HRESULT QueueRead(Surface& s, unsigned slot) override {
    if (kGlEs) return D3DERR_NOTAVAILABLE;  // no buffer mapping in WebGL 2: read directly
    if (!gl_) return D3DERR_INVALIDCALL;
    gl_->Current();
    GlTarget* target = TargetOf(s);
    if (!target) return D3DERR_INVALIDCALL;
    Resolve(*target);  // a multisampled target's pixels are read from its resolved picture
    if (!reader_) reader_ = std::make_unique<GlPixelReader>(*gl_);
    return reader_->Queue(target->fbo, s.desc.Width, s.desc.Height, slot) ? D3D_OK : D3DERR_INVALIDCALL;
  }
  HRESULT TakeRead(unsigned slot, std::uint8_t* rgba, std::size_t size) override {
    return reader_ && reader_->Take(slot, rgba, size) ? D3D_OK : D3DERR_INVALIDCALL;
  }

 private:
  // The pixels of one level as GL takes them: as stored, or converted to RGBA8 (GL ES).
  const void* UploadPixels(const TextureStore& t, const GlTexture& g, const Image& img) {
    if (!g.format.toRgba8) return img.pixels.data();
    UINT bpp = BytesPerPixel(t.format);
    converted_.resize(size_t(img.width) * img.height * 4);
    for (UINT y = 0; y < img.height; ++y)
      for (UINT x = 0; x < img.width; ++x)
        PixelToRgba8(t.format, &img.pixels[size_t(y) * img.pitch + x * bpp], &converted_[(size_t(y) * img.width + x) * 4]);
    return converted_.data();
  }

  void SetInterval(const D3DPRESENT_PARAMETERS& p) {
    backBufferWidth_ = p.BackBufferWidth;
    backBufferHeight_ = p.BackBufferHeight;
    // D3DMULTISAMPLE_2_SAMPLES .. 16_SAMPLES are sample counts; NONE and NONMASKABLE draw single.
    // A count beyond the driver's is lowered to what it offers.
    samples_ = p.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES ? std::min<GLint>(GLint(p.MultiSampleType), maxSamples_) : 0;
    if (samples_ == 1) samples_ = 0;
    if (p.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES && GLint(p.MultiSampleType) > maxSamples_)
      std::fprintf(stderr, "graphics: %d samples asked, the driver offers %d\n", int(p.MultiSampleType), maxSamples_);
    gl_->context->SetSwapInterval(p.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
  }

  GlProgram* Program(const ProgramKey& key, const ShaderStore* ps, const ShaderStore* vs) {
    auto it = gl_->programs.find(key);
    if (it != gl_->programs.end()) return it->second.get();
    std::string vsSource = vs ? WrapVertexShader(vs->source) : FixedVertexShader(key.ff);
    std::string fsSource = ps ? WrapPixelShader(ps->source, key.ff) : FixedFragmentShader(key.ff);
    std::string log;
    if (std::getenv("GX_GFX_DUMP_GLSL"))
      std::fprintf(stderr, "--- key %s (after %llu frames%s)\n--- vertex\n%s--- fragment\n%s",
                   KeyToString(key.ff).c_str(), (unsigned long long)frames_, warmUp_ ? ", warm-up" : "",
                   vsSource.c_str(), fsSource.c_str());
    GLuint vsObject = gl_->shaders.Get(GL_VERTEX_SHADER, vsSource, log);
    GLuint fsObject = vsObject ? gl_->shaders.Get(GL_FRAGMENT_SHADER, fsSource, log) : 0;
    auto program = LinkProgram(vsObject, fsObject, log, kGlEs ? vsSource + fsSource : std::string());
    gl_->cache.ProgramChangedOutside();
    ++gl_->programsCompiled;
    if (!program->ok && !quietLink_) std::fprintf(stderr, "graphics: a program does not build:\n%s\n", log.c_str());
    program->key = key;
    GlProgram* raw = program.get();
    gl_->programs.emplace(key, std::move(program));
    return raw;
  }

  GlTarget* TargetOf(Surface& s) {
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

  // A resource's GPU copy, made anew (by `make`) when it was made in a lost context: a texture
  // from its system copy (a render target comes back transparent black, as a new one starts), a
  // depth-stencil surface as it was created.
  template <class Made, class Store>
  Made* Live(Store& store, HRESULT (GlBackend::*make)(Store&)) {
    auto* g = static_cast<Made*>(store.gpu.get());
    if (g && !g->Live()) {
      store.gpu.reset();
      if (FAILED((this->*make)(store))) return nullptr;
      g = static_cast<Made*>(store.gpu.get());
    }
    return g;
  }
  GlTexture* LiveTexture(TextureStore& t) { return Live<GlTexture>(t, &GlBackend::CreateTexture); }
  GlSurface* LiveDepth(Surface& ds) { return Live<GlSurface>(ds, &GlBackend::CreateSurface); }

  // The multisampled twin of a target, made the first time it is drawn into. It starts as its
  // texture does: transparent black for a render target, opaque black for the back buffer.
  bool Multisampled(GlTarget& t, const Surface& rt) {
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
  void Resolve(GlTarget& t) {
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

  bool BindTarget(const DeviceState& s) {
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
    std::uint64_t depthSerial = ds ? ds->serial : 0;
    GlSurface* g = ds ? LiveDepth(*ds) : nullptr;
    if (t->depthSerial != depthSerial) {
      GLuint rb = g ? g->renderbuffer : 0;
      bool stencil = g && g->stencil;
#if GX_GLES
      if (rb && (ds->desc.Width != rt->desc.Width || ds->desc.Height != rt->desc.Height)) {
        if (!t->ownDepth) {
          glGenRenderbuffers(1, &t->ownDepth);
          glBindRenderbuffer(GL_RENDERBUFFER, t->ownDepth);
          glRenderbufferStorage(GL_RENDERBUFFER, g->depthFormat, GLsizei(rt->desc.Width), GLsizei(rt->desc.Height));
        }
        rb = t->ownDepth;
      }
#endif
      glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
      glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                GL_RENDERBUFFER, rb);
      gl_->cache.calls.object += 2;
      t->depthSerial = depthSerial;
      depthAttached_ = rb != 0;
      stencilAttached_ = stencil;
      if (glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "graphics: render target is not complete\n");
        return false;
      }
    } else {
      depthAttached_ = g && g->renderbuffer;
      stencilAttached_ = g && g->stencil;
    }
    viewportDirty_ = true;
    rasterDirty_ = true;
    boundOk_ = true;
    return true;
  }

  // The scissor rectangle in force (framebuffer rows run top first, as Direct3D's do).
  void ApplyScissor(const DeviceState& s) {
    if (!s.render[D3DRS_SCISSORTESTENABLE]) {
      gl_->cache.Scissor(false);
      return;
    }
    const RECT& r = s.scissor;
    gl_->cache.Scissor(true, GLint(r.left), GLint(r.top), GLsizei(std::max<LONG>(r.right - r.left, 0)),
                       GLsizei(std::max<LONG>(r.bottom - r.top, 0)));
  }

  // -------------------------------------------------------------------------
  // Copies between surfaces

  HRESULT Fill(Surface& surface, const RECT& r, D3DCOLOR color) override {
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

  HRESULT Blit(Surface& source, const RECT& from, Surface& dest, const RECT& to, bool linear) override {
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

  void ApplyRaster(const DeviceState& s) {
    rasterDirty_ = false;
    auto& c = gl_->cache;
    const auto& r = s.render;
    bool depth = r[D3DRS_ZENABLE] != D3DZB_FALSE && depthAttached_;
    c.DepthTest(depth);
    if (depth) {
      c.DepthFunc(GlCompare(r[D3DRS_ZFUNC]));
      c.DepthMask(r[D3DRS_ZWRITEENABLE] != 0);
    }
    bool blend = r[D3DRS_ALPHABLENDENABLE] != 0;
    c.Blend(blend);
    if (blend) {
      DWORD src = r[D3DRS_SRCBLEND], dst = r[D3DRS_DESTBLEND];
      // The "both" factors set source and destination at once.
      if (src == D3DBLEND_BOTHSRCALPHA) src = D3DBLEND_SRCALPHA, dst = D3DBLEND_INVSRCALPHA;
      if (src == D3DBLEND_BOTHINVSRCALPHA) src = D3DBLEND_INVSRCALPHA, dst = D3DBLEND_SRCALPHA;
      DWORD srcA = src, dstA = dst, opA = r[D3DRS_BLENDOP];
      if (r[D3DRS_SEPARATEALPHABLENDENABLE])
        srcA = r[D3DRS_SRCBLENDALPHA], dstA = r[D3DRS_DESTBLENDALPHA], opA = r[D3DRS_BLENDOPALPHA];
      c.BlendFunc(GlBlend(src, false), GlBlend(dst, false), GlBlend(srcA, true), GlBlend(dstA, true));
      c.BlendEquation(GlBlendOp(r[D3DRS_BLENDOP]), GlBlendOp(opA));
      if (src == D3DBLEND_BLENDFACTOR || dst == D3DBLEND_BLENDFACTOR || src == D3DBLEND_INVBLENDFACTOR ||
          dst == D3DBLEND_INVBLENDFACTOR) {
        float f[4];
        ColorOf(r[D3DRS_BLENDFACTOR], f);
        glBlendColor(f[0], f[1], f[2], f[3]);
        ++c.calls.state;
      }
    }
    c.ColorMask(r[D3DRS_COLORWRITEENABLE] & 0xF);
    ApplyScissor(s);
#if !GX_GLES  // GL ES multisamples whenever the framebuffer has samples: the state cannot be switched off
    if (samples_) {
      const int on = r[D3DRS_MULTISAMPLEANTIALIAS] != 0;
      if (on != multisampleOn_) {
        if (on)
          glEnable(GL_MULTISAMPLE);
        else
          glDisable(GL_MULTISAMPLE);  // every sample takes the pixel centre's coverage
        multisampleOn_ = on;
        ++c.calls.state;
      }
    }
#endif
    switch (r[D3DRS_CULLMODE]) {
      case D3DCULL_CW: c.Cull(true, GL_FRONT); break;
      case D3DCULL_CCW: c.Cull(true, GL_BACK); break;
      default: c.Cull(false); break;
    }
    c.PolygonMode(r[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                  : r[D3DRS_FILLMODE] == D3DFILL_POINT   ? GL_POINT
                                                         : GL_FILL);
    bool stencil = r[D3DRS_STENCILENABLE] != 0 && stencilAttached_;
    c.StencilTest(stencil);
    if (stencil) {
      GlStencilFace front{GlCompare(r[D3DRS_STENCILFUNC]), GLint(r[D3DRS_STENCILREF] & 0xFF), r[D3DRS_STENCILMASK],
                          GlStencilOp(r[D3DRS_STENCILFAIL]), GlStencilOp(r[D3DRS_STENCILZFAIL]),
                          GlStencilOp(r[D3DRS_STENCILPASS])};
      GlStencilFace back = front;
      if (r[D3DRS_TWOSIDEDSTENCILMODE]) {
        back.func = GlCompare(r[D3DRS_CCW_STENCILFUNC]);
        back.fail = GlStencilOp(r[D3DRS_CCW_STENCILFAIL]);
        back.zfail = GlStencilOp(r[D3DRS_CCW_STENCILZFAIL]);
        back.zpass = GlStencilOp(r[D3DRS_CCW_STENCILPASS]);
      }
      c.Stencil(front, back);
      c.StencilWriteMask(r[D3DRS_STENCILWRITEMASK]);
    }
  }

  // Buffers are copied to the GPU at the first draw after they changed.
  GLuint Upload(BufferStore& b, GLenum target) {
    auto* g = static_cast<GlBuffer*>(b.gpu.get());
    auto& c = gl_->cache;
    if (g && !g->Live()) {  // made in a lost context: sent again whole
      b.gpu.reset();
      g = nullptr;
    }
    if (!g) {
      auto made = std::make_unique<GlBuffer>(gl_);
      glGenBuffers(1, &made->name);
      ++c.calls.object;
      g = made.get();
      b.gpu = std::move(made);
      b.discarded = true;
      b.dirtyBegin = 0, b.dirtyEnd = UINT(b.data.size());
    }
    if (b.Dirty()) {
      if (target == GL_ARRAY_BUFFER)
        c.BindArrayBuffer(g->name);
      else
        c.BindElementBuffer(g->name);
      GLenum usage = (b.usage & D3DUSAGE_DYNAMIC) ? GL_STREAM_DRAW : GL_STATIC_DRAW;
      if (b.discarded || g->size != GLsizeiptr(b.data.size()) ||
          (b.dirtyBegin == 0 && b.dirtyEnd == b.data.size())) {
        glBufferData(target, GLsizeiptr(b.data.size()), b.data.data(), usage);
        g->size = GLsizeiptr(b.data.size());
      } else {
        glBufferSubData(target, b.dirtyBegin, b.dirtyEnd - b.dirtyBegin, b.data.data() + b.dirtyBegin);
      }
      ++c.calls.upload;
      b.MarkClean();
    }
    return g->name;
  }

  // Copies user vertices into the stream buffer at a multiple of the stride, so
  // the attribute pointers stay put and only the first vertex moves.
  GLint Stream(const std::uint8_t* data, UINT count, UINT stride, UINT minFirst = 0) {
    auto& c = gl_->cache;
    GLsizeiptr bytes = GLsizeiptr(count) * stride;
    const GLsizeiptr lowest = GLsizeiptr(minFirst) * GLsizeiptr(stride);
    GLsizeiptr at = std::max<GLsizeiptr>((streamAt_ + stride - 1) / stride * stride, lowest);
    c.BindArrayBuffer(streamVbo_);
    if (at + bytes > streamCapacity_) {
      streamCapacity_ = std::max(kStreamSize, bytes + lowest);
      glBufferData(GL_ARRAY_BUFFER, streamCapacity_, nullptr, GL_STREAM_DRAW);
      ++c.calls.upload;
      at = lowest;
    }
    glBufferSubData(GL_ARRAY_BUFFER, at, bytes, data);
    ++c.calls.upload;
    streamAt_ = at + bytes;
    return GLint(at / stride);
  }

  const void* StreamIndexes(const std::uint16_t* data, UINT count) {
    auto& c = gl_->cache;
    GLsizeiptr bytes = GLsizeiptr(count) * 2;
    c.BindElementBuffer(streamIbo_);
    if (indexAt_ + bytes > indexCapacity_) {
      indexCapacity_ = std::max(kStreamSize / 4, bytes);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, indexCapacity_, nullptr, GL_STREAM_DRAW);
      ++c.calls.upload;
      indexAt_ = 0;
    }
    glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, indexAt_, bytes, data);
    ++c.calls.upload;
    const void* offset = reinterpret_cast<const void*>(std::uintptr_t(indexAt_));
    indexAt_ += (bytes + 3) & ~GLsizeiptr(3);
    return offset;
  }

  void SetAttributes(const FvfLayout& l, GLuint buffer, UINT base, UINT stride) {
    auto& c = gl_->cache;
    auto set = [&](int location, int offset, GLint size, GLenum type, bool normalized) {
      if (offset < 0) {
        c.DisableAttribute(location);
        return;
      }
      c.Attribute(location, GlAttribute{buffer, size, type, GLboolean(normalized), GLsizei(stride),
                                        std::uintptr_t(base) + std::uintptr_t(offset)});
    };
    set(kAttrPosition, l.position, GLint(l.positionFloats), GL_FLOAT, false);
    set(kAttrNormal, l.normal, 3, GL_FLOAT, false);
    set(kAttrDiffuse, l.diffuse, kColorAttributeSize, GL_UNSIGNED_BYTE, true);
    set(kAttrSpecular, l.specular, kColorAttributeSize, GL_UNSIGNED_BYTE, true);
    for (int i = 0; i < 8; ++i)
      set(TexCoordAttribute(i), i < int(l.texCount) ? l.tex[i] : -1, GLint(l.texSize[i]), GL_FLOAT, false);
  }

  GLuint SamplerFor(const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st) {
    std::uint64_t key = std::uint64_t(st[D3DSAMP_ADDRESSU] & 7) | (std::uint64_t(st[D3DSAMP_ADDRESSV] & 7) << 3) |
                        (std::uint64_t(st[D3DSAMP_ADDRESSW] & 7) << 6) | (std::uint64_t(st[D3DSAMP_MAGFILTER] & 3) << 9) |
                        (std::uint64_t(st[D3DSAMP_MINFILTER] & 3) << 11) |
                        (std::uint64_t(st[D3DSAMP_MIPFILTER] & 3) << 13) |
                        (std::uint64_t(st[D3DSAMP_MAXMIPLEVEL] & 15) << 15) |
                        (std::uint64_t(st[D3DSAMP_BORDERCOLOR]) << 19) |
                        (std::uint64_t(st[D3DSAMP_MIPMAPLODBIAS] >> 20) << 51);
    auto it = samplers_.find(key);
    if (it != samplers_.end()) return it->second;
    GLuint s = 0;
    glGenSamplers(1, &s);
    glSamplerParameteri(s, GL_TEXTURE_WRAP_S, GlAddress(st[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(s, GL_TEXTURE_WRAP_T, GlAddress(st[D3DSAMP_ADDRESSV]));
    glSamplerParameteri(s, GL_TEXTURE_WRAP_R, GlAddress(st[D3DSAMP_ADDRESSW]));
    glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, GlMagFilter(st[D3DSAMP_MAGFILTER]));
    glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, GlMinFilter(st[D3DSAMP_MINFILTER], st[D3DSAMP_MIPFILTER]));
    gl_->cache.calls.object += 6;
    // Only what differs from GL's defaults: llvmpipe builds simpler samplers then.
    if (st[D3DSAMP_MAXMIPLEVEL]) {
      glSamplerParameterf(s, GL_TEXTURE_MIN_LOD, float(st[D3DSAMP_MAXMIPLEVEL]));
      ++gl_->cache.calls.object;
    }
#if !GX_GLES
    // WebGL 2 has neither (border addressing clamps to the edge there); the show uses neither.
    if (DwordAsFloat(st[D3DSAMP_MIPMAPLODBIAS]) != 0.0f) {
      glSamplerParameterf(s, GL_TEXTURE_LOD_BIAS, DwordAsFloat(st[D3DSAMP_MIPMAPLODBIAS]));
      ++gl_->cache.calls.object;
    }
    if (st[D3DSAMP_BORDERCOLOR]) {
      float border[4];
      ColorOf(st[D3DSAMP_BORDERCOLOR], border);
      glSamplerParameterfv(s, GL_TEXTURE_BORDER_COLOR, border);
      ++gl_->cache.calls.object;
    }
#endif
    samplers_.emplace(key, s);
    return s;
  }

  void BindTextures(const DeviceState& s, const FixedFunctionKey& key) {
    auto& c = gl_->cache;
    for (DWORD i = 0; i < kMaxStages; ++i) {
      bool wanted = key.customPixel ? s.textures[i] != nullptr : (i < key.stageCount && key.stages[i].texture);
      if (!wanted) continue;
      auto* core = CoreOf(s.textures[i].get());
      GlTexture* g = core ? LiveTexture(core->store) : nullptr;
      if (!g) continue;
      const DWORD lod = core->store.lod;
      if (g->baseLevel != GLint(lod)) {
        c.BindTextureForUpload(g->target, g->name);
        glTexParameteri(g->target, GL_TEXTURE_BASE_LEVEL, GLint(lod));
        g->baseLevel = GLint(lod), ++c.calls.object;
      }
      c.BindTexture(int(i), g->target, g->name);
      if (lod) {
        // Levels count from the base level in GL; MAXMIPLEVEL and SetLOD both count from the
        // top, and the coarser of the two wins. The sampler is chosen again at the next draw.
        auto st = s.sampler[i];
        st[D3DSAMP_MAXMIPLEVEL] = std::max(st[D3DSAMP_MAXMIPLEVEL], lod) - lod;
        stageSampler_[i] = SamplerFor(st);
        samplerDirty_ |= 1u << i;
      } else if (samplerDirty_ & (1u << i)) {
        stageSampler_[i] = SamplerFor(s.sampler[i]);
        samplerDirty_ &= ~(1u << i);
      }
      c.BindSampler(int(i), stageSampler_[i]);
    }
  }

  void UploadUniforms(GlProgram& p, const DeviceState& s) {
    auto& c = gl_->cache;
    const auto& l = p.loc;
    for (int g = 0; g < kGroupCount; ++g) {
      if (p.stamps[g] == versions_[g]) continue;
      p.stamps[g] = versions_[g];
      switch (g) {
        case kGroupTransform: {
          if (derivedTransform_ != versions_[kGroupTransform]) {
            derivedTransform_ = versions_[kGroupTransform];
            worldViewNormal_[0] = Multiply(s.world, s.view);
            D3DMATRIX inverse;
            worldViewNormal_[1] = Invert(worldViewNormal_[0], inverse) ? Transpose(inverse) : worldViewNormal_[0];
          }
          if (l.worldViewNormal >= 0) {
            glUniformMatrix4fv(l.worldViewNormal, 2, GL_FALSE, &worldViewNormal_[0]._11);
            ++c.calls.uniform;
          }
          if (l.world >= 0) {
            glUniformMatrix4fv(l.world, 1, GL_FALSE, &s.world._11);
            ++c.calls.uniform;
          }
          if (l.view >= 0) {
            glUniformMatrix4fv(l.view, 1, GL_FALSE, &s.view._11);
            ++c.calls.uniform;
          }
          break;
        }
        case kGroupProjection:
          if (l.projection >= 0) {
            glUniformMatrix4fv(l.projection, 1, GL_FALSE, &s.projection._11);
            ++c.calls.uniform;
          }
          break;
        case kGroupViewport: {
          const auto& vp = s.viewport;
          if (l.viewport >= 0) {
            glUniform4f(l.viewport, float(vp.X), float(vp.Y), float(vp.Width), float(vp.Height));
            ++c.calls.uniform;
          }
          if (l.pixelAdjust >= 0) {
            glUniform4f(l.pixelAdjust, (63.0f / 64.0f) / float(vp.Width), (63.0f / 64.0f) / float(vp.Height), 0, 0);
            ++c.calls.uniform;
          }
          break;
        }
        case kGroupMaterial: {
          const auto& m = s.material;
          auto colour = [&](GLint location, const D3DCOLORVALUE& v) {
            if (location < 0) return;
            glUniform4fv(location, 1, &v.r);
            ++c.calls.uniform;
          };
          colour(l.matDiffuse, m.Diffuse);
          colour(l.matAmbient, m.Ambient);
          colour(l.matSpecular, m.Specular);
          colour(l.matEmissive, m.Emissive);
          if (l.matPower >= 0) {
            glUniform1f(l.matPower, m.Power);
            ++c.calls.uniform;
          }
          break;
        }
        case kGroupAmbient:
          if (l.globalAmbient >= 0) {
            float a[4];
            ColorOf(s.render[D3DRS_AMBIENT], a);
            glUniform4fv(l.globalAmbient, 1, a);
            ++c.calls.uniform;
          }
          break;
        case kGroupLights: {
          if (l.pLightPos >= 0) UploadPositionalLights(l, s);
          if (l.lightDir < 0 && l.lightDiffuse < 0 && l.lightAmbient < 0) break;
          float dir[kMaxLights][3], dif[kMaxLights][4], spe[kMaxLights][4], amb[kMaxLights][4];
          int n = 0;
          for (DWORD i = 0; i < kMaxLights; ++i) {
            const D3DLIGHT9& light = s.lights[i];
            if (!s.lightEnabled[i] || light.Type != D3DLIGHT_DIRECTIONAL) continue;
            // Toward the light, in camera space.
            D3DVECTOR d = TransformNormal(light.Direction, s.view);
            float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (len > 0) d.x /= len, d.y /= len, d.z /= len;
            dir[n][0] = -d.x, dir[n][1] = -d.y, dir[n][2] = -d.z;
            std::memcpy(dif[n], &light.Diffuse, 16);
            std::memcpy(spe[n], &light.Specular, 16);
            std::memcpy(amb[n], &light.Ambient, 16);
            ++n;
          }
          if (n == 0) break;
          if (l.lightDir >= 0) {
            glUniform3fv(l.lightDir, n, dir[0]);
            ++c.calls.uniform;
          }
          if (l.lightDiffuse >= 0) {
            glUniform4fv(l.lightDiffuse, n, dif[0]);
            ++c.calls.uniform;
          }
          if (l.lightSpecular >= 0) {
            glUniform4fv(l.lightSpecular, n, spe[0]);
            ++c.calls.uniform;
          }
          if (l.lightAmbient >= 0) {
            glUniform4fv(l.lightAmbient, n, amb[0]);
            ++c.calls.uniform;
          }
          break;
        }
        case kGroupFog: {
          if (l.fogParams >= 0) {
            float start = DwordAsFloat(s.render[D3DRS_FOGSTART]), end = DwordAsFloat(s.render[D3DRS_FOGEND]);
            // Start == end fogs everything: a start far beyond the end makes the linear factor
            // (end - d) / (end - start) vanish at every depth instead of dividing by zero.
            if (start == end) start = end + 1e30f;
            glUniform4f(l.fogParams, start, end, DwordAsFloat(s.render[D3DRS_FOGDENSITY]), 0.0f);
            ++c.calls.uniform;
          }
          if (l.fogColor >= 0) {
            float f[4];
            ColorOf(s.render[D3DRS_FOGCOLOR], f);
            glUniform3fv(l.fogColor, 1, f);
            ++c.calls.uniform;
          }
          break;
        }
        case kGroupTFactor:
          if (l.tfactor >= 0) {
            float f[4];
            ColorOf(s.render[D3DRS_TEXTUREFACTOR], f);
            glUniform4fv(l.tfactor, 1, f);
            ++c.calls.uniform;
          }
          break;
        case kGroupAlphaRef:
          if (l.alphaRef >= 0) {
            glUniform1i(l.alphaRef, GLint(s.render[D3DRS_ALPHAREF] & 0xFF));
            ++c.calls.uniform;
          }
          break;
        case kGroupTexMatrix:
          for (DWORD i = 0; i < kMaxStages; ++i)
            if (l.texMatrix[i] >= 0) {
              glUniformMatrix4fv(l.texMatrix[i], 1, GL_FALSE, &s.textureTransform[i]._11);
              ++c.calls.uniform;
            }
          break;
      }
    }
  }

  // Point and spot lights in the order BuildKey counted them, in camera space.
  void UploadPositionalLights(const DeviceUniforms& l, const DeviceState& s) {
    float pos[kMaxLights][4], att[kMaxLights][4], spot[kMaxLights][4], cone[kMaxLights][4];
    float dif[kMaxLights][4], spe[kMaxLights][4], amb[kMaxLights][4];
    int n = 0;
    for (DWORD i = 0; i < kMaxLights; ++i) {
      const D3DLIGHT9& light = s.lights[i];
      if (!s.lightEnabled[i] || (light.Type != D3DLIGHT_POINT && light.Type != D3DLIGHT_SPOT)) continue;
      D3DVECTOR p = TransformPoint(light.Position, s.view);
      pos[n][0] = p.x, pos[n][1] = p.y, pos[n][2] = p.z, pos[n][3] = light.Range;
      att[n][0] = light.Attenuation0, att[n][1] = light.Attenuation1, att[n][2] = light.Attenuation2;
      att[n][3] = light.Falloff;
      D3DVECTOR d = TransformNormal(light.Direction, s.view);
      float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
      if (len > 0) d.x /= len, d.y /= len, d.z /= len;
      bool isSpot = light.Type == D3DLIGHT_SPOT;
      spot[n][0] = d.x, spot[n][1] = d.y, spot[n][2] = d.z, spot[n][3] = isSpot ? 1.0f : 0.0f;
      cone[n][0] = std::cos(light.Theta * 0.5f), cone[n][1] = std::cos(light.Phi * 0.5f), cone[n][2] = cone[n][3] = 0;
      std::memcpy(dif[n], &light.Diffuse, 16);
      std::memcpy(spe[n], &light.Specular, 16);
      std::memcpy(amb[n], &light.Ambient, 16);
      ++n;
    }
    if (n == 0) return;
    auto& c = gl_->cache;
    for (auto [location, values] : {std::pair{l.pLightPos, pos[0]}, {l.pLightAtt, att[0]}, {l.pLightSpot, spot[0]},
                                    {l.pLightCone, cone[0]}, {l.pLightDiffuse, dif[0]}, {l.pLightSpecular, spe[0]},
                                    {l.pLightAmbient, amb[0]}})
      if (location >= 0) {
        glUniform4fv(location, n, values);
        ++c.calls.uniform;
      }
  }

  // The device's constants of the stages that run custom shaders, as far as the program declares them.
  void UploadShaderConstants(GlProgram& p, const DeviceState& s, bool pixel, bool vertex) {
    auto& c = gl_->cache;
    const ShaderConstants& pc = s.constants[kPixelStage];
    const ShaderConstants& vc = s.constants[kVertexStage];
    std::uint64_t pl = pixel ? pc.layoutVersion : 0, vl = vertex ? vc.layoutVersion : 0;
    if (p.pixelLayout != pl || p.vertexLayout != vl) {
      p.bound.clear();
      for (int stage : {kVertexStage, kPixelStage}) {
        if (!(stage == kPixelStage ? pixel : vertex)) continue;
        const auto& values = s.constants[stage].values;
        for (size_t i = 0; i < values.size(); ++i) {
          auto it = p.active.find(values[i].name);
          if (it != p.active.end()) p.bound.push_back({stage, i, it->second, 0});
        }
      }
      p.pixelLayout = pl, p.vertexLayout = vl;
    }
    for (auto& b : p.bound) {
      const ShaderConstant& u = s.constants[b.stage].values[b.index];
      if (u.version == b.version) continue;
      b.version = u.version;
      SetUniform(b.uniform, u);
      ++c.calls.uniform;
    }
  }

  static void SetUniform(const ActiveUniform& a, const ShaderConstant& u) {
    std::vector<float> f = u.isInt ? std::vector<float>(u.ints.begin(), u.ints.end()) : u.floats;
    std::vector<int> n = u.isInt ? u.ints : std::vector<int>(u.floats.begin(), u.floats.end());
    auto count = [&](size_t per, size_t have) { return GLsizei(std::min<size_t>(size_t(a.size), have / per)); };
    switch (a.type) {
      case GL_FLOAT: glUniform1fv(a.location, count(1, f.size()), f.data()); break;
      case GL_FLOAT_VEC2: glUniform2fv(a.location, count(2, f.size()), f.data()); break;
      case GL_FLOAT_VEC3: glUniform3fv(a.location, count(3, f.size()), f.data()); break;
      case GL_FLOAT_VEC4: glUniform4fv(a.location, count(4, f.size()), f.data()); break;
      case GL_FLOAT_MAT4: glUniformMatrix4fv(a.location, count(16, f.size()), GL_FALSE, f.data()); break;
      case GL_INT:
      case GL_BOOL:
      case GL_SAMPLER_2D:
      case GL_SAMPLER_CUBE: glUniform1iv(a.location, count(1, n.size()), n.data()); break;
      case GL_INT_VEC2: glUniform2iv(a.location, count(2, n.size()), n.data()); break;
      case GL_INT_VEC3: glUniform3iv(a.location, count(3, n.size()), n.data()); break;
      case GL_INT_VEC4: glUniform4iv(a.location, count(4, n.size()), n.data()); break;
      default: break;  // types the program never declares
    }
  }

  std::shared_ptr<GlShared> gl_;
  std::unique_ptr<GlPixelReader> reader_;
  std::vector<std::uint8_t> converted_;
  GLuint vao_ = 0, streamVbo_ = 0, streamIbo_ = 0;
  GLsizeiptr streamAt_ = 0, streamCapacity_ = kStreamSize, indexAt_ = 0, indexCapacity_ = kStreamSize / 4;
  UINT backBufferWidth_ = 0, backBufferHeight_ = 0;
  GlSurface* backBuffer_ = nullptr;
  GLint maxSamples_ = 0;
  GLsizei samples_ = 0;      // samples of every target's drawing; 0 = single-sampled
  int multisampleOn_ = -1;   // GL_MULTISAMPLE as last set (-1: not yet)

  bool keyDirty_ = true, rasterDirty_ = true, targetDirty_ = true, viewportDirty_ = true, boundOk_ = false;
  bool depthAttached_ = false, stencilAttached_ = false, warmUp_ = false, quietLink_ = false;
  unsigned samplerDirty_ = 0xFF;
  std::array<GLuint, kMaxStages> stageSampler_{};
  std::unordered_map<std::uint64_t, GLuint> samplers_;

  ProgramKey programKey_{};
  GlProgram* program_ = nullptr;
  std::array<std::uint64_t, kGroupCount> versions_{};
  std::uint64_t derivedTransform_ = ~0ull;
  D3DMATRIX worldViewNormal_[2]{};
  GlCallCounts callsBase_;
  std::uint64_t compiledBase_ = 0, shadersBase_ = 0, frames_ = 0;
};

}  // namespace

std::unique_ptr<Backend> MakeGlBackend() { return std::make_unique<GlBackend>(); }

}  // namespace gx
