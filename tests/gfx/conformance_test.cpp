#include <cmath>
#include <cstring>

#include "tests/support/gfx_device.h"

using namespace gfxtest;

class GfxGl_conformance : public ScreenDrawingTest {};

TEST_F(GfxGl_conformance, OnePixelPretransformedQuadCoversExactlyThatPixel) {
  d->BeginScene();
  DrawRect(d, 10, 20, 11, 21, 0xFFFF0000);
  DrawRect(d, 0, 0, 1, 1, 0xFF00FF00);
  DrawRect(d, 63, 63, 64, 64, 0xFF0000FF);
  d->EndScene();
  Picture p(d);
  for (UINT y = 0; y < 64; ++y)
    for (UINT x = 0; x < 64; ++x) {
      Rgba c = p.At(x, y);
      Rgba want{0, 0, 0, 255};
      if (x == 10 && y == 20) want = {255, 0, 0, 255};
      if (x == 0 && y == 0) want = {0, 255, 0, 255};
      if (x == 63 && y == 63) want = {0, 0, 255, 255};
      ASSERT_EQ(want.r, c.r) << x << "," << y;
      ASSERT_EQ(want.g, c.g) << x << "," << y;
      ASSERT_EQ(want.b, c.b) << x << "," << y;
    }
}

namespace {

struct LitVertex {  // D3DFVF_XYZ | D3DFVF_NORMAL
  float x, y, z, nx, ny, nz;
};

struct ColorVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
  float x, y, z;
  D3DCOLOR color;
};

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

DWORD F2D(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

// Left-handed perspective, as D3DXMatrixPerspectiveFovLH builds it.
D3DMATRIX PerspectiveLH(float fovy, float aspect, float zn, float zf) {
  D3DMATRIX m{};
  float y = 1.0f / std::tan(fovy / 2), x = y / aspect;
  m._11 = x, m._22 = y, m._33 = zf / (zf - zn), m._34 = 1.0f, m._43 = -zn * zf / (zf - zn);
  return m;
}

std::shared_ptr<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* d, UINT w, UINT h, const std::vector<DWORD>& argb,
                                               D3DFORMAT format = D3DFMT_A8R8G8B8) {
  std::shared_ptr<IDirect3DTexture9> tex;
  EXPECT_EQ(D3D_OK, d->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, tex, nullptr));
  D3DLOCKED_RECT lr{};
  EXPECT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
  for (UINT y = 0; y < h; ++y) std::memcpy(static_cast<char*>(lr.pBits) + y * lr.Pitch, &argb[y * w], w * 4);
  tex->UnlockRect(0);
  return tex;
}

}  // namespace

TEST_F(GfxGl_conformance, TexturesKeepTheTopRowFirst) {
  auto tex = MakeTexture(d, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x80FFFFFF});
  d->BeginScene();
  Picture p = ShowTexture(d, tex);
  ExpectNear(p.At(5, 5), {255, 0, 0, 255}, 0, "top left");
  ExpectNear(p.At(60, 5), {0, 255, 0, 255}, 0, "top right");
  ExpectNear(p.At(5, 60), {0, 0, 255, 255}, 0, "bottom left");
  ExpectNear(p.At(60, 60), {255, 255, 255, 255}, 0, "bottom right");
}

TEST_F(GfxGl_conformance, SixteenBitAndAlphaFreeFormatsReadAsStored) {
  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(1, 1, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, tex, nullptr));
  D3DLOCKED_RECT lr{};
  tex->LockRect(0, &lr, nullptr, 0);
  *static_cast<std::uint16_t*>(lr.pBits) = 0xF800 | (63 << 5);  // red + full green
  tex->UnlockRect(0);
  auto x8 = MakeTexture(d, 1, 1, {0x00204060}, D3DFMT_X8R8G8B8);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d->BeginScene();
  d->SetTexture(0, tex);
  DrawTexturedRect(d, 0, 0, 32, 64);
  d->SetTexture(0, x8);  // alpha 0 stored, but X8 reads as opaque
  DrawTexturedRect(d, 32, 0, 64, 64);
  d->EndScene();
  Picture p(d);
  ExpectNear(p.At(10, 10), {255, 255, 0, 255}, 0, "R5G6B5");
  ExpectNear(p.At(40, 10), {0x20, 0x40, 0x60, 255}, 0, "X8R8G8B8");
}

