#include "engine/vokWater.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

#include "engine/vokD3D.h"

TRefractEntry RefractTable[256];
D3DCOLOR CausticShades[8];

namespace {

bool CausticShadesFilled = false;

// The floor under the water is the inside of a sphere: radius 50, centre 20 units up.
constexpr float BowlLift = 20.0f;
constexpr float BowlRadiusSquared = 2500.0f;

struct Vec3 {
  float x, y, z;
};

inline float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vec3 Normalized(Vec3 v) {
  const float len = std::sqrt(Dot(v, v));
  if (!(len > 0.0f)) return {0.0f, 0.0f, 0.0f};
  const float inv = 1.0f / len;
  return {v.x * inv, v.y * inv, v.z * inv};
}

// Index into RefractTable of a cosine in 0..1: the product is kept as a Single,
// truncated toward zero and held inside the table (NaN lands on 0).
inline int RefractIndex(float cosine) {
  const float scaled = cosine * 255.0f;
  if (!(scaled > 0.0f)) return 0;
  if (scaled >= 255.0f) return 255;
  return static_cast<int>(scaled);
}

// Where the ray from P (relative to the bowl centre) along T meets the bowl; a
// point outside the bowl looks straight down. Returns the x and z of the hit.
inline void BowlHit(const Vec3& P, const Vec3& T, float& hx, float& hz) {
  const float c = Dot(P, P) - BowlRadiusSquared;
  if (c >= 0.0f) {
    hx = P.x;
    hz = P.z;
    return;
  }
  const float b = 2.0f * Dot(T, P);
  const float t = (std::sqrt(b * b - 4.0f * c) - b) * 0.5f;
  hx = T.x * t + P.x;
  hz = T.z * t + P.z;
}

}  // namespace

void FillRefractTable() {
  for (int i = 0; i < 256; ++i) {
    // Every intermediate is kept as a Single, as the table always was.
    const float cos0 = static_cast<float>(i) / 256.0f;
    const float a0 = static_cast<float>(std::acos(static_cast<double>(cos0)));
    const float sin0 = static_cast<float>(std::sin(static_cast<double>(a0)));
    const float sin1 = static_cast<float>(static_cast<double>(sin0) / 1.333);  // water's index
    const float a1 = static_cast<float>(std::asin(static_cast<double>(sin1)));
    const float cos1 = static_cast<float>(std::cos(static_cast<double>(a1)));
    TRefractEntry& e = RefractTable[i];
    e.Refract = static_cast<float>(static_cast<double>(sin0) / sin1 * cos1 - cos0);
    e.Scale = static_cast<float>(-static_cast<double>(sin1) / sin0);
    const uint32_t k = static_cast<uint32_t>(255 - i);
    e.Diffuse = ((k * k * k) << 8) & 0xFF000000u;
  }
}

void FillWaterIndices(uint16_t* Indices) {
  int n = 0;
  auto emit = [&](int a, int b) {
    Indices[n++] = static_cast<uint16_t>(a);
    Indices[n++] = static_cast<uint16_t>(b);
  };
  int x = 0, y = 0;
  for (int ring = 64; ring >= 2; ring -= 2) {
    for (int k = 0; k < ring; ++k) {
      emit(y * 64 + x, y * 64 + x + 64);
      ++x;
    }
    --x;
    ++y;
    for (int k = 0; k < ring - 1; ++k) {
      emit(y * 64 + x, y * 64 + x - 1);
      ++y;
    }
    --y;
    --x;
    for (int k = 0; k < ring - 1; ++k) {
      emit(y * 64 + x, y * 64 + x - 64);
      --x;
    }
    ++x;
    --y;
    if (ring >= 3) {
      for (int k = 0; k < ring - 2; ++k) {
        emit(y * 64 + x, y * 64 + x + 1);
        --y;
      }
      ++y;
      ++x;
    }
  }
}

