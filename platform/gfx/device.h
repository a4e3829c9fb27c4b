#pragma once
// The device front end: keeps every state in a DeviceState, returns early on
// unchanged values, checks arguments and injected faults, and hands the rest
// to the backend.

#include <memory>

#include "platform/gfx/backend_impl.h"

namespace gx {

class Device final : public IDirect3DDevice9, public std::enable_shared_from_this<Device> {
 public:
  Device(std::shared_ptr<IDirect3D9> d3d, BackendKind kind, std::unique_ptr<Backend> backend);
  ~Device() override;

  // Second half of construction (needs shared_from_this for the back buffer).
  HRESULT Open(HWND window, D3DPRESENT_PARAMETERS& params);

  Backend& backend() { return *backend_; }
  const DeviceState& state() const { return state_; }
  Stats& stats() { return stats_; }
  const std::shared_ptr<Surface>& backBuffer() const { return backBuffer_; }

  HRESULT TestCooperativeLevel() override;
  HRESULT GetDirect3D(std::shared_ptr<IDirect3D9>& d3d) override;
  HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
  HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
  BOOL ShowCursor(BOOL show) override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
  HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                  const void* dirtyRegion) override;
  HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                        std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;

  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        std::shared_ptr<IDirect3DTexture9>& texture, void* sharedHandle) override;
  HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            std::shared_ptr<IDirect3DCubeTexture9>& texture, void* sharedHandle) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             std::shared_ptr<IDirect3DVertexBuffer9>& buffer, void* sharedHandle) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            std::shared_ptr<IDirect3DIndexBuffer9>& buffer, void* sharedHandle) override;
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                    DWORD multiSampleQuality, BOOL discard,
                                    std::shared_ptr<IDirect3DSurface9>& surface, void* sharedHandle) override;

  HRESULT SetRenderTarget(DWORD index, const std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT GetRenderTarget(DWORD index, std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT SetDepthStencilSurface(const std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT GetDepthStencilSurface(std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
  HRESULT SetScissorRect(const RECT* rect) override;
  HRESULT GetScissorRect(RECT* rect) override;

  // device_surfaces.cpp
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                             DWORD multiSampleQuality, BOOL lockable, std::shared_ptr<IDirect3DSurface9>& surface,
                             void* sharedHandle) override;
  HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                      std::shared_ptr<IDirect3DSurface9>& surface, void* sharedHandle) override;
  HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                      const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
  HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
  HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override;

  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetMaterial(const D3DMATERIAL9* material) override;
  HRESULT GetMaterial(D3DMATERIAL9* material) override;
  HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
  HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, const std::shared_ptr<IDirect3DBaseTexture9>& texture) override;
  HRESULT GetTexture(DWORD stage, std::shared_ptr<IDirect3DBaseTexture9>& texture) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;

  HRESULT CreateVertexShader(const DWORD* function, std::shared_ptr<IDirect3DVertexShader9>& shader) override;
  HRESULT SetVertexShader(const std::shared_ptr<IDirect3DVertexShader9>& shader) override;
  HRESULT GetVertexShader(std::shared_ptr<IDirect3DVertexShader9>& shader) override;
  HRESULT CreatePixelShader(const DWORD* function, std::shared_ptr<IDirect3DPixelShader9>& shader) override;
  HRESULT SetPixelShader(const std::shared_ptr<IDirect3DPixelShader9>& shader) override;
  HRESULT GetPixelShader(std::shared_ptr<IDirect3DPixelShader9>& shader) override;
  HRESULT GxSetVertexShaderConstantF(const char* name, const float* values, UINT count) override;
  HRESULT GxSetVertexShaderConstantI(const char* name, const int* values, UINT count) override;
  HRESULT GxSetPixelShaderConstantF(const char* name, const float* values, UINT count) override;
  HRESULT GxSetPixelShaderConstantI(const char* name, const int* values, UINT count) override;

  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                  std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) override;
  HRESULT SetVertexDeclaration(const std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) override;
  HRESULT GetVertexDeclaration(std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT GetFVF(DWORD* fvf) override;
  HRESULT SetStreamSource(UINT stream, const std::shared_ptr<IDirect3DVertexBuffer9>& buffer, UINT offsetInBytes,
                          UINT stride) override;
  HRESULT GetStreamSource(UINT stream, std::shared_ptr<IDirect3DVertexBuffer9>& buffer, UINT* offsetInBytes,
                          UINT* stride) override;
  HRESULT SetIndices(const std::shared_ptr<IDirect3DIndexBuffer9>& buffer) override;
  HRESULT GetIndices(std::shared_ptr<IDirect3DIndexBuffer9>& buffer) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                               UINT startIndex, UINT primitiveCount) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData, UINT stride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices, UINT primitiveCount,
                                 const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                 UINT stride) override;

 private:
  template <class Object, class Interface>
  HRESULT CreateShader(const char* call, const DWORD* function, bool pixel, std::shared_ptr<Interface>& shader);
  template <class T>
  HRESULT SetShaderConstant(const char* call, ShaderStageIndex stage, const char* name, const T* values, UINT count);
  void Changed(StateKind kind, DWORD index, DWORD type, DWORD value);
  template <class Object, class Interface>
  HRESULT SetShader(const char* call, const std::shared_ptr<Interface>& shader, std::shared_ptr<Interface>& slot,
                    StateKind kind);
  template <class T>
  HRESULT SetPlain(const char* call, const char* name, const T* value, T& slot, StateKind kind, DWORD type = 0);
  template <size_t N>
  HRESULT SetPerStage(const char* call, StateKind kind, PerStage<N>& table, DWORD index, DWORD type, DWORD value);
  HRESULT UseFvf(DWORD fvf, const std::shared_ptr<IDirect3DVertexDeclaration9>& declaration);
  HRESULT Unchanged() {
    ++stats_.redundantStates;
    return D3D_OK;
  }
  HRESULT CreateBackBuffer();
  HRESULT ResolveSize(HWND window, D3DPRESENT_PARAMETERS& params);
  HRESULT CheckDraw(const char* call, const DrawCall& d) const;
  HRESULT CheckStreamDraw(const char* call, const DrawCall& d) const;
  HRESULT CheckIndexedStreamDraw(const char* call, const DrawCall& d) const;
  HRESULT CheckUserIndexedDraw(const char* call, const DrawCall& d) const;
  HRESULT SubmitDraw(const DrawCall& d);
  template <class Object, class Interface>
  HRESULT MakeTexture(const char* call, D3DRESOURCETYPE type, UINT width, UINT height, UINT levels, UINT faces,
                      DWORD usage, D3DFORMAT format, D3DPOOL pool, std::shared_ptr<Interface>& texture);

  std::shared_ptr<IDirect3D9> d3d_;
  BackendKind kind_;
  std::unique_ptr<Backend> backend_;
  DeviceState state_;
  D3DPRESENT_PARAMETERS params_{};
  HWND window_ = nullptr;
  bool fullScreenMode_ = false;  // the display runs the back buffer's mode for this device
  std::shared_ptr<Surface> backBuffer_;
  std::shared_ptr<Surface> autoDepth_;
  bool inScene_ = false;
  bool lost_ = false;
  size_t lostCallIndex_ = 0;
  int cursorShown_ = 1;
  Stats stats_;
};

}  // namespace gx
