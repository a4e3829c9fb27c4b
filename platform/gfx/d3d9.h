#pragma once
// The Direct3D 9 interfaces the program draws through, with Direct3D 9's method
// names and argument order. Counted interfaces are held by std::shared_ptr: an
// out-parameter is a std::shared_ptr<T>&, and clearing the pointer releases.
// Implementations live behind these abstract classes (recording or OpenGL
// backend, see backend.h); callers never see which one is in use.

#include <memory>

#include "platform/gfx/d3d9types.h"

class IDirect3D9;
class IDirect3DDevice9;
class IDirect3DResource9;
class IDirect3DBaseTexture9;
class IDirect3DTexture9;
class IDirect3DCubeTexture9;
class IDirect3DSurface9;
class IDirect3DVertexBuffer9;
class IDirect3DIndexBuffer9;
class IDirect3DPixelShader9;
class IDirect3DVertexShader9;
class IDirect3DVertexDeclaration9;

using LPDIRECT3D9 = std::shared_ptr<IDirect3D9>;
using LPDIRECT3DDEVICE9 = std::shared_ptr<IDirect3DDevice9>;
using LPDIRECT3DRESOURCE9 = std::shared_ptr<IDirect3DResource9>;
using LPDIRECT3DBASETEXTURE9 = std::shared_ptr<IDirect3DBaseTexture9>;
using LPDIRECT3DTEXTURE9 = std::shared_ptr<IDirect3DTexture9>;
using LPDIRECT3DCUBETEXTURE9 = std::shared_ptr<IDirect3DCubeTexture9>;
using LPDIRECT3DSURFACE9 = std::shared_ptr<IDirect3DSurface9>;
using LPDIRECT3DVERTEXBUFFER9 = std::shared_ptr<IDirect3DVertexBuffer9>;
using LPDIRECT3DINDEXBUFFER9 = std::shared_ptr<IDirect3DIndexBuffer9>;
using LPDIRECT3DPIXELSHADER9 = std::shared_ptr<IDirect3DPixelShader9>;
using LPDIRECT3DVERTEXSHADER9 = std::shared_ptr<IDirect3DVertexShader9>;
using LPDIRECT3DVERTEXDECLARATION9 = std::shared_ptr<IDirect3DVertexDeclaration9>;

// Creates the Direct3D object (adapter 0 only). nullptr on failure, e.g. when
// the recording backend was told to fail it.
std::shared_ptr<IDirect3D9> Direct3DCreate9(UINT sdkVersion);

class IDirect3DResource9 {
 public:
  virtual ~IDirect3DResource9() = default;
  virtual D3DRESOURCETYPE GetType() = 0;
  virtual HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) = 0;
};

class IDirect3DBaseTexture9 : public IDirect3DResource9 {
 public:
  virtual DWORD GetLevelCount() = 0;
  // The most detailed level sampled (managed textures; others keep 0). Returns the previous one.
  virtual DWORD SetLOD(DWORD lod) = 0;
  virtual DWORD GetLOD() = 0;
};

class IDirect3DSurface9 : public IDirect3DResource9 {
 public:
  virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
  // Surfaces of textures, and of a lockable back buffer, can be locked; the
  // rows are top row first (Direct3D orientation) whatever the backend stores.
  virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect() = 0;
};

class IDirect3DTexture9 : public IDirect3DBaseTexture9 {
 public:
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT GetSurfaceLevel(UINT level, std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect(UINT level) = 0;
};

class IDirect3DCubeTexture9 : public IDirect3DBaseTexture9 {
 public:
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level,
                                    std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                           DWORD flags) = 0;
  virtual HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) = 0;
};

class IDirect3DVertexBuffer9 : public IDirect3DResource9 {
 public:
  // size 0 locks the whole buffer, as in Direct3D 9.
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

class IDirect3DIndexBuffer9 : public IDirect3DResource9 {
 public:
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

// Shader objects hold GLSL (see docs/gfx.md). Their constants are device state
// (IDirect3DDevice9::GxSet...ShaderConstant...).
class IDirect3DShader9Base {
 public:
  virtual ~IDirect3DShader9Base() = default;
  // The GLSL source the shader was created from.
  virtual const char* GxSource() = 0;
};

class IDirect3DPixelShader9 : public IDirect3DShader9Base {
 public:
  virtual HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) = 0;
};

class IDirect3DVertexShader9 : public IDirect3DShader9Base {
 public:
  virtual HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) = 0;
};

// A vertex layout described element by element. The layer takes the ones a flexible vertex
// format can describe (see D3DVERTEXELEMENT9); CreateVertexDeclaration refuses the others.
class IDirect3DVertexDeclaration9 {
 public:
  virtual ~IDirect3DVertexDeclaration9() = default;
  virtual HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) = 0;
  // elements null: *count receives the number of elements, D3DDECL_END() included.
  virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

class IDirect3DDevice9 {
 public:
  virtual ~IDirect3DDevice9() = default;

