#pragma once
// The narrow interface between the device front end (state, validation, faults)
// and a backend that draws (gl) or only keeps a log (recording).

#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/backend.h"
#include "platform/gfx/device_state.h"
#include "platform/gfx/resources.h"

namespace gx {

struct DrawCall {
  DrawRecord::Kind kind = DrawRecord::Kind::Primitive;
  D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
  UINT primitiveCount = 0;
  UINT vertexCount = 0;   // vertices (non-indexed) or indexes (indexed) read
  UINT startVertex = 0;   // first vertex of a non-indexed draw
  INT baseVertex = 0;     // added to every index
  UINT minIndex = 0;
  UINT numVertices = 0;   // vertex range an indexed draw touches
  UINT startIndex = 0;
  const void* userVertices = nullptr;  // the UP calls
  UINT userStride = 0;
  const void* userIndices = nullptr;
  D3DFORMAT userIndexFormat = D3DFMT_INDEX16;
};

enum class StateKind {
  Render, Stage, Sampler, Transform, Material, Light, LightEnable, Texture,
  PixelShader, VertexShader, ShaderConstant, Fvf, Stream, Indices, RenderTarget, DepthStencil, Viewport, Scissor, All
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Creates what presenting needs (GL context, back buffer...). Width and height are resolved.
  virtual HRESULT Open(HWND window, UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) = 0;
  virtual HRESULT Resize(UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) = 0;

  // A Set... that changed a value. index: stage/light/sampler; type: the state.
  virtual void StateChanged(StateKind kind, DWORD index, DWORD type, DWORD value) = 0;
  // Calls that do not change state (BeginScene, EndScene...), for the log.
  virtual void Note(const std::string& call) {}

  virtual void Clear(const DeviceState& state, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color,
                     float z, DWORD stencil) = 0;
  virtual HRESULT Draw(const DeviceState& state, const DrawCall& call) = 0;
  virtual HRESULT Present() = 0;

  virtual HRESULT CreateTexture(TextureStore& texture) = 0;
  virtual void UploadTexture(TextureStore& texture, UINT face, UINT level) = 0;
  virtual HRESULT CreateSurface(Surface& surface) = 0;  // back buffer, depth-stencil
  virtual HRESULT CreateShader(ShaderStore& shader) = 0;
  // A render target's pixels as RGBA8, top row first (texture levels with a system copy
  // are read by the front end, GxReadSurface).
  virtual HRESULT ReadSurface(Surface& surface, std::vector<std::uint8_t>& rgba) = 0;

  // ColorFill on a render target (or the back buffer): rect is inside it.
  virtual HRESULT Fill(Surface& target, const RECT& rect, D3DCOLOR color) = 0;
  // StretchRect between render targets (or the back buffer): both rectangles inside their surfaces.
  virtual HRESULT Blit(Surface& source, const RECT& from, Surface& dest, const RECT& to, bool linear) = 0;

  virtual void AddStats(Stats& stats) {}
  virtual void ResetStats() {}
  virtual void SetWarmUp(bool on) {}
  // Asynchronous read-back of a render target (capture); D3DERR_NOTAVAILABLE where the backend
  // has none, and the caller reads directly instead.
  virtual HRESULT QueueRead(Surface& surface, unsigned slot) { return D3DERR_NOTAVAILABLE; }
  virtual HRESULT TakeRead(unsigned slot, std::uint8_t* rgba, std::size_t size) { return D3DERR_NOTAVAILABLE; }

  // The graphics context behind the device. A lost one (the browser took WebGL's away, or a test
  // simulated it) takes every GPU object with it. Once it is back the backend has abandoned the
  // old objects and remakes resources from their system copies as they are used, but draws
  // nothing until the device's Reset puts the context in use again.
  enum class Context { InUse, Lost, Back };
  Context ContextState() const { return context_; }
  virtual void LoseContext() { context_ = Context::Lost; }
  virtual HRESULT RestoreContext() {
    if (context_ == Context::Lost) context_ = Context::Back;
    return D3D_OK;
  }
  void ContextReset() {
    if (context_ == Context::Back) context_ = Context::InUse;
  }

  // The recording log; nullptr for backends that do not keep one.
  virtual std::vector<DrawRecord>* RecordedDraws() { return nullptr; }
  virtual std::vector<std::string>* RecordedCalls() { return nullptr; }

 protected:
  Context context_ = Context::InUse;
};

std::unique_ptr<Backend> MakeRecordingBackend();
std::unique_ptr<Backend> MakeGlBackend();

// Capabilities and formats each backend truly offers (no device needed).
void FillCaps(BackendKind kind, D3DCAPS9& caps);
bool SupportsDepthFormat(BackendKind kind, D3DFORMAT format);

}  // namespace gx
