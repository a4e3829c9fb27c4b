// What Direct3D 9 draws, checked from outside: the states, vertices, expected colours and
// tolerances of these cases are those Wine's Direct3D 9 tests (dlls/d3d9/tests/visual.c) record
// from real drivers; the cases for point and spot lights, PREMODULATE, projection without a
// count and the surface copies follow Direct3D 9's documented formulas. The device is Wine's
// 640 x 480, and only a few pixels of each picture are read.

#include <cmath>
#include <cstring>
#include <string>

#include "tests/gfx/d3d9_reference.h"

using namespace gfxtest;

// ---------------------------------------------------------------------------
// Clears

TEST_F(GfxGl_d3d9Behaviour, ClearFillsTheTarget) {
  EXPECT_EQ(D3D_OK, d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff0000, 1.0f, 0));
  ExpectColor(d, 1, 1, 0xff0000, 0, "red clear");
  EXPECT_EQ(D3D_OK, d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ddee, 0.0f, 0));
  ExpectColor(d, 639, 479, 0x00ddee, 0, "second clear");
}

TEST_F(GfxGl_d3d9Behaviour, ClearDropsInvertedRectanglesAndKeepsToTheViewport) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  RECT rects[2] = {{0, 480, 320, 240}, {0, 0, 320, 240}};  // the first runs upwards
  EXPECT_EQ(D3D_OK, d->Clear(2, rects, D3DCLEAR_TARGET, 0xffff0000, 0.0f, 0));
  RECT backwards = {640, 240, 320, 0};
  EXPECT_EQ(D3D_OK, d->Clear(1, &backwards, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0));
  ExpectColors(d, {{160, 360, 0xffffff, 0, "upward rectangle"},
                   {160, 120, 0xff0000, 0, "the good rectangle"},
                   {480, 360, 0xffffff, 0, "untouched"},
                   {480, 120, 0xffffff, 0, "backward rectangle"}});

  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  D3DVIEWPORT9 old{};
  d->GetViewport(&old);
  D3DVIEWPORT9 vp{160, 120, 160, 120, 0.0f, 1.0f};
  d->SetViewport(&vp);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 0.0f, 0);
  vp = {320, 240, 320, 240, 0.0f, 1.0f};
  d->SetViewport(&vp);
  RECT r = {160, 120, 480, 360};
  d->Clear(1, &r, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0);
  d->SetViewport(&old);
  Picture p(d);
  const struct {
    UINT x, y;
    D3DCOLOR want;
  } expected[] = {{158, 118, 0xffffff}, {162, 118, 0xffffff}, {158, 122, 0xffffff}, {162, 122, 0x0000ff},
                  {318, 238, 0x0000ff}, {322, 238, 0xffffff}, {318, 242, 0xffffff}, {322, 242, 0x00ff00},
                  {478, 358, 0x00ff00}, {482, 358, 0xffffff}, {478, 362, 0xffffff}, {482, 362, 0xffffff}};
  for (const auto& e : expected) ExpectColor(p, e.x, e.y, e.want, 0, "viewport clear");
}

TEST_F(GfxGl_d3d9Behaviour, ClearKeepsToTheScissorRectangle) {
  D3DCAPS9 caps{};
  d->GetDeviceCaps(&caps);
  EXPECT_TRUE(caps.RasterCaps & D3DPRASTERCAPS_SCISSORTEST);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  RECT scissor = {160, 120, 480, 360};
  EXPECT_EQ(D3D_OK, d->SetScissorRect(&scissor));
  RECT back{};
  EXPECT_EQ(D3D_OK, d->GetScissorRect(&back));
  EXPECT_EQ(0, std::memcmp(&scissor, &back, sizeof back));
  d->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0);
  RECT topLeft = {0, 0, 320, 240};
  d->Clear(1, &topLeft, D3DCLEAR_TARGET, 0xffff0000, 0.0f, 0);
  d->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
  Picture p(d);
  const struct {
    UINT x, y;
    D3DCOLOR want;
  } expected[] = {{158, 118, 0xffffff}, {162, 118, 0xffffff}, {158, 122, 0xffffff}, {162, 122, 0xff0000},
                  {158, 358, 0xffffff}, {162, 358, 0x00ff00}, {162, 362, 0xffffff}, {478, 118, 0xffffff},
                  {478, 122, 0x00ff00}, {482, 122, 0xffffff}, {482, 358, 0xffffff}, {478, 358, 0x00ff00},
                  {478, 362, 0xffffff}, {482, 362, 0xffffff}, {318, 238, 0xff0000}, {318, 242, 0x00ff00},
                  {322, 238, 0x00ff00}, {322, 242, 0x00ff00}};
  for (const auto& e : expected) ExpectColor(p, e.x, e.y, e.want, 0, "scissored clear");
}

TEST_F(GfxGl_d3d9Behaviour, ClearIgnoresTheColourWriteMaskAndCountsDecideTheRectangles) {
  d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xdeadbeef, 0.0f, 0);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  ExpectColor(d, 320, 240, 0xffffff, 0, "clear under a red-only write mask");

  RECT whole = {0, 0, 640, 480};
  EXPECT_EQ(D3D_OK, d->Clear(0, &whole, D3DCLEAR_TARGET, 0x00ff0000, 0.0f, 0));
  ExpectColor(d, 320, 240, 0xffffff, 1, "rectangles without a count clear nothing");
  EXPECT_EQ(D3D_OK, d->Clear(1, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0));
  ExpectColor(d, 320, 240, 0x00ff00, 1, "a count without rectangles clears everything");
}

TEST_F(GfxGl_d3d9Behaviour, ScissorTestClipsDrawsAndSettingATargetResetsIt) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 0.0f, 0);
  RECT scissor = {0, 0, 320, 240};
  d->SetScissorRect(&scissor);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
  DrawFullQuad(0xff00ff00);
  ExpectColors(d, {{160, 120, 0x00ff00, 0, "inside the scissor"},
                   {480, 360, 0x000000, 0, "outside the scissor"},
                   {322, 120, 0x000000, 0, "just right of the scissor"}});
  std::shared_ptr<IDirect3DSurface9> backBuffer;
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer);
  d->SetRenderTarget(0, backBuffer);
  RECT reset{};
  d->GetScissorRect(&reset);
  EXPECT_EQ(640, reset.right);
  EXPECT_EQ(480, reset.bottom);
}

