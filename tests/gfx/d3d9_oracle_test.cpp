// What Direct3D 9 draws, continued: mip levels, buffers released while bound, vertex
// declarations, the texture-transform flags and the specular tables. States, vertices,
// expected colours and tolerances are those Wine's Direct3D 9 tests (dlls/d3d9/tests/visual.c)
// record from real drivers; the cube-map transform and the specular sum with ambient and
// diffuse light follow Direct3D 9's documented formulas. Where drivers disagree (D3DTTFF_COUNT1)
// either recorded answer passes, but one driver's answers must hold together.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/gfx/d3d9_reference.h"

using namespace gfxtest;

namespace {

class GfxGl_d3d9Oracle : public GfxGl_d3d9Behaviour {
 protected:
  // A w x h texture whose texel (x, y) is (r, g) = (y / h, x / w): the colour names the
  // coordinates that reached the sampler.
  std::shared_ptr<IDirect3DTexture9> GradientTexture(UINT w, UINT h) {
    std::shared_ptr<IDirect3DTexture9> tex;
    EXPECT_EQ(D3D_OK, d->CreateTexture(w, h, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
    for (UINT y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch);
      for (UINT x = 0; x < w; ++x)
        row[x] = D3DCOLOR_XRGB(int(double(y) / h * 255.0), int(double(x) / w * 255.0), 0);
    }
    tex->UnlockRect(0);
    return tex;
  }
  // A 128 x 128 texture of three levels, red, green and blue, bound to stage 0 unlit.
  std::shared_ptr<IDirect3DTexture9> LevelsTexture() {
    std::shared_ptr<IDirect3DTexture9> tex;
    EXPECT_EQ(D3D_OK, d->CreateTexture(128, 128, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
    if (!tex) return nullptr;
    UINT level = 0;
    for (D3DCOLOR c : {0xffff0000u, 0xff00ff00u, 0xff0000ffu}) {
      D3DLOCKED_RECT lr{};
      EXPECT_EQ(D3D_OK, tex->LockRect(level, &lr, nullptr, 0));
      const UINT size = 128 >> level;
      for (UINT y = 0; y < size; ++y)
        std::fill_n(reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch), size, c);
      tex->UnlockRect(level++);
    }
    d->SetTexture(0, tex);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    return tex;
  }
  // Stage 0 shows the texture alone, unlit, point-sampled and clamped.
  void ShowTexture(const std::shared_ptr<IDirect3DBaseTexture9>& tex) {
    d->SetTexture(0, tex);
    for (auto f : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER}) d->SetSamplerState(0, f, D3DTEXF_POINT);
    for (auto a : {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV}) d->SetSamplerState(0, a, D3DTADDRESS_CLAMP);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
  }
  std::shared_ptr<IDirect3DVertexDeclaration9> Declaration(std::initializer_list<D3DVERTEXELEMENT9> elements) {
    std::vector<D3DVERTEXELEMENT9> list(elements);
    list.push_back(D3DDECL_END());
    std::shared_ptr<IDirect3DVertexDeclaration9> decl;
    EXPECT_EQ(D3D_OK, d->CreateVertexDeclaration(list.data(), decl));
    return decl;
  }
};

struct TexVertex {  // D3DFVF_XYZ | D3DFVF_TEX1
  float x, y, z, u, v;
};
constexpr DWORD kTexFvf = D3DFVF_XYZ | D3DFVF_TEX1;

// The four quarters of the target with the whole texture on each, in the order the reference
// draws them, and the pixel probed in each.
const TexVertex kQuarters[4][4] = {
    {{-1, -1, 0, 0, 0}, {-1, 0, 0, 0, 1}, {0, -1, 0, 1, 0}, {0, 0, 0, 1, 1}},  // bottom left
    {{0, -1, 0, 0, 0}, {0, 0, 0, 0, 1}, {1, -1, 0, 1, 0}, {1, 0, 0, 1, 1}},    // bottom right
    {{0, 0, 0, 0, 0}, {0, 1, 0, 0, 1}, {1, 0, 0, 1, 0}, {1, 1, 0, 1, 1}},      // top right
    {{-1, 0, 0, 0, 0}, {-1, 1, 0, 0, 1}, {0, 0, 0, 1, 0}, {0, 1, 0, 1, 1}},    // top left
};
const UINT kQuarterProbe[4][2] = {{160, 360}, {480, 360}, {480, 120}, {160, 120}};

// The colours of the four quarters in that order.
void ExpectQuarters(IDirect3DDevice9* d, const std::array<D3DCOLOR, 4>& want, int tolerance,
                    const std::array<std::string, 4>& what) {
  Picture p(d);
  for (int q = 0; q < 4; ++q) ExpectColor(p, kQuarterProbe[q][0], kQuarterProbe[q][1], want[q], tolerance, what[q]);
}

}  // namespace

// ---------------------------------------------------------------------------
// Mip levels

// The three levels magnified over each quarter.
TEST_F(GfxGl_d3d9Oracle, MaxMipLevelPicksTheLevelOnlyWithAMipFilter) {
  auto tex = LevelsTexture();
  ASSERT_TRUE(tex);
  const struct {
    DWORD mipFilter;
    std::array<D3DCOLOR, 4> want;  // MAXMIPLEVEL 0, 1, 2, 3
  } cases[] = {
      {D3DTEXF_NONE, {0xff0000, 0xff0000, 0xff0000, 0xff0000}},   // the level is ignored
      {D3DTEXF_POINT, {0xff0000, 0x00ff00, 0x0000ff, 0x0000ff}},  // 3 is past the last level
  };
  for (const auto& c : cases) {
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, c.mipFilter);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
    for (DWORD level = 0; level < 4; ++level) {
      d->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, level);
      DrawStrip(kTexFvf, kQuarters[level]);
    }
    const std::string filter = "mip filter " + std::to_string(c.mipFilter) + ", MAXMIPLEVEL ";
    ExpectQuarters(d, c.want, 0, {filter + "0", filter + "1", filter + "2", filter + "3"});
  }
}

