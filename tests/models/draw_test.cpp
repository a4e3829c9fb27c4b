// Building, drawing and rescaling models on the recording backend.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/vokModells.h"
#include "tests/models/device_fixture.h"

namespace {

using vkgfx::DrawRecord;

class ModelDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = vktest::MakeD3D(vkgfx::BackendKind::Recording);
    ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
    dev = d3d->Device.get();
    vkgfx::VkClearRecording(dev);
    ASSERT_EQ(dev->BeginScene(), S_OK);
  }
  void TearDown() override {
    dev->EndScene();
    vkgfx::ClearFaults();
  }

  const std::vector<DrawRecord>& Draws() { return vkgfx::VkRecordedDraws(dev); }
  DWORD RS(D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    dev->GetRenderState(s, &v);
    return v;
  }
  DWORD TSS(D3DTEXTURESTAGESTATETYPE s) {
    DWORD v = 0;
    dev->GetTextureStageState(0, s, &v);
    return v;
  }
  static std::vector<TModelVertex> VerticesOf(const DrawRecord& d) {
    std::vector<TModelVertex> v(d.vertices.size() / sizeof(TModelVertex));
    std::memcpy(v.data(), d.vertices.data(), v.size() * sizeof(TModelVertex));
    return v;
  }
  std::unique_ptr<TzanObject> MakePlane() {
    auto o = std::make_unique<TzanObject>(d3d.get());
    o->Param1 = 2;
    o->Param2 = 2;
    o->Param3 = 2;
    o->Param4 = 1;
    o->BuildPlane();
    return o;
  }
  LPDIRECT3DTEXTURE9 MakeTexture() {
    LPDIRECT3DTEXTURE9 t;
    dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t, nullptr);
    return t;
  }
  // Distinct values the draw must hand back.
  void SetMarkers() {
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_CURRENT);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_ADD);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_BOTHSRCALPHA);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    dev->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR2);
  }
  void ExpectMarkers() {
    EXPECT_EQ(TSS(D3DTSS_COLOROP), DWORD(D3DTOP_ADD));
    EXPECT_EQ(TSS(D3DTSS_COLORARG1), DWORD(D3DTA_CURRENT));
    EXPECT_EQ(TSS(D3DTSS_COLORARG2), DWORD(D3DTA_TFACTOR));
    EXPECT_EQ(RS(D3DRS_SRCBLEND), DWORD(D3DBLEND_DESTALPHA));
    EXPECT_EQ(RS(D3DRS_DESTBLEND), DWORD(D3DBLEND_BOTHSRCALPHA));
    EXPECT_EQ(RS(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(RS(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
  }

  std::unique_ptr<TvokD3D> d3d;
  IDirect3DDevice9* dev = nullptr;
};

TEST_F(ModelDraw, BuildUploadsTheGeometryAndDrawUsesIt) {
  auto o = MakePlane();
  ASSERT_TRUE(o->VertexBuffer);
  EXPECT_EQ(o->FVF, 0x112u);
  EXPECT_EQ(o->Stride, 32);
  EXPECT_EQ(o->CullMode, DWORD(D3DCULL_NONE));
  o->Position = {1, 2, 3};
  o->UpdateWorld();
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 1u);
  const DrawRecord& d = Draws()[0];
  EXPECT_EQ(d.type, D3DPT_TRIANGLELIST);
  EXPECT_EQ(d.primitiveCount, 4u);
  EXPECT_EQ(d.stride, 32u);
  EXPECT_EQ(d.state.fvf, 0x112u);
  EXPECT_EQ(d.state.world._41, 1.0f);
  EXPECT_EQ(d.state.world._43, 3.0f);
  const auto v = VerticesOf(d);
  const auto g = o->PlaneGeometry();
  ASSERT_EQ(v.size(), g.Vertices.size());
  EXPECT_EQ(std::memcmp(v.data(), g.Vertices.data(), v.size() * sizeof(TModelVertex)), 0);
  EXPECT_EQ(RS(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));  // left as the object set it
}

TEST_F(ModelDraw, ObjectWithoutGeometryIsSkipped) {
  auto o = MakePlane();
  ASSERT_TRUE(o->VertexBuffer);
  o->Param3 = 0;  // refused: the old plane must not be drawn in its place
  o->BuildPlane();
  EXPECT_FALSE(o->VertexBuffer);
  EXPECT_EQ(o->PrimitiveCount, 0);
  SetMarkers();
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  o->UpdateWorld();
  o->DrawObject(false);
  o->SphereMapped = true;
  o->DrawObject(false);
  EXPECT_TRUE(Draws().empty());
  ExpectMarkers();
  EXPECT_EQ(RS(D3DRS_CULLMODE), DWORD(D3DCULL_CW));

  // Creation and lock failures leave no buffer either.
  o->Param3 = 2;
  vkgfx::InjectedFaults().failCreateResource = 1;
  o->BuildPlane();
  EXPECT_FALSE(o->VertexBuffer);
  EXPECT_EQ(o->PrimitiveCount, 4);  // the counts are already set
  vkgfx::InjectedFaults().failLock = 1;
  o->BuildCylinder();
  EXPECT_FALSE(o->VertexBuffer);
  o->DrawObject(false);
  EXPECT_TRUE(Draws().empty());
  o->Rescale(2, 2, 2);  // nothing to scale: nothing changes
  EXPECT_EQ(o->Scale.x, 1.0f);
}

TEST_F(ModelDraw, TranslucentDrawRestoresWhatItSaved) {
  auto o = MakePlane();
  o->Material.Diffuse.a = 0.5f;
  SetMarkers();
  o->UpdateWorld();
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 1u);
  const auto& s = Draws()[0].state;
  EXPECT_EQ(s.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(s.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(s.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(s.render[D3DRS_DIFFUSEMATERIALSOURCE], DWORD(D3DMCS_MATERIAL));
  EXPECT_EQ(s.stage[0][D3DTSS_ALPHAARG1], DWORD(D3DTA_DIFFUSE));
  EXPECT_EQ(s.stage[0][D3DTSS_ALPHAOP], DWORD(D3DTOP_SELECTARG1));
  EXPECT_EQ(s.material.Diffuse.a, 0.5f);
  ExpectMarkers();
  EXPECT_EQ(TSS(D3DTSS_ALPHAARG1), DWORD(D3DTA_TFACTOR));
  EXPECT_EQ(TSS(D3DTSS_ALPHAOP), DWORD(D3DTOP_ADD));
  EXPECT_EQ(RS(D3DRS_DIFFUSEMATERIALSOURCE), DWORD(D3DMCS_COLOR2));
  EXPECT_FALSE(o->Translucent);
}

TEST_F(ModelDraw, AlphaTestAndModesAreLeftSet) {
  auto o = MakePlane();
  o->AlphaRef = 0xAB000080;  // only the low 24 bits count
  o->ShadeMode = D3DSHADE_FLAT;
  o->FillMode = D3DFILL_WIREFRAME;
  o->CullMode = D3DCULL_CCW;
  const bool canTest = d3d->Caps.AlphaCmpCaps & D3DPCMPCAPS_GREATEREQUAL;
  SetMarkers();
  o->UpdateWorld();
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 1u);
  const auto& s = Draws()[0].state;
  EXPECT_EQ(s.render[D3DRS_ALPHATESTENABLE], DWORD(canTest));
  if (canTest) {
    EXPECT_EQ(s.render[D3DRS_ALPHAREF], 0x80u);
    EXPECT_EQ(s.render[D3DRS_ALPHAFUNC], DWORD(D3DCMP_GREATEREQUAL));
    EXPECT_EQ(RS(D3DRS_ALPHAREF), 0x80u);
    EXPECT_EQ(RS(D3DRS_ALPHAFUNC), DWORD(D3DCMP_GREATEREQUAL));
  }
  EXPECT_EQ(s.render[D3DRS_ALPHABLENDENABLE], DWORD(FALSE));  // tested, not blended
  // Restored: the alpha test switch. Left: modes, reference, function, alpha op.
  EXPECT_EQ(RS(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
  EXPECT_EQ(RS(D3DRS_SHADEMODE), DWORD(D3DSHADE_FLAT));
  EXPECT_EQ(RS(D3DRS_FILLMODE), DWORD(D3DFILL_WIREFRAME));
  EXPECT_EQ(RS(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
  EXPECT_EQ(TSS(D3DTSS_ALPHAOP), DWORD(D3DTOP_MODULATE));
}

TEST_F(ModelDraw, AlphaBlendAndAdditiveBlendFactors) {
  auto o = MakePlane();
  o->AlphaBlend = true;
  SetMarkers();
  o->DrawObject(false);
  o->AlphaBlend = false;
  o->Additive = true;
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[0].state.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(Draws()[0].state.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(Draws()[0].state.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(Draws()[1].state.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_ONE));
  EXPECT_EQ(Draws()[1].state.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_ONE));
  EXPECT_EQ(Draws()[1].state.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  ExpectMarkers();
}

TEST_F(ModelDraw, ColorBlendStatesAndDepthWritesBack) {
  auto o = MakePlane();
  o->ColorBlend = true;
  o->Textured = true;
  o->Texture = MakeTexture();
  o->ColorOp = D3DTOP_ADDSIGNED;
  SetMarkers();
  dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 1u);
  const auto& s = Draws()[0].state;
  EXPECT_EQ(s.stage[0][D3DTSS_COLORARG1], DWORD(D3DTA_TEXTURE));
  EXPECT_EQ(s.stage[0][D3DTSS_COLORARG2], DWORD(D3DTA_DIFFUSE));
  EXPECT_EQ(s.stage[0][D3DTSS_COLOROP], DWORD(D3DTOP_ADDSIGNED));
  EXPECT_EQ(s.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(s.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCCOLOR));
  EXPECT_EQ(s.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_DESTCOLOR));
  EXPECT_EQ(s.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(s.render[D3DRS_ZWRITEENABLE], DWORD(FALSE));
  EXPECT_EQ(s.textures[0], o->Texture);
  ExpectMarkers();
  EXPECT_EQ(RS(D3DRS_ZWRITEENABLE), DWORD(TRUE));
}

TEST_F(ModelDraw, TexturedSphereMappedDrawsTwoPasses) {
  auto o = MakePlane();
  o->SphereMapped = true;
  o->Textured = true;
  o->Texture = MakeTexture();
  o->EnvTexture = MakeTexture();
  o->TexCoordIndex = D3DTSS_TCI_SPHEREMAP;
  SetMarkers();
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 2u);
  const auto& a = Draws()[0].state;
  const auto& b = Draws()[1].state;
  EXPECT_EQ(a.textures[0], o->Texture);
  EXPECT_EQ(a.stage[0][D3DTSS_TEXCOORDINDEX], 0u);
  EXPECT_EQ(b.textures[0], o->EnvTexture);
  EXPECT_EQ(b.stage[0][D3DTSS_TEXCOORDINDEX], DWORD(D3DTSS_TCI_SPHEREMAP));
  EXPECT_EQ(b.stage[0][D3DTSS_TEXTURETRANSFORMFLAGS], DWORD(D3DTTFF_COUNT2));
  EXPECT_EQ(std::memcmp(&b.textureTransform[0], &SphereMapMatrix, sizeof(D3DMATRIX)), 0);
  EXPECT_EQ(b.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCCOLOR));
  EXPECT_EQ(b.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCCOLOR));
  EXPECT_EQ(b.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(b.render[D3DRS_NORMALIZENORMALS], DWORD(TRUE));
  // Texture coordinates come from the vertices again; normalising stays on.
  EXPECT_EQ(TSS(D3DTSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(TSS(D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
  EXPECT_EQ(RS(D3DRS_NORMALIZENORMALS), DWORD(TRUE));
  ExpectMarkers();
}

TEST_F(ModelDraw, SphereMappedWithoutTexturesBindsNone) {
  auto o = MakePlane();
  dev->SetTexture(0, MakeTexture());
  o->SphereMapped = true;
  o->DrawObject(false);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_FALSE(Draws()[0].state.textures[0]);
  EXPECT_EQ(Draws()[0].state.stage[0][D3DTSS_TEXCOORDINDEX], DWORD(D3DTSS_TCI_CAMERASPACENORMAL));
}

TEST_F(ModelDraw, NestedDrawLeavesModesAlone) {
  auto o = MakePlane();
  o->CullMode = D3DCULL_CCW;
  o->Material.Diffuse.a = 0.5f;
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  SetMarkers();
  o->DrawObject(true);
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(Draws()[0].state.render[D3DRS_CULLMODE], DWORD(D3DCULL_CW));
  // Not translucent when nested: the caller's blend states are in force.
  EXPECT_EQ(Draws()[0].state.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_DESTALPHA));
  EXPECT_FALSE(o->Translucent);
}

TEST_F(ModelDraw, RescaleThereAndBack) {
  auto o = MakePlane();
  const auto built = o->PlaneGeometry().Vertices;
  auto drawn = [&] {
    vkgfx::VkClearRecording(dev);
    o->DrawObject(false);
    return VerticesOf(Draws().at(0));
  };
  o->Rescale(2, 3, 4);
  auto v = drawn();
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].x, built[i].x * 2);
    EXPECT_EQ(v[i].y, built[i].y * 3);
    EXPECT_EQ(v[i].nz, built[i].nz);
    EXPECT_EQ(v[i].u, built[i].u);
  }
  o->Rescale(2, 3, 4);  // same scale again: no change
  EXPECT_EQ(std::memcmp(drawn().data(), v.data(), v.size() * sizeof(TModelVertex)), 0);
  o->Rescale(0, 1, 1);  // refused: would lose the shape for good
  EXPECT_EQ(o->Scale.x, 2.0f);
  EXPECT_EQ(std::memcmp(drawn().data(), v.data(), v.size() * sizeof(TModelVertex)), 0);
  o->Rescale(1, 1, 1);
  v = drawn();
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_FLOAT_EQ(v[i].x, built[i].x);
    EXPECT_FLOAT_EQ(v[i].y, built[i].y);
  }
  EXPECT_EQ(o->Scale.z, 1.0f);
}

class ModelSet : public ModelDraw {};

TEST_F(ModelSet, DrawAllFadesPlacesAndRestores) {
  TzanObjectSet set;
  auto* a = MakePlane().release();
  auto* b = MakePlane().release();
  auto* hidden = MakePlane().release();
  set.Add(a);
  set.Add(b);
  set.Add(hidden);
  EXPECT_EQ(a->Owner, &set);
  b->Material.Diffuse.a = 0.8f;
  hidden->Visible = false;
  hidden->Position = {7, 7, 7};
  a->BasePosition = {1, 2, 3};
  a->Orbit = {0.1f, 0.7f, 0.3f};
  a->Rotation = {0.2f, 0, 0};
  set.Position = {10, 0, 0};
  set.Rotation = {0, 0.3f, 0.25f};
  set.Alpha = 0.5f;
  set.DrawAll(false);

  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[0].state.material.Diffuse.a, 0.5f);
  EXPECT_FLOAT_EQ(Draws()[1].state.material.Diffuse.a, 0.4f);
  EXPECT_EQ(a->Material.Diffuse.a, 1.0f);
  EXPECT_EQ(b->Material.Diffuse.a, 0.8f);
  EXPECT_EQ(a->Orbit.x, 0.1f);
  EXPECT_EQ(a->Orbit.y, 0.7f);
  EXPECT_EQ(a->Orbit.z, 0.3f);
  EXPECT_EQ(a->Position.y, 2.0f);
  EXPECT_EQ(a->Offset.x, 10.0f);
  EXPECT_EQ(hidden->Position.x, 7.0f);
  EXPECT_EQ(hidden->Offset.x, 0.0f);

  // v * R(rotation) * T(base) * R(orbit + set rotation) * T(set position)
  D3DXMATRIX r, t, o, p, w;
  D3DXMatrixRotationYawPitchRoll(&r, 0, 0.2f, 0);
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixRotationYawPitchRoll(&o, 0.7f + 0.3f, 0.1f, 0.3f + 0.25f);
  D3DXMatrixTranslation(&p, 10, 0, 0);
  D3DXMatrixMultiply(&w, &r, &t);
  D3DXMatrixMultiply(&w, &w, &o);
  D3DXMatrixMultiply(&w, &w, &p);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(Draws()[0].state.world.m[i][j], w.m[i][j], 1e-5) << i << j;

  // Fully opaque sets leave alphas alone.
  vkgfx::VkClearRecording(dev);
  set.Alpha = 1.5f;
  set.DrawAll(true);
  EXPECT_FLOAT_EQ(Draws()[1].state.material.Diffuse.a, 0.8f);
  EXPECT_EQ(Draws()[0].state.material.Diffuse.a, 1.0f);

  set.Clear();
  EXPECT_TRUE(set.Items.empty());
  vkgfx::VkClearRecording(dev);
  set.DrawAll(false);  // a cleared set draws nothing
  set.Rescale(2, 2, 2);
  EXPECT_TRUE(Draws().empty());
}

TEST_F(ModelSet, RescaleScalesPlacesAndShapes) {
  TzanObjectSet empty;
  empty.Rescale(2, 2, 2);
  empty.DrawAll(false);
  EXPECT_TRUE(Draws().empty());

  TzanObjectSet set;
  auto* a = MakePlane().release();
  set.Add(a);
  a->BasePosition = {1, -2, 3};
  const auto built = a->PlaneGeometry().Vertices;
  set.Rescale(2, 2, 2);
  EXPECT_EQ(a->BasePosition.x, 2.0f);
  EXPECT_EQ(a->BasePosition.y, -4.0f);
  EXPECT_EQ(a->Scale.y, 2.0f);
  set.Rescale(0.3f, 0.4f, 0.3f);
  set.Rescale(1, 1, 1);
  EXPECT_FLOAT_EQ(a->BasePosition.x, 1.0f);
  EXPECT_FLOAT_EQ(a->BasePosition.z, 3.0f);
  set.Rescale(1, 0, 1);  // refused as a whole
  EXPECT_FLOAT_EQ(a->BasePosition.y, -2.0f);
  EXPECT_EQ(a->Scale.y, 1.0f);
  set.DrawAll(false);
  const auto v = VerticesOf(Draws().at(0));
  for (size_t i = 0; i < v.size(); ++i) EXPECT_FLOAT_EQ(v[i].x, built[i].x);
  set.Clear();
}

}  // namespace