// ---------------------------------------------------------------------------
// Surfaces

TEST_F(GfxGl_d3d9Behaviour, ColorFillFillsTargetsAndDefaultPoolSurfacesOnly) {
  std::shared_ptr<IDirect3DSurface9> backBuffer;
  ASSERT_EQ(D3D_OK, d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer));
  EXPECT_EQ(D3D_OK, d->ColorFill(backBuffer.get(), nullptr, 0x112233));
  ExpectColor(d, 0, 0, 0x112233, 0, "filled back buffer");

  std::shared_ptr<IDirect3DSurface9> target;
  ASSERT_EQ(D3D_OK, d->CreateRenderTarget(32, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, target, nullptr));
  EXPECT_EQ(D3D_OK, d->ColorFill(target.get(), nullptr, 0x445566));
  ExpectColor(Picture(target.get()), 0, 0, 0x445566, 0, "filled render target");

  std::shared_ptr<IDirect3DSurface9> plain;
  ASSERT_EQ(D3D_OK, d->CreateOffscreenPlainSurface(32, 32, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, plain, nullptr));
  EXPECT_EQ(D3D_OK, d->ColorFill(plain.get(), nullptr, 0x778899));
  ExpectColor(Picture(plain.get()), 0, 0, 0x778899, 0, "filled offscreen surface");

  std::shared_ptr<IDirect3DSurface9> system;
  ASSERT_EQ(D3D_OK, d->CreateOffscreenPlainSurface(32, 32, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, system, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->ColorFill(system.get(), nullptr, 0));

  // A rectangle fills only itself.
  RECT part = {8, 8, 16, 16};
  EXPECT_EQ(D3D_OK, d->ColorFill(target.get(), &part, 0xff0000));
  Picture p(target.get());
  ExpectColor(p, 10, 10, 0xff0000, 0, "filled part");
  ExpectColor(p, 20, 20, 0x445566, 0, "outside the part");
  RECT outside = {30, 30, 40, 40};
  EXPECT_EQ(D3DERR_INVALIDCALL, d->ColorFill(target.get(), &outside, 0));
}

TEST_F(GfxGl_d3d9Behaviour, StretchRectCopiesBetweenTargetsWithPointAndLinearFilters) {
  std::shared_ptr<IDirect3DSurface9> backBuffer, small, big;
  ASSERT_EQ(D3D_OK, d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer));
  ASSERT_EQ(D3D_OK, d->CreateRenderTarget(2, 1, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, small, nullptr));
  ASSERT_EQ(D3D_OK, d->CreateRenderTarget(64, 64, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, big, nullptr));
  RECT left = {0, 0, 1, 1}, right = {1, 0, 2, 1};
  d->ColorFill(small.get(), &left, 0xff0000);
  d->ColorFill(small.get(), &right, 0x0000ff);

  // Point: every destination pixel is one source pixel, the top row stays on top.
  RECT to = {0, 0, 64, 32};
  EXPECT_EQ(D3D_OK, d->StretchRect(small.get(), nullptr, big.get(), &to, D3DTEXF_POINT));
  {
    Picture p(big.get());
    ExpectColor(p, 5, 5, 0xff0000, 0, "point, left half");
    ExpectColor(p, 58, 5, 0x0000ff, 0, "point, right half");
    ExpectColor(p, 31, 5, 0xff0000, 0, "point, last left pixel");
    ExpectColor(p, 32, 5, 0x0000ff, 0, "point, first right pixel");
    ExpectColor(p, 5, 40, 0x000000, 0, "below the destination rectangle");
  }
  // Linear: the middle blends.
  EXPECT_EQ(D3D_OK, d->StretchRect(small.get(), nullptr, big.get(), nullptr, D3DTEXF_LINEAR));
  {
    Picture p(big.get());
    ExpectColor(p, 0, 30, 0xff0000, 0, "linear, left edge");
    ExpectColor(p, 63, 30, 0x0000ff, 0, "linear, right edge");
    Rgba mid = p.At(32, 30);
    EXPECT_GT(mid.r, 0x40);
    EXPECT_GT(mid.b, 0x40);
  }
  // Into the back buffer and back out of it.
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0);
  RECT corner = {600, 440, 640, 480};
  EXPECT_EQ(D3D_OK, d->StretchRect(big.get(), nullptr, backBuffer.get(), &corner, D3DTEXF_NONE));
  ExpectColors(d, {{605, 445, 0xff0000, 0, "copied into the back buffer"},
                   {590, 445, 0x00ff00, 0, "beside the copy"}});
  RECT from = {0, 0, 64, 64};
  EXPECT_EQ(D3D_OK, d->StretchRect(backBuffer.get(), &from, big.get(), nullptr, D3DTEXF_POINT));
  ExpectColor(Picture(big.get()), 10, 10, 0x00ff00, 0, "copied out of the back buffer");

  // What Direct3D 9 refuses.
  RECT overlapA = {0, 0, 40, 40}, overlapB = {20, 20, 60, 60};
  EXPECT_EQ(D3DERR_INVALIDCALL, d->StretchRect(big.get(), &overlapA, big.get(), &overlapB, D3DTEXF_POINT));
  RECT tooBig = {0, 0, 65, 64};
  EXPECT_EQ(D3DERR_INVALIDCALL, d->StretchRect(big.get(), &tooBig, backBuffer.get(), nullptr, D3DTEXF_POINT));
  std::shared_ptr<IDirect3DSurface9> plain;
  d->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, plain, nullptr);
  EXPECT_EQ(D3DERR_INVALIDCALL, d->StretchRect(big.get(), nullptr, plain.get(), nullptr, D3DTEXF_POINT));
}