uint16_t EncodeWaterHeight(float Height) {
  constexpr float kSteps = 65535.0f;
  float q = (Height + WaterHeightLimit) * (kSteps / (2.0f * WaterHeightLimit)) + 0.5f;
  if (!(q > 0.0f)) q = 0.0f;  // NaN too: a broken cell must not wrap to the top of the range
  if (q > kSteps) q = kSteps;
  return static_cast<uint16_t>(q);
}

// ---------------------------------------------------------------- TWater

TWater::TWater(TvokD3D* D3D) {
  if (D3D) Device = D3D->Device;
}

TWater::~TWater() {
  IndexBuffer.reset();
  SurfaceBuffer.reset();
  CausticsBuffer.reset();
  HeightTexture.reset();
}

HRESULT TWater::Init(float NewSize) {
  Size = NewSize;
  InvSize = 1.0f / NewSize;
  VertexCount = WaterVertexCount;
  IndexCount = WaterIndexCount;
  if (!Refraction) {
    FillRefractTable();
    Refraction = RefractTable;
  }
  if (!Cells) {
    Cells.reset(new (std::nothrow) TWaterCell[WaterVertexCount]);
    if (!Cells) return E_OUTOFMEMORY;
    std::memset(Cells.get(), 0, sizeof(TWaterCell) * WaterVertexCount);
  }
  return S_OK;
}

HRESULT TWater::CreateBuffers() {
  const DWORD usage = D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC;
  if (!Device) return E_FAIL;
  if (!IndexBuffer) {
    LPDIRECT3DINDEXBUFFER9 ib;
    HRESULT hr = Device->CreateIndexBuffer(WaterIndexCount * 2, usage, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib, nullptr);
    if (FAILED(hr)) return hr;
    void* data = nullptr;
    hr = ib->Lock(0, WaterIndexCount * 2, &data, D3DLOCK_DISCARD);
    if (FAILED(hr)) return hr;  // not kept: a strip never written must not be drawn
    FillWaterIndices(static_cast<uint16_t*>(data));
    ib->Unlock();
    IndexBuffer = ib;
  }
  if (!SurfaceBuffer) {
    HRESULT hr = Device->CreateVertexBuffer(WaterVertexCount * sizeof(TWaterVertex), usage, WaterVertexFVF,
                                            D3DPOOL_DEFAULT, SurfaceBuffer, nullptr);
    if (FAILED(hr)) return hr;
  }
  if (!CausticsBuffer) {
    HRESULT hr = Device->CreateVertexBuffer(WaterVertexCount * sizeof(TCausticVertex), usage, CausticVertexFVF,
                                            D3DPOOL_DEFAULT, CausticsBuffer, nullptr);
    if (FAILED(hr)) return hr;
  }
  return CreateHeightTexture();
}

HRESULT TWater::CreateHeightTexture() {
  if (!Device) return E_FAIL;
  if (HeightTexture) return S_OK;
  LPDIRECT3DTEXTURE9 texture;
  HRESULT hr = Device->CreateTexture(WaterGridSide, WaterGridSide, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8,
                                     D3DPOOL_DEFAULT, texture, nullptr);
  if (FAILED(hr)) return hr;
  // Kept only once it holds heights: zeroed texels would read as the deepest trough.
  HeightTexture = texture;
  hr = WriteHeightTexture();
  if (FAILED(hr)) HeightTexture.reset();
  return hr;
}

HRESULT TWater::WriteHeightTexture() {
  D3DLOCKED_RECT locked{};
  const HRESULT hr = HeightTexture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
  if (FAILED(hr)) return hr;
  FillHeights(static_cast<DWORD*>(locked.pBits), locked.Pitch / static_cast<int>(sizeof(DWORD)));
  return HeightTexture->UnlockRect(0);
}

