#include "engine/vokModells.h"

#include <cmath>
#include <cstring>

namespace {

// Angles of the generated shapes use pi as the Single 3.14159274.
constexpr double Pi = static_cast<double>(3.14159274f);

// No shape of the show comes near this; anything above it is a mistaken parameter,
// refused before it turns into a giant allocation or an overflowing size.
constexpr long long MaxShapeVertices = 1 << 22;

// Rounds a count parameter to the nearest integer, halves to even. False for values
// that are not finite or do not fit the vertex limit.
bool RoundCount(float value, long long& out) {
  if (!std::isfinite(value)) return false;
  const double r = std::nearbyint(static_cast<double>(value));
  if (r > static_cast<double>(MaxShapeVertices) || r < -static_cast<double>(MaxShapeVertices)) return false;
  out = static_cast<long long>(r);
  return true;
}

// Where the anchor puts the shape: the fraction of the bounding rectangle's width
// (from the left) and height (from the bottom) that lies at the local origin.
struct AnchorPoint {
  double fx, fy;
};

AnchorPoint AnchorOf(uint8_t anchor) {
  static const AnchorPoint table[9] = {
      {0.5, 0.5},  // centre
      {0.0, 0.5},  // middle of the left side
      {0.5, 1.0},  // middle of the top side
      {1.0, 0.5},  // middle of the right side
      {0.5, 0.0},  // middle of the bottom side
      {0.0, 1.0},  // top-left corner
      {1.0, 1.0},  // top-right corner
      {0.0, 0.0},  // bottom-left corner
      {1.0, 0.0},  // bottom-right corner
  };
  return table[anchor > 8 ? 0 : anchor];
}

struct TemplateVertex {
  double tx, ty, u, v;
  bool upper, left;
};

// The six vertices of one plane cell, two triangles.
const TemplateVertex PlaneTemplate[6] = {
    {-1, +1, 0, 0, true, true},  {+1, +1, 1, 0, true, false},  {-1, -1, 0, 1, false, true},
    {-1, -1, 0, 1, false, true}, {+1, +1, 1, 0, true, false}, {+1, -1, 1, 1, false, false},
};

TModelVertex MakeVertex(double x, double y, double z, double nx, double ny, double nz, double u, double v) {
  return {static_cast<float>(x),  static_cast<float>(y),  static_cast<float>(z), static_cast<float>(nx),
          static_cast<float>(ny), static_cast<float>(nz), static_cast<float>(u), static_cast<float>(v)};
}

inline bool UsableScale(float s) { return std::isfinite(s) && s != 0.0f; }

}  // namespace

namespace {
D3DMATRIX MakeSphereMapMatrix() {
  D3DMATRIX m{};
  m._11 = 0.5f;
  m._22 = -0.5f;
  m._41 = 0.5f;
  m._42 = -0.5f;
  m._44 = 1.0f;
  return m;
}
}  // namespace

const D3DMATRIX SphereMapMatrix = MakeSphereMapMatrix();

D3DXMATRIX YawPitchRoll(const D3DXVECTOR3& Rotation) {
  D3DXMATRIX m;
  D3DXMatrixRotationYawPitchRoll(&m, Rotation.y, Rotation.x, Rotation.z);
  return m;
}

// ---------------------------------------------------------------- TvokV3D

TvokV3D::TvokV3D(TvokD3D* D3D) : D3D(D3D) {
  SetGrey(1.0f);
  D3DXMatrixIdentity(&World);
}

TvokV3D::~TvokV3D() {
  VertexBuffer.reset();
  Texture.reset();
  EnvTexture.reset();
}

IDirect3DDevice9* TvokV3D::Dev() const { return D3D ? D3D->Device.get() : nullptr; }

void TvokV3D::SetGrey(float Level) {
  Material = D3DMATERIAL9{};
  Material.Diffuse = {Level, Level, Level, 1.0f};
  Material.Ambient = {0.05f, 0.05f, 0.05f, 1.0f};
  Material.Specular = {0.0f, 0.0f, 0.0f, 0.0f};
  Material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
  Material.Power = 0.0f;
}