TEST_F(GfxGl_conformance, LinearVertexFogFollowsEyeDepth) {
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
  d->SetRenderState(D3DRS_FOGSTART, F2D(0.0f));
  d->SetRenderState(D3DRS_FOGEND, F2D(1.0f));
  // Identity transforms: eye z equals clip z, 0 at the left edge and 1 at the right.
  ColorVertex v[4] = {{-1, 1, 0, 0xFFFFFFFF}, {1, 1, 1, 0xFFFFFFFF}, {-1, -1, 0, 0xFFFFFFFF}, {1, -1, 1, 0xFFFFFFFF}};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof v[0]);
  d->EndScene();
  Picture p(d);
  for (UINT x : {2u, 16u, 32u, 48u, 62u}) {
    // Pixel x has its centre at x on Direct3D's grid: z = x / 32 / 2 ... = x / 64.
    float f = 1.0f - float(x) / 64.0f;
    int want = int(std::lround(255.0f * f));
    ExpectNear(p.At(x, 30), {want, want, want, 255}, 2, "fog ramp");
  }
}

TEST_F(GfxGl_conformance, DirectionalLightWithMaterialAndAmbient) {
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  d->SetRenderState(D3DRS_AMBIENT, 0xFF404040);
  // The direction is not normalised: the device must do it.
  LightWithOneDirectional(d, {0.8f, 0.6f, 0.4f, 1.0f}, {0.5f, 0.25f, 1.0f, 1.0f}, {0.0f, 0.1f, 0.0f, 0.0f},
                          {1.0f, 0.5f, 1.0f, 1.0f}, {0.1f, 0.1f, 0.1f, 1.0f}, {1.0f, 0.0f, 1.0f});
  // A view that turns the world: the light direction goes through it too.
  D3DMATRIX view = Identity();
  d->SetTransform(D3DTS_VIEW, &view);
  LitVertex v[4] = {{-1, 1, 0.5f, 0, 0, -1}, {1, 1, 0.5f, 0, 0, -1}, {-1, -1, 0.5f, 0, 0, -1}, {1, -1, 0.5f, 0, 0, -1}};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof v[0]);
  d->EndScene();
  // Colour = Ca * (Ga + La) + Cd * Ld * max(N.L, 0) + Ce, with L = -direction.
  float nl = 1.0f / std::sqrt(2.0f);
  float ga = 64.0f / 255.0f;
  auto channel = [&](float ca, float la, float cd, float ld, float ce) {
    return int(std::lround(255.0f * std::min(1.0f, ca * (ga + la) + cd * ld * nl + ce)));
  };
  Picture p(d);
  ExpectNear(p.At(32, 32),
             {channel(0.5f, 0.1f, 0.8f, 1.0f, 0.0f), channel(0.25f, 0.1f, 0.6f, 0.5f, 0.1f),
              channel(1.0f, 0.1f, 0.4f, 1.0f, 0.0f), 255},
             2, "lit");

  // The vertex colour is the diffuse source when the vertex has one (D3DMCS_COLOR1 default).
  struct V {
    float x, y, z, nx, ny, nz;
    D3DCOLOR c;
  } cv[3] = {{-1, 1, 0.5f, 0, 0, -1, 0xFF0000FF}, {1, 1, 0.5f, 0, 0, -1, 0xFF0000FF}, {-1, -1, 0.5f, 0, 0, -1, 0xFF0000FF}};
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0);
  d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cv, sizeof cv[0]);
  d->EndScene();
  Picture q(d);
  ExpectNear(q.At(8, 8),
             {channel(0.5f, 0.1f, 0.0f, 1.0f, 0.0f), channel(0.25f, 0.1f, 0.0f, 0.5f, 0.1f),
              channel(1.0f, 0.1f, 1.0f, 1.0f, 0.0f), 255},
             2, "vertex colour as diffuse source");
}