HRESULT TWater::Drop(int X, int Y) {
  if (!Cells) return S_OK;  // nothing to push before Init
  auto push = [&](int x, int y, float amount) { Cells[WaterCellIndex(x, y)].Velocity -= amount; };
  push(X, Y, 0.25f);
  push(X - 1, Y, 0.125f);
  push(X + 1, Y, 0.125f);
  push(X, Y - 1, 0.125f);
  push(X, Y + 1, 0.125f);
  push(X - 1, Y - 1, 0.0625f);
  push(X + 1, Y + 1, 0.0625f);
  push(X + 1, Y - 1, 0.0625f);
  push(X - 1, Y + 1, 0.0625f);
  return S_OK;
}

void TWater::Simulate() {
  TWaterCell* c = Cells.get();
  float sum = 0.0f;
  for (int y = 0; y < WaterGridSide; ++y) {
    // Rows and columns wrap: the grid is a torus.
    const TWaterCell* up = c + WaterCellIndex(0, y - 1);
    TWaterCell* row = c + WaterCellIndex(0, y);
    const TWaterCell* down = c + WaterCellIndex(0, y + 1);
    for (int x = 0; x < WaterGridSide; ++x) {
      const int l = (x - 1) & 63, r = (x + 1) & 63;
      const float diagonal = up[l].Height + up[r].Height + down[l].Height + down[r].Height;
      const float straight = up[x].Height + row[l].Height + row[r].Height + down[x].Height;
      const float target = diagonal * (1.0f / 12.0f) + straight * (1.0f / 6.0f);
      TWaterCell& cell = row[x];
      float v = cell.Velocity;
      // Small velocities are left undamped so that calm water does not creep to a halt unevenly.
      if (v > 0.01f || v < -0.01f) v *= 0.99f;
      v += (target - cell.Height) * 0.25f;
      cell.Velocity = v;
      sum += cell.Height + v;
    }
  }
  AverageHeight = sum / static_cast<float>(WaterVertexCount);
}

void TWater::BuildSurface(TWaterVertex* Out, const D3DXVECTOR3& Eye) {
  TWaterCell* c = Cells.get();
  const float step = Size / 63.0f;
  const float half = Size / 2.0f;
  // First the walk that moves the heights in place and takes the slopes: the order
  // matters, since neighbours already walked carry their new height.
  float pz = -half;
  for (int y = 0; y < WaterGridSide; ++y) {
    const TWaterCell* up = c + WaterCellIndex(0, y - 1);
    TWaterCell* row = c + WaterCellIndex(0, y);
    const TWaterCell* down = c + WaterCellIndex(0, y + 1);
    TWaterVertex* out = Out + y * WaterGridSide;
    float px = -half;
    for (int x = 0; x < WaterGridSide; ++x) {
      const int left = (x - 1) & 63, right = (x + 1) & 63;
      TWaterCell& cell = row[x];
      const float h = cell.Height + cell.Velocity - AverageHeight;
      cell.Height = h;
      const float ul = up[left].Height, ur = up[right].Height, dl = down[left].Height, dr = down[right].Height;
      TWaterVertex& v = out[x];
      v.x = px;
      v.y = h;
      v.z = pz;
      v.nx = (ul - dr) - (ur - dl) + (row[left].Height - row[right].Height);
      v.ny = 1.0f;
      v.nz = (ul - dr) + (up[x].Height - down[x].Height) + (ur - dl);
      px += step;
    }
    pz += step;
  }
  // Then each vertex on its own: normal, view, reflection share and the floor seen through it.
  const Vec3 eye{Eye.x, Eye.y, Eye.z};
  for (int k = 0; k < WaterVertexCount; ++k) {
    TWaterVertex& v = Out[k];
    const Vec3 n = Normalized({v.nx, v.ny, v.nz});
    const Vec3 e = Normalized({eye.x - v.x, eye.y - v.y, eye.z - v.z});
    const TRefractEntry& r = Refraction[RefractIndex(Dot(e, n))];
    v.nx = n.x;
    v.ny = n.y;
    v.nz = n.z;
    v.Diffuse = r.Diffuse;
    const Vec3 t{(n.x * r.Refract + e.x) * r.Scale, (n.y * r.Refract + e.y) * r.Scale,
                 (n.z * r.Refract + e.z) * r.Scale};
    float hx, hz;
    BowlHit({v.x, v.y - BowlLift, v.z}, t, hx, hz);
    v.u = hx * InvSize + 0.5f;
    v.v = hz * InvSize + 0.5f;
  }
}