D3DXMATRIX TvokV3D::WorldMatrix() const {
  D3DXMATRIX t, w;
  D3DXMatrixTranslation(&t, Position.x, Position.y, Position.z);
  const D3DXMATRIX r = YawPitchRoll(Rotation);
  D3DXMatrixMultiply(&w, &r, &t);
  if (!IsZero(Orbit)) {
    const D3DXMATRIX o = YawPitchRoll(Orbit);
    D3DXMatrixMultiply(&w, &w, &o);
  }
  if (!IsZero(Offset)) {
    D3DXMatrixTranslation(&t, Offset.x, Offset.y, Offset.z);
    D3DXMatrixMultiply(&w, &w, &t);
  }
  return w;
}

void TvokV3D::UpdateWorld() {
  World = WorldMatrix();
  if (auto* d = Dev()) d->SetTransform(D3DTS_WORLD, &World);
}

void TvokV3D::DrawBuffer() {
  auto* d = Dev();
  // An object whose geometry could not be built has no buffer: it is skipped rather
  // than drawn from whatever the stream held before.
  if (!d || !VertexBuffer) return;
  d->SetStreamSource(0, VertexBuffer, 0, Stride);
  d->SetFVF(FVF);
  d->DrawPrimitive(PrimitiveType, 0, PrimitiveCount);
}

void TvokV3D::DrawSphereMapped() {
  auto* d = Dev();
  if (!d) return;
  if (EnvTexture)
    d->SetTexture(0, EnvTexture);
  else if (Texture)
    d->SetTexture(0, Texture);
  else
    d->SetTexture(0, nullptr);
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, TexCoordIndex);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  d->SetTransform(D3DTS_TEXTURE0, &SphereMapMatrix);
  d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
  if (UseMaterial) d->SetMaterial(&Material);
  DrawBuffer();
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

// ---------------------------------------------------------------- TzanObject

TzanObject::TzanObject(TvokD3D* D3D) : TvokV3D(D3D) {}

TShapeGeometry TzanObject::PlaneGeometry() const {
  TShapeGeometry g;
  long long nx = 0, ny = 0;
  if (!RoundCount(Param3, nx) || !RoundCount(Param4, ny) || nx < 1 || ny < 1) return g;
  if (6 * nx * ny > MaxShapeVertices) return g;
  const double W = Param1, H = Param2, A = Param5, amplitude = Param6;
  const AnchorPoint anchor = AnchorOf(Anchor);
  const double X0 = -static_cast<double>(static_cast<float>(nx * W)) * anchor.fx;
  const double Y0 = -static_cast<double>(static_cast<float>(ny * H)) * anchor.fy;
  g.Vertices.reserve(static_cast<size_t>(6 * nx * ny));
  for (long long r = 1; r <= ny; ++r) {
    for (long long c = 1; c <= nx; ++c) {
      for (const TemplateVertex& t : PlaneTemplate) {
        const long long k = t.upper ? r : r - 1;
        const double x = X0 + (c - 0.5) * W + t.tx * W / 2;
        const double y = Y0 + (r - 0.5) * H + t.ty * H / 2;
        double z = 0, ny_ = 0, nz = -1;
        if (A != 0) {
          const double theta = static_cast<float>(A / ny * k);
          z = amplitude * std::sin(theta);
          ny_ = std::cos(theta);
          nz = -1 + std::sin(theta);
        }
        double u = t.u, v = t.v;
        if (StretchTexture) {
          u = static_cast<double>(t.left ? c - 1 : c) / nx;
          v = 1.0 - static_cast<double>(k) / ny;
        }
        g.Vertices.push_back(MakeVertex(x, y, z, 0, ny_, nz, u, v));
      }
    }
  }
  g.PrimitiveCount = static_cast<int>(2 * nx * ny);
  g.Valid = true;
  return g;
}