// SetLOD limits the levels with or without a mip filter; with one, the coarser of the LOD and
// MAXMIPLEVEL wins.
TEST_F(GfxGl_d3d9Oracle, SetLodLimitsTheLevelsAndTheCoarserLimitWins) {
  auto tex = LevelsTexture();
  ASSERT_TRUE(tex);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xffffffff, 0.0f, 0);
  const struct {
    DWORD mipFilter, maxMip, lod, previousLod;
    D3DCOLOR want;
  } cases[] = {
      {D3DTEXF_NONE, 0, 1, 0, 0x00ff00},   // LOD below MAXMIPLEVEL, no mip filter: the LOD limits
      {D3DTEXF_POINT, 1, 2, 1, 0x0000ff},  // LOD below MAXMIPLEVEL: the LOD limits
      {D3DTEXF_POINT, 2, 1, 2, 0x0000ff},  // LOD above MAXMIPLEVEL: MAXMIPLEVEL limits
      {D3DTEXF_NONE, 2, 1, 1, 0x00ff00},   // no mip filter: the LOD alone
  };
  for (int q = 0; q < 4; ++q) {
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, cases[q].mipFilter);
    d->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, cases[q].maxMip);
    EXPECT_EQ(cases[q].previousLod, tex->SetLOD(cases[q].lod)) << "case " << q;
    DrawStrip(kTexFvf, kQuarters[q]);
  }
  ExpectQuarters(d, {cases[0].want, cases[1].want, cases[2].want, cases[3].want}, 0,
                 {"no mip filter, LOD 1", "LOD 2 over MAXMIPLEVEL 1", "MAXMIPLEVEL 2 over LOD 1",
                  "no mip filter, LOD 1 under MAXMIPLEVEL 2"});

  // Past the last level the LOD stops at it; textures outside the managed pool keep 0.
  tex->SetLOD(7);
  EXPECT_EQ(2u, tex->GetLOD());
  std::shared_ptr<IDirect3DTexture9> target;
  ASSERT_EQ(D3D_OK, d->CreateTexture(64, 64, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, target, nullptr));
  EXPECT_EQ(0u, target->SetLOD(1));
  EXPECT_EQ(0u, target->GetLOD());
}

// ---------------------------------------------------------------------------
// Buffers released while bound