void TWater::FillHeights(DWORD* Texels, int Pitch) const {
  uint16_t row[WaterGridSide];
  for (int y = 0; y < WaterGridSide; ++y) {
    for (int x = 0; x < WaterGridSide; ++x)
      row[x] = EncodeWaterHeight(Cells ? Cells[y * WaterGridSide + x].Height : 0.0f);
    DWORD* out = Texels + static_cast<std::ptrdiff_t>(y) * Pitch;
    for (int x = 0; x < WaterGridSide; ++x) {
      const DWORD here = row[x], right = row[(x + 1) % WaterGridSide];
      // Bytes A, R, G, B of the DWORD: right's low byte, here high and low, right's high byte.
      out[x] = ((right & 0xFFu) << 24) | (here << 8) | (right >> 8);
    }
  }
}

void TWater::BuildCaustics(const TWaterVertex* Surface, TCausticVertex* Out, const D3DXVECTOR3& Light) {
  if (!CausticShadesFilled) {
    for (int i = 0; i < 8; ++i) {
      const uint32_t g = static_cast<uint32_t>(64 / (i + 1));
      CausticShades[i] = (g << 16) | (g << 8) | g;
    }
    CausticShadesFilled = true;
  }
  const Vec3 light{Light.x, Light.y, Light.z};
  for (int j = 0; j < WaterGridSide; ++j) {
    for (int i = 0; i < WaterGridSide; ++i) {
      const int k = j * WaterGridSide + i;
      const TWaterVertex& s = Surface[k];
      const TRefractEntry& r = Refraction[RefractIndex(s.ny)];
      const Vec3 t{(s.nx * r.Refract + light.x) * r.Scale, (s.ny * r.Refract + light.y) * r.Scale,
                   (s.nz * r.Refract + light.z) * r.Scale};
      TCausticVertex& q = Out[k];
      BowlHit({s.x, s.y - BowlLift, s.z}, t, q.x, q.z);
      q.y = 0.0f;
      q.Diffuse = 0;
      if (i != 0 && j != 0) {
        // A cell that the refraction squeezes onto a small patch of floor shines brightly.
        const TCausticVertex& a = Out[k - 65];
        const TCausticVertex& b = Out[k - 64];
        const float area = (a.x - q.x) * (b.z - q.z) - (b.x - q.x) * (a.z - q.z);
        const float s4 = 4.0f * area * area;
        if (s4 < 8.0f) q.Diffuse = CausticShades[static_cast<int>(s4)];
      }
    }
    Out[j * WaterGridSide].Diffuse = Out[j * WaterGridSide + WaterGridSide - 1].Diffuse;
  }
  for (int i = 0; i < WaterGridSide; ++i) Out[i].Diffuse = Out[63 * WaterGridSide + i].Diffuse;
}

