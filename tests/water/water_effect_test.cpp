// The water effect's technique choice, clock, camera and drawing, on the recording
// backend with an effect whose answers the test decides.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/vokWater.h"
#include "tests/support/device_fixture.h"
#include "tests/water/fake_effect.h"

namespace {

using T = FakeEffect::Technique;

class WaterEffect : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = vktest::MakeD3D(gx::BackendKind::Recording, 64, 48);
    ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
    fx = std::make_unique<TWaterEffect>(d3d.get(), 100.0f, nullptr, 0, nullptr, 0, nullptr);
    gx::GxClearRecording(d3d->Device.get());
  }
  void TearDown() override { gx::ClearFaults(); }
  FakeEffect& Use(std::vector<T> techniques) {
    auto e = std::make_shared<FakeEffect>(std::move(techniques));
    fx->Effect = e;
    fx->Technique = 0;
    fx->CausticsEnabled = true;
    return *e;
  }
  // Two updates 20 ms apart: the first only takes the time.
  void Step(uint32_t at) {
    d3d->FrameTime = at;
    fx->Update({0, 0, 0}, {0, 0, 0});
    d3d->FrameTime = at + 20;
    fx->Update({0, 0, 0}, {0, 0, 0});
  }
  HRESULT RenderInScene(bool keepCamera) {
    d3d->Device->BeginScene();
    const HRESULT hr = fx->Render(keepCamera);
    d3d->Device->EndScene();
    return hr;
  }
  const std::vector<gx::DrawRecord>& Draws() { return gx::GxRecordedDraws(d3d->Device.get()); }

  std::unique_ptr<TvokD3D> d3d;
  std::unique_ptr<TWaterEffect> fx;
};

TEST_F(WaterEffect, WithoutAnEffectNothingUsesOne) {
  EXPECT_FALSE(fx->Effect);
  EXPECT_EQ(fx->Camera._41, 1.0f);
  EXPECT_EQ(fx->Camera._42, 5.0f);
  EXPECT_EQ(fx->Camera._43, 1.0f);
  EXPECT_TRUE(fx->Water->SurfaceBuffer);  // the surface is ready even so
  EXPECT_EQ(fx->SelectTechnique(0, false), E_FAIL);
  EXPECT_TRUE(FAILED(RenderInScene(false)));
  Step(1000);
  EXPECT_TRUE(Draws().empty());
  const char junk[] = "this is not an effect {";
  TWaterEffect bad(d3d.get(), 100.0f, junk, sizeof junk, nullptr, 0, nullptr);
  EXPECT_FALSE(bad.Effect);
}

TEST_F(WaterEffect, SelectionFallsBackAndAlwaysEnds) {
  FakeEffect* e = &Use({{false}, {false}, {false}, {false}});
  EXPECT_EQ(fx->SelectTechnique(0, false), S_OK);
  EXPECT_EQ(fx->Technique, 3);  // the last is taken without validation
  EXPECT_EQ(e->techniquesSet, (std::vector<int>{0, 1, 2, 3, 3}));

  e = &Use({{true, true}, {true, false, true}, {true}});
  EXPECT_EQ(fx->SelectTechnique(0, false), S_OK);
  EXPECT_EQ(fx->Technique, 0);
  fx->CausticsEnabled = false;  // techniques that read "tCAU" are passed over
  EXPECT_EQ(fx->SelectTechnique(0, false), S_OK);
  EXPECT_EQ(fx->Technique, 1);
  fx->Technique = 0;
  EXPECT_EQ(fx->SelectTechnique(0, true), S_OK);  // any: the current one as it is
  EXPECT_EQ(fx->Technique, 0);
  EXPECT_EQ(fx->SelectTechnique(-1, false), S_OK);  // backwards from 0 wraps to the last
  EXPECT_EQ(fx->Technique, 2);

  // From 3 in steps of 2 over four techniques the walk runs 0, 2, 0, 2 ... and never
  // meets the last technique nor its start again: it must still come to an end.
  e = &Use({{false}, {true}, {false}, {true}});
  fx->Technique = 3;
  EXPECT_EQ(fx->SelectTechnique(2, false), E_FAIL);
  EXPECT_LE(e->techniquesSet.size(), 5u);
}

TEST_F(WaterEffect, UpdateRunsOnlyAfterMoreThanTenMilliseconds) {
  Use({{true}});
  fx->Water->Drop(10, 10);
  float& h = fx->Water->Cells[WaterCellIndex(10, 10)].Height;
  d3d->FrameTime = 5000;
  fx->Update({0, 0, 0}, {0, 0, 0});
  EXPECT_EQ(fx->LastTime, 5000u);
  EXPECT_EQ(h, 0.0f);  // the first call only takes the time
  d3d->FrameTime = 5010;
  fx->Update({1, 0, 0}, {0, 1, 0});
  EXPECT_EQ(fx->Velocity.x, 0.0f);
  EXPECT_EQ(h, 0.0f);
  d3d->FrameTime = 5011;
  fx->Update({0, 0, 0}, {0, 0, 0});
  EXPECT_EQ(fx->LastTime, 5011u);
  EXPECT_NE(h, 0.0f);
  EXPECT_EQ(fx->Camera._41, 1.0f);  // no velocity: the camera stays put
  EXPECT_NEAR(fx->View._42, -5.0f, 1e-6);
  // Smoothed: a tenth of the target, moved by dt * Speed.
  d3d->FrameTime = 5031;
  fx->Update({0.01f, 0, 0}, {0, 0, 0});
  EXPECT_FLOAT_EQ(fx->Velocity.x, 0.001f);
  EXPECT_FLOAT_EQ(fx->Camera._41, 1.0f + 0.001f * 20 * 25);
  // Disabled water still moves the camera but is not simulated.
  fx->Enabled = false;
  const float before = h;
  d3d->FrameTime = 5100;
  fx->Update({0.01f, 0, 0}, {0, 0, 0});
  EXPECT_GT(fx->Camera._41, 1.5f);
  EXPECT_EQ(h, before);
}