TEST_F(GfxGl_conformance, ReflectionVectorAndSphereMapCoordinates) {
  // Four texels of distinct colours; point sampling shows which one the coordinates hit.
  auto tex = MakeTexture(d, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00});
  const Rgba kTexel[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}};
  d->SetTexture(0, tex);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  // Camera-space point P and normal N of a small patch (identity world, view, projection).
  const float P[3] = {0.3f, -0.2f, 0.5f};
  float N[3] = {0.2f, 0.3f, -1.0f};
  float nl = std::sqrt(N[0] * N[0] + N[1] * N[1] + N[2] * N[2]);
  for (float& c : N) c /= nl;
  float pl = std::sqrt(P[0] * P[0] + P[1] * P[1] + P[2] * P[2]);
  float E[3] = {-P[0] / pl, -P[1] / pl, -P[2] / pl};
  float en = E[0] * N[0] + E[1] * N[1] + E[2] * N[2];
  float R[3] = {2 * en * N[0] - E[0], 2 * en * N[1] - E[1], 2 * en * N[2] - E[2]};
  auto texel = [&](float u, float v) {
    u -= std::floor(u), v -= std::floor(v);
    return kTexel[int(v * 2) * 2 + int(u * 2)];
  };
  auto draw = [&] {
    const float s = 0.05f;
    LitVertex v[4] = {{P[0] - s, P[1] + s, P[2], N[0], N[1], N[2]}, {P[0] + s, P[1] + s, P[2], N[0], N[1], N[2]},
                      {P[0] - s, P[1] - s, P[2], N[0], N[1], N[2]}, {P[0] + s, P[1] - s, P[2], N[0], N[1], N[2]}};
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof v[0]);
    d->EndScene();
    return Picture(d).At(UINT((P[0] + 1) * 32), UINT((1 - P[1]) * 32));
  };

  // Reflection vector through the show's sphere-map matrix: u = x/2 + 1/2, v = -y/2 - 1/2.
  D3DMATRIX sphere{};
  sphere._11 = 0.5f, sphere._22 = -0.5f, sphere._41 = 0.5f, sphere._42 = -0.5f, sphere._44 = 1.0f;
  d->SetTransform(D3DTS_TEXTURE0, &sphere);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
  ExpectNear(draw(), texel(0.5f * R[0] + 0.5f, -0.5f * R[1] - 0.5f), 0, "reflection vector");

  // Without a local viewer the eye direction is the same everywhere: straight down -z.
  // Identity texture matrix: u = Rx, v = Ry, which tells the two viewers apart here.
  D3DMATRIX identity = Identity();
  d->SetTransform(D3DTS_TEXTURE0, &identity);
  ExpectNear(draw(), texel(R[0], R[1]), 0, "reflection vector, local viewer");
  d->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
  float ez = -N[2];  // E = (0, 0, -1), so E.N = -Nz and R = 2(E.N)N - E
  Rgba distant = texel(2 * ez * N[0], 2 * ez * N[1]);
  EXPECT_NE(texel(R[0], R[1]).b, distant.b);
  ExpectNear(draw(), distant, 0, "reflection vector, distant viewer");
  d->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
  d->SetTransform(D3DTS_TEXTURE0, &sphere);

  // Camera-space normal through the same matrix.
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
  ExpectNear(draw(), texel(0.5f * N[0] + 0.5f, -0.5f * N[1] - 0.5f), 0, "camera-space normal");

  // Sphere map without a transform: the reflection folded onto the disc.
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_SPHEREMAP);
  float m = 2 * std::sqrt(R[0] * R[0] + R[1] * R[1] + (R[2] - 1) * (R[2] - 1));
  ExpectNear(draw(), texel(R[0] / m + 0.5f, -R[1] / m + 0.5f), 0, "sphere map");
}

TEST_F(GfxGl_conformance, StageReadingAnUnboundTexturePassesTheColourOn) {
  // Stage 0 modulates texture and diffuse, stage 1 selects its (unbound) texture.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFF336699);
  d->EndScene();
  ExpectNear(Picture(d).At(20, 20), {0x33, 0x66, 0x99, 255}, 0, "diffuse passed through");
  // With a texture on stage 1 it is read.
  auto tex = MakeTexture(d, 1, 1, {0xFF00FF00});
  d->SetTexture(1, tex);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFF336699);
  d->EndScene();
  ExpectNear(Picture(d).At(20, 20), {0, 255, 0, 255}, 0, "stage 1 texture");
}

