// Building, drawing and rescaling models on the recording backend.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/vokModells.h"
#include "tests/support/device_fixture.h"

namespace {

using gx::DeviceState;

class ModelDraw : public vktest::RecordingSceneTest {
 protected:

  size_t Draws() { return gx::GxRecordedDraws(dev).size(); }
  const DeviceState& Drawn(size_t i) { return gx::GxRecordedDraws(dev).at(i).state; }
  std::vector<TModelVertex> DrawnVertices(size_t i) {
    const auto& bytes = gx::GxRecordedDraws(dev).at(i).vertices;
    std::vector<TModelVertex> v(bytes.size() / sizeof(TModelVertex));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(TModelVertex));
    return v;
  }
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
  std::unique_ptr<TzanObject> MakePlane() {
    auto o = std::make_unique<TzanObject>(d3d.get());
    o->Param1 = o->Param2 = o->Param3 = 2;
    o->Param4 = 1;
    o->BuildPlane();
    return o;
  }
  LPDIRECT3DTEXTURE9 MakeTexture() {
    LPDIRECT3DTEXTURE9 t;
    dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t, nullptr);
    return t;
  }
  // Values no draw would choose, which a draw must hand back.
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

};

TEST_F(ModelDraw, BuiltGeometryIsDrawnAndMissingGeometryIsSkipped) {
  auto o = MakePlane();
  ASSERT_TRUE(o->VertexBuffer);
  o->Position = {1, 2, 3};
  o->UpdateWorld();
  o->DrawObject(false);
  ASSERT_EQ(Draws(), 1u);
  const auto& d = gx::GxRecordedDraws(dev)[0];
  EXPECT_EQ(d.type, D3DPT_TRIANGLELIST);
  EXPECT_EQ(d.primitiveCount, 4u);
  EXPECT_EQ(d.stride, 32u);
  EXPECT_EQ(d.state.fvf, 0x112u);
  EXPECT_EQ(d.state.world._43, 3.0f);
  const auto built = o->PlaneGeometry().Vertices;
  EXPECT_EQ(std::memcmp(DrawnVertices(0).data(), built.data(), built.size() * sizeof(TModelVertex)), 0);

  // Refused counts drop the old plane: it must not be drawn in the new one's place.
  o->Param3 = 0;
  o->BuildPlane();
  EXPECT_FALSE(o->VertexBuffer);
  EXPECT_EQ(o->PrimitiveCount, 0);
  // Creation and lock failures leave no buffer either.
  o->Param3 = 2;
  gx::InjectedFaults().failCreateResource = 1;
  o->BuildPlane();
  EXPECT_FALSE(o->VertexBuffer);
  EXPECT_EQ(o->PrimitiveCount, 4);  // the counts are already set
  gx::InjectedFaults().failLock = 1;
  o->BuildCylinder();
  EXPECT_FALSE(o->VertexBuffer);
  SetMarkers();
  o->SphereMapped = true;
  o->DrawObject(false);
  EXPECT_EQ(Draws(), 1u);
  ExpectMarkers();  // skipped without touching any state
  o->Rescale(2, 2, 2);
  EXPECT_EQ(o->Scale.x, 1.0f);
}

TEST_F(ModelDraw, TranslucentDrawRestoresWhatItSaved) {
  auto o = MakePlane();
  o->Material.Diffuse.a = 0.5f;
  o->CullMode = D3DCULL_CCW;
  SetMarkers();
  o->DrawObject(false);
  ASSERT_EQ(Draws(), 1u);
  const auto& s = Drawn(0);
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
  EXPECT_EQ(RS(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));  // modes stay as the object set them
  EXPECT_FALSE(o->Translucent);

  // Nested: the caller's states are in force, nothing translucent of its own.
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  o->DrawObject(true);
  EXPECT_EQ(Drawn(1).render[D3DRS_CULLMODE], DWORD(D3DCULL_CW));
  EXPECT_EQ(Drawn(1).render[D3DRS_SRCBLEND], DWORD(D3DBLEND_DESTALPHA));
}

