// More of the pipeline on the gl backend: shading and fill modes, stencil,
// viewports and clears, indexed and dynamic buffers, mip levels.

#include <cstring>

#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

class GfxPipeline_conformance : public ScreenDrawingTest {
 protected:
  GfxPipeline_conformance() : ScreenDrawingTest(64, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL) {}
};

TEST_F(GfxPipeline_conformance, FlatShadingTakesTheFirstVertexColour) {
  ScreenVertex v[3] = {{0, 0, 0.5f, 1, 0xFFFF0000}, {64, 0, 0.5f, 1, 0xFF00FF00}, {0, 64, 0.5f, 1, 0xFF0000FF}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
  d->EndScene();
  Picture p(d);
  ExpectNear(p.At(40, 5), {255, 0, 0, 255}, 0, "near the green corner");
  ExpectNear(p.At(5, 40), {255, 0, 0, 255}, 0, "near the blue corner");
  d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
  d->EndScene();
  EXPECT_GT(Picture(d).At(50, 2).g, 150);
}

TEST_F(GfxPipeline_conformance, WireframeLeavesTheInsideEmpty) {
  d->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
  d->BeginScene();
  DrawRect(d, 8, 8, 56, 56, 0xFFFFFFFF);
  d->EndScene();
  Picture p(d);
  EXPECT_EQ(0, p.At(20, 40).r);  // inside, off the diagonal
  int edge = 0;
  for (UINT y = 6; y < 11; ++y) edge += p.At(30, y).r;
  EXPECT_GT(edge, 0);  // the top edge is drawn
}

TEST_F(GfxPipeline_conformance, StencilMasksWhereAShapeWasDrawn) {
  d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
  d->SetRenderState(D3DRS_STENCILREF, 1);
  d->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  d->BeginScene();
  DrawRect(d, 0, 0, 32, 64, 0xFFFFFFFF);  // left half into the stencil only
  d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
  d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
  DrawRect(d, 0, 0, 64, 64, 0xFF00FF00);
  d->EndScene();
  Picture p(d);
  ExpectNear(p.At(10, 10), {0, 255, 0, 255}, 0, "inside the stencil");
  ExpectNear(p.At(50, 10), {0, 0, 0, 255}, 0, "outside the stencil");
}

TEST_F(GfxPipeline_conformance, ViewportsMapTransformedButNotPretransformedVertices) {
  D3DVIEWPORT9 vp{32, 0, 32, 32, 0, 1};
  d->SetViewport(&vp);
  struct V {
    float x, y, z;
    D3DCOLOR c;
  } full[4] = {{-1, 1, 0.5f, 0xFFFF0000}, {1, 1, 0.5f, 0xFFFF0000}, {-1, -1, 0.5f, 0xFFFF0000}, {1, -1, 0.5f, 0xFFFF0000}};
  d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d->BeginScene();
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, full, sizeof full[0]);
  DrawRect(d, 40, 40, 41, 41, 0xFF0000FF);  // screen pixels, even outside the viewport... clipped to it
  DrawRect(d, 40, 10, 41, 11, 0xFF00FF00);  // inside the viewport: lands on (40, 10)
  d->EndScene();
  Picture p(d);
  EXPECT_EQ(255, p.At(33, 1).r);   // the viewport's top-left
  EXPECT_EQ(0, p.At(31, 1).r);     // left of it
  EXPECT_EQ(0, p.At(40, 33).r);    // below it
  ExpectNear(p.At(40, 10), {0, 255, 0, 255}, 0, "pre-transformed pixel");
  EXPECT_EQ(0, p.At(40, 40).b);    // outside the viewport nothing is drawn
  // A clear covers only the viewport, or the given rectangles within it.
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1, 0);
  Picture q(d);
  EXPECT_EQ(255, q.At(50, 20).b);
  EXPECT_EQ(0, q.At(10, 20).b);
  RECT r{0, 0, 40, 8};
  d->Clear(1, &r, D3DCLEAR_TARGET, 0xFF00FF00, 1, 0);
  Picture c(d);
  ExpectNear(c.At(35, 4), {0, 255, 0, 255}, 0, "rectangle inside the viewport");
  ExpectNear(c.At(10, 4), {0, 0, 0, 255}, 0, "rectangle outside the viewport");
}

TEST_F(GfxPipeline_conformance, IndexedDrawsWithABaseVertex) {
  ScreenVertex verts[8];
  for (int i = 0; i < 8; ++i) verts[i] = {0, 0, 0.5f, 1, 0xFF00FF00};
  // Vertices 4..7 hold the quad at (16,16)-(48,48); 0..3 a decoy.
  const float corners[4][2] = {{16, 16}, {48, 16}, {16, 48}, {48, 48}};
  for (int i = 0; i < 4; ++i) {
    verts[4 + i].x = corners[i][0], verts[4 + i].y = corners[i][1];
    verts[i].x = corners[i][0] - 16, verts[i].y = corners[i][1] - 16, verts[i].color = 0xFFFF0000;
  }
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  std::shared_ptr<IDirect3DIndexBuffer9> ib;
  d->CreateVertexBuffer(sizeof verts, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, vb, nullptr);
  d->CreateIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib, nullptr);
  void* p = nullptr;
  vb->Lock(0, 0, &p, 0);
  std::memcpy(p, verts, sizeof verts);
  vb->Unlock();
  const std::uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  ib->Lock(0, 0, &p, 0);
  std::memcpy(p, idx, sizeof idx);
  ib->Unlock();
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  d->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
  d->SetIndices(ib);
  d->BeginScene();
  ASSERT_EQ(D3D_OK, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2));
  d->EndScene();
  Picture pic(d);
  ExpectNear(pic.At(30, 30), {0, 255, 0, 255}, 0, "quad from vertices 4..7");
  ExpectNear(pic.At(5, 5), {0, 0, 0, 255}, 0, "decoy not drawn");
}