HRESULT TWater::Update(const D3DXVECTOR3& Eye, const D3DXVECTOR3& Light, bool WithCaustics) {
  if (!Cells || !Refraction) return E_FAIL;  // Init has not run
  Simulate();
  // A missing buffer fails like a failed lock.
  if (!SurfaceBuffer || (WithCaustics && !CausticsBuffer)) return D3DERR_INVALIDCALL;
  void* surface = nullptr;
  HRESULT hr = SurfaceBuffer->Lock(0, 0, &surface, 0);
  if (FAILED(hr)) return hr;
  TWaterVertex* vertices = static_cast<TWaterVertex*>(surface);
  BuildSurface(vertices, Eye);
  if (WithCaustics) {
    void* caustics = nullptr;
    hr = CausticsBuffer->Lock(0, 0, &caustics, 0);
    if (FAILED(hr)) {
      SurfaceBuffer->Unlock();
      return hr;
    }
    BuildCaustics(vertices, static_cast<TCausticVertex*>(caustics), Light);
    CausticsBuffer->Unlock();
  }
  SurfaceBuffer->Unlock();
  // The heights as the surface walk left them, for an effect that shades per pixel.
  return HeightTexture ? WriteHeightTexture() : S_OK;
}

HRESULT TWater::DrawMesh(DWORD FVF, const LPDIRECT3DVERTEXBUFFER9& Buffer, UINT Stride) {
  if (!Device) return E_FAIL;
  // A mesh whose buffers were never made is not drawn at all.
  if (!Buffer || !IndexBuffer) return D3DERR_INVALIDCALL;
  HRESULT hr = Device->SetFVF(FVF);
  if (FAILED(hr)) return hr;
  hr = Device->SetStreamSource(0, Buffer, 0, Stride);
  if (FAILED(hr)) return hr;
  hr = Device->SetIndices(IndexBuffer);
  if (FAILED(hr)) return hr;
  return Device->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 0, WaterVertexCount, 0, WaterPrimitiveCount);
}

HRESULT TWater::DrawSurface() { return DrawMesh(WaterVertexFVF, SurfaceBuffer, sizeof(TWaterVertex)); }

HRESULT TWater::DrawCaustics() { return DrawMesh(CausticVertexFVF, CausticsBuffer, sizeof(TCausticVertex)); }

// ---------------------------------------------------------------- TWaterEffect

TWaterEffect::TWaterEffect(TvokD3D* D3D, float Size, const void* EffectData, int EffectSize, const void* CubeData,
                           int CubeSize, LPDIRECT3DTEXTURE9 FloorTexture)
    : D3D(D3D),
      FloorTexture(std::move(FloorTexture)),
      CubeData(CubeData),
      CubeSize(CubeSize),
      Size(Size),
      EffectData(EffectData),
      EffectSize(EffectSize) {
  D3DXMatrixIdentity(&Projection);
  D3DXMatrixIdentity(&View);
  D3DXMatrixIdentity(&Camera);
  Water = std::make_unique<TWater>(D3D);

  if (D3D && D3D->Device) {
    const LPDIRECT3DDEVICE9& device = D3D->Device;
    if ((D3D->Caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP) && CubeData && CubeSize > 0) {
      GxD3DXTakeLastError();
      const HRESULT hr = D3DXCreateCubeTextureFromFileInMemory(device, CubeData, static_cast<UINT>(CubeSize), EnvCube);
      if (FAILED(hr)) {
        EnvCube.reset();
        CubeError = GxD3DXTakeLastError();
        if (CubeError.empty()) CubeError = "the device could not make the cube map";
      }
    }
    if (EffectData && EffectSize > 0) {
      LPD3DXBUFFER errors;
      GxD3DXTakeLastError();
      if (FAILED(D3DXCreateEffect(device, EffectData, static_cast<UINT>(EffectSize), nullptr, nullptr, 0, nullptr,
                                  Effect, &errors))) {
        Effect.reset();
        EffectError = errors ? std::string(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize())
                             : GxD3DXTakeLastError();
        while (!EffectError.empty() && (EffectError.back() == '\n' || EffectError.back() == '\0'))
          EffectError.pop_back();
        if (EffectError.empty()) EffectError = "the device could not make the effect";
      } else {
        // Made, but a pass whose shader the device refused is left out of its technique.
        EffectError = GxD3DXTakeLastError();
      }
    } else if (EffectData) {
      EffectError = "the effect is empty";
    }
  }

  Water->Init(Size);
  Camera._41 = 1.0f;
  Camera._42 = 5.0f;
  Camera._43 = 1.0f;
  Camera._44 = 1.0f;

  CreateDeviceObjects();
}