// The device keeps what is bound: a draw after the caller let go of its buffers reads them
// as they were, and unbinding frees them.
TEST_F(GfxGl_d3d9Oracle, BuffersReleasedWhileBoundStillDrawAndUnbindingFreesThem) {
  const Vertex quad[] = {{-1, -1, 0.1f, 0xffff0000}, {-1, 1, 0.1f, 0xffff0000}, {1, 1, 0.1f, 0xffff0000},
                         {-1, -1, 0.1f, 0xff00ff00}, {-1, 1, 0.1f, 0xff00ff00}, {1, 1, 0.1f, 0xff00ff00}};
  const WORD indexes[] = {3, 4, 5};
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(D3D_OK, d->CreateVertexBuffer(sizeof quad, 0, kVertexFvf, D3DPOOL_MANAGED, vb, nullptr));
  void* data = nullptr;
  ASSERT_EQ(D3D_OK, vb->Lock(0, sizeof quad, &data, 0));
  std::memcpy(data, quad, sizeof quad);
  vb->Unlock();
  std::shared_ptr<IDirect3DIndexBuffer9> ib;
  ASSERT_EQ(D3D_OK, d->CreateIndexBuffer(sizeof indexes, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib, nullptr));
  ASSERT_EQ(D3D_OK, ib->Lock(0, sizeof indexes, &data, 0));
  std::memcpy(data, indexes, sizeof indexes);
  ib->Unlock();
  d->SetIndices(ib);
  d->SetStreamSource(0, vb, 0, sizeof quad[0]);
  d->SetFVF(kVertexFvf);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  std::weak_ptr<IDirect3DIndexBuffer9> indexesLeft = ib;
  std::weak_ptr<IDirect3DVertexBuffer9> verticesLeft = vb;
  ib.reset();
  vb.reset();

  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 1.0f, 0);
  ASSERT_EQ(D3D_OK, d->BeginScene());
  EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 3, 0, 1));
  d->EndScene();
  ExpectColors(d, {{160, 120, 0x00ff00, 1, "the released buffers' triangle"},
                   {480, 360, 0x0000ff, 1, "outside the triangle"}});

  d->SetIndices(nullptr);
  d->SetStreamSource(0, nullptr, 0, 0);
  EXPECT_TRUE(indexesLeft.expired());
  EXPECT_TRUE(verticesLeft.expired());

  // New buffers drawn after the old ones went draw their own contents.
  const WORD first[] = {0, 1, 2};
  ASSERT_EQ(D3D_OK, d->CreateVertexBuffer(sizeof quad, 0, kVertexFvf, D3DPOOL_MANAGED, vb, nullptr));
  ASSERT_EQ(D3D_OK, vb->Lock(0, 0, &data, 0));
  std::memcpy(data, quad, sizeof quad);
  vb->Unlock();
  ASSERT_EQ(D3D_OK, d->CreateIndexBuffer(sizeof first, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib, nullptr));
  ASSERT_EQ(D3D_OK, ib->Lock(0, 0, &data, 0));
  std::memcpy(data, first, sizeof first);
  ib->Unlock();
  d->SetIndices(ib);
  d->SetStreamSource(0, vb, 0, sizeof quad[0]);
  ASSERT_EQ(D3D_OK, d->BeginScene());
  EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1));
  d->EndScene();
  ExpectColor(d, 160, 120, 0xff0000, 1, "new buffers");
}

TEST_F(GfxGl_d3d9Oracle, TextureReleasedWhileBoundStillSamples) {
  auto tex = SolidTexture(0xff00ff00);
  ShowTexture(tex);
  std::weak_ptr<IDirect3DTexture9> left = tex;
  tex.reset();
  const TexVertex quad[] = {{-1, -1, 0.1f, 0, 0}, {-1, 1, 0.1f, 0, 1}, {1, -1, 0.1f, 1, 0}, {1, 1, 0.1f, 1, 1}};
  DrawStrip(kTexFvf, quad);
  ExpectColor(d, 320, 240, 0x00ff00, 0, "the released texture");
  d->SetTexture(0, nullptr);
  EXPECT_TRUE(left.expired());
}

// ---------------------------------------------------------------------------
// Vertex declarations