TEST_F(GfxGl_d3d9Behaviour, GetRenderTargetDataCopiesIntoALockableSurface) {
  std::shared_ptr<IDirect3DSurface9> target, copy, wrongSize;
  ASSERT_EQ(D3D_OK, d->CreateRenderTarget(16, 16, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, target, nullptr));
  ASSERT_EQ(D3D_OK, d->CreateOffscreenPlainSurface(16, 16, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, copy, nullptr));
  RECT corner = {12, 0, 16, 4};
  d->ColorFill(target.get(), nullptr, 0x80102030);
  d->ColorFill(target.get(), &corner, 0xff00ff00);
  ASSERT_EQ(D3D_OK, d->GetRenderTargetData(target.get(), copy.get()));
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(D3D_OK, copy->LockRect(&lr, nullptr, D3DLOCK_READONLY));
  auto at = [&](int x, int y) { return reinterpret_cast<const DWORD*>(static_cast<const char*>(lr.pBits) + y * lr.Pitch)[x]; };
  EXPECT_EQ(0x80102030u, at(0, 15));
  EXPECT_EQ(0xff00ff00u, at(13, 1));  // the top row is row 0
  copy->UnlockRect();

  d->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, wrongSize, nullptr);
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GetRenderTargetData(target.get(), wrongSize.get()));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GetRenderTargetData(copy.get(), target.get()));
}

TEST_F(GfxGl_d3d9Behaviour, OffscreenTargetIsDrawnThenSampled) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff0000, 0.0f, 0);
  std::shared_ptr<IDirect3DTexture9> texture;
  ASSERT_EQ(D3D_OK, d->CreateTexture(128, 128, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, texture,
                                     nullptr));
  std::shared_ptr<IDirect3DSurface9> backBuffer, offscreen;
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer);
  texture->GetSurfaceLevel(0, offscreen);
  struct TexVertex {
    float x, y, z, u, v;
  } quad[] = {{-0.5f, -0.5f, 0.1f, 0, 0}, {-0.5f, 0.5f, 0.1f, 0, 1}, {0.5f, -0.5f, 0.1f, 1, 0}, {0.5f, 0.5f, 0.1f, 1, 1}};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  ASSERT_EQ(D3D_OK, d->BeginScene());
  d->SetRenderTarget(0, offscreen);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff00ff, 0.0f, 0);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]));  // no texture: white
  d->SetRenderTarget(0, backBuffer);
  d->SetTexture(0, texture);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]));
  d->EndScene();
  d->SetTexture(0, nullptr);
  ExpectColors(d, {{320, 240, 0xffffff, 0, "centre"},
                   {170, 240, 0xff00ff, 0, "cleared part of the texture"},
                   {10, 10, 0xff0000, 0, "back buffer outside the quad"}});
}

// ---------------------------------------------------------------------------
// Lighting

TEST_F(GfxGl_d3d9Behaviour, LitVerticesWithoutLightsAreBlackAndKeepTheMaterialAlpha) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  d->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
  const Vertex unlit[] = {{-1, -1, 0.1f, 0xffff0000}, {-1, 0, 0.1f, 0xffff0000}, {0, 0, 0.1f, 0xffff0000},
                          {0, -1, 0.1f, 0xffff0000}};
  const Vertex lit[] = {{-1, 0, 0.1f, 0xff00ff00}, {-1, 1, 0.1f, 0xff00ff00}, {0, 1, 0.1f, 0xff00ff00},
                        {0, 0, 0.1f, 0xff00ff00}};
  const NormalVertex unlitN[] = {{0, -1, 0.1f, 1, 1, 1, 0xff0000ff}, {0, 0, 0.1f, 1, 1, 1, 0xff0000ff},
                                 {1, 0, 0.1f, 1, 1, 1, 0xff0000ff}, {1, -1, 0.1f, 1, 1, 1, 0xff0000ff}};
  const NormalVertex litN[] = {{0, 0, 0.1f, 1, 1, 1, 0xffffff00}, {0, 1, 0.1f, 1, 1, 1, 0xffffff00},
                               {1, 1, 0.1f, 1, 1, 1, 0xffffff00}, {1, 0, 0.1f, 1, 1, 1, 0xffffff00}};
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  DrawIndexedQuad(kVertexFvf, unlit);
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  DrawIndexedQuad(kVertexFvf, lit);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  DrawIndexedQuad(kNormalFvf, unlitN);
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  DrawIndexedQuad(kNormalFvf, litN);
  ExpectColors(d, {{160, 360, 0xff0000, 0, "unlit quad without normals"},
                   {160, 120, 0x000000, 0, "lit quad without normals"},
                   {480, 360, 0x0000ff, 0, "unlit quad with normals"},
                   {480, 120, 0x000000, 0, "lit quad with normals"}});

  // The lit alpha is the material's diffuse alpha, not the vertex's.
  D3DMATERIAL9 material{};
  material.Diffuse.a = 1.0f;
  d->SetMaterial(&material);
  d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
  d->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE);
  const Vertex quad[] = {{-1, -1, 0.1f, 0x8000ff00}, {1, -1, 0.1f, 0x80000000}, {-1, 1, 0.1f, 0x8000ff00},
                         {1, 1, 0.1f, 0x80000000}};
  DrawStrip(kVertexFvf, quad);
  ExpectColor(d, 320, 240, 0xffffff, 0, "lit vertex alpha");
}