TShapeGeometry TzanObject::CylinderGeometry() const {
  TShapeGeometry g;
  long long N = 0, R = 0;
  if (!RoundCount(Param1, N) || !RoundCount(Param5, R) || N < 1 || R < 0) return g;
  if (R == 0) R = 1;
  const long long e = N + 1;
  const long long cap = Capped ? 2 : 0;
  const long long V = 2 * e * (R + cap);
  if (V > MaxShapeVertices) return g;

  const double h = Param2, rx = Param3, rz = Param4, B = Param6;
  double trx = rx, trz = rz, tilt = 0;
  if (Param7 != 0) {
    trx = Param7;
    trz = Param8 != 0 ? Param8 : Param7;
    tilt = Param7 >= Param3 ? -0.5 : 0.5;
  }
  const AnchorPoint anchor = AnchorOf(Anchor);
  const double x0 = rx * (1 - 2 * anchor.fx);
  const double y0 = -static_cast<double>(static_cast<float>(R * h)) * anchor.fy;
  auto angle = [&](long long i) {
    return HalfRound ? static_cast<float>(i * Pi / N) : static_cast<float>(2 * Pi * i / N);
  };
  auto bend = [&](long long k) { return B > 0 ? static_cast<float>(std::sin(B / R * k)) : 0.0f; };

  g.Vertices.resize(static_cast<size_t>(V));
  TModelVertex* out = g.Vertices.data();
  if (Capped) {
    for (long long i = 0; i <= N; ++i) {
      const double a = angle(i);
      out[2 * i] = MakeVertex(x0, y0, 0, 0, -1, 0, 0.5, 0.5);
      out[2 * i + 1] = MakeVertex(x0 + rx * std::cos(a), y0, rz * std::sin(a), 0, -1, 0, 0.5 + 0.5 * std::cos(a),
                                  0.5 + 0.5 * std::sin(a));
    }
  }
  const long long wall = Capped ? 2 * e : 0;
  for (long long k = 0; k < R; ++k) {
    for (long long i = 0; i <= N; ++i) {
      const double a = angle(i);
      const double ca = std::cos(a), sa = std::sin(a);
      const double u = static_cast<double>(i) / N;
      const long long at = wall + 2 * e * k + 2 * i;
      out[at] = MakeVertex(x0 + rx * ca + bend(k), y0 + k * h, rz * sa, ca, tilt, sa, u, 1);
      out[at + 1] = MakeVertex(x0 + trx * ca + bend(k + 1), y0 + (k + 1) * h, trz * sa, ca, tilt, sa, u, 0);
    }
  }
  if (Capped) {
    const double topY = y0 + R * h;
    const double topX = x0 + bend(R);
    for (long long i = 0; i <= N; ++i) {
      const double a = angle(i), b = angle(N + 1 - i);
      const long long at = 2 * e + 2 * e * R + 2 * i;
      out[at] = MakeVertex(topX + trx * std::cos(a), topY, trz * std::sin(a), 0, 1, 0, 0.5 + 0.5 * std::cos(b),
                           0.5 + 0.5 * std::sin(b));
      out[at + 1] = MakeVertex(topX, topY, 0, 0, 1, 0, 0.5, 0.5);
    }
  }
  g.PrimitiveCount = static_cast<int>(V - 2);
  g.Valid = true;
  return g;
}

TShapeGeometry TzanObject::DiscGeometry() const {
  TShapeGeometry g;
  long long N = 0;
  if (!RoundCount(Param1, N) || N < 1) return g;
  const long long e = N + 1;
  if (2 * e > MaxShapeVertices) return g;
  const double rx = Param2, ry = Param3;
  const AnchorPoint anchor = AnchorOf(Anchor);
  const double cx = rx * (1 - 2 * anchor.fx);
  const double cy = ry * (1 - 2 * anchor.fy);
  g.Vertices.resize(static_cast<size_t>(2 * e));
  for (long long i = 0; i <= N; ++i) {
    // The half disc is the half below the centre.
    const double a = HalfRound ? static_cast<float>(Pi + i * Pi / N) : static_cast<float>(2 * Pi * i / N);
    const double ca = std::cos(a), sa = std::sin(a);
    g.Vertices[2 * i] = MakeVertex(cx + rx * ca, cy + ry * sa, 0, 0, 0, -1, 0.5 + 0.5 * ca, 0.5 - 0.5 * sa);
    g.Vertices[2 * i + 1] = MakeVertex(cx, cy, 0, 0, 0, -1, 0.5, 0.5);
  }
  g.PrimitiveCount = static_cast<int>(2 * e - 2);
  g.Valid = true;
  return g;
}

void TzanObject::Build(uint8_t NewShape, DWORD NewCull, D3DPRIMITIVETYPE NewType, const TShapeGeometry& Geometry) {
  Shape = NewShape;
  FVF = ModelVertexFVF;
  Stride = sizeof(TModelVertex);
  CullMode = NewCull;
  PrimitiveType = NewType;
  PrimitiveCount = Geometry.Valid ? Geometry.PrimitiveCount : 0;
  VertexBuffer.reset();
  // Refused counts leave the object without geometry: it is skipped when drawn.
  auto* d = Dev();
  if (!Geometry.Valid || !d) return;
  const UINT bytes = static_cast<UINT>(Geometry.Vertices.size() * sizeof(TModelVertex));
  LPDIRECT3DVERTEXBUFFER9 vb;
  if (FAILED(d->CreateVertexBuffer(bytes, 0, FVF, D3DPOOL_DEFAULT, vb, nullptr)) || !vb) return;
  void* data = nullptr;
  // A buffer that cannot be filled is dropped, so that it is never drawn unwritten.
  if (FAILED(vb->Lock(0, bytes, &data, 0)) || !data) return;
  std::memcpy(data, Geometry.Vertices.data(), bytes);
  vb->Unlock();
  VertexBuffer = vb;
}

