#pragma once
// The water of scene one: a 64 x 64 height field on a torus grid (TWater), turned
// every step into a refracting surface mesh and a caustics mesh, and the effect
// that draws it (TWaterEffect) with a camera of its own.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/gfx/d3d9.h"
#include "platform/gfx/d3dx/d3dx9.h"

class TvokD3D;

struct TWaterCell {
  float Height;
  float Velocity;
};

struct TRefractEntry {
  float Refract;
  float Scale;
  D3DCOLOR Diffuse;  // only the alpha byte is used: the share of reflected light
};

// Surface vertex, FVF XYZ | NORMAL | DIFFUSE | TEX1.
struct TWaterVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR Diffuse;
  float u, v;
};
static_assert(sizeof(TWaterVertex) == 36);

// Caustics vertex, FVF XYZ | DIFFUSE; y is always 0 (the floor plane).
struct TCausticVertex {
  float x, y, z;
  D3DCOLOR Diffuse;
};
static_assert(sizeof(TCausticVertex) == 16);

constexpr DWORD WaterVertexFVF = 0x152;
constexpr DWORD CausticVertexFVF = 0x42;
constexpr int WaterGridSide = 64;
constexpr int WaterVertexCount = 4096;
constexpr int WaterIndexCount = 8192;
constexpr int WaterPrimitiveCount = WaterIndexCount - 2;

// The heights also go to the effect, in a 64 x 64 A8R8G8B8 texture, so that it can shade the
// surface per pixel. A height is stored as a 16-bit fixed-point number over -WaterHeightLimit ..
// +WaterHeightLimit; texel (x, y) holds cell (x, y) in red (high byte) and green, and its right
// neighbour (x + 1, y, wrapping) in blue (high byte) and alpha, so that one read brings two
// cells. Drops falling as fast as the show can let them keep the heights below 7; anything
// beyond the limit is held at it.
constexpr float WaterHeightLimit = 8.0f;
uint16_t EncodeWaterHeight(float Height);

// Tables shared by every surface. RefractTable is filled by the first Init;
// CausticShades by the first update that builds caustics.
extern TRefractEntry RefractTable[256];
extern D3DCOLOR CausticShades[8];

// Cell index of (x, y) on the wrapping grid: both coordinates taken modulo 64,
// negative ones included.
inline int WaterCellIndex(int x, int y) {
  return static_cast<int>(((static_cast<uint32_t>(y) << 6) & 0xFFFu) | (static_cast<uint32_t>(x) & 0x3Fu));
}

// Fills RefractTable (the same values every time).
void FillRefractTable();

// Writes the 8192 indices of the strip that walks the grid in rings from the
// outside in (0, 64, 1, 65, 2, 66 ...).
void FillWaterIndices(uint16_t* Indices);

class TWater {
 public:
  float Size = 0.0f;
  float InvSize = 1.0f;
  float AverageHeight = 0.0f;
  int IndexCount = 0;
  int VertexCount = 0;
  std::unique_ptr<TWaterCell[]> Cells;
  const TRefractEntry* Refraction = nullptr;
  LPDIRECT3DDEVICE9 Device;
  LPDIRECT3DINDEXBUFFER9 IndexBuffer;
  LPDIRECT3DVERTEXBUFFER9 SurfaceBuffer;
  LPDIRECT3DVERTEXBUFFER9 CausticsBuffer;
  LPDIRECT3DTEXTURE9 HeightTexture;  // the cells' heights, refreshed by every Update

  explicit TWater(TvokD3D* D3D);
  ~TWater();
  TWater(const TWater&) = delete;
  TWater& operator=(const TWater&) = delete;

  HRESULT Init(float NewSize);
  HRESULT CreateBuffers();
  // Made by CreateBuffers when missing; also on its own, for an effect that needs it first.
  HRESULT CreateHeightTexture();
  HRESULT Drop(int X, int Y);
  HRESULT Update(const D3DXVECTOR3& Eye, const D3DXVECTOR3& Light, bool WithCaustics);
  HRESULT DrawSurface();
  HRESULT DrawCaustics();

  // The three passes of Update, without the device, in the order Update runs
  // them. They need Init to have run.
  void Simulate();
  void BuildSurface(TWaterVertex* Out, const D3DXVECTOR3& Eye);
  void BuildCaustics(const TWaterVertex* Surface, TCausticVertex* Out, const D3DXVECTOR3& Light);
  // The texels of HeightTexture from the cells (flat water before Init); Pitch in texels.
  void FillHeights(DWORD* Texels, int Pitch) const;

 private:
  HRESULT DrawMesh(DWORD FVF, const LPDIRECT3DVERTEXBUFFER9& Buffer, UINT Stride);
  HRESULT WriteHeightTexture();
};

// The pool as scene one shows it: the surface drawn through an effect, an
// optional caustics texture rendered from above, and a smoothed camera whose
// position is the viewer of the refraction.
class TWaterEffect {
 public:
  TvokD3D* D3D;
  LPD3DXEFFECT Effect;
  LPD3DXRENDERTOSURFACE RenderToSurface;
  LPDIRECT3DTEXTURE9 FloorTexture;
  const void* CubeData;
  int CubeSize;
  LPDIRECT3DTEXTURE9 CausticsTexture;
  LPDIRECT3DSURFACE9 CausticsSurface;
  LPDIRECT3DCUBETEXTURE9 EnvCube;
  // Why the cube map or the effect given to the constructor could not be made (or, for the
  // effect, made only in part), for the loader to pass on; empty when all went well or none was
  // given.
  std::string CubeError;
  std::string EffectError;
  float Speed = 25.0f;
  float SpinSpeed = 1.0f;
  D3DXMATRIX Projection;
  D3DXVECTOR3 Velocity{0, 0, 0};
  D3DXVECTOR3 Spin{0, 0, 0};
  uint32_t LastTime = 0;
  float Size;
  const void* EffectData;
  int EffectSize;
  D3DXMATRIX View;
  D3DXMATRIX Camera;
  bool Enabled = true;
  bool CausticsEnabled = true;
  int Technique = 0;
  std::unique_ptr<TWater> Water;
  D3DXVECTOR3 Position{0, 0, 0};
  D3DXVECTOR3 Rotation{0, 0, 0};
  D3DXVECTOR3 Orbit{0, 0, 0};

  TWaterEffect(TvokD3D* D3D, float Size, const void* EffectData, int EffectSize, const void* CubeData,
               int CubeSize, LPDIRECT3DTEXTURE9 FloorTexture);
  ~TWaterEffect();
  TWaterEffect(const TWaterEffect&) = delete;
  TWaterEffect& operator=(const TWaterEffect&) = delete;

  HRESULT SelectTechnique(int Step, bool AcceptAny);
  HRESULT SetWorld();
  HRESULT Update(const D3DXVECTOR3& TargetVelocity, const D3DXVECTOR3& TargetSpin);
  HRESULT Render(bool KeepCamera);

  // The world matrix SetWorld sets, without the device.
  D3DXMATRIX WorldMatrix() const;

 private:
  HRESULT CreateDeviceObjects();
  HRESULT RenderCaustics();
  void SetEffectEye();
  bool EffectUses(const char* Parameter) const;
};