// One white point or spot light above a camera-facing quad at z = 10; only the light varies.
class GfxGl_d3d9Lights : public GfxGl_d3d9Behaviour {
 protected:
  void SetUp() override {
    GfxGl_d3d9Behaviour::SetUp();
    if (!d) return;
    D3DMATRIX proj{};  // perspective, 90 degrees, z from 1 to 100
    proj._11 = 0.75f, proj._22 = 1.0f, proj._33 = 100.0f / 99.0f, proj._34 = 1.0f, proj._43 = -100.0f / 99.0f;
    d->SetTransform(D3DTS_PROJECTION, &proj);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 1, 1, 1};
    material.Specular = {1, 1, 1, 1};
    material.Power = 8.0f;
    d->SetMaterial(&material);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    d->SetRenderState(D3DRS_AMBIENT, 0);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000080, 0.0f, 0);
  }
  // A 20 x 20 quad at z = 10 facing the camera, split into a fine grid so that per-vertex light
  // reads nearly as per-pixel at the probed points.
  void DrawWall() {
    constexpr int kCells = 40;
    std::vector<NormalVertex> v;
    for (int j = 0; j < kCells; ++j)
      for (int i = 0; i < kCells; ++i) {
        float x0 = -10 + 20.0f * i / kCells, x1 = -10 + 20.0f * (i + 1) / kCells;
        float y0 = -10 + 20.0f * j / kCells, y1 = -10 + 20.0f * (j + 1) / kCells;
        const NormalVertex a{x0, y0, 10, 0, 0, -1, 0}, b{x1, y0, 10, 0, 0, -1, 0}, c{x0, y1, 10, 0, 0, -1, 0},
            e{x1, y1, 10, 0, 0, -1, 0};
        v.insert(v.end(), {a, b, c, c, b, e});
      }
    d->SetFVF(kNormalFvf);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(v.size() / 3), v.data(), sizeof v[0]));
    d->EndScene();
  }
  D3DLIGHT9 Light(D3DLIGHTTYPE type) {
    D3DLIGHT9 l{};
    l.Type = type;
    l.Diffuse = {1, 1, 1, 1};
    l.Position = {0, 0, 5};  // 5 in front of the wall's centre
    l.Direction = {0, 0, 1};
    l.Range = 100.0f;
    l.Attenuation0 = 1.0f;
    return l;
  }
  void Use(const D3DLIGHT9& l) {
    ASSERT_EQ(D3D_OK, d->SetLight(0, &l));
    ASSERT_EQ(D3D_OK, d->LightEnable(0, TRUE));
  }
  // The wall's point (x, y, 10) lies at this pixel.
  static UINT Px(float x) { return UINT(320 + x / 10 * 0.75f * 320); }
  static UINT Py(float y) { return UINT(240 - y / 10 * 240); }
  // Brightness from N.L = 5 / d at a wall point r from the centre, times the attenuation.
  static int Lambert(float r, float att = 1.0f) {
    return int(std::lround(255.0 * att * 5.0 / std::sqrt(25.0 + r * r)));
  }
};

TEST_F(GfxGl_d3d9Lights, PositionalLightsAreClaimed) {
  D3DCAPS9 caps{};
  d->GetDeviceCaps(&caps);
  EXPECT_TRUE(caps.VertexProcessingCaps & D3DVTXPCAPS_POSITIONALLIGHTS);
  EXPECT_TRUE(caps.VertexProcessingCaps & D3DVTXPCAPS_DIRECTIONALLIGHTS);
}

TEST_F(GfxGl_d3d9Lights, PointLightFallsOffWithTheAngleAndTheThreeTermAttenuation) {
  Use(Light(D3DLIGHT_POINT));
  DrawWall();
  {
    Picture p(d);
    ExpectColor(p, Px(0), Py(0), 0xffffff, 2, "facing the light");
    const int side = Lambert(5.0f);  // 45 degrees: 255 / sqrt 2
    ExpectColor(p, Px(5), Py(0), D3DCOLOR_XRGB(side, side, side), 3, "45 degrees off");
  }
  D3DLIGHT9 l = Light(D3DLIGHT_POINT);
  l.Attenuation0 = 0.5f, l.Attenuation1 = 0.1f, l.Attenuation2 = 0.02f;  // 1 / (0.5 + 0.5 + 0.5) at d = 5
  Use(l);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000080, 0.0f, 0);
  DrawWall();
  const int centre = Lambert(0, 1.0f / 1.5f);
  ExpectColor(d, Px(0), Py(0), D3DCOLOR_XRGB(centre, centre, centre), 3, "attenuated");
}

TEST_F(GfxGl_d3d9Lights, PointLightStopsAtItsRangeAmbientIncluded) {
  D3DLIGHT9 l = Light(D3DLIGHT_POINT);
  l.Range = 6.0f;  // reaches the wall out to sqrt(36 - 25) = 3.3 from the centre
  l.Ambient = {0, 0, 0.5f, 1};
  Use(l);
  D3DMATERIAL9 material{};
  material.Diffuse = {1, 1, 1, 1};
  material.Ambient = {1, 1, 1, 1};
  d->SetMaterial(&material);
  DrawWall();
  ExpectColors(d, {{Px(0), Py(0), D3DCOLOR_XRGB(255, 255, 255), 2, "inside the range (ambient saturates)"},
                   {Px(6), Py(0), 0x000000, 0, "beyond the range: no diffuse, no ambient"}});
}

TEST_F(GfxGl_d3d9Lights, SpotLightIsFullInsideThetaDarkOutsidePhiAndFallsOffBetween) {
  D3DLIGHT9 l = Light(D3DLIGHT_SPOT);
  // Inner cone half-angle 20 degrees, outer 40; falloff 1 (linear in the cosine).
  l.Theta = 40.0f * 3.14159265f / 180.0f;
  l.Phi = 80.0f * 3.14159265f / 180.0f;
  l.Falloff = 1.0f;
  Use(l);
  DrawWall();
  Picture p(d);
  const float inner = 5.0f * std::tan(10.0f * 3.14159265f / 180.0f);  // 10 degrees: inside theta / 2
  ExpectColor(p, Px(inner), Py(0), D3DCOLOR_XRGB(Lambert(inner), Lambert(inner), Lambert(inner)), 3, "inside theta");
  const float outer = 5.0f * std::tan(50.0f * 3.14159265f / 180.0f);  // 50 degrees: outside phi / 2
  ExpectColor(p, Px(outer), Py(0), 0x000000, 0, "outside phi");
  const float mid = 5.0f * std::tan(30.0f * 3.14159265f / 180.0f);  // 30 degrees: between
  const double rho = std::cos(30.0 * 3.14159265 / 180.0), ct = std::cos(20.0 * 3.14159265 / 180.0),
               cp = std::cos(40.0 * 3.14159265 / 180.0);
  const int between = Lambert(mid, float((rho - cp) / (ct - cp)));
  ExpectColor(p, Px(mid), Py(0), D3DCOLOR_XRGB(between, between, between), 4, "between the cones");
  // A spot pointing away lights nothing.
  l.Direction = {0, 0, -1};
  Use(l);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000080, 0.0f, 0);
  DrawWall();
  ExpectColor(d, Px(0), Py(0), 0x000000, 0, "spot turned away");
}