TWaterEffect::~TWaterEffect() {
  Water.reset();
  FloorTexture.reset();
  EnvCube.reset();
  Effect.reset();
}

HRESULT TWaterEffect::CreateDeviceObjects() {
  if (!D3D || !D3D->Device) return E_FAIL;
  const LPDIRECT3DDEVICE9& device = D3D->Device;
  // The caustics texture and its renderer are optional: without them the water is
  // still drawn, only without caustics.
  D3DDISPLAYMODE mode{};
  HRESULT hr = device->GetDisplayMode(0, &mode);
  if (SUCCEEDED(hr)) {
    hr = D3DXCreateTexture(device, 128, 128, 1, D3DUSAGE_RENDERTARGET, mode.Format, D3DPOOL_DEFAULT,
                           CausticsTexture);
    if (FAILED(hr)) hr = D3DXCreateTexture(device, 128, 128, 1, 0, mode.Format, D3DPOOL_DEFAULT, CausticsTexture);
  }
  D3DSURFACE_DESC desc{};
  if (SUCCEEDED(hr) && CausticsTexture) hr = CausticsTexture->GetSurfaceLevel(0, CausticsSurface);
  if (SUCCEEDED(hr) && CausticsSurface) hr = CausticsSurface->GetDesc(&desc);
  if (SUCCEEDED(hr) && CausticsSurface)
    hr = D3DXCreateRenderToSurface(device, desc.Width, desc.Height, desc.Format, FALSE, D3DFMT_UNKNOWN,
                                   RenderToSurface);
  HRESULT result = hr;
  if (SUCCEEDED(hr) && RenderToSurface && SUCCEEDED(RenderToSurface->BeginScene(CausticsSurface, nullptr))) {
    // A render target starts with whatever memory it got: black until the first
    // caustics pass, so a technique that reads it early adds no light.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0.0f, 0);
    RenderToSurface->EndScene(0);
  }
  if (FAILED(hr) || !RenderToSurface) {
    CausticsEnabled = false;
    RenderToSurface.reset();
    CausticsSurface.reset();
    CausticsTexture.reset();
  }

  if (Effect) {
    Effect->OnResetDevice();
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    Effect->SetMatrix("mID", &identity);
    Effect->SetMatrix("mENV", &identity);
    Effect->SetTexture("tFLR", FloorTexture);
    Effect->SetTexture("tCAU", CausticsTexture);
    Effect->SetTexture("tENV", EnvCube);
    // What the per-pixel techniques work from: the heights, the pool's size, the viewer.
    Water->CreateHeightTexture();
    Effect->SetTexture("tHGT", Water->HeightTexture);
    Effect->SetFloat("fSIZE", Size);
    Effect->SetFloat("fHMAX", WaterHeightLimit);
    SetEffectEye();
    SelectTechnique(0, false);
  }
  hr = Water->CreateBuffers();
  return FAILED(result) ? result : hr;
}

bool TWaterEffect::EffectUses(const char* Parameter) const {
  return Effect && Effect->IsParameterUsed(Parameter, nullptr);
}