void TzanObject::BuildPlane() { Build(0, D3DCULL_NONE, D3DPT_TRIANGLELIST, PlaneGeometry()); }

void TzanObject::BuildCylinder() {
  Build(2, Capped ? D3DCULL_CCW : D3DCULL_NONE, D3DPT_TRIANGLESTRIP, CylinderGeometry());
}

void TzanObject::BuildDisc() { Build(5, D3DCULL_CCW, D3DPT_TRIANGLESTRIP, DiscGeometry()); }

void TzanObject::Rescale(float SX, float SY, float SZ) {
  // Rescaling divides by the current scale: a zero (or non-finite) scale on either
  // side would destroy the vertex data for good, so it is refused.
  if (!UsableScale(SX) || !UsableScale(SY) || !UsableScale(SZ)) return;
  if (!UsableScale(Scale.x) || !UsableScale(Scale.y) || !UsableScale(Scale.z)) return;
  if (!VertexBuffer) return;
  void* data = nullptr;
  if (FAILED(VertexBuffer->Lock(0, 0, &data, 0)) || !data) return;
  const long long n = PrimitiveType == D3DPT_TRIANGLELIST ? 3LL * PrimitiveCount : PrimitiveCount + 2LL;
  // Never walk past the buffer, whatever PrimitiveCount was set to.
  D3DVERTEXBUFFER_DESC desc{};
  long long room = n;
  if (SUCCEEDED(VertexBuffer->GetDesc(&desc))) room = desc.Size / sizeof(TModelVertex);
  TModelVertex* v = static_cast<TModelVertex*>(data);
  for (long long i = 0; i < n && i < room; ++i) {
    v[i].x = static_cast<float>(static_cast<double>(v[i].x) / Scale.x * SX);
    v[i].y = static_cast<float>(static_cast<double>(v[i].y) / Scale.y * SY);
    v[i].z = static_cast<float>(static_cast<double>(v[i].z) / Scale.z * SZ);
  }
  Scale = {SX, SY, SZ};
  VertexBuffer->Unlock();
}

bool TzanObject::Blending() const {
  return Material.Diffuse.a != 1.0f || AlphaBlend || ColorBlend || Additive;
}

void TzanObject::ColorBlendStates() {
  auto* d = Dev();
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLOROP, ColorOp);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
  if (!Translucent) d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_DESTCOLOR);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
}

