#pragma once
// Everything a Direct3D 9 device remembers between calls, in plain arrays with the
// documented defaults, so Get... returns what Set... stored whatever the backend.

#include <array>
#include <memory>

#include "platform/gfx/d3d9.h"

namespace vkgfx {

constexpr DWORD kMaxStages = 8;    // texture stages and samplers vk_Sampler0..7
constexpr DWORD kMaxLights = 8;

struct DeviceState {
  std::array<DWORD, VK_RENDERSTATE_COUNT> render{};
  std::array<std::array<DWORD, VK_TEXTURESTAGESTATE_COUNT>, kMaxStages> stage{};
  std::array<std::array<DWORD, VK_SAMPLERSTATE_COUNT>, kMaxStages> sampler{};

  D3DMATRIX world{};
  D3DMATRIX view{};
  D3DMATRIX projection{};
  std::array<D3DMATRIX, kMaxStages> textureTransform{};

  D3DMATERIAL9 material{};
  std::array<D3DLIGHT9, kMaxLights> lights{};
  std::array<bool, kMaxLights> lightSet{};
  std::array<bool, kMaxLights> lightEnabled{};

  D3DVIEWPORT9 viewport{};
  DWORD fvf = 0;

  std::array<std::shared_ptr<IDirect3DBaseTexture9>, kMaxStages> textures{};
  std::shared_ptr<IDirect3DPixelShader9> pixelShader;
  std::shared_ptr<IDirect3DVertexShader9> vertexShader;
  std::shared_ptr<IDirect3DVertexBuffer9> streamBuffer;
  UINT streamOffset = 0;
  UINT streamStride = 0;
  std::shared_ptr<IDirect3DIndexBuffer9> indices;
  std::shared_ptr<IDirect3DSurface9> renderTarget;
  std::shared_ptr<IDirect3DSurface9> depthStencil;

  // Direct3D 9 defaults. ZENABLE starts on only when the device has an automatic
  // depth buffer; the viewport covers the given back-buffer size.
  void SetDefaults(bool autoDepthStencil, UINT backBufferWidth, UINT backBufferHeight);
};

// Reads a float passed through a DWORD state (fog start/end, point size...).
inline float DwordAsFloat(DWORD value) {
  float f;
  static_assert(sizeof f == sizeof value);
  __builtin_memcpy(&f, &value, sizeof f);
  return f;
}
inline DWORD FloatAsDword(float value) {
  DWORD d;
  __builtin_memcpy(&d, &value, sizeof d);
  return d;
}

D3DMATRIX IdentityMatrix();

}  // namespace vkgfx