TEST_F(GfxGl_conformance, EachBlendFactor) {
  const DWORD kFactors[] = {D3DBLEND_ONE,      D3DBLEND_ZERO,        D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA,
                            D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR, D3DBLEND_DESTCOLOR};
  const float S[4] = {100 / 255.f, 50 / 255.f, 200 / 255.f, 128 / 255.f};
  const float D[4] = {64 / 255.f, 128 / 255.f, 32 / 255.f, 1.0f};
  auto factor = [&](DWORD f, int c) -> float {
    switch (f) {
      case D3DBLEND_ONE: return 1;
      case D3DBLEND_ZERO: return 0;
      case D3DBLEND_SRCALPHA: return S[3];
      case D3DBLEND_INVSRCALPHA: return 1 - S[3];
      case D3DBLEND_SRCCOLOR: return S[c];
      case D3DBLEND_INVSRCCOLOR: return 1 - S[c];
      default: return D[c];  // DESTCOLOR
    }
  };
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFF408020);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  int slot = 0;
  for (DWORD f : kFactors) {
    for (int asSource = 0; asSource < 2; ++asSource, ++slot) {
      d->SetRenderState(D3DRS_SRCBLEND, asSource ? f : D3DBLEND_ZERO);
      d->SetRenderState(D3DRS_DESTBLEND, asSource ? D3DBLEND_ZERO : f);
      float x = float(slot % 8) * 8, y = float(slot / 8) * 8;
      DrawRect(d, x, y, x + 8, y + 8, 0x806432C8);
    }
  }
  d->EndScene();
  Picture p(d);
  slot = 0;
  for (DWORD f : kFactors) {
    for (int asSource = 0; asSource < 2; ++asSource, ++slot) {
      Rgba want;
      int* w[3] = {&want.r, &want.g, &want.b};
      for (int c = 0; c < 3; ++c) {
        float v = asSource ? S[c] * factor(f, c) : D[c] * factor(f, c);
        *w[c] = int(std::lround(255 * std::min(1.0f, v)));
      }
      Rgba got = p.At(UINT(slot % 8) * 8 + 4, UINT(slot / 8) * 8 + 4);
      want.a = got.a;
      ExpectNear(got, want, 2, asSource ? "as source factor" : "as destination factor");
    }
  }
}

TEST_F(GfxGl_conformance, AlphaTestComparesWithTheReference) {
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAREF, 100);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  d->BeginScene();
  DrawRect(d, 0, 0, 8, 8, 0x63FFFFFF);   // 99: rejected
  DrawRect(d, 8, 0, 16, 8, 0x64FFFFFF);  // 100: kept
  DrawRect(d, 16, 0, 24, 8, 0x65FFFFFF);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  DrawRect(d, 0, 8, 8, 16, 0x64FFFFFF);  // 100: rejected
  DrawRect(d, 8, 8, 16, 16, 0x65FFFFFF);
  d->EndScene();
  Picture p(d);
  EXPECT_EQ(0, p.At(4, 4).r);
  EXPECT_EQ(255, p.At(12, 4).r);
  EXPECT_EQ(255, p.At(20, 4).r);
  EXPECT_EQ(0, p.At(4, 12).r);
  EXPECT_EQ(255, p.At(12, 12).r);
}

TEST_F(GfxGl_conformance, CullModesFollowScreenWindingWithALeftHandedProjection) {
  D3DMATRIX proj = PerspectiveLH(3.14159265f / 4, 1.0f, 0.1f, 100.0f);
  d->SetTransform(D3DTS_PROJECTION, &proj);
  // Seen from the camera this runs bottom-left, top, bottom-right: clockwise on screen.
  ColorVertex cw[3] = {{-1, -1, 5, 0xFFFFFFFF}, {0, 1, 5, 0xFFFFFFFF}, {1, -1, 5, 0xFFFFFFFF}};
  ColorVertex ccw[3] = {cw[0], cw[2], cw[1]};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  auto covered = [&](DWORD cull, const ColorVertex* tri) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0);
    d->SetRenderState(D3DRS_CULLMODE, cull);
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof tri[0]);
    d->EndScene();
    Picture p(d);
    // The apex is up: near the top the triangle is narrow, near the bottom wide.
    EXPECT_EQ(0, p.At(20, 26).r);
    return p.At(32, 34).r == 255;
  };
  EXPECT_TRUE(covered(D3DCULL_CCW, cw));
  EXPECT_FALSE(covered(D3DCULL_CW, cw));
  EXPECT_TRUE(covered(D3DCULL_NONE, cw));
  EXPECT_FALSE(covered(D3DCULL_CCW, ccw));
  EXPECT_TRUE(covered(D3DCULL_CW, ccw));
}