void TzanObject::DrawObject(bool Nested) {
  auto* d = Dev();
  // Without geometry there is nothing to draw, and no state is touched.
  if (!d || !VertexBuffer) return;

  const bool blending = Blending();
  const bool alphaTested = AlphaBlend || AlphaRef > 0;
  DWORD colorOp = 0, colorArg1 = 0, colorArg2 = 0, srcBlend = 0, destBlend = 0;
  DWORD alphaBlendEnable = 0, alphaArg1 = 0, alphaOp = 0, alphaTest = 0, materialSource = 0;

  if (!Nested) {
    d->GetTextureStageState(0, D3DTSS_COLOROP, &colorOp);
    d->GetTextureStageState(0, D3DTSS_COLORARG1, &colorArg1);
    d->GetTextureStageState(0, D3DTSS_COLORARG2, &colorArg2);
    d->GetRenderState(D3DRS_SRCBLEND, &srcBlend);
    d->GetRenderState(D3DRS_DESTBLEND, &destBlend);
    if (blending) d->GetRenderState(D3DRS_ALPHABLENDENABLE, &alphaBlendEnable);
    if (Material.Diffuse.a != 1.0f) {
      Translucent = true;
      d->GetTextureStageState(0, D3DTSS_ALPHAARG1, &alphaArg1);
      d->GetTextureStageState(0, D3DTSS_ALPHAOP, &alphaOp);
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    }
    if (AlphaBlend) {
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    }
    if (alphaTested) {
      d->GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
      if (D3D->Caps.AlphaCmpCaps & D3DPCMPCAPS_GREATEREQUAL) {
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHAREF, AlphaRef & 0xFFFFFF);
        d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
      }
      d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    }
    d->SetRenderState(D3DRS_SHADEMODE, ShadeMode);
    d->SetRenderState(D3DRS_FILLMODE, FillMode);
    d->SetRenderState(D3DRS_CULLMODE, CullMode);
  }

  if (Additive) {
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  }
  if (Translucent) {
    d->GetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, &materialSource);
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    if (AlphaBlend) {
      d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    } else {
      d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
      d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    }
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  }
  d->SetMaterial(&Material);

  if (!SphereMapped) {
    d->SetTexture(0, Textured ? Texture : nullptr);
    if (ColorBlend) ColorBlendStates();
    DrawBuffer();
  } else if (!Textured) {
    if (ColorBlend) ColorBlendStates();
    DrawSphereMapped();
  } else {
    // Two passes: the texture, then the environment laid over it by colour.
    d->SetTexture(0, Texture);
    if (ColorBlend) ColorBlendStates();
    DrawBuffer();
    if (!Translucent) d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    DrawSphereMapped();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  }

  if (!Nested) {
    d->SetTextureStageState(0, D3DTSS_COLOROP, colorOp);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, colorArg1);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, colorArg2);
    d->SetRenderState(D3DRS_SRCBLEND, srcBlend);
    d->SetRenderState(D3DRS_DESTBLEND, destBlend);
    if (Translucent) {
      d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, materialSource);
      d->SetTextureStageState(0, D3DTSS_ALPHAARG1, alphaArg1);
      d->SetTextureStageState(0, D3DTSS_ALPHAOP, alphaOp);
      Translucent = false;
    }
    if (ColorBlend) d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    if (alphaTested) d->SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest);
    if (blending) d->SetRenderState(D3DRS_ALPHABLENDENABLE, alphaBlendEnable);
  }
}

// ---------------------------------------------------------------- TzanObjectSet

void TzanObjectSet::Add(TzanObject* Obj) {
  if (!Obj) return;
  Items.push_back(Obj);
  Obj->Owner = this;
}

void TzanObjectSet::Rescale(float SX, float SY, float SZ) {
  if (!UsableScale(SX) || !UsableScale(SY) || !UsableScale(SZ)) return;
  for (TzanObject* obj : Items) {
    if (!obj) continue;
    // The place follows the scale the shape really took: an object that could not
    // rescale (no geometry, a failed lock) keeps its place too, so the two never part.
    const D3DXVECTOR3 old = obj->Scale;
    obj->Rescale(SX, SY, SZ);
    if (obj->Scale == old) continue;
    obj->BasePosition.x = static_cast<float>(static_cast<double>(obj->BasePosition.x) / old.x * obj->Scale.x);
    obj->BasePosition.y = static_cast<float>(static_cast<double>(obj->BasePosition.y) / old.y * obj->Scale.y);
    obj->BasePosition.z = static_cast<float>(static_cast<double>(obj->BasePosition.z) / old.z * obj->Scale.z);
  }
}

void TzanObjectSet::DrawAll(bool Nested) {
  for (TzanObject* obj : Items) {
    if (!obj || !obj->Visible) continue;
    const float alpha = obj->Material.Diffuse.a;
    if (Alpha < 1.0f) obj->Material.Diffuse.a = alpha == 1.0f ? Alpha : Alpha * alpha;
    obj->Position = obj->BasePosition;
    obj->Offset = Position;
    // The set turns its objects about its own origin for this draw only; the old
    // orbit is put back as it was, so no rounding creeps in from frame to frame.
    const D3DXVECTOR3 orbit = obj->Orbit;
    obj->Orbit.x = orbit.x + Rotation.x;
    obj->Orbit.y = orbit.y + Rotation.y;
    obj->Orbit.z = orbit.z + Rotation.z;
    obj->UpdateWorld();
    obj->Orbit = orbit;
    obj->DrawObject(Nested);
    obj->Material.Diffuse.a = alpha;
  }
}

void TzanObjectSet::Clear() {
  for (TzanObject*& obj : Items) {
    delete obj;
    obj = nullptr;
  }
  // A cleared set holds nothing to draw or rescale.
  Items.clear();
}