TEST_F(GfxGl_d3d9Oracle, DeclarationsOfFlexibleFormatsDrawAsThatFormat) {
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 0.0f, 0);
  auto colour = Declaration({{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                             {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0}});
  ASSERT_TRUE(colour);
  EXPECT_EQ(D3D_OK, d->SetVertexDeclaration(colour));
  DWORD fvf = 0;
  d->GetFVF(&fvf);
  EXPECT_EQ(kVertexFvf, fvf);
  const Vertex quad[] = {{-1, -1, 0.1f, 0x00ffff00}, {-1, 0, 0.1f, 0x00ffff00}, {0, -1, 0.1f, 0x00ffff00},
                         {0, 0, 0.1f, 0x00ffff00}};
  ASSERT_EQ(D3D_OK, d->BeginScene());
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]));
  d->EndScene();
  std::shared_ptr<IDirect3DVertexDeclaration9> back;
  d->GetVertexDeclaration(back);
  EXPECT_EQ(colour, back);

  // Pre-transformed positions with a colour, the elements listed in any order.
  auto screen = Declaration({{0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                             {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0}});
  ASSERT_TRUE(screen);
  d->SetVertexDeclaration(screen);
  ASSERT_EQ(D3D_OK, d->BeginScene());
  const ScreenVertex rect[] = {{320, 0, 0.1f, 1, 0xffff00ff}, {640, 0, 0.1f, 1, 0xffff00ff},
                               {320, 240, 0.1f, 1, 0xffff00ff}, {640, 240, 0.1f, 1, 0xffff00ff}};
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, rect, sizeof rect[0]));
  d->EndScene();
  ExpectColors(d, {{160, 360, 0xffff00, 0, "position and colour"},
                   {480, 120, 0xff00ff, 0, "pre-transformed position and colour"},
                   {160, 120, 0x000000, 0, "nothing drawn"}});

  // The elements come back as given, the end marker included.
  D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH];
  UINT count = 0;
  EXPECT_EQ(D3D_OK, screen->GetDeclaration(nullptr, &count));
  EXPECT_EQ(3u, count);
  EXPECT_EQ(D3D_OK, screen->GetDeclaration(elements, &count));
  EXPECT_EQ(16, elements[0].Offset);
  EXPECT_EQ(0xFF, elements[2].Stream);

  // Texture coordinates of one to four floats carry their sizes; SetFVF replaces the declaration.
  auto sets = Declaration({{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                           {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
                           {0, 24, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 1},
                           {0, 28, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
                           {0, 32, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1}});
  ASSERT_TRUE(sets);
  d->SetVertexDeclaration(sets);
  d->GetFVF(&fvf);
  EXPECT_EQ(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_SPECULAR | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE1(0) |
                D3DFVF_TEXCOORDSIZE4(1),
            fvf);
  d->SetFVF(kVertexFvf);
  d->GetVertexDeclaration(back);
  EXPECT_EQ(nullptr, back);
}

// What no flexible vertex format describes is refused, not drawn wrongly, and says why.
TEST_F(GfxGl_d3d9Oracle, DeclarationsNoFlexibleFormatDescribesAreRefusedAndSaySo) {
  D3DCAPS9 caps{};
  d->GetDeviceCaps(&caps);
  EXPECT_EQ(0u, caps.DeclTypes & D3DDTCAPS_UBYTE4N) << "UBYTE4N colours would be claimed";
  EXPECT_EQ(1u, caps.MaxStreams);
  const D3DVERTEXELEMENT9 kPosition = {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0};
  const struct {
    const char* what;
    std::vector<D3DVERTEXELEMENT9> elements;
  } cases[] = {
      {"UBYTE4N colour", {kPosition, {0, 12, D3DDECLTYPE_UBYTE4N, 0, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()}},
      {"float colour", {kPosition, {0, 12, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()}},
      {"colour on a second stream", {kPosition, {1, 0, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()}},
      {"colour before the position",
       {{0, 4, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
        {0, 0, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
        D3DDECL_END()}},
      {"a gap", {kPosition, {0, 16, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()}},
      {"second texture set without a first", {kPosition, {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 1},
                                              D3DDECL_END()}},
      {"no position", {{0, 0, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()}},
      {"short positions", {{0, 0, D3DDECLTYPE_SHORT4, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()}},
      {"no end within 64 elements", std::vector<D3DVERTEXELEMENT9>(MAXD3DDECLLENGTH, kPosition)},
  };
  for (const auto& c : cases) {
    gx::GxClearReportedMessages();
    std::shared_ptr<IDirect3DVertexDeclaration9> decl;
    EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateVertexDeclaration(c.elements.data(), decl)) << c.what;
    EXPECT_EQ(nullptr, decl) << c.what;
    const auto said = gx::GxReportedMessages();
    ASSERT_EQ(1u, said.size()) << c.what;
    EXPECT_NE(std::string::npos, said[0].find("CreateVertexDeclaration")) << c.what;
  }
  std::shared_ptr<IDirect3DVertexDeclaration9> decl;
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateVertexDeclaration(nullptr, decl));
}

// ---------------------------------------------------------------------------
// Texture transform flags

// A gradient names the coordinates the sampler saw: red follows v, green u.
TEST_F(GfxGl_d3d9Oracle, TextureTransformCountsPadMissingCoordinatesAndSkipPretransformedVertices) {
  ShowTexture(GradientTexture(256, 256));
  auto quad = [](float x0, float y0, float u, float v) {
    return std::vector<TexVertex>{
        {x0, y0, 0.1f, u, v}, {x0, y0 + 1, 0.1f, u, v}, {x0 + 1, y0, 0.1f, u, v}, {x0 + 1, y0 + 1, 0.1f, u, v}};
  };
  D3DMATRIX zero{};
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 0.0f, 0);
  // Transform flags off: the matrix is not used.
  d->SetTransform(D3DTS_TEXTURE0, &zero);
  DrawStrip(kTexFvf, quad(-1, -1, 1, 1).data());
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  DrawStrip(kTexFvf, quad(-1, 0, 1, 1).data());
  // Two given coordinates read as (u, v, 1, 0) by a four-row transform.
  D3DMATRIX pick = zero;
  pick._31 = 1.0f, pick._42 = 1.0f;
  d->SetTransform(D3DTS_TEXTURE0, &pick);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4);
  DrawStrip(kTexFvf, quad(0, 0, 0.5f, 0.5f).data());
  // Pre-transformed vertices skip the texture transform.
  d->SetTransform(D3DTS_TEXTURE0, &zero);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  ScreenTexVertex screen[] = {{320, 480, 0.1f, 1, 0, 0, 1}, {320, 240, 0.1f, 1, 0, 0, 1},
                              {640, 480, 0.1f, 1, 0, 0, 1}, {640, 240, 0.1f, 1, 0, 0, 1}};
  DrawStrip(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, screen);
  ExpectQuarters(d, {0xffff00, 0xff0000, 0x00ff00, 0x000000}, 1,
                 {"flags off", "pre-transformed", "COUNT4 on two coordinates", "COUNT2, zero matrix"});

  // The padding 1 moved into v by the matrix; then COUNT1, which drivers read either as the
  // flags off (one vendor) or as COUNT2 (another).
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 0.0f, 0);
  D3DMATRIX third = zero;
  third._32 = 1.0f;
  d->SetTransform(D3DTS_TEXTURE0, &third);
  DrawStrip(kTexFvf, quad(-1, -1, 0.8f, 0.2f).data());
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT1);
  DrawStrip(kTexFvf, quad(0, -1, 0.8f, 0.2f).data());
  d->SetTransform(D3DTS_TEXTURE0, &zero);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  DrawStrip(kTexFvf, quad(-1, 0, 0.5f, 1).data());
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT1);
  DrawStrip(kTexFvf, quad(0, 0, 0.5f, 1).data());
  const bool asFlagsOff = Picture(d).At(480, 360).g > 0x80;
  const std::string count1 = asFlagsOff ? "COUNT1 as the flags off" : "COUNT1 as COUNT2";
  ExpectQuarters(d, {0xff0000, asFlagsOff ? 0x33cc00u : 0xff0000u, asFlagsOff ? 0xff8000u : 0x000000u, 0x000000}, 1,
                 {"the padding 1 moved into v", count1, count1 + ", zero matrix", "COUNT2, zero matrix"});
}

// A 4 x 4 luminance texture, white at texel (1, 1), on four quarters with coordinates
// (0..4, 0..4, 4, 6): the divisor decides where the white square lands.
TEST_F(GfxGl_d3d9Oracle, ProjectedCoordinatesDivideByTheCountedOrLastCoordinate) {
  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(4, 4, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, tex, nullptr));
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
  for (int y = 0; y < 4; ++y) std::memset(static_cast<char*>(lr.pBits) + y * lr.Pitch, 0, 4);
  static_cast<BYTE*>(lr.pBits)[lr.Pitch + 1] = 0xff;
  tex->UnlockRect(0);
  ShowTexture(tex);
  D3DMATRIX identity = Identity();
  d->SetTransform(D3DTS_TEXTURE0, &identity);

  auto element = [](WORD offset, BYTE type, BYTE usage) {
    return D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, 0};
  };
  const auto position = element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
  auto two = Declaration({position, element(12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD)});
  auto three = Declaration({position, element(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD)});
  auto four = Declaration({position, element(12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_TEXCOORD)});
  ASSERT_TRUE(two && three && four);

  struct ProjVertex {
    float x, y, z, s, t, r, q;
  };
  // Bottom left, bottom right, top left, top right.
  const float kOrigin[4][2] = {{-1, -1}, {0, -1}, {-1, 0}, {0, 0}};
  struct Run {
    const char* what;
    DWORD flags;
    std::shared_ptr<IDirect3DVertexDeclaration9> decl;
    RECT white;
  };
  const Run runs[3][4] = {
      {{"COUNT4 | PROJECTED", D3DTTFF_COUNT4 | D3DTTFF_PROJECTED, four, {120, 300, 240, 390}},
       {"COUNT3 | PROJECTED", D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, four, {400, 360, 480, 420}},
       {"0xFFFFFFFF on four coordinates", 0xFFFFFFFF, four, {120, 60, 240, 150}},
       {"COUNT3 | PROJECTED on two coordinates", D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, two, {340, 210, 360, 225}}},
      {{"PROJECTED on four coordinates", D3DTTFF_PROJECTED, four, {120, 300, 240, 390}},
       {"PROJECTED on three coordinates", D3DTTFF_PROJECTED, three, {400, 360, 480, 420}},
       {"0xFFFFFFFF on three coordinates", 0xFFFFFFFF, three, {80, 120, 160, 180}},
       {"COUNT1 on two coordinates", D3DTTFF_COUNT1, two, {340, 210, 360, 225}}},
      {{"COUNT4 | PROJECTED", D3DTTFF_COUNT4 | D3DTTFF_PROJECTED, four, {120, 300, 240, 390}},
       {"COUNT3 | PROJECTED", D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, four, {400, 360, 480, 420}},
       {"0xFFFFFFFF on three coordinates", 0xFFFFFFFF, three, {80, 120, 160, 180}},
       {"PROJECTED on four coordinates", D3DTTFF_PROJECTED, four, {440, 60, 560, 150}}},
  };
  for (const auto& run : runs) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff203040, 0.0f, 0);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    for (int i = 0; i < 4; ++i) {
      const float x = kOrigin[i][0], y = kOrigin[i][1];
      const ProjVertex quad[] = {{x, y, 0.1f, 0, 0, 4, 6},
                                 {x, y + 1, 0.1f, 0, 4, 4, 6},
                                 {x + 1, y, 0.1f, 4, 0, 4, 6},
                                 {x + 1, y + 1, 0.1f, 4, 4, 4, 6}};
      d->SetVertexDeclaration(run[i].decl);
      d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, run[i].flags);
      EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0])) << run[i].what;
    }
    d->EndScene();
    Picture p(d);
    for (const auto& r : run) {
      // Just inside each corner white, just outside black.
      for (LONG x : {r.white.left - 1, r.white.left + 1, r.white.right - 1, r.white.right + 1})
        for (LONG y : {r.white.top - 1, r.white.top + 1, r.white.bottom - 1, r.white.bottom + 1}) {
          const bool inside =
              x > r.white.left && x < r.white.right && y > r.white.top && y < r.white.bottom;
          ExpectColor(p, UINT(x), UINT(y), inside ? 0xffffff : 0x000000, 1, r.what);
        }
    }
  }
}