TEST_F(GfxGl_conformance, RenderToTextureComesBackTheRightWayUp) {
  std::shared_ptr<IDirect3DTexture9> rt;
  ASSERT_EQ(D3D_OK, d->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, rt, nullptr));
  std::shared_ptr<IDirect3DSurface9> surface, back;
  rt->GetSurfaceLevel(0, surface);
  {
    Picture fresh(surface.get());  // a new target is transparent black
    ExpectNear(fresh.At(5, 5), {0, 0, 0, 0}, 0, "fresh render target");
  }
  d->GetRenderTarget(0, back);
  d->BeginScene();
  ASSERT_EQ(D3D_OK, d->SetRenderTarget(0, surface));
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1, 0);
  DrawRect(d, 0, 0, 16, 16, 0xFFFF0000);  // top-left quarter
  d->SetRenderTarget(0, back);
  Picture p = ShowTexture(d, rt);
  ExpectNear(p.At(10, 10), {255, 0, 0, 255}, 0, "top left red");
  ExpectNear(p.At(50, 10), {0, 0, 255, 255}, 0, "top right blue");
  ExpectNear(p.At(10, 50), {0, 0, 255, 255}, 0, "bottom left blue");
  Picture direct(surface.get());
  ExpectNear(direct.At(2, 2), {255, 0, 0, 255}, 0, "read back top row first");
}

TEST_F(GfxGl_conformance, CubeMapLooksUpTheCameraSpaceNormal) {
  std::shared_ptr<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(D3D_OK, d->CreateCubeTexture(1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube, nullptr));
  const DWORD colors[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
  for (int f = 0; f < 6; ++f) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, cube->LockRect(D3DCUBEMAP_FACES(f), 0, &lr, nullptr, 0));
    *static_cast<DWORD*>(lr.pBits) = colors[f];
    cube->UnlockRect(D3DCUBEMAP_FACES(f), 0);
  }
  d->SetTexture(0, cube);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
  d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
  const float normals[2][3] = {{0, 0, -1}, {1, 0, 0}};
  const Rgba want[2] = {{255, 0, 255, 255}, {255, 0, 0, 255}};  // -Z face, +X face
  for (int i = 0; i < 2; ++i) {
    const float* n = normals[i];
    LitVertex v[3] = {{-1, 1, 0.5f, n[0], n[1], n[2]}, {1, 1, 0.5f, n[0], n[1], n[2]}, {-1, -1, 0.5f, n[0], n[1], n[2]}};
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
    d->EndScene();
    ExpectNear(Picture(d).At(8, 8), want[i], 0, "cube face");
  }
}

TEST_F(GfxGl_conformance, CustomPixelShaderTakesUniformsByName) {
  const char* src =
      "#version 330 core\n"
      "uniform vec4 tint;\n"
      "uniform sampler2D gx_Sampler0;\n"
      "in vec4 gx_Tex0;\n"
      "out vec4 gx_FragColor;\n"
      "void main() { gx_FragColor = tint * texture(gx_Sampler0, gx_Tex0.xy); }\n";
  std::shared_ptr<IDirect3DPixelShader9> ps;
  ASSERT_EQ(D3D_OK, d->CreatePixelShader(reinterpret_cast<const DWORD*>(src), ps));
  const float tint[4] = {0.5f, 1.0f, 0.25f, 1.0f};
  d->GxSetPixelShaderConstantF("tint", tint, 4);
  d->GxSetPixelShaderConstantF("noSuchName", tint, 4);  // kept, unused
  auto tex = MakeTexture(d, 1, 1, {0xFFFFFFFF});
  d->SetTexture(0, tex);
  d->SetPixelShader(ps);
  gx::GxResetStats(d);
  // The screen planes' vertex: D3DFVF_XYZRHW | D3DFVF_TEX1.
  struct V {
    float x, y, z, rhw, u, v;
  } quad[4] = {{0, 0, 0, 1, 0, 0}, {64, 0, 0, 1, 1, 0}, {0, 64, 0, 1, 0, 1}, {64, 64, 0, 1, 1, 1}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
  d->BeginScene();
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]));
  d->EndScene();
  ExpectNear(Picture(d).At(30, 30), {128, 255, 64, 255}, 1, "tinted");
  // The screen-quad program was linked when the shader was created.
  EXPECT_EQ(0u, gx::GxGetStats(d).programsCompiled);

  const char* bad = "#version 330 core\nvoid main() { this is not glsl }\n";
  std::shared_ptr<IDirect3DPixelShader9> broken;
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreatePixelShader(reinterpret_cast<const DWORD*>(bad), broken));
  EXPECT_FALSE(broken);
}

