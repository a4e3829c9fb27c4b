#pragma once
// Model objects: the transformable base (TvokV3D), the procedurally built plane,
// cylinder and disc (TzanObject) and the sets that move, fade and draw groups of
// them (TzanObjectSet).

#include <cstdint>
#include <vector>

#include "engine/vokD3D.h"
#include "engine/vokObject.h"
#if __has_include("engine/vokShadow.h")
#include "engine/vokShadow.h"
#endif
#include "platform/gfx/d3d9.h"
#include "platform/gfx/d3dx/d3dx9.h"

// Position, normal, one texture coordinate: FVF XYZ | NORMAL | TEX1, 32 bytes.
struct TModelVertex {
  float x, y, z;
  float nx, ny, nz;
  float u, v;
};
static_assert(sizeof(TModelVertex) == 32);

constexpr DWORD ModelVertexFVF = 0x112;

// Maps generated (x, y, z) to u = 0.5x + 0.5, v = -0.5y - 0.5 (with COUNT2).
extern const D3DMATRIX SphereMapMatrix;

// Rotation vectors hold pitch (x), yaw (y) and roll (z).
D3DXMATRIX YawPitchRoll(const D3DXVECTOR3& Rotation);
// True when every component is 0.0; -0.0 counts as zero.
inline bool IsZero(const D3DXVECTOR3& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

class TvokV3D : public TvokObject {
 public:
  int PrimitiveCount = 0;
  int Stride = 0;
  bool Translucent = false;
  TvokD3D* D3D;
  D3DXVECTOR3 Offset{0, 0, 0};
  LPDIRECT3DVERTEXBUFFER9 VertexBuffer;
  D3DPRIMITIVETYPE PrimitiveType = D3DPT_TRIANGLELIST;
  DWORD FVF = 0;
  bool ColorBlend = false;
  DWORD ShadeMode = D3DSHADE_GOURAUD;
  DWORD FillMode = D3DFILL_SOLID;
  DWORD TexCoordIndex = D3DTSS_TCI_CAMERASPACENORMAL;
  DWORD ColorOp = D3DTOP_MODULATE;
  DWORD CullMode = D3DCULL_CW;
  bool Textured = false;
  LPDIRECT3DTEXTURE9 Texture;
  LPDIRECT3DTEXTURE9 EnvTexture;
  D3DXMATRIX World;
  bool UseMaterial = true;
  D3DMATERIAL9 Material{};
  D3DXVECTOR3 Position{0, 0, 0};
  D3DXVECTOR3 Rotation{0, 0, 0};
  D3DXVECTOR3 Orbit{0, 0, 0};

  explicit TvokV3D(TvokD3D* D3D);
  ~TvokV3D();
  TvokV3D(const TvokV3D&) = delete;
  TvokV3D& operator=(const TvokV3D&) = delete;

  void SetGrey(float Level);
  void UpdateWorld();
  void DrawBuffer();
  void DrawSphereMapped();

  // The matrix UpdateWorld sets, without the device:
  // v * R(Rotation) * T(Position) * R(Orbit) * T(Offset).
  D3DXMATRIX WorldMatrix() const;

 protected:
  IDirect3DDevice9* Dev() const;
};

class TzanObjectSet;

// What a build operation writes: the vertices in index order and the primitive
// count. Valid is false when the shape's counts are refused.
struct TShapeGeometry {
  std::vector<TModelVertex> Vertices;
  int PrimitiveCount = 0;
  bool Valid = false;
};

class TzanObject : public TvokV3D {
 public:
  D3DXVECTOR3 Scale{1, 1, 1};
  uint8_t Shape = 0;  // 0 plane, 2 cylinder, 5 disc
  DWORD AlphaRef = 0;
  bool AlphaBlend = false;
  bool SphereMapped = false;
  bool Additive = false;
  float Param1 = 0, Param2 = 0, Param3 = 0, Param4 = 0, Param5 = 0, Param6 = 0, Param7 = 0, Param8 = 0;
  bool Capped = false;
  bool HalfRound = false;
  bool StretchTexture = false;
  uint8_t Anchor = 0;
  D3DXVECTOR3 BasePosition{0, 0, 0};
  TzanObjectSet* Owner = nullptr;
  bool Visible = true;

  explicit TzanObject(TvokD3D* D3D);

  void BuildPlane();
  void BuildCylinder();
  void BuildDisc();
  void Rescale(float SX, float SY, float SZ);
  void DrawObject(bool Nested);

  // The geometry of each shape from the current parameters, without the device.
  TShapeGeometry PlaneGeometry() const;
  TShapeGeometry CylinderGeometry() const;
  TShapeGeometry DiscGeometry() const;

 private:
  void Build(uint8_t NewShape, DWORD NewCull, D3DPRIMITIVETYPE NewType, const TShapeGeometry& Geometry);
  void ColorBlendStates();
  bool Blending() const;
};

class TzanObjectSet : public TvokObject {
 public:
  std::vector<TzanObject*> Items;
  D3DXVECTOR3 Position{0, 0, 0};
  D3DXVECTOR3 Rotation{0, 0, 0};
  float Alpha = 1.0f;

  TzanObjectSet() = default;
  ~TzanObjectSet() = default;  // the objects belong to whoever calls Clear
  TzanObjectSet(const TzanObjectSet&) = delete;
  TzanObjectSet& operator=(const TzanObjectSet&) = delete;

  void Add(TzanObject* Obj);
  void Rescale(float SX, float SY, float SZ);
  void DrawAll(bool Nested);
  void Clear();
};