// Cube coordinates go through the matrix as three: swapping x and y turns +X into +Y.
TEST_F(GfxGl_d3d9Oracle, CubeCoordinatesGoThroughTheTextureTransform) {
  // Faces +X, -X, +Y, -Y, +Z, -Z: red, green, blue, yellow, cyan, magenta, written through
  // the faces' surfaces.
  std::shared_ptr<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(D3D_OK, d->CreateCubeTexture(2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube, nullptr));
  DWORD face = 0;
  for (D3DCOLOR c : {0xffff0000u, 0xff00ff00u, 0xff0000ffu, 0xffffff00u, 0xff00ffffu, 0xffff00ffu}) {
    std::shared_ptr<IDirect3DSurface9> surface;
    ASSERT_EQ(D3D_OK, cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face++), 0, surface));
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, surface->LockRect(&lr, nullptr, 0));
    for (int y = 0; y < 2; ++y)
      std::fill_n(reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch), 2, c);
    surface->UnlockRect();
  }
  ShowTexture(cube);
  struct CubeVertex {
    float x, y, z, s, t, r;
  } quad[] = {{-1, -1, 0.1f, 1, 0.2f, 0.1f},
              {-1, 1, 0.1f, 1, 0.2f, 0.1f},
              {1, -1, 0.1f, 1, 0.2f, 0.1f},
              {1, 1, 0.1f, 1, 0.2f, 0.1f}};
  const DWORD fvf = D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0);
  DrawStrip(fvf, quad);
  ExpectColor(d, 320, 240, 0xff0000, 0, "+X without a transform");
  D3DMATRIX swap{};
  swap._12 = swap._21 = swap._33 = swap._44 = 1.0f;
  d->SetTransform(D3DTS_TEXTURE0, &swap);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
  DrawStrip(fvf, quad);
  ExpectColor(d, 320, 240, 0x0000ff, 0, "+Y after swapping x and y");
  d->SetTexture(0, nullptr);
}