TEST_F(ModelDraw, AlphaTestAndBlendFactors) {
  auto o = MakePlane();
  o->AlphaRef = 0xAB000080;  // only the low 24 bits count
  o->FillMode = D3DFILL_WIREFRAME;
  SetMarkers();
  o->DrawObject(false);
  const bool canTest = d3d->Caps.AlphaCmpCaps & D3DPCMPCAPS_GREATEREQUAL;
  EXPECT_EQ(Drawn(0).render[D3DRS_ALPHATESTENABLE], DWORD(canTest));
  EXPECT_EQ(Drawn(0).render[D3DRS_ALPHABLENDENABLE], DWORD(FALSE));
  if (canTest) {
    EXPECT_EQ(RS(D3DRS_ALPHAREF), 0x80u);  // left set, as are the function and the alpha op
    EXPECT_EQ(RS(D3DRS_ALPHAFUNC), DWORD(D3DCMP_GREATEREQUAL));
  }
  EXPECT_EQ(TSS(D3DTSS_ALPHAOP), DWORD(D3DTOP_MODULATE));
  EXPECT_EQ(RS(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
  EXPECT_EQ(RS(D3DRS_FILLMODE), DWORD(D3DFILL_WIREFRAME));

  o->AlphaRef = 0;
  o->AlphaBlend = true;
  o->DrawObject(false);
  o->AlphaBlend = false;
  o->Additive = true;
  o->DrawObject(false);
  EXPECT_EQ(Drawn(1).render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(Drawn(1).render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(Drawn(2).render[D3DRS_SRCBLEND], DWORD(D3DBLEND_ONE));
  EXPECT_EQ(Drawn(2).render[D3DRS_DESTBLEND], DWORD(D3DBLEND_ONE));
  EXPECT_EQ(Drawn(2).render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  ExpectMarkers();
}

TEST_F(ModelDraw, ColorBlendStatesAndDepthWritesBack) {
  auto o = MakePlane();
  o->ColorBlend = o->Textured = true;
  o->Texture = MakeTexture();
  o->ColorOp = D3DTOP_ADDSIGNED;
  SetMarkers();
  dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  o->DrawObject(false);
  const auto& s = Drawn(0);
  EXPECT_EQ(s.stage[0][D3DTSS_COLORARG1], DWORD(D3DTA_TEXTURE));
  EXPECT_EQ(s.stage[0][D3DTSS_COLORARG2], DWORD(D3DTA_DIFFUSE));
  EXPECT_EQ(s.stage[0][D3DTSS_COLOROP], DWORD(D3DTOP_ADDSIGNED));
  EXPECT_EQ(s.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCCOLOR));
  EXPECT_EQ(s.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_DESTCOLOR));
  EXPECT_EQ(s.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(s.render[D3DRS_ZWRITEENABLE], DWORD(FALSE));
  EXPECT_EQ(s.textures[0], o->Texture);
  ExpectMarkers();
  EXPECT_EQ(RS(D3DRS_ZWRITEENABLE), DWORD(TRUE));
}

TEST_F(ModelDraw, SphereMappingPasses) {
  auto o = MakePlane();
  o->SphereMapped = o->Textured = true;
  o->Texture = MakeTexture();
  o->EnvTexture = MakeTexture();
  o->TexCoordIndex = D3DTSS_TCI_SPHEREMAP;
  SetMarkers();
  o->DrawObject(false);
  ASSERT_EQ(Draws(), 2u);  // the texture, then the environment over it by colour
  EXPECT_EQ(Drawn(0).textures[0], o->Texture);
  EXPECT_EQ(Drawn(0).stage[0][D3DTSS_TEXCOORDINDEX], 0u);
  const auto& b = Drawn(1);
  EXPECT_EQ(b.textures[0], o->EnvTexture);
  EXPECT_EQ(b.stage[0][D3DTSS_TEXCOORDINDEX], DWORD(D3DTSS_TCI_SPHEREMAP));
  EXPECT_EQ(b.stage[0][D3DTSS_TEXTURETRANSFORMFLAGS], DWORD(D3DTTFF_COUNT2));
  EXPECT_EQ(std::memcmp(&b.textureTransform[0], &SphereMapMatrix, sizeof(D3DMATRIX)), 0);
  EXPECT_EQ(b.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCCOLOR));
  EXPECT_EQ(b.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCCOLOR));
  EXPECT_EQ(b.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(TSS(D3DTSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(TSS(D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
  EXPECT_EQ(RS(D3DRS_NORMALIZENORMALS), DWORD(TRUE));
  ExpectMarkers();

  // Without any texture: none bound, still drawn.
  auto bare = MakePlane();
  bare->SphereMapped = true;
  bare->DrawObject(false);
  ASSERT_EQ(Draws(), 3u);
  EXPECT_FALSE(Drawn(2).textures[0]);
  EXPECT_EQ(Drawn(2).stage[0][D3DTSS_TEXCOORDINDEX], DWORD(D3DTSS_TCI_CAMERASPACENORMAL));
}

TEST_F(ModelDraw, RescaleThereAndBack) {
  auto o = MakePlane();
  const auto built = o->PlaneGeometry().Vertices;
  auto drawn = [&] {
    o->DrawObject(false);
    return DrawnVertices(Draws() - 1);
  };
  o->Rescale(2, 3, 4);
  const auto twice = drawn();
  for (size_t i = 0; i < twice.size(); ++i) {
    EXPECT_EQ(twice[i].x, built[i].x * 2);
    EXPECT_EQ(twice[i].y, built[i].y * 3);
    EXPECT_EQ(twice[i].nz, built[i].nz);
  }
  o->Rescale(2, 3, 4);  // the same scale again changes nothing
  EXPECT_EQ(std::memcmp(drawn().data(), twice.data(), twice.size() * sizeof(TModelVertex)), 0);
  o->Rescale(0, 1, 1);  // refused: it would lose the shape for good
  EXPECT_EQ(o->Scale.x, 2.0f);
  EXPECT_EQ(std::memcmp(drawn().data(), twice.data(), twice.size() * sizeof(TModelVertex)), 0);
  o->Rescale(1, 1, 1);
  const auto back = drawn();
  for (size_t i = 0; i < back.size(); ++i) EXPECT_FLOAT_EQ(back[i].y, built[i].y);
}

TEST_F(ModelDraw, SetDrawsFadedPlacedAndRestores) {
  TzanObjectSet set;
  set.DrawAll(false);  // empty: nothing
  set.Rescale(2, 2, 2);
  auto* a = MakePlane().release();
  auto* b = MakePlane().release();
  auto* hidden = MakePlane().release();
  for (auto* o : {a, b, hidden}) set.Add(o);
  EXPECT_EQ(a->Owner, &set);
  b->Material.Diffuse.a = 0.8f;
  hidden->Visible = false;
  hidden->Position = {7, 7, 7};
  a->BasePosition = {1, 2, 3};
  a->Orbit = {0.1f, 0.7f, 0.3f};
  set.Position = {10, 0, 0};
  set.Rotation = {0, 0.3f, 0.25f};
  set.Alpha = 0.5f;
  set.DrawAll(false);
  ASSERT_EQ(Draws(), 2u);
  EXPECT_EQ(Drawn(0).material.Diffuse.a, 0.5f);
  EXPECT_FLOAT_EQ(Drawn(1).material.Diffuse.a, 0.4f);
  EXPECT_EQ(a->Material.Diffuse.a, 1.0f);
  EXPECT_EQ(b->Material.Diffuse.a, 0.8f);
  EXPECT_EQ(a->Orbit.y, 0.7f);
  EXPECT_EQ(a->Orbit.z, 0.3f);
  EXPECT_EQ(a->Position.y, 2.0f);
  EXPECT_EQ(a->Offset.x, 10.0f);
  EXPECT_EQ(hidden->Position.x, 7.0f);
  EXPECT_EQ(hidden->Offset.x, 0.0f);
  // Placed at T(base) * R(orbit + set rotation) * T(set position).
  D3DXMATRIX t, r, p, w;
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixRotationYawPitchRoll(&r, 0.7f + 0.3f, 0.1f, 0.3f + 0.25f);
  D3DXMatrixTranslation(&p, 10, 0, 0);
  D3DXMatrixMultiply(&w, &t, &r);
  D3DXMatrixMultiply(&w, &w, &p);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR((&Drawn(0).world._11)[i], (&w._11)[i], 1e-5) << i;

  set.Alpha = 1.5f;  // 1 and above: alphas untouched
  set.DrawAll(true);
  EXPECT_FLOAT_EQ(Drawn(3).material.Diffuse.a, 0.8f);

  // Rescaling the set scales places and shapes about its origin; an object whose
  // shape cannot follow keeps its place as well.
  hidden->Param3 = 0;
  hidden->BuildPlane();
  hidden->BasePosition = {1, 1, 1};
  set.Rescale(2, 2, 2);
  EXPECT_EQ(a->BasePosition.x, 2.0f);
  EXPECT_EQ(a->Scale.y, 2.0f);
  EXPECT_EQ(hidden->BasePosition.x, 1.0f);
  EXPECT_EQ(hidden->Scale.x, 1.0f);
  set.Rescale(1, 0, 1);  // refused as a whole
  EXPECT_EQ(a->BasePosition.y, 4.0f);
  set.Rescale(0.3f, 0.4f, 0.3f);
  set.Rescale(1, 1, 1);
  EXPECT_FLOAT_EQ(a->BasePosition.z, 3.0f);

  set.Clear();
  EXPECT_TRUE(set.Items.empty());
  set.DrawAll(false);  // a cleared set draws nothing
  EXPECT_EQ(Draws(), 4u);
}

}  // namespace
