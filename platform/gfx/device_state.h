#pragma once
// Everything a Direct3D 9 device remembers between calls, in plain arrays with the
// documented defaults, so Get... returns what Set... stored whatever the backend.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/d3d9.h"

namespace gx {

constexpr DWORD kMaxStages = 8;    // texture stages and samplers gx_Sampler0..7
constexpr DWORD kMaxLights = 8;

// One shader constant: a GLSL uniform's value, by name.
struct ShaderConstant {
  std::string name;
  std::vector<float> floats;
  std::vector<int> ints;
  bool isInt = false;
  std::uint64_t version = 0;  // changes with every change
};

// The constants of one shader stage.
struct ShaderConstants {
  std::vector<ShaderConstant> values;
  std::uint64_t layoutVersion = 0;  // changes when a new name appears

  // False when the value was already in force.
  bool SetFloats(const char* name, const float* v, UINT count);
  bool SetInts(const char* name, const int* v, UINT count);

 private:
  ShaderConstant& Slot(const char* name);
};

enum ShaderStageIndex : int { kVertexStage = 0, kPixelStage = 1 };

// A state table with a row per texture stage (or sampler).
template <size_t N>
using PerStage = std::array<std::array<DWORD, N>, kMaxStages>;

struct DeviceState {
  std::array<DWORD, GX_RENDERSTATE_COUNT> render{};
  PerStage<GX_TEXTURESTAGESTATE_COUNT> stage{};
  PerStage<GX_SAMPLERSTATE_COUNT> sampler{};

  D3DMATRIX world{};
  D3DMATRIX view{};
  D3DMATRIX projection{};
  std::array<D3DMATRIX, kMaxStages> textureTransform{};

  D3DMATERIAL9 material{};
  std::array<D3DLIGHT9, kMaxLights> lights{};
  std::array<bool, kMaxLights> lightSet{};
  std::array<bool, kMaxLights> lightEnabled{};

  D3DVIEWPORT9 viewport{};
  RECT scissor{};  // used with D3DRS_SCISSORTESTENABLE
  DWORD fvf = 0;
  std::shared_ptr<IDirect3DVertexDeclaration9> declaration;  // set with the fvf it describes

  std::array<std::shared_ptr<IDirect3DBaseTexture9>, kMaxStages> textures{};
  std::shared_ptr<IDirect3DPixelShader9> pixelShader;
  std::shared_ptr<IDirect3DVertexShader9> vertexShader;
  std::array<ShaderConstants, 2> constants;  // [kVertexStage], [kPixelStage]
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

}  // namespace gx