// ---------------------------------------------------------------------------
// Specular light

// One light over a 5 x 5 grid at z = 1 facing the camera, identity transforms; only the
// specular material is set.
class GfxGl_d3d9Specular : public GfxGl_d3d9Oracle {
 protected:
  void DrawGrid() {
    constexpr int kSide = 5;
    struct GridVertex {
      float x, y, z, nx, ny, nz;
    } v[kSide * kSide];
    for (int y = 0, i = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x, ++i)
        v[i] = {x * 2.0f / (kSide - 1) - 1.0f, y * 2.0f / (kSide - 1) - 1.0f, 1.0f, 0, 0, -1};
    std::vector<WORD> indexes;
    for (int y = 0; y < kSide - 1; ++y)
      for (int x = 0; x < kSide - 1; ++x) {
        const WORD a = WORD(y * kSide + x), b = WORD(a + 1), c = WORD(a + kSide), e = WORD(c + 1);
        indexes.insert(indexes.end(), {b, a, c, b, c, e});
      }
    d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    ASSERT_EQ(D3D_OK, d->BeginScene());
    EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, kSide * kSide, UINT(indexes.size() / 3),
                                                indexes.data(), D3DFMT_INDEX16, v, sizeof v[0]));
    d->EndScene();
  }
  static D3DLIGHT9 Light(D3DLIGHTTYPE type) {
    D3DLIGHT9 l{};
    l.Type = type;
    l.Specular = {1, 1, 1, 0};
    l.Direction = {0, 0, 1};
    l.Range = 100.0f;
    l.Attenuation2 = 1.0f;
    return l;
  }
};