TEST_F(GfxGl_d3d9Lights, SpecularHighlightFollowsTheLocalViewerSetting) {
  D3DLIGHT9 l = Light(D3DLIGHT_POINT);
  l.Diffuse = {0, 0, 0, 0};
  l.Specular = {1, 1, 1, 1};
  Use(l);
  d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  // With a local viewer at the origin and the light on the axis the half vector at the wall's
  // centre is the normal: full highlight. Off the axis it tilts, and N.H^8 drops.
  d->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
  DrawWall();
  const float x = 4.0f;
  // Toward the light: (-4, 0, -5) / |.|; toward the eye: (-4, 0, -10) / |.|.
  auto specular = [&](bool local) {
    const double lx = -x / std::sqrt(16.0 + 25.0), lz = -5 / std::sqrt(16.0 + 25.0);
    const double ex = local ? -x / std::sqrt(16.0 + 100.0) : 0.0, ez = local ? -10 / std::sqrt(16.0 + 100.0) : -1.0;
    const double hx = lx + ex, hz = lz + ez, len = std::sqrt(hx * hx + hz * hz);
    return int(std::lround(255.0 * std::pow(-hz / len, 8.0)));
  };
  {
    Picture p(d);
    ExpectColor(p, Px(0), Py(0), 0xffffff, 2, "local viewer, centre");
    const int s = specular(true);
    ExpectColor(p, Px(x), Py(0), D3DCOLOR_XRGB(s, s, s), 4, "local viewer, off the axis");
  }
  d->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000080, 0.0f, 0);
  DrawWall();
  const int s = specular(false);
  ExpectColor(d, Px(x), Py(0), D3DCOLOR_XRGB(s, s, s), 4, "viewer at infinity, off the axis");
}

// ---------------------------------------------------------------------------
// Fog

class GfxGl_d3d9Fog : public GfxGl_d3d9Behaviour {
 protected:
  void SetUp() override {
    GfxGl_d3d9Behaviour::SetUp();
    if (!d) return;
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xff00ff00);
    SetFloatState(D3DRS_FOGSTART, 0.0f);
    SetFloatState(D3DRS_FOGEND, 1.0f);
  }
  static constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;
  static constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;
  const FogVertex lowerLeft[4] = {{-1, -1, 0.1f, 0xffff0000, 0xff000000}, {-1, 0, 0.1f, 0xffff0000, 0xff000000},
                                  {0, 0, 0.1f, 0xffff0000, 0xff000000}, {0, -1, 0.1f, 0xffff0000, 0xff000000}};
  const FogVertex upperLeft[4] = {{-1, 0, 1.0f, 0xffff0000, 0xff000000}, {-1, 1, 1.0f, 0xffff0000, 0xff000000},
                                  {0, 1, 1.0f, 0xffff0000, 0xff000000}, {0, 0, 1.0f, 0xffff0000, 0xff000000}};
  const FogScreenVertex upperRight[4] = {{320, 0, 1, 1, 0xffffff00, 0xff000000}, {640, 0, 1, 1, 0xffffff00, 0xff000000},
                                         {640, 240, 1, 1, 0xffffff00, 0xff000000},
                                         {320, 240, 1, 1, 0xffffff00, 0xff000000}};
  const FogScreenVertex lowerRight[4] = {{320, 240, 1, 1, 0xffffff00, 0xff000000},
                                         {640, 240, 1, 1, 0xffffff00, 0xff000000},
                                         {640, 480, 1, 1, 0xffffff00, 0xff000000},
                                         {320, 480, 1, 1, 0xffffff00, 0xff000000}};
};

TEST_F(GfxGl_d3d9Fog, VertexAndTableModesPickTheirInput) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff00ff, 0.0f, 0);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  DrawIndexedQuad(kFvf, lowerLeft);  // neither mode: no fog
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  DrawIndexedQuad(kFvf, upperLeft);  // z = 1: fully fogged
  DrawIndexedQuad(kScreenFvf, upperRight);  // pre-transformed vertex fog: none
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  DrawIndexedQuad(kScreenFvf, lowerRight);  // pre-transformed table fog on z = 1
  ExpectColors(d, {{160, 360, 0xff0000, 0, "no table or vertex fog"},
                   {160, 120, 0x00ff00, 1, "linear vertex fog"},
                   {480, 120, 0xffff00, 0, "pre-transformed, vertex fog"},
                   {480, 360, 0x00ff00, 1, "pre-transformed, table fog"}});
}

TEST_F(GfxGl_d3d9Fog, StartEqualToEndFogsEverything) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 0.0f, 0);
  SetFloatState(D3DRS_FOGSTART, 512.0f);
  SetFloatState(D3DRS_FOGEND, 512.0f);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  DrawIndexedQuad(kFvf, lowerLeft);
  DrawIndexedQuad(kFvf, upperLeft);
  DrawIndexedQuad(kScreenFvf, upperRight);
  ExpectColors(d, {{160, 360, 0x00ff00, 1, "z = 0.1, nearer than the start"},
                   {160, 120, 0x00ff00, 1, "z = 1"},
                   {480, 120, 0xffff00, 0, "pre-transformed"}});
}

TEST_F(GfxGl_d3d9Fog, ReversedLinearVertexFog) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff0000, 0.0f, 0);
  SetFloatState(D3DRS_FOGSTART, 0.8f);
  SetFloatState(D3DRS_FOGEND, 0.2f);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  const Vertex quads[] = {{-1, -1, 0.1f, 0xff0000ff}, {-1, 0, 0.1f, 0xff0000ff}, {0, 0, 0.1f, 0xff0000ff},
                          {0, -1, 0.1f, 0xff0000ff},  {0, -1, 0.9f, 0xff0000ff}, {0, 0, 0.9f, 0xff0000ff},
                          {1, 0, 0.9f, 0xff0000ff},   {1, -1, 0.9f, 0xff0000ff}, {0, 0, 0.4f, 0xff0000ff},
                          {0, 1, 0.4f, 0xff0000ff},   {1, 1, 0.4f, 0xff0000ff},  {1, 0, 0.4f, 0xff0000ff},
                          {-1, 0, 0.7f, 0xff0000ff},  {-1, 1, 0.7f, 0xff0000ff}, {0, 1, 0.7f, 0xff0000ff},
                          {0, 0, 0.7f, 0xff0000ff}};
  const WORD indexes[] = {0, 1, 2, 2, 3, 0, 4, 5, 6, 6, 7, 4, 8, 9, 10, 10, 11, 8, 12, 13, 14, 14, 15, 12};
  d->SetFVF(kVertexFvf);
  ASSERT_EQ(D3D_OK, d->BeginScene());
  EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 16, 8, indexes, D3DFMT_INDEX16, quads,
                                              sizeof quads[0]));
  d->EndScene();
  ExpectColors(d, {{160, 360, 0x00ff00, 1, "z = 0.1"},
                   {160, 120, 0x002bd4, 2, "z = 0.7"},
                   {480, 120, 0x00aa55, 2, "z = 0.4"},
                   {480, 360, 0x0000ff, 0, "z = 0.9"}});
}

