// The gl backend: draws the device's state with OpenGL 3.3 core. Every render
// target, the back buffer included, is a framebuffer in Direct3D orientation
// (row 0 is the top row); Present copies the back buffer to the window upside
// down, as GL windows count rows from the bottom.
//
// This file holds the context, what each state change dirties and the programs; the class is in
// gl_backend.h, its other parts in gl_targets.cpp, gl_uploads.cpp, gl_uniforms.cpp and gl_draw.cpp.

#include "platform/gfx/gl/gl_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gfx/gl/debug.h"
#include "platform/gfx/gl/glsl_gen.h"
#include "platform/gfx/shader_interface.h"

namespace gx {

GlBackend::~GlBackend() {
  if (!gl_) return;
  gl_->Current();
  if (vao_) glDeleteVertexArrays(1, &vao_);
  GLuint buffers[2] = {streamVbo_, streamIbo_};
  glDeleteBuffers(2, buffers);
  for (auto& s : samplers_) glDeleteSamplers(1, &s.second);
  reader_.reset();
  gl_->Close();
}

HRESULT GlBackend::Open(HWND window, UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) {
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
void GlBackend::SetUpContext() {
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
HRESULT GlBackend::RestoreContext() {
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

HRESULT GlBackend::Resize(UINT, UINT, const D3DPRESENT_PARAMETERS& params) {
  backBuffer_ = nullptr;  // the device makes a new one
  SetInterval(params);
  targetDirty_ = true;
  return D3D_OK;
}

void GlBackend::SetInterval(const D3DPRESENT_PARAMETERS& p) {
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

// A render state is a uniform, part of the program's key, or raster state (ApplyRaster).
void GlBackend::RenderStateChanged(DWORD type) {
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
}

void GlBackend::TransformChanged(DWORD type) {
  if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7) {
    ++versions_[kGroupTexMatrix];
  } else if (type == D3DTS_PROJECTION) {
    ++versions_[kGroupProjection];
  } else {
    ++versions_[kGroupTransform];
    if (type == D3DTS_VIEW) ++versions_[kGroupLights];
  }
}

void GlBackend::StateChanged(StateKind kind, DWORD index, DWORD type, DWORD) {
  switch (kind) {
    case StateKind::Render: RenderStateChanged(type); break;
    case StateKind::Stage: keyDirty_ = true; break;
    case StateKind::Texture: keyDirty_ = true; break;
    case StateKind::Sampler: samplerDirty_ |= 1u << index; break;
    case StateKind::Transform: TransformChanged(type); break;
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

void GlBackend::AddStats(Stats& stats) {
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

void GlBackend::ResetStats() {
  if (!gl_) return;
  callsBase_ = gl_->cache.calls;
  compiledBase_ = gl_->programsCompiled;
  shadersBase_ = gl_->shaders.compiled;
}

HRESULT GlBackend::CreateShader(ShaderStore& shader) {
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
  // Screen-space passes draw pre-transformed textured quads: have that program ready.
  return shader.pixel ? PrepareQuadProgram(shader) : D3D_OK;
}

HRESULT GlBackend::PrepareQuadProgram(ShaderStore& shader) {
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
  return D3D_OK;
}

GlProgram* GlBackend::Program(const ProgramKey& key, const ShaderStore* ps, const ShaderStore* vs) {
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

std::unique_ptr<Backend> MakeGlBackend() { return std::make_unique<GlBackend>(); }

}  // namespace gx