TEST_F(GfxPipeline_conformance, DiscardedDynamicBufferDrawsItsNewContents) {
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  d->CreateVertexBuffer(4 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, vb,
                        nullptr);
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  d->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
  for (D3DCOLOR color : {0xFFFF0000u, 0xFF0000FFu}) {
    void* p = nullptr;
    ASSERT_EQ(D3D_OK, vb->Lock(0, 0, &p, D3DLOCK_DISCARD));
    ScreenVertex v[4] = {{0, 0, 0.5f, 1, color}, {64, 0, 0.5f, 1, color}, {0, 64, 0.5f, 1, color}, {64, 64, 0.5f, 1, color}};
    std::memcpy(p, v, sizeof v);
    vb->Unlock();
    d->BeginScene();
    d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    d->EndScene();
    Picture pic(d);
    EXPECT_EQ(int(color >> 16 & 0xFF), pic.At(20, 20).r);
    EXPECT_EQ(int(color & 0xFF), pic.At(20, 20).b);
  }
  // A partial update of a managed buffer reaches the GPU too.
  void* p = nullptr;
  vb->Lock(0, sizeof(ScreenVertex), &p, 0);
  static_cast<ScreenVertex*>(p)->x = 32;  // first corner moves right
  vb->Unlock();
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1, 0);
  d->BeginScene();
  d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
  d->EndScene();
  EXPECT_EQ(0, Picture(d).At(2, 2).b);
}

TEST_F(GfxPipeline_conformance, MipFilterPicksSmallerLevels) {
  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
  const DWORD colors[5] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFFFFFFFF};
  for (UINT level = 0; level < tex->GetLevelCount(); ++level) {
    D3DSURFACE_DESC desc{};
    tex->GetLevelDesc(level, &desc);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, tex->LockRect(level, &lr, nullptr, 0));
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x)
        reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = colors[level];
    tex->UnlockRect(level);
  }
  d->SetTexture(0, tex);
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
  d->BeginScene();
  DrawTexturedRect(d, 0, 0, 4, 4);  // 16 texels on 4 pixels: level 2
  d->EndScene();
  ExpectNear(Picture(d).At(1, 1), {0, 0, 255, 255}, 0, "level 2");
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  d->BeginScene();
  DrawTexturedRect(d, 0, 0, 4, 4);
  d->EndScene();
  ExpectNear(Picture(d).At(1, 1), {255, 0, 0, 255}, 0, "no mip filter: level 0");
}

TEST_F(GfxPipeline_conformance, RedundantStatesIssueNoGlCalls) {
  d->BeginScene();
  DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
  gx::GxResetStats(d);
  DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
  auto one = gx::GxGetStats(d).glCalls;
  gx::GxResetStats(d);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);  // already so
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  DrawRect(d, 0, 0, 8, 8, 0xFFFFFFFF);
  d->EndScene();
  EXPECT_EQ(one, gx::GxGetStats(d).glCalls);
  EXPECT_LE(one, 3u);  // the vertices, the draw, nothing else
}

}  // namespace

namespace {

// A texture updated after a draw with another texture must receive the new
// pixels itself, not hand them to whatever the draw left on the active unit.
TEST_F(GfxPipeline_conformance, TextureUpdatedMidFrameGoesToThatTexture) {
  auto make = [&](DWORD color) {
    std::shared_ptr<IDirect3DTexture9> t;
    d->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t, nullptr);
    D3DLOCKED_RECT lr{};
    t->LockRect(0, &lr, nullptr, 0);
    *static_cast<DWORD*>(lr.pBits) = color;
    t->UnlockRect(0);
    return t;
  };
  auto fade = make(0xFFFF0000);
  auto atlas = make(0xFF00FF00);  // last uploaded: still bound on the upload unit
  d->BeginScene();
  d->SetTexture(0, fade);
  DrawTexturedRect(d, 0, 0, 32, 64);
  D3DLOCKED_RECT lr{};
  atlas->LockRect(0, &lr, nullptr, 0);
  *static_cast<DWORD*>(lr.pBits) = 0xFF0000FF;
  atlas->UnlockRect(0);
  Picture p = ShowTexture(d, atlas, 32, 0);
  ExpectNear(p.At(10, 10), {255, 0, 0, 255}, 0, "first texture unchanged");
  ExpectNear(p.At(50, 10), {0, 0, 255, 255}, 0, "second texture updated");
}

}  // namespace
