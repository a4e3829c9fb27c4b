// The sprite and render-to-surface on the recording backend: what reaches the
// device while drawing, and that every state is put back afterwards.

#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/d3dx_device.h"

namespace {

struct SpriteVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};

class D3dxSprite : public testing::Test {
 protected:
  void SetUp() override {
    device = d3dxtest::MakeDevice(gx::BackendKind::Recording);
    ASSERT_TRUE(device);
    ASSERT_EQ(S_OK, D3DXCreateTexture(device, 16, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture));
    ASSERT_EQ(S_OK, D3DXCreateSprite(device, sprite));
    // A device state unlike the sprite's, so that a missing restore shows.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAREF, 0x40);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    ASSERT_EQ(S_OK, D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, other));
    device->SetTexture(0, other);
    ASSERT_EQ(S_OK, device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, buffer, nullptr));
    device->SetStreamSource(0, buffer, 8, 32);
    gx::GxClearRecording(device.get());
    ASSERT_EQ(S_OK, device->BeginScene());
  }
  void TearDown() override {
    if (device) device->EndScene();
  }

  std::vector<SpriteVertex> VerticesOf(const gx::DrawRecord& d) {
    std::vector<SpriteVertex> v(d.vertices.size() / sizeof(SpriteVertex));
    std::memcpy(v.data(), d.vertices.data(), v.size() * sizeof(SpriteVertex));
    return v;
  }

  LPDIRECT3DDEVICE9 device;
  LPDIRECT3DTEXTURE9 texture, other;
  LPDIRECT3DVERTEXBUFFER9 buffer;
  LPD3DXSPRITE sprite;
};