TEST_F(GfxGl_d3d9Fog, TableFogUsesTheWorldAndAnOrthographicProjectionsDepth) {
  D3DMATRIX world = Identity();
  world._43 = -0.5f;
  d->SetTransform(D3DTS_WORLD, &world);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff00ff, 0.0f, 0);
  const FogVertex nearQuad[] = {{-1, -1, 0.5f, 0xffff0000, 0xff000000}, {-1, 0, 0.5f, 0xffff0000, 0xff000000},
                                {0, 0, 0.5f, 0xffff0000, 0xff000000}, {0, -1, 0.5f, 0xffff0000, 0xff000000}};
  const FogVertex farQuad[] = {{-1, 0, 1.5f, 0xffff0000, 0xff000000}, {-1, 1, 1.5f, 0xffff0000, 0xff000000},
                               {0, 1, 1.5f, 0xffff0000, 0xff000000}, {0, 0, 1.5f, 0xffff0000, 0xff000000}};
  DrawIndexedQuad(kFvf, nearQuad);
  DrawIndexedQuad(kFvf, farQuad);
  ExpectColors(d, {{160, 360, 0xff0000, 4, "unfogged quad"},
                   {160, 120, 0x00ff00, 1, "fogged-out quad"}});

  // An orthographic projection moving z by -1: the fog reads the projected z, not the eye's.
  world = Identity();
  world._43 = 1.0f;
  d->SetTransform(D3DTS_WORLD, &world);
  D3DMATRIX proj = Identity();
  proj._43 = -1.0f;
  d->SetTransform(D3DTS_PROJECTION, &proj);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff00ff, 0.0f, 0);
  DrawIndexedQuad(kFvf, lowerLeft);
  DrawIndexedQuad(kFvf, upperLeft);
  ExpectColors(d, {{160, 360, 0xe51900, 4, "partially fogged quad"},
                   {160, 120, 0x00ff00, 1, "fogged-out quad"}});
}

// Pre-transformed vertices under a projection without perspective: table fog on z, whatever rhw.
TEST_F(GfxGl_d3d9Fog, TableFogOfPretransformedVerticesReadsZ) {
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  const struct {
    float z, rhw;
    D3DCOLOR want;
  } cases[] = {{0.7f, 0.3f, 0x4cb200}, {0.7f, 1.0f, 0x4cb200}, {0.7f, 3.0f, 0x4cb200}, {0.3f, 0.3f, 0xb24c00},
               {0.3f, 3.0f, 0xb24c00}};
  for (const auto& c : cases) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 0.0f, 0);
    const FogScreenVertex quad[] = {{0, 0, c.z, c.rhw, 0xffff0000, 0xff000000},
                                    {640, 0, c.z, c.rhw, 0xffff0000, 0xff000000},
                                    {640, 480, c.z, c.rhw, 0xffff0000, 0xff000000},
                                    {0, 480, c.z, c.rhw, 0xffff0000, 0xff000000}};
    DrawIndexedQuad(kScreenFvf, quad);
    ExpectColor(d, 320, 240, c.want, 2, "z " + std::to_string(c.z) + ", rhw " + std::to_string(c.rhw));
  }
}

TEST_F(GfxGl_d3d9Fog, RangeFogAppliesToVertexFogOnly) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff00ff, 0.0f, 0);
  d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
  SetFloatState(D3DRS_FOGSTART, 0.5f);
  SetFloatState(D3DRS_FOGEND, 0.50001f);
  const FogVertex quad[] = {{-1, -1, 0.4999f, 0xffff0000, 0xff000000}, {-1, 1, 0.4999f, 0xffff0000, 0xff000000},
                            {1, -1, 0.4999f, 0xffff0000, 0xff000000}, {1, 1, 0.4999f, 0xffff0000, 0xff000000}};
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  DrawStrip(kFvf, quad);
  {
    Picture p(d);
    for (auto [x, y] : {std::pair{10u, 10u}, {630u, 10u}, {10u, 470u}, {630u, 470u}})
      ExpectColor(p, x, y, 0xff0000, 0, "table fog ignores the range");
  }
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  DrawStrip(kFvf, quad);
  Picture p(d);
  for (auto [x, y] : {std::pair{10u, 10u}, {630u, 10u}, {10u, 470u}, {630u, 470u}})
    ExpectColor(p, x, y, 0x00ff00, 1, "vertex fog on the range");
}

// ---------------------------------------------------------------------------
// Texture stages