  // Device and frame
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT GetDirect3D(std::shared_ptr<IDirect3D9>& d3d) = 0;
  virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
  virtual HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;
  virtual BOOL ShowCursor(BOOL show) = 0;
  virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
  virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                          const void* dirtyRegion) = 0;
  virtual HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                                std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                        DWORD stencil) = 0;

  // Resources
  virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, std::shared_ptr<IDirect3DTexture9>& texture,
                                void* sharedHandle) = 0;
  virtual HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format,
                                    D3DPOOL pool, std::shared_ptr<IDirect3DCubeTexture9>& texture,
                                    void* sharedHandle) = 0;
  virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     std::shared_ptr<IDirect3DVertexBuffer9>& buffer, void* sharedHandle) = 0;
  virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    std::shared_ptr<IDirect3DIndexBuffer9>& buffer, void* sharedHandle) = 0;
  virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                            D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality,
                                            BOOL discard, std::shared_ptr<IDirect3DSurface9>& surface,
                                            void* sharedHandle) = 0;

  // Render targets and viewport
  virtual HRESULT SetRenderTarget(DWORD index, const std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT GetRenderTarget(DWORD index, std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT SetDepthStencilSurface(const std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT GetDepthStencilSurface(std::shared_ptr<IDirect3DSurface9>& surface) = 0;
  virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;
  // Takes effect with D3DRS_SCISSORTESTENABLE, on draws and clears; SetRenderTarget resets it.
  virtual HRESULT SetScissorRect(const RECT* rect) = 0;
  virtual HRESULT GetScissorRect(RECT* rect) = 0;

  // Surfaces and copies between them. A render target is a one-level render-target texture's
  // surface; an offscreen plain surface a one-level texture's (lockable in every pool).
  virtual HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                     DWORD multiSampleQuality, BOOL lockable,
                                     std::shared_ptr<IDirect3DSurface9>& surface, void* sharedHandle) = 0;
  virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                              std::shared_ptr<IDirect3DSurface9>& surface, void* sharedHandle) = 0;
  // Between render targets and the back buffer, D3DTEXF_NONE/POINT or LINEAR.
  virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                              const RECT* destRect, D3DTEXTUREFILTERTYPE filter) = 0;
  // Render targets, the back buffer and D3DPOOL_DEFAULT offscreen plain surfaces.
  virtual HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) = 0;
  // A render target's pixels into a D3DPOOL_SYSTEMMEM surface of the same size and format.
  virtual HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) = 0;

  // Fixed-function state
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
  virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
  virtual HRESULT GetMaterial(D3DMATERIAL9* material) = 0;
  virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
  virtual HRESULT GetLight(DWORD index, D3DLIGHT9* light) = 0;
  virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
  virtual HRESULT GetLightEnable(DWORD index, BOOL* enable) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTexture(DWORD stage, const std::shared_ptr<IDirect3DBaseTexture9>& texture) = 0;
  virtual HRESULT GetTexture(DWORD stage, std::shared_ptr<IDirect3DBaseTexture9>& texture) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
  virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;

  // Shaders
  virtual HRESULT CreateVertexShader(const DWORD* function, std::shared_ptr<IDirect3DVertexShader9>& shader) = 0;
  virtual HRESULT SetVertexShader(const std::shared_ptr<IDirect3DVertexShader9>& shader) = 0;
  virtual HRESULT GetVertexShader(std::shared_ptr<IDirect3DVertexShader9>& shader) = 0;
  virtual HRESULT CreatePixelShader(const DWORD* function, std::shared_ptr<IDirect3DPixelShader9>& shader) = 0;
  virtual HRESULT SetPixelShader(const std::shared_ptr<IDirect3DPixelShader9>& shader) = 0;
  virtual HRESULT GetPixelShader(std::shared_ptr<IDirect3DPixelShader9>& shader) = 0;
  // Shader constants are device state, as in Direct3D 9: a value stays in force across
  // shader switches until set again. This layer's shaders are GLSL, so a constant is
  // named by its uniform instead of numbered by a register; every program of that stage
  // declaring the name reads it (the GL type of the uniform decides the upload). A
  // matrix is 16 floats as stored (docs/gfx.md). Names no program has are kept and unused.
  virtual HRESULT GxSetVertexShaderConstantF(const char* name, const float* values, UINT count) = 0;
  virtual HRESULT GxSetVertexShaderConstantI(const char* name, const int* values, UINT count) = 0;
  virtual HRESULT GxSetPixelShaderConstantF(const char* name, const float* values, UINT count) = 0;
  virtual HRESULT GxSetPixelShaderConstantI(const char* name, const int* values, UINT count) = 0;

  // Vertex input and drawing
  virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                          std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) = 0;
  // Sets the declaration's vertex format; SetFVF replaces it (GetVertexDeclaration is then null).
  virtual HRESULT SetVertexDeclaration(const std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) = 0;
  virtual HRESULT GetVertexDeclaration(std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) = 0;
  virtual HRESULT SetFVF(DWORD fvf) = 0;
  virtual HRESULT GetFVF(DWORD* fvf) = 0;
  virtual HRESULT SetStreamSource(UINT stream, const std::shared_ptr<IDirect3DVertexBuffer9>& buffer,
                                  UINT offsetInBytes, UINT stride) = 0;
  virtual HRESULT GetStreamSource(UINT stream, std::shared_ptr<IDirect3DVertexBuffer9>& buffer,
                                  UINT* offsetInBytes, UINT* stride) = 0;
  virtual HRESULT SetIndices(const std::shared_ptr<IDirect3DIndexBuffer9>& buffer) = 0;
  virtual HRESULT GetIndices(std::shared_ptr<IDirect3DIndexBuffer9>& buffer) = 0;
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                       UINT numVertices, UINT startIndex, UINT primitiveCount) = 0;
  // Like Direct3D 9, the UP calls leave the stream source and index buffer unset afterwards.
  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                  UINT stride) = 0;
  virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                         UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                         const void* vertexData, UINT stride) = 0;
};

class IDirect3D9 {
 public:
  virtual ~IDirect3D9() = default;
  virtual UINT GetAdapterCount() = 0;
  virtual UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
  virtual HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) = 0;
  virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                  D3DFORMAT backBufferFormat, BOOL windowed) = 0;
  virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                    D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
  virtual HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                             BOOL windowed, D3DMULTISAMPLE_TYPE multiSample,
                                             DWORD* qualityLevels) = 0;
  virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
  virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, std::shared_ptr<IDirect3DDevice9>& device) = 0;
};