TEST_F(D3dxSprite, DrawsAPreTransformedQuadWithTheSpriteStates) {
  const RECT source{4, 2, 12, 6};
  const D3DXVECTOR3 position(10, 20, 0);
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT));
  ASSERT_EQ(S_OK, sprite->Draw(texture, &source, nullptr, &position, 0x80FF8040));
  EXPECT_TRUE(gx::GxRecordedDraws(device.get()).empty()) << "sprites are drawn at End";
  ASSERT_EQ(S_OK, sprite->End());

  const auto& draws = gx::GxRecordedDraws(device.get());
  ASSERT_EQ(draws.size(), 1u);
  const gx::DrawRecord& d = draws[0];
  EXPECT_EQ(d.state.fvf, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  EXPECT_EQ(d.stride, sizeof(SpriteVertex));
  EXPECT_EQ(d.primitiveCount, 2u);
  EXPECT_EQ(d.state.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(d.state.render[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  EXPECT_EQ(d.state.render[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(d.state.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(d.state.render[D3DRS_LIGHTING], DWORD(FALSE));
  EXPECT_EQ(d.state.render[D3DRS_FOGENABLE], DWORD(FALSE));
  EXPECT_EQ(d.state.stage[0][D3DTSS_COLOROP], DWORD(D3DTOP_MODULATE));
  EXPECT_EQ(d.state.stage[0][D3DTSS_COLORARG1], DWORD(D3DTA_TEXTURE));
  EXPECT_EQ(d.state.stage[0][D3DTSS_ALPHAOP], DWORD(D3DTOP_MODULATE));
  EXPECT_EQ(d.state.stage[1][D3DTSS_COLOROP], DWORD(D3DTOP_DISABLE));
  EXPECT_EQ(d.state.sampler[0][D3DSAMP_ADDRESSU], DWORD(D3DTADDRESS_CLAMP));
  EXPECT_EQ(d.state.textures[0], texture);
  EXPECT_EQ(d.state.pixelShader, nullptr);

  // The 8 x 4 source rectangle at (10, 20): corners half a pixel up-left, texture
  // coordinates of the rectangle, the modulating colour on every vertex.
  const auto v = VerticesOf(d);
  ASSERT_EQ(v.size(), 6u);
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f, minU = 9, maxU = -9, minV = 9, maxV = -9;
  for (const SpriteVertex& s : v) {
    minX = std::min(minX, s.x); maxX = std::max(maxX, s.x);
    minY = std::min(minY, s.y); maxY = std::max(maxY, s.y);
    minU = std::min(minU, s.u); maxU = std::max(maxU, s.u);
    minV = std::min(minV, s.v); maxV = std::max(maxV, s.v);
    EXPECT_EQ(s.color, 0x80FF8040u);
    EXPECT_EQ(s.rhw, 1.0f);
  }
  EXPECT_FLOAT_EQ(minX, 9.5f);
  EXPECT_FLOAT_EQ(maxX, 17.5f);
  EXPECT_FLOAT_EQ(minY, 19.5f);
  EXPECT_FLOAT_EQ(maxY, 23.5f);
  EXPECT_FLOAT_EQ(minU, 0.25f);
  EXPECT_FLOAT_EQ(maxU, 0.75f);
  EXPECT_FLOAT_EQ(minV, 0.25f);
  EXPECT_FLOAT_EQ(maxV, 0.75f);
}

TEST_F(D3dxSprite, EndPutsBackEveryStateItTouched) {
  const auto before = d3dxtest::DeviceSnapshot::Take(device.get());
  const D3DXVECTOR3 position(1, 2, 0), center(3, 3, 0);
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT));
  ASSERT_EQ(S_OK, sprite->Draw(texture, nullptr, &center, &position, 0xFFFFFFFF));
  ASSERT_EQ(S_OK, sprite->Draw(other, nullptr, nullptr, nullptr, 0xFF00FF00));
  ASSERT_EQ(S_OK, sprite->End());
  EXPECT_EQ(gx::GxRecordedDraws(device.get()).size(), 2u);
  d3dxtest::DeviceSnapshot::Take(device.get()).ExpectSame(before);
}

TEST_F(D3dxSprite, DoNotSaveStateLeavesTheSpriteStates) {
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_DONOTSAVESTATE));
  ASSERT_EQ(S_OK, sprite->Draw(texture, nullptr, nullptr, nullptr, 0xFFFFFFFF));
  ASSERT_EQ(S_OK, sprite->End());
  DWORD v = 0;
  device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
  EXPECT_EQ(v, DWORD(TRUE));
  device->GetRenderState(D3DRS_CULLMODE, &v);
  EXPECT_EQ(v, DWORD(D3DCULL_NONE));
}

TEST_F(D3dxSprite, SortsBackToFrontAndRejectsMisuse) {
  const D3DXVECTOR3 nearPos(0, 0, 0.1f), farPos(0, 0, 0.9f);
  EXPECT_EQ(D3DERR_INVALIDCALL, sprite->Draw(texture, nullptr, nullptr, nullptr, 0));  // outside Begin
  EXPECT_EQ(D3DERR_INVALIDCALL, sprite->End());
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_SORT_DEPTH_BACKTOFRONT));
  EXPECT_EQ(D3DERR_INVALIDCALL, sprite->Begin(0));
  EXPECT_EQ(D3DERR_INVALIDCALL, sprite->Draw(nullptr, nullptr, nullptr, nullptr, 0));
  sprite->Draw(texture, nullptr, nullptr, &nearPos, 0xFF000001);
  sprite->Draw(other, nullptr, nullptr, &farPos, 0xFF000002);
  ASSERT_EQ(S_OK, sprite->End());
  const auto& draws = gx::GxRecordedDraws(device.get());
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(VerticesOf(draws[0])[0].color, 0xFF000002u);  // the far one first
  EXPECT_EQ(VerticesOf(draws[1])[0].color, 0xFF000001u);
  // Without ALPHABLEND the sprite does not blend.
  EXPECT_EQ(draws[0].state.render[D3DRS_ALPHABLENDENABLE], DWORD(FALSE));
}

TEST(D3dxRenderToSurface, SwitchesTargetAndViewportAndPutsThemBack) {
  auto device = d3dxtest::MakeDevice(gx::BackendKind::Recording, 64, 48);
  ASSERT_TRUE(device);
  d3dxtest::RenderToSurfaceTarget target;
  ASSERT_TRUE(d3dxtest::MakeRenderToSurface(device, target));
  auto& [tex, surface, rts] = target;
  D3DXRTS_DESC desc{};
  rts->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 16u);

  const auto before = d3dxtest::DeviceSnapshot::Take(device.get());
  ASSERT_EQ(S_OK, rts->BeginScene(surface, nullptr));
  LPDIRECT3DSURFACE9 current;
  device->GetRenderTarget(0, current);
  EXPECT_EQ(current, surface);
  D3DVIEWPORT9 vp{};
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 16u);
  EXPECT_EQ(vp.Height, 16u);
  EXPECT_EQ(D3DERR_INVALIDCALL, rts->BeginScene(surface, nullptr));
  ASSERT_EQ(S_OK, rts->EndScene(0));
  d3dxtest::DeviceSnapshot::Take(device.get()).ExpectSame(before);

  // A refused device scene leaves everything as it was and reports the failure.
  gx::InjectedFaults().failBeginScene = 1;
  EXPECT_FAILED(rts->BeginScene(surface, nullptr));
  gx::ClearFaults();
  d3dxtest::DeviceSnapshot::Take(device.get()).ExpectSame(before);
  EXPECT_EQ(D3DERR_INVALIDCALL, rts->EndScene(0));
}

}  // namespace