// Every operation the caps claim, on diffuse 0x55ff0000 (arg0), texture 0x9900ff00 (arg1) and
// factor 0xdd333333 (arg2); the bump-mapping pair is not claimed.
TEST_F(GfxGl_d3d9Behaviour, EveryClaimedTextureOperationDrawsWhatItComputes) {
  D3DCAPS9 caps{};
  d->GetDeviceCaps(&caps);
  EXPECT_FALSE(caps.TextureOpCaps & D3DTEXOPCAPS_BUMPENVMAP);
  EXPECT_FALSE(caps.TextureOpCaps & D3DTEXOPCAPS_BUMPENVMAPLUMINANCE);
  struct TexVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
  };
  constexpr D3DCOLOR kDiffuse = D3DCOLOR_ARGB(0x55, 0xff, 0x00, 0x00);
  const TexVertex quad[] = {{-1, -1, 0.1f, kDiffuse, -1, -1}, {-1, 1, 0.1f, kDiffuse, -1, 1},
                            {1, -1, 0.1f, kDiffuse, 1, -1}, {1, 1, 0.1f, kDiffuse, 1, 1}};
  const struct {
    D3DTEXTUREOP op;
    D3DCOLOR want;
  } cases[] = {
      {D3DTOP_SELECTARG1, 0x00ff00},          {D3DTOP_SELECTARG2, 0x333333},
      {D3DTOP_MODULATE, 0x003300},            {D3DTOP_MODULATE2X, 0x006600},
      {D3DTOP_MODULATE4X, 0x00cc00},          {D3DTOP_ADD, 0x33ff33},
      {D3DTOP_ADDSIGNED, 0x00b200},           {D3DTOP_ADDSIGNED2X, 0x00ff00},
      {D3DTOP_SUBTRACT, 0x00cc00},            {D3DTOP_ADDSMOOTH, 0x33ff33},
      {D3DTOP_BLENDDIFFUSEALPHA, 0x227722},   {D3DTOP_BLENDTEXTUREALPHA, 0x14ad14},
      {D3DTOP_BLENDFACTORALPHA, 0x07e407},    {D3DTOP_BLENDTEXTUREALPHAPM, 0x14ff14},
      {D3DTOP_BLENDCURRENTALPHA, 0x227722},   {D3DTOP_MODULATEALPHA_ADDCOLOR, 0x1fff1f},
      {D3DTOP_MODULATECOLOR_ADDALPHA, 0x99cc99}, {D3DTOP_MODULATEINVALPHA_ADDCOLOR, 0x14ff14},
      {D3DTOP_MODULATEINVCOLOR_ADDALPHA, 0xcc99cc}, {D3DTOP_DOTPRODUCT3, 0x999999},
      {D3DTOP_MULTIPLYADD, 0xff3300},         {D3DTOP_LERP, 0x003333},
  };
  auto texture = SolidTexture(D3DCOLOR_ARGB(0x99, 0x00, 0xff, 0x00));
  d->SetTexture(0, texture);
  d->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_DIFFUSE);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_TEXTUREFACTOR, D3DCOLOR_ARGB(0xdd, 0x33, 0x33, 0x33));
  d->SetTextureStageState(0, D3DTSS_COLORARG0, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  DWORD tested = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_PREMODULATE;  // the stage-switch and its own case below
  for (const auto& c : cases) {
    tested |= 1u << (c.op - 1);
    EXPECT_TRUE(caps.TextureOpCaps & (1u << (c.op - 1))) << "operation " << c.op << " not claimed";
    d->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 0.0f, 0);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_DIFFUSE);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]));
    d->EndScene();
    ExpectColor(d, 320, 240, c.want, 3, "operation " + std::to_string(c.op));
  }
  EXPECT_EQ(0u, caps.TextureOpCaps & ~tested) << "claimed but untested operations";
}

TEST_F(GfxGl_d3d9Behaviour, PremodulateMultipliesByTheNextStagesTexture) {
  auto next = SolidTexture(0xff80ff40);
  d->SetTexture(1, next);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_PREMODULATE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
  struct TexVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
  } quad[] = {{-1, -1, 0.1f, 0xffffff80, 0, 0}, {-1, 1, 0.1f, 0xffffff80, 0, 1}, {1, -1, 0.1f, 0xffffff80, 1, 0},
              {1, 1, 0.1f, 0xffffff80, 1, 1}};
  DrawStrip(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, quad);
  ExpectColor(d, 320, 240, 0x80ff20, 2, "diffuse times the next stage's texel");
  // Without a next stage it selects its argument.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  DrawStrip(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, quad);
  ExpectColor(d, 320, 240, 0xffff80, 1, "no next stage");
}

TEST_F(GfxGl_d3d9Behaviour, StageResultsSaturateBetweenStages) {
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 1.0f, 0);
  d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x80808080);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
  DrawFullQuad(0xffffffff);
  ExpectColor(d, 320, 240, 0x808080, 1, "range above 1");

  auto black = SolidTexture(0x00000000);
  d->SetTexture(0, black);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
  d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  DrawFullQuad(0xffffffff);
  ExpectColor(d, 320, 240, 0xffffff, 1, "range below 0");
}

TEST_F(GfxGl_d3d9Behaviour, AlphaReplicateAndDotProductIntoAlpha) {
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 1.0f, 0);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE);
  DrawFullQuad(0x80ff00ff);
  ExpectColor(d, 320, 240, 0x808080, 1, "alpha replicate");

  // The dot product fills alpha too: stage 1 replicates it.
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT | D3DTA_ALPHAREPLICATE);
  d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xffffffff);
  DrawFullQuad(0x408080c0);
  ExpectColor(d, 320, 240, 0x808080, 4, "dot product in alpha");
}

// ---------------------------------------------------------------------------
// Texture coordinates

TEST_F(GfxGl_d3d9Behaviour, ProjectedWithoutACountDividesByTheLastCoordinate) {
  // A 2 x 2 texture: white top-left, black elsewhere. Coordinates (u, v, 0, q) with q = 4 would
  // read the black texel at (1.6, 1.6) undivided, the white one at (0.4, 0.4) divided.
  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
  D3DLOCKED_RECT lr{};
  tex->LockRect(0, &lr, nullptr, 0);
  auto* row0 = static_cast<DWORD*>(lr.pBits);
  auto* row1 = reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + lr.Pitch);
  row0[0] = 0xffffffff, row0[1] = 0xff000000, row1[0] = row1[1] = 0xff000000;
  tex->UnlockRect(0);
  d->SetTexture(0, tex);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_PROJECTED);
  struct Vertex4 {
    float x, y, z, s, t, r, q;
  } quad[] = {{-1, -1, 0.1f, 1.6f, 1.6f, 0, 4}, {-1, 1, 0.1f, 1.6f, 1.6f, 0, 4}, {1, -1, 0.1f, 1.6f, 1.6f, 0, 4},
              {1, 1, 0.1f, 1.6f, 1.6f, 0, 4}};
  DrawStrip(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE4(0), quad);
  Picture p(d);
  for (auto [x, y] : {std::pair{160u, 120u}, {480u, 120u}, {160u, 360u}, {480u, 360u}})
    ExpectColor(p, x, y, 0xffffff, 0, "divided by q");
}

