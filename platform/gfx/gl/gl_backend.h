#pragma once
// The gl backend's class, seen only by the gl backend's own files: gl_backend.cpp (context, state
// tracking, programs), gl_targets.cpp (render targets, framebuffers, clears, copies, present),
// gl_uploads.cpp (textures, buffers, samplers), gl_uniforms.cpp and gl_draw.cpp.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gfx/backend_impl.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/gl/objects.h"
#include "platform/gfx/gl/readback.h"

namespace gx {

constexpr GLsizeiptr kStreamSize = 4 << 20;

inline void ColorOf(D3DCOLOR c, float out[4]) {
  out[0] = float((c >> 16) & 0xFF) / 255.0f;
  out[1] = float((c >> 8) & 0xFF) / 255.0f;
  out[2] = float(c & 0xFF) / 255.0f;
  out[3] = float(c >> 24) / 255.0f;
}

// Where a draw's vertices and indexes were put, for the draw call itself.
struct GlDrawInput {
  GLint first = 0;
  GLint baseVertex = 0;
  const void* indexOffset = nullptr;
  bool indexed = false;
  GLuint attribBuffer = 0;  // where the attributes were pointed, for GL ES's rebasing
  UINT attribBase = 0, attribStride = 0;
};

class GlBackend final : public Backend {
 public:
  ~GlBackend() override;

  HRESULT Open(HWND window, UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) override;
  HRESULT RestoreContext() override;
  HRESULT Resize(UINT, UINT, const D3DPRESENT_PARAMETERS& params) override;
  void StateChanged(StateKind kind, DWORD index, DWORD type, DWORD) override;

  HRESULT CreateTexture(TextureStore& t) override;
  void UploadTexture(TextureStore& t, UINT face, UINT level) override;
  HRESULT CreateSurface(Surface& s) override;
  HRESULT CreateShader(ShaderStore& shader) override;
  HRESULT ReadSurface(Surface& s, std::vector<std::uint8_t>& rgba) override;

  void Clear(const DeviceState& s, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
             DWORD stencil) override;
  HRESULT Present() override;
  HRESULT Draw(const DeviceState& s, const DrawCall& call) override;
  HRESULT Fill(Surface& surface, const RECT& r, D3DCOLOR color) override;
  HRESULT Blit(Surface& source, const RECT& from, Surface& dest, const RECT& to, bool linear) override;

  void AddStats(Stats& stats) override;
  void ResetStats() override;
  void SetWarmUp(bool on) override { warmUp_ = on; }
  HRESULT QueueRead(Surface& s, unsigned slot) override;
  HRESULT TakeRead(unsigned slot, std::uint8_t* rgba, std::size_t size) override;

 private:
  using RenderStates = std::array<DWORD, GX_RENDERSTATE_COUNT>;

  // gl_backend.cpp: the context, what a state change dirties, programs.
  void SetUpContext();
  void SetInterval(const D3DPRESENT_PARAMETERS& p);
  void RenderStateChanged(DWORD type);
  void TransformChanged(DWORD type);
  GlProgram* Program(const ProgramKey& key, const ShaderStore* ps, const ShaderStore* vs);
  HRESULT PrepareQuadProgram(ShaderStore& shader);

  // gl_targets.cpp
  HRESULT CreateBackBuffer(Surface& s, GlSurface& g);
  void CreateDepthBuffer(Surface& s, GlSurface& g);
  GlTarget* TargetOf(Surface& s);
  GlSurface* LiveDepth(Surface& ds) { return Live<GlSurface>(ds, &GlBackend::CreateSurface); }
  bool Multisampled(GlTarget& t, const Surface& rt);
  void Resolve(GlTarget& t);
  bool BindTarget(const DeviceState& s);
  bool AttachDepth(GlTarget& t, const Surface& rt, Surface* ds, GlSurface* g);
  GLuint DepthBufferFor(GlTarget& t, const Surface& rt, const Surface& ds, GlSurface& g);
  void ApplyScissor(const DeviceState& s);
  GLbitfield ClearMasks(DWORD flags, D3DCOLOR color, float z, DWORD stencil);
  void ClearRect(const DeviceState& s, GLbitfield mask, LONG l, LONG t, LONG r, LONG b);
  void CopyToWindow();

  // gl_uploads.cpp
  const void* UploadPixels(const TextureStore& t, const GlTexture& g, const Image& img);
  void DefineLevels(TextureStore& t, const GlTexture& g);
  void ClearTargetLevels(const TextureStore& t, GlTexture& g);
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
  GLuint Upload(BufferStore& b, GLenum target);
  GLint Stream(const std::uint8_t* data, UINT count, UINT stride, UINT minFirst = 0);
  const void* StreamIndexes(const std::uint16_t* data, UINT count);
  GLuint SamplerFor(const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st);
  void SetSamplerExtras(GLuint sampler, const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st);
  void BindTextures(const DeviceState& s, const FixedFunctionKey& key);

  // gl_uniforms.cpp
  void UploadUniforms(GlProgram& p, const DeviceState& s);
  void UploadGroup(int group, const DeviceUniforms& l, const DeviceState& s);
  void UploadTransforms(const DeviceUniforms& l, const DeviceState& s);
  void UploadViewport(const DeviceUniforms& l, const D3DVIEWPORT9& vp);
  void UploadMaterial(const DeviceUniforms& l, const D3DMATERIAL9& m);
  void UploadDirectionalLights(const DeviceUniforms& l, const DeviceState& s);
  void UploadPositionalLights(const DeviceUniforms& l, const DeviceState& s);
  void UploadFog(const DeviceUniforms& l, const DeviceState& s);
  void UniformMatrices(GLint location, const D3DMATRIX* m, GLsizei count = 1);
  void UniformVec4(GLint location, const float* values, GLsizei count = 1);
  void UniformColour(GLint location, D3DCOLOR colour);
  void UploadShaderConstants(GlProgram& p, const DeviceState& s, bool pixel, bool vertex);
  static void SetUniform(const ActiveUniform& a, const ShaderConstant& u);

  // gl_draw.cpp
  static bool LeavesTargetUnchanged(const DeviceState& s, const DrawCall& call);
  HRESULT PrepareDraw(const DeviceState& s);
  bool SelectProgram(const DeviceState& s, const ShaderStore* ps, const ShaderStore* vs);
  GlDrawInput BindVertices(const DeviceState& s, const DrawCall& call, const FvfLayout& layout);
  bool Submit(const DrawCall& call, const FvfLayout& layout, const GlDrawInput& in);
  bool DrawIndexed(GLenum mode, GLsizei count, const FvfLayout& layout, const GlDrawInput& in);
  void SetAttributes(const FvfLayout& l, GLuint buffer, UINT base, UINT stride);
  void ApplyRaster(const DeviceState& s);
  void ApplyDepthAndBlend(const RenderStates& r);
  void ApplyMultisample(const RenderStates& r);
  void ApplyStencil(const RenderStates& r);

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

}  // namespace gx