HRESULT TWaterEffect::SelectTechnique(int Step, bool AcceptAny) {
  if (!Effect) return E_FAIL;
  D3DXEFFECT_DESC desc{};
  if (FAILED(Effect->GetDesc(&desc)) || desc.Techniques == 0) return E_FAIL;
  const int n = static_cast<int>(desc.Techniques);
  int i = Technique;
  bool wrapped = false;
  // Every technique is examined at most once, whatever the step.
  for (int examined = 0; examined <= n && !wrapped; ++examined) {
    i += Step;
    if (i < 0) i = n - 1;
    if (i >= n) i = 0;
    if (Step != 0 && i == Technique) wrapped = true;
    if (Step == 0) Step = 1;
    D3DXHANDLE technique = Effect->GetTechnique(static_cast<UINT>(i));
    Effect->SetTechnique(technique);
    if (!AcceptAny && i != n - 1) {
      if (!CausticsEnabled && Effect->IsParameterUsed("tCAU", nullptr)) continue;
      if (!Water->HeightTexture && Effect->IsParameterUsed("tHGT", nullptr)) continue;
      if (FAILED(Effect->ValidateTechnique(nullptr))) continue;
    }
    // The last technique needs nothing: it is the one that runs anywhere.
    Technique = i;
    Effect->SetTechnique(technique);
    return S_OK;
  }
  return E_FAIL;
}

D3DXMATRIX TWaterEffect::WorldMatrix() const {
  D3DXMATRIX r, t, w;
  D3DXMatrixRotationYawPitchRoll(&r, Rotation.y, Rotation.x, Rotation.z);
  D3DXMatrixTranslation(&t, Position.x, Position.y, Position.z);
  D3DXMatrixMultiply(&w, &r, &t);
  if (Orbit.x != 0.0f || Orbit.y != 0.0f || Orbit.z != 0.0f) {
    D3DXMatrixRotationYawPitchRoll(&r, Orbit.y, Orbit.x, Orbit.z);
    D3DXMatrixMultiply(&w, &w, &r);
  }
  return w;
}

HRESULT TWaterEffect::SetWorld() {
  IDirect3DDevice9* device = D3D ? D3D->Device.get() : nullptr;
  if (!device) return E_FAIL;
  const D3DXMATRIX w = WorldMatrix();
  return device->SetTransform(D3DTS_WORLD, &w);
}

HRESULT TWaterEffect::Update(const D3DXVECTOR3& TargetVelocity, const D3DXVECTOR3& TargetSpin) {
  if (!D3D) return E_FAIL;
  if (LastTime == 0) LastTime = D3D->FrameTime;
  const uint32_t dt = D3D->FrameTime - LastTime;
  // The simulation runs at most every 11 ms, whatever the frame rate.
  if (dt <= 10) return S_OK;
  LastTime = D3D->FrameTime;

  Velocity = Velocity * 0.9f + TargetVelocity * 0.1f;
  Spin = Spin * 0.9f + TargetSpin * 0.1f;
  const D3DXVECTOR3 move = Velocity * (static_cast<float>(dt) * Speed);
  const D3DXVECTOR3 turn = Spin * (static_cast<float>(dt) * SpinSpeed);
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, move.x, move.y, move.z);
  D3DXMatrixMultiply(&Camera, &m, &Camera);
  D3DXQUATERNION q;
  D3DXQuaternionRotationYawPitchRoll(&q, turn.y, turn.x, turn.z);
  D3DXMatrixRotationQuaternion(&m, &q);
  D3DXMatrixMultiply(&Camera, &m, &Camera);
  D3DXMatrixInverse(&View, nullptr, &Camera);

  if (!Enabled) return S_OK;
  const bool withCaustics = CausticsEnabled && EffectUses("tCAU");
  Water->Update(D3DXVECTOR3(Camera._41, Camera._42, Camera._43), D3DXVECTOR3(0, 1, 0), withCaustics);
  SetEffectEye();
  if (!withCaustics) return S_OK;
  return RenderCaustics();
}

// The refraction's viewer, for techniques that refract per pixel as Water->Update does per vertex.
void TWaterEffect::SetEffectEye() {
  if (!Effect) return;
  const D3DXVECTOR4 eye(Camera._41, Camera._42, Camera._43, 1.0f);
  Effect->SetVector("vEYE", &eye);
}