TEST_F(WaterEffect, RenderDrawsEveryPassWithTheEnvironmentMatrix) {
  FakeEffect& e = Use({{true, false, true, 2}});
  Step(100);
  EXPECT_EQ(RenderInScene(true), S_OK);
  EXPECT_EQ(e.begins, 1);
  EXPECT_EQ(e.passesBegun, 2);
  EXPECT_EQ(e.commits, 2);
  EXPECT_EQ(e.ends, 1);
  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[0].state.fvf, 0x152u);
  EXPECT_EQ(Draws()[0].primitiveCount, 8190u);
  // The camera turned into the environment: rotation kept, z mirrored, 0.4 pushed back.
  const D3DMATRIX& m = e.matrices.at("mENV");
  EXPECT_EQ(m._11, 1.0f);
  EXPECT_EQ(m._33, -1.0f);
  EXPECT_EQ(m._41, 0.0f);
  EXPECT_FLOAT_EQ(m._43, 0.4f);
  // Its own camera when asked: the inverse camera and a right-handed projection.
  EXPECT_EQ(RenderInScene(false), S_OK);
  D3DMATRIX view{}, proj{};
  d3d->Device->GetTransform(D3DTS_VIEW, &view);
  d3d->Device->GetTransform(D3DTS_PROJECTION, &proj);
  EXPECT_EQ(std::memcmp(&view, &fx->View, sizeof view), 0);
  EXPECT_LT(proj._34, 0.0f);
  fx->Enabled = false;
  EXPECT_EQ(RenderInScene(true), S_OK);
  EXPECT_EQ(e.begins, 2);
}

TEST_F(WaterEffect, FailedCausticsSwitchThemOffForGood) {
  FakeEffect& e = Use({{true, true}, {true, false}, {true}});
  fx->RenderToSurface.reset();  // the caustics target cannot begin a scene
  Step(100);
  EXPECT_FALSE(fx->CausticsEnabled);
  EXPECT_EQ(fx->Technique, 1);
  EXPECT_FALSE(e.textures.at("tCAU"));
  EXPECT_TRUE(Draws().empty());
}

TEST_F(WaterEffect, CausticsPassDrawsFromAboveAndHandsStatesBack) {
  if (!fx->RenderToSurface) GTEST_SKIP() << "no render-to-surface on this build";
  Use({{true, true}, {true}});
  fx->Water->Drop(20, 20);
  fx->Position = {5, -1, 0};
  fx->SetWorld();
  d3d->Device->SetRenderState(D3DRS_LIGHTING, TRUE);
  d3d->Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  Step(100);
  EXPECT_TRUE(fx->CausticsEnabled);
  ASSERT_EQ(Draws().size(), 1u);
  const auto& s = Draws()[0].state;
  EXPECT_EQ(s.fvf, 0x42u);
  EXPECT_EQ(s.render[D3DRS_ZENABLE], DWORD(FALSE));
  EXPECT_EQ(s.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(s.view._43, -50.0f);
  // In the pool's own coordinates, unlit, adding up.
  EXPECT_EQ(s.world._41, 0.0f);
  EXPECT_EQ(s.render[D3DRS_LIGHTING], DWORD(FALSE));
  EXPECT_EQ(s.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_ONE));
  // Afterwards: the short projection, and the frame's states as they were.
  D3DXMATRIX expected;
  D3DXMatrixPerspectiveFovLH(&expected, SinglePi / 4, d3d->Aspect, 0.01f, 100.0f);
  D3DMATRIX m{};
  d3d->Device->GetTransform(D3DTS_PROJECTION, &m);
  EXPECT_EQ(std::memcmp(&m, &expected, sizeof m), 0);
  d3d->Device->GetTransform(D3DTS_WORLD, &m);
  EXPECT_EQ(m._41, 5.0f);
  DWORD v = 0;
  d3d->Device->GetRenderState(D3DRS_LIGHTING, &v);
  EXPECT_EQ(v, DWORD(TRUE));
  d3d->Device->GetRenderState(D3DRS_SRCBLEND, &v);
  EXPECT_EQ(v, DWORD(D3DBLEND_SRCALPHA));
  d3d->Device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(TRUE));  // this device has a depth buffer
}

}  // namespace