// Cube maps never wrap: a linear lookup at a corner blends the corner texels of the faces (or
// one face's with itself), never the far side of a face nor the border, whatever the address mode.
TEST_F(GfxGl_d3d9Behaviour, CubeMapCornersClampWhateverTheAddressMode) {
  std::shared_ptr<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(D3D_OK, d->CreateCubeTexture(128, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube, nullptr));
  for (int face = 0; face < 6; ++face) {
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, cube->LockRect(D3DCUBEMAP_FACES(face), 0, &lr, nullptr, 0));
    // Face 0: blue left half, red right half; the others the other way round.
    const D3DCOLOR left = face == 0 ? 0xff0000ff : 0xffff0000, right = face == 0 ? 0xffff0000 : 0xff0000ff;
    for (int y = 0; y < 128; ++y) {
      auto* row = reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch);
      for (int x = 0; x < 128; ++x) row[x] = x < 64 ? left : right;
    }
    cube->UnlockRect(D3DCUBEMAP_FACES(face), 0);
  }
  d->SetTexture(0, cube);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0xff00ff00);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  struct CubeVertex {
    float x, y, z, s, t, r;
  } quad[] = {{-1, -1, 0, 1, 1, 1}, {-1, 1, 0, 1, 1, 1}, {1, -1, 0, 1, 1, 1}, {1, 1, 0, 1, 1, 1}};
  for (DWORD mode : {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER,
                     D3DTADDRESS_MIRRORONCE}) {
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, mode);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, mode);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0.0f, 0);
    DrawStrip(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0), quad);
    ExpectColor(d, 320, 240, 0x0000ff, 1, "address mode " + std::to_string(mode));
  }
  d->SetTexture(0, nullptr);
}

// ---------------------------------------------------------------------------
// Depth and alpha tests

TEST_F(GfxGl_d3d9Behaviour, DepthWritesNeedTheDepthTest) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff0000ff, 1.0f, 0);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  const Vertex nearQuad[] = {{-1, -1, 0.1f, 0x00ff0000}, {-1, 1, 0.1f, 0x00ff0000}, {1, -1, 0.1f, 0x00ff0000},
                             {1, 1, 0.1f, 0x00ff0000}};
  const Vertex farQuad[] = {{-1, -1, 0.9f, 0x0000ff00}, {-1, 1, 0.9f, 0x0000ff00}, {1, -1, 0.9f, 0x0000ff00},
                            {1, 1, 0.9f, 0x0000ff00}};
  DrawStrip(kVertexFvf, nearQuad);
  d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  DrawStrip(kVertexFvf, farQuad);
  ExpectColor(d, 320, 240, 0x00ff00, 1, "the first quad wrote no depth");
}

TEST_F(GfxGl_d3d9Behaviour, AlphaTestEveryComparisonBelowAtAndAboveTheReference) {
  constexpr D3DCOLOR kPassed = 0x00ff00, kFailed = 0xff0000;
  const struct {
    D3DCMPFUNC func;
    D3DCOLOR less, equal, greater;
  } cases[] = {
      {D3DCMP_NEVER, kFailed, kFailed, kFailed},       {D3DCMP_LESS, kPassed, kFailed, kFailed},
      {D3DCMP_EQUAL, kFailed, kPassed, kFailed},       {D3DCMP_LESSEQUAL, kPassed, kPassed, kFailed},
      {D3DCMP_GREATER, kFailed, kFailed, kPassed},     {D3DCMP_NOTEQUAL, kPassed, kFailed, kPassed},
      {D3DCMP_GREATEREQUAL, kFailed, kPassed, kPassed}, {D3DCMP_ALWAYS, kPassed, kPassed, kPassed},
  };
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  for (int shader = 0; shader < 2; ++shader) {
    if (shader) {
      // The same through a pixel shader that hands the colour on.
      std::shared_ptr<IDirect3DPixelShader9> ps;
      const char* source =
          "#version 330 core\nin vec4 gx_Color0;\nout vec4 gx_FragColor;\nvoid main() { gx_FragColor = gx_Color0; }\n";
      ASSERT_EQ(D3D_OK, d->CreatePixelShader(reinterpret_cast<const DWORD*>(source), ps));
      d->SetPixelShader(ps);
    }
    for (const auto& c : cases) {
      d->SetRenderState(D3DRS_ALPHAFUNC, c.func);
      for (auto [ref, want] : {std::pair{0x90u, c.less}, {0x80u, c.equal}, {0x70u, c.greater}}) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffff0000, 0.0f, 0);
        d->SetRenderState(D3DRS_ALPHAREF, ref);
        DrawFullQuad(0x8000ff00);
        ExpectColor(d, 320, 240, want, 1,
                    "function " + std::to_string(c.func) + ", reference " + std::to_string(ref) +
                        (shader ? ", pixel shader" : ""));
      }
    }
  }
  d->SetPixelShader(nullptr);
}

// ---------------------------------------------------------------------------
// What is kept but not drawn says so

TEST_F(GfxGl_d3d9Behaviour, StatesKeptButNotDrawnAreReportedOnce) {
  gx::GxClearReportedMessages();
  d->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
  d->SetRenderState(D3DRS_CLIPPLANEENABLE, 3);
  d->SetRenderState(D3DRS_WRAP0, D3DWRAP_U);
  d->SetRenderState(D3DRS_DEPTHBIAS, gx::FloatAsDword(0.001f));
  d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);  // drawn: says nothing
  const auto said = gx::GxReportedMessages();
  ASSERT_EQ(3u, said.size());
  EXPECT_NE(std::string::npos, said[0].find("CLIPPLANEENABLE"));
  EXPECT_NE(std::string::npos, said[1].find("WRAP"));
  EXPECT_NE(std::string::npos, said[2].find("DEPTHBIAS"));
  DWORD kept = 0;
  d->GetRenderState(D3DRS_CLIPPLANEENABLE, &kept);
  EXPECT_EQ(3u, kept);
}
