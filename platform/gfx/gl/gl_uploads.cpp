// The gl backend's copies of system memory on the GPU: textures (made, uploaded, bound with their
// samplers) and buffers (the device's, sent at the first draw after they changed, and the stream
// buffers the user-pointer draws are copied into).

#include "platform/gfx/gl/gl_backend.h"

#include <algorithm>

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/gl/debug.h"

namespace gx {

HRESULT GlBackend::CreateTexture(TextureStore& t) {
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
  DefineLevels(t, *g);
  gl_->cache.calls.object += 3 + t.faces * t.levels;  // gen, base and max level, one image a level
  if (t.IsRenderTarget()) ClearTargetLevels(t, *g);
  t.gpu = std::move(g);
  return D3D_OK;
}

// Every level of every face, with its pixels where the system copy has them.
void GlBackend::DefineLevels(TextureStore& t, const GlTexture& g) {
  for (UINT f = 0; f < t.faces; ++f) {
    GLenum target = t.faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f) : GL_TEXTURE_2D;
    for (UINT l = 0; l < t.levels; ++l) {
      const Image& img = t.At(f, l);
      glTexImage2D(target, GLint(l), g.format.internal, GLsizei(img.width), GLsizei(img.height), 0,
                   g.format.format, g.format.type, img.pixels.empty() ? nullptr : UploadPixels(t, g, img));
    }
  }
}

// A new render target reads as transparent black until drawn into.
void GlBackend::ClearTargetLevels(const TextureStore& t, GlTexture& g) {
  g.targets.resize(size_t(t.faces) * t.levels);
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  gl_->cache.BindDrawFramebuffer(fbo);
  gl_->cache.Scissor(false);
  gl_->cache.ColorMask(0xF);
  for (UINT f = 0; f < t.faces; ++f) {
    GLenum target = t.faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f) : GL_TEXTURE_2D;
    for (UINT l = 0; l < t.levels; ++l) {
      glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, g.name, GLint(l));
      const GLfloat zero[4] = {0, 0, 0, 0};
      glClearBufferfv(GL_COLOR, 0, zero);
    }
  }
  gl_->cache.BindDrawFramebuffer(0);
  gl_->cache.ForgetFramebuffer(fbo);
  glDeleteFramebuffers(1, &fbo);
  targetDirty_ = true;
}

void GlBackend::UploadTexture(TextureStore& t, UINT face, UINT level) {
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

// The pixels of one level as GL takes them: as stored, or converted to RGBA8 (GL ES).
const void* GlBackend::UploadPixels(const TextureStore& t, const GlTexture& g, const Image& img) {
  if (!g.format.toRgba8) return img.pixels.data();
  UINT bpp = BytesPerPixel(t.format);
  converted_.resize(size_t(img.width) * img.height * 4);
  for (UINT y = 0; y < img.height; ++y)
    for (UINT x = 0; x < img.width; ++x)
      PixelToRgba8(t.format, &img.pixels[size_t(y) * img.pitch + x * bpp], &converted_[(size_t(y) * img.width + x) * 4]);
  return converted_.data();
}

// Buffers are copied to the GPU at the first draw after they changed.
GLuint GlBackend::Upload(BufferStore& b, GLenum target) {
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
GLint GlBackend::Stream(const std::uint8_t* data, UINT count, UINT stride, UINT minFirst) {
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

const void* GlBackend::StreamIndexes(const std::uint16_t* data, UINT count) {
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

GLuint GlBackend::SamplerFor(const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st) {
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
  SetSamplerExtras(s, st);
  samplers_.emplace(key, s);
  return s;
}

// Only what differs from GL's defaults: llvmpipe builds simpler samplers then.
void GlBackend::SetSamplerExtras(GLuint s, const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st) {
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
}

void GlBackend::BindTextures(const DeviceState& s, const FixedFunctionKey& key) {
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

}  // namespace gx