TEST_F(GfxGl_conformance, DepthBufferIsSharedByRenderTargets) {
  d->SetRenderState(D3DRS_ZENABLE, TRUE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFF00FF00, 0.25f);
  DrawRect(d, 0, 0, 64, 64, 0xFFFF0000, 0.75f);  // behind: hidden
  d->EndScene();
  ExpectNear(Picture(d).At(32, 32), {0, 255, 0, 255}, 0, "near wins");
  d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  d->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFF0000FF, 0.25f);
  DrawRect(d, 0, 0, 64, 64, 0xFFFF0000, 0.75f);  // nothing was written: drawn
  d->EndScene();
  ExpectNear(Picture(d).At(32, 32), {255, 0, 0, 255}, 0, "no depth writes");
}

TEST_F(GfxGl_conformance, NoProgramIsCompiledTwice) {
  d->BeginScene();
  DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
  d->EndScene();
  gx::GxResetStats(d);
  for (int i = 0; i < 3; ++i) {
    d->BeginScene();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, i & 1);  // not part of the program
    DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
    d->EndScene();
  }
  EXPECT_EQ(0u, gx::GxGetStats(d).programsCompiled);
  EXPECT_EQ(0u, gx::GxGetStats(d).shadersCompiled);
  // A new program that shares its vertex stage compiles only its fragment stage.
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  d->BeginScene();
  DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
  d->EndScene();
  EXPECT_EQ(1u, gx::GxGetStats(d).programsCompiled);
  EXPECT_EQ(1u, gx::GxGetStats(d).shadersCompiled);
}

TEST_F(GfxGl_conformance, FogStillAppliesAfterAPixelShader) {
  const char* src =
      "#version 330 core\nout vec4 gx_FragColor;\nvoid main() { gx_FragColor = vec4(1.0, 1.0, 1.0, 1.0); }\n";
  std::shared_ptr<IDirect3DPixelShader9> ps;
  ASSERT_EQ(D3D_OK, d->CreatePixelShader(reinterpret_cast<const DWORD*>(src), ps));
  d->SetPixelShader(ps);
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
  d->SetRenderState(D3DRS_FOGSTART, F2D(0.0f));
  d->SetRenderState(D3DRS_FOGEND, F2D(1.0f));
  ColorVertex v[3] = {{-1, 1, 0.25f, 0}, {1, 1, 0.25f, 0}, {-1, -1, 0.25f, 0}};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
  d->EndScene();
  ExpectNear(Picture(d).At(8, 8), {191, 191, 191, 255}, 2, "fogged shader output");
}

TEST_F(GfxGl_conformance, WarmUpBuildsProgramsWithoutDrawing) {
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);  // a key no other draw here uses
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  gx::GxResetStats(d);
  gx::GxSetWarmUp(d, true);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1, 0);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFFFF0000);
  d->EndScene();
  gx::GxSetWarmUp(d, false);
  EXPECT_EQ(1u, gx::GxGetStats(d).programsCompiled);
  ExpectNear(Picture(d).At(32, 32), {0, 0, 0, 255}, 0, "nothing drawn or cleared");
  gx::GxResetStats(d);
  d->BeginScene();
  DrawRect(d, 0, 0, 64, 64, 0xFFFF0000);
  d->EndScene();
  EXPECT_EQ(0u, gx::GxGetStats(d).programsCompiled);
  ExpectNear(Picture(d).At(32, 32), {255, 0, 0, 255}, 0, "drawn after warm-up");
}