// The probes in the grid's order: the corners of the middle quarter, the edge middles, the centre.
TEST_F(GfxGl_d3d9Specular, DirectionalPointAndSpotHighlightsWithAndWithoutLocalViewer) {
  D3DLIGHT9 directional = Light(D3DLIGHT_DIRECTIONAL);
  directional.Attenuation2 = 0, directional.Range = 0;
  D3DLIGHT9 point = Light(D3DLIGHT_POINT), spot = Light(D3DLIGHT_SPOT);
  const double pi = std::acos(-1.0);
  spot.Falloff = 1.0f, spot.Theta = float(pi / 12), spot.Phi = float(pi / 3);
  D3DLIGHT9 pointRange = point;  // sqrt 1.5 (the probed corners) lies outside, sqrt 1.25 inside
  pointRange.Range = 1.2f;
  D3DLIGHT9 pointSide = point;  // behind the grid's plane
  pointSide.Position = {-1.1f, 0, 1.1f};
  // Colours at (160,120) (320,120) (480,120) (160,240) (320,240) (480,240) (160,360) (320,360)
  // (480,360), as grey levels: corner, edge and centre.
  const struct {
    const char* what;
    const D3DLIGHT9* light;
    BOOL localViewer;
    float power;
    int corner, edge, centre;
  } cases[] = {
      {"directional", &directional, FALSE, 30, 0xff, 0xff, 0xff},
      {"directional, local viewer", &directional, TRUE, 30, 0x3c, 0x71, 0xff},
      {"point", &point, FALSE, 30, 0x28, 0x5a, 0xff},
      {"point, local viewer", &point, TRUE, 30, 0x00, 0x07, 0xff},
      {"spot", &spot, FALSE, 30, 0x00, 0x14, 0xff},
      {"spot, local viewer", &spot, TRUE, 30, 0x00, 0x02, 0xff},
      {"point with a range", &pointRange, FALSE, 30, 0x00, 0x5a, 0xff},
      {"point behind the plane", &pointSide, TRUE, 0, 0x00, 0x00, 0x00},
      {"directional, power 0", &directional, FALSE, 0, 0xff, 0xff, 0xff},
      {"directional, local viewer, power 0", &directional, TRUE, 0, 0xff, 0xff, 0xff},
      {"point, power 0", &point, FALSE, 0, 0xaa, 0xcc, 0xff},
      {"point, local viewer, power 0", &point, TRUE, 0, 0xaa, 0xcc, 0xff},
      {"spot, power 0", &spot, FALSE, 0, 0x00, 0x2e, 0xff},
      {"spot, local viewer, power 0", &spot, TRUE, 0, 0x00, 0x2e, 0xff},
      {"point with a range, power 0", &pointRange, FALSE, 0, 0x00, 0xcc, 0xff},
  };
  D3DMATRIX identity = Identity();
  d->SetTransform(D3DTS_PROJECTION, &identity);
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  d->LightEnable(0, TRUE);
  for (const auto& c : cases) {
    ASSERT_EQ(D3D_OK, d->SetLight(0, c.light));
    d->SetRenderState(D3DRS_LOCALVIEWER, c.localViewer);
    D3DMATERIAL9 material{};
    material.Specular = {1, 1, 1, 1};
    material.Power = c.power;
    d->SetMaterial(&material);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 0.0f, 0);
    DrawGrid();
    Picture p(d);
    for (UINT y : {120u, 240u, 360u})
      for (UINT x : {160u, 320u, 480u}) {
        const int edges = (x == 320) + (y == 240);
        const int grey = edges == 2 ? c.centre : edges == 1 ? c.edge : c.corner;
        ExpectColor(p, x, y, D3DCOLOR_XRGB(grey, grey, grey), 1, c.what);
      }
  }
}

