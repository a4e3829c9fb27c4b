#pragma once
// The device of the tests that hold the layer to what Direct3D 9 draws: Wine's 640 x 480, and
// the quads and colour checks of Wine's Direct3D 9 tests (dlls/d3d9/tests/visual.c).

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

#include "tests/support/gfx_device.h"

namespace gfxtest {

struct Vertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
  float x, y, z;
  D3DCOLOR diffuse;
};
constexpr DWORD kVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

struct NormalVertex {  // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE
  float x, y, z, nx, ny, nz;
  D3DCOLOR diffuse;
};
constexpr DWORD kNormalFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

struct FogVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR
  float x, y, z;
  D3DCOLOR diffuse, specular;
};
struct FogScreenVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR
  float x, y, z, rhw;
  D3DCOLOR diffuse, specular;
};

inline const WORD kQuadIndexes[] = {0, 1, 2, 2, 3, 0};

inline D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

class GfxGl_d3d9Behaviour : public ::testing::Test {
 protected:
  void SetUp() override {
    gx::ClearFaults();
    device = MakeDevice(gx::BackendKind::Gl, 640, 480);
    ASSERT_TRUE(device) << "no headless OpenGL 3.3";
    d = device.get();
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  }

  // The four-vertex list drawn as two indexed triangles, as the reference draws its quads.
  template <class V>
  void DrawIndexedQuad(DWORD fvf, const V* quad) {
    d->SetFVF(fvf);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, kQuadIndexes, D3DFMT_INDEX16, quad,
                                                sizeof(V)));
    d->EndScene();
  }
  template <class V>
  void DrawStrip(DWORD fvf, const V* quad) {
    d->SetFVF(fvf);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V)));
    d->EndScene();
  }
  // A quad over the whole target in one colour, untransformed, for the stage tests.
  void DrawFullQuad(D3DCOLOR diffuse) {
    const Vertex quad[] = {{-1, -1, 0.1f, diffuse}, {-1, 1, 0.1f, diffuse}, {1, -1, 0.1f, diffuse}, {1, 1, 0.1f, diffuse}};
    DrawStrip(kVertexFvf, quad);
  }

  std::shared_ptr<IDirect3DTexture9> SolidTexture(D3DCOLOR argb) { return gfxtest::SolidTexture(d, argb); }

  void SetFloatState(D3DRENDERSTATETYPE state, float value) { d->SetRenderState(state, gx::FloatAsDword(value)); }

  std::shared_ptr<IDirect3DDevice9> device;
  IDirect3DDevice9* d = nullptr;
};

// The colour at (x, y) as 0xRRGGBB, compared channel by channel as the reference does.
inline void ExpectColor(const Picture& p, UINT x, UINT y, D3DCOLOR want, int tolerance, const std::string& what) {
  Rgba got = p.At(x, y);
  char text[32];
  std::snprintf(text, sizeof text, "%02x%02x%02x", got.r, got.g, got.b);
  const int wr = int(want >> 16 & 0xFF), wg = int(want >> 8 & 0xFF), wb = int(want & 0xFF);
  EXPECT_TRUE(std::abs(got.r - wr) <= tolerance && std::abs(got.g - wg) <= tolerance &&
              std::abs(got.b - wb) <= tolerance)
      << what << " at " << x << "," << y << ": got " << text << ", expected " << std::hex << want;
}
inline void ExpectColor(IDirect3DDevice9* d, UINT x, UINT y, D3DCOLOR want, int tolerance, const std::string& what) {
  ExpectColor(Picture(d), x, y, want, tolerance, what);
}

// Several pixels of one read-back.
struct Probe {
  UINT x, y;
  D3DCOLOR want;
  int tolerance;
  std::string what;
};
inline void ExpectColors(IDirect3DDevice9* d, std::initializer_list<Probe> probes) {
  Picture p(d);
  for (const Probe& c : probes) ExpectColor(p, c.x, c.y, c.want, c.tolerance, c.what);
}

}  // namespace gfxtest