HRESULT TWaterEffect::RenderCaustics() {
  IDirect3DDevice9* device = D3D->Device.get();
  HRESULT hr = RenderToSurface && device ? RenderToSurface->BeginScene(CausticsSurface, nullptr) : E_FAIL;
  if (FAILED(hr)) {
    // Caustics are given up for good; a technique that does without them takes over.
    CausticsEnabled = false;
    if (Effect) Effect->SetTexture("tCAU", nullptr);
    return SelectTechnique(0, false);
  }
  D3DXMATRIX projection, view;
  D3DXMatrixOrthoRH(&projection, Size, Size, 1.0f, Size);
  device->SetTransform(D3DTS_PROJECTION, &projection);
  // Straight down the y axis from 50 units above the pool.
  D3DXMatrixRotationX(&view, SinglePi / 2);
  view._43 = -50.0f;
  device->SetTransform(D3DTS_VIEW, &view);
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0.0f, 0);
  // The caustics mesh lies in the pool's own coordinates and carries its light in
  // its vertex colours: drawn unlit, untextured, unfogged and added up, whatever
  // the frame had set. Those states are handed back as they were.
  D3DMATRIX world{};
  DWORD lighting = 0, fog = 0, srcBlend = 0, destBlend = 0;
  LPDIRECT3DBASETEXTURE9 texture;
  device->GetTransform(D3DTS_WORLD, &world);
  device->GetRenderState(D3DRS_LIGHTING, &lighting);
  device->GetRenderState(D3DRS_FOGENABLE, &fog);
  device->GetRenderState(D3DRS_SRCBLEND, &srcBlend);
  device->GetRenderState(D3DRS_DESTBLEND, &destBlend);
  device->GetTexture(0, texture);
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  device->SetTransform(D3DTS_WORLD, &identity);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  device->SetTexture(0, nullptr);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  Water->DrawCaustics();
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  if (D3D->DepthBuffer) device->SetRenderState(D3DRS_ZENABLE, TRUE);
  device->SetTexture(0, texture);
  device->SetRenderState(D3DRS_DESTBLEND, destBlend);
  device->SetRenderState(D3DRS_SRCBLEND, srcBlend);
  device->SetRenderState(D3DRS_FOGENABLE, fog);
  device->SetRenderState(D3DRS_LIGHTING, lighting);
  device->SetTransform(D3DTS_WORLD, &world);
  RenderToSurface->EndScene(0);
  D3D->SetProjection(D3D->Aspect, 0.01f, 100.0f, SinglePi / 4);
  return S_OK;
}

HRESULT TWaterEffect::Render(bool KeepCamera) {
  IDirect3DDevice9* device = D3D ? D3D->Device.get() : nullptr;
  if (!device) return E_FAIL;
  if (!KeepCamera) {
    D3DXMatrixPerspectiveFovRH(&Projection, DegToRad(60), static_cast<float>(D3D->Width) / D3D->Height, 0.1f,
                               2000.0f);
    device->SetTransform(D3DTS_PROJECTION, &Projection);
    device->SetTransform(D3DTS_VIEW, &View);
  }
  if (!Enabled) return S_OK;
  // Without a compiled effect there is nothing to draw the water with.
  if (!Effect) return E_FAIL;
  if (EffectUses("mENV")) {
    D3DXMATRIX m = Camera, flip, env;
    m._41 = 0.0f;
    m._42 = 0.0f;
    m._43 = -0.4f;
    D3DXMatrixScaling(&flip, 1.0f, 1.0f, -1.0f);
    D3DXMatrixMultiply(&env, &m, &flip);
    Effect->SetMatrix("mENV", &env);
  }
  UINT passes = 0;
  HRESULT hr = Effect->Begin(&passes, 0);
  if (FAILED(hr)) return hr;
  for (UINT i = 0; i < passes; ++i) {
    Effect->BeginPass(i);
    Effect->CommitChanges();
    Water->DrawSurface();
    Effect->EndPass();
  }
  Effect->End();
  return S_OK;
}