// The specular colour adds to the diffuse and ambient light, and only with SPECULARENABLE.
TEST_F(GfxGl_d3d9Specular, SpecularAddsToAmbientAndDiffuseOnlyWhenEnabled) {
  D3DLIGHT9 l = Light(D3DLIGHT_DIRECTIONAL);
  l.Diffuse = {0.5f, 0, 0, 0};
  d->SetLight(0, &l);
  d->LightEnable(0, TRUE);
  D3DMATERIAL9 material{};
  material.Diffuse = {1, 1, 1, 1};
  material.Ambient = {0, 1, 0, 1};
  material.Specular = {0, 0, 1, 1};
  material.Power = 30;
  d->SetMaterial(&material);
  D3DMATRIX identity = Identity();
  d->SetTransform(D3DTS_PROJECTION, &identity);
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  d->SetRenderState(D3DRS_AMBIENT, 0x00202020);
  d->SetRenderState(D3DRS_LOCALVIEWER, FALSE);  // the half vector is the normal everywhere
  for (BOOL enabled : {TRUE, FALSE}) {
    d->SetRenderState(D3DRS_SPECULARENABLE, enabled);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff000000, 0.0f, 0);
    DrawGrid();
    // Diffuse N.L = 1 gives half red; the ambient 0x20 green; the highlight full blue.
    ExpectColor(d, 240, 200, enabled ? 0x8020ff : 0x802000, 1, enabled ? "with specular" : "without specular");
  }
}
