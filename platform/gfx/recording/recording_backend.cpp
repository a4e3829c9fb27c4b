// The recording backend draws nothing. It keeps the calls that reached it and
// every draw with the state in force, so tests can check what the program asked
// for without a GPU.

#include <cstdio>
#include <cstring>

#include "platform/gfx/backend_impl.h"
#include "platform/gfx/ff_key.h"
#include "platform/gfx/formats.h"

namespace gx {
namespace {

class RecordingBackend final : public Backend {
 public:
  HRESULT Open(HWND, UINT width, UINT height, const D3DPRESENT_PARAMETERS&) override {
    Log("CreateDevice %u %u", width, height);
    return D3D_OK;
  }
  HRESULT Resize(UINT width, UINT height, const D3DPRESENT_PARAMETERS&) override {
    Log("ResizeBackBuffer %u %u", width, height);
    return D3D_OK;
  }

  void StateChanged(StateKind kind, DWORD index, DWORD type, DWORD value) override {
    switch (kind) {
      case StateKind::Render: Log("SetRenderState %u %u", type, value); break;
      case StateKind::Stage: Log("SetTextureStageState %u %u %u", index, type, value); break;
      case StateKind::Sampler: Log("SetSamplerState %u %u %u", index, type, value); break;
      case StateKind::Transform: Log("SetTransform %u", type); break;
      case StateKind::Material: Log("SetMaterial"); break;
      case StateKind::Light: Log("SetLight %u", index); break;
      case StateKind::LightEnable: Log("LightEnable %u %u", index, value); break;
      case StateKind::Texture: Log("SetTexture %u %u", index, value ? 1u : 0u); break;
      case StateKind::PixelShader: Log("SetPixelShader"); break;
      case StateKind::VertexShader: Log("SetVertexShader"); break;
      case StateKind::ShaderConstant:
        Log(index == kPixelStage ? "SetPixelShaderConstant %u" : "SetVertexShaderConstant %u", value);
        break;
      case StateKind::Fvf: Log("SetFVF %u", value); break;
      case StateKind::Stream: Log("SetStreamSource"); break;
      case StateKind::Indices: Log("SetIndices"); break;
      case StateKind::RenderTarget: Log("SetRenderTarget"); break;
      case StateKind::DepthStencil: Log("SetDepthStencilSurface"); break;
      case StateKind::Viewport: Log("SetViewport"); break;
      case StateKind::All: Log("DefaultState"); break;
    }
  }

  void Note(const std::string& call) override { calls_.push_back(call); }

  void Clear(const DeviceState&, DWORD, const RECT*, DWORD, D3DCOLOR, float, DWORD) override {}

  HRESULT Draw(const DeviceState& state, const DrawCall& call) override {
    static const char* kNames[] = {"DrawPrimitive", "DrawIndexedPrimitive", "DrawPrimitiveUP",
                                   "DrawIndexedPrimitiveUP"};
    Log("%s %u %u", kNames[int(call.kind)], unsigned(call.type), call.primitiveCount);
    DrawRecord r;
    r.kind = call.kind;
    r.type = call.type;
    r.primitiveCount = call.primitiveCount;
    r.startVertex = call.kind == DrawRecord::Kind::Primitive ? call.startVertex : UINT(call.baseVertex);
    r.startIndex = call.startIndex;
    FixedFunctionKey key;
    BuildKey(state, key);
    r.programKey = HashKey(key);
    r.state = state;

    // Copy what the draw reads: the vertices (and indexes) in the order GL would see them.
    const std::uint8_t* vertices = nullptr;
    UINT stride = 0, first = 0, count = 0;
    if (call.userVertices) {
      vertices = static_cast<const std::uint8_t*>(call.userVertices), stride = call.userStride;
    } else if (auto* vb = static_cast<VertexBuffer*>(state.streamBuffer.get())) {
      vertices = vb->store.data.data() + state.streamOffset, stride = state.streamStride;
    }
    const std::uint16_t* indexes = nullptr;
    if (call.userIndices) {
      indexes = static_cast<const std::uint16_t*>(call.userIndices);
    } else if (call.kind == DrawRecord::Kind::IndexedPrimitive) {
      auto* ib = static_cast<IndexBuffer*>(state.indices.get());
      indexes = reinterpret_cast<const std::uint16_t*>(ib->store.data.data()) + call.startIndex;
    }
    if (indexes) {
      r.indexes.assign(indexes, indexes + call.vertexCount);
      first = UINT(std::int64_t(call.minIndex) + (call.userIndices ? 0 : call.baseVertex));
      count = call.numVertices;
    } else {
      first = call.startVertex, count = call.vertexCount;
    }
    r.stride = stride;
    r.vertexCount = count;
    if (vertices && count) r.vertices.assign(vertices + size_t(first) * stride, vertices + size_t(first + count) * stride);
    draws_.push_back(std::move(r));
    return D3D_OK;
  }

  HRESULT Present() override { return D3D_OK; }

  HRESULT CreateTexture(TextureStore&) override { return D3D_OK; }
  void UploadTexture(TextureStore&, UINT face, UINT level) override { Log("UploadTexture %u %u", face, level); }
  HRESULT CreateSurface(Surface&) override { return D3D_OK; }
  HRESULT CreateShader(ShaderStore&) override { return D3D_OK; }

  // Nothing is rendered here: render targets read back black.
  HRESULT ReadSurface(Surface& surface, std::vector<std::uint8_t>& rgba) override {
    rgba.assign(size_t(surface.desc.Width) * surface.desc.Height * 4, 0);
    return D3D_OK;
  }

  std::vector<DrawRecord>* RecordedDraws() override { return &draws_; }
  std::vector<std::string>* RecordedCalls() override { return &calls_; }

 private:
  template <class... A>
  void Log(const char* fmt, A... args) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, args...);
    calls_.emplace_back(buf);
  }

  std::vector<DrawRecord> draws_;
  std::vector<std::string> calls_;
};

}  // namespace

std::unique_ptr<Backend> MakeRecordingBackend() { return std::make_unique<RecordingBackend>(); }

}  // namespace gx
