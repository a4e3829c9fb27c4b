// Render targets, screen planes and sprites on the recording backend: geometry, the states
// each draw sets (and only those), and what happens when the device refuses a resource.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/vokRenderTarget.h"
#include "engine/vokSprite.h"
#include "tests/layers/show_fixture.h"

using namespace vktest;

// Vertices compare as the bytes the device was given.
bool operator==(const TScreenVertex& A, const TScreenVertex& B) { return std::memcmp(&A, &B, sizeof A) == 0; }

namespace {

using Quad = std::vector<TScreenVertex>;

Quad QuadOf(const TScreenQuad& V) { return Quad(V, V + 4); }

Quad DrawnQuad(const vkgfx::DrawRecord& D) {
  Quad Q(4);
  EXPECT_EQ(D.vertices.size(), 4 * sizeof(TScreenVertex));
  if (D.vertices.size() == 4 * sizeof(TScreenVertex)) std::memcpy(Q.data(), D.vertices.data(), D.vertices.size());
  return Q;
}

void ExpectCorners(const TScreenQuad& V, float L, float T, float R, float B) {
  const float X[4] = {L, R, L, R}, Y[4] = {T, T, B, B};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(V[i].x, X[i]) << i;
    EXPECT_FLOAT_EQ(V[i].y, Y[i]) << i;
    EXPECT_EQ(V[i].z, 0.0f);
    EXPECT_EQ(V[i].rhw, 1.0f);
  }
}

void ExpectTexCoords(const TScreenQuad& V, float U0, float V0, float U1, float V1) {
  const float U[4] = {U0, U1, U0, U1}, W[4] = {V0, V0, V1, V1};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(V[i].u, U[i]) << i;
    EXPECT_FLOAT_EQ(V[i].v, W[i]) << i;
  }
}

LPDIRECT3DSURFACE9 BackBuffer(IDirect3DDevice9* Device) {
  LPDIRECT3DSURFACE9 S;
  Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, S);
  return S;
}

LPDIRECT3DSURFACE9 CurrentTarget(IDirect3DDevice9* Device) {
  LPDIRECT3DSURFACE9 S;
  Device->GetRenderTarget(0, S);
  return S;
}

}  // namespace

using RenderTargetTest = ShowTest;

TEST_F(RenderTargetTest, SmallerTextureStillCoversTheScreenWithFarEdgesOnLastPixel) {
  TvokRenderTarget Target(D3D(), 32, 16);
  ASSERT_TRUE(Target.Texture);
  D3DSURFACE_DESC Desc{}, BackDesc{};
  ASSERT_EQ(Target.Texture->GetLevelDesc(0, &Desc), D3D_OK);
  D3D()->GetBackBufferDesc(BackDesc);
  EXPECT_EQ(Desc.Width, 32u);
  EXPECT_EQ(Desc.Height, 16u);
  EXPECT_EQ(Desc.Usage & D3DUSAGE_RENDERTARGET, D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(Desc.Format, BackDesc.Format);
  EXPECT_EQ(Desc.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(Target.Texture->GetLevelCount(), 1u);
  ExpectCorners(Target.Vertices, 0, 0, 63, 47);
  ExpectTexCoords(Target.Vertices, 0, 0, 1, 1);

  Target.SetRect(10, 20, 640, 480);
  ExpectCorners(Target.Vertices, 10, 20, 649, 499);
  Target.SetTexCoords(0, 0.08f, 1, 1);
  ExpectTexCoords(Target.Vertices, 0, 0.08f, 1, 1);
  // The creation leaves the screen as the current target.
  EXPECT_EQ(CurrentTarget(Device()), BackBuffer(Device()));
}

TEST_F(RenderTargetTest, CreationClearsOnlyTheColourOfTheTexture) {
  vkgfx::VkClearRecording(Device());
  TvokRenderTarget Target(D3D(), 64, 48);
  const auto& Calls = vkgfx::VkRecordedCalls(Device());
  int Clears = 0;
  for (const auto& C : Calls)
    if (C.rfind("Clear", 0) == 0) {
      ++Clears;
      EXPECT_EQ(C, "Clear 1 00000000");
    }
  EXPECT_EQ(Clears, 1);
}

TEST_F(RenderTargetTest, BeginAndEndRenderSwitchTheTargetAndKeepTheDepthBuffer) {
  TvokRenderTarget Target(D3D(), 64, 48);
  LPDIRECT3DSURFACE9 Depth;
  Device()->GetDepthStencilSurface(Depth);
  const auto Screen = BackBuffer(Device());
  ASSERT_EQ(Target.BeginRender(), D3D_OK);
  EXPECT_EQ(CurrentTarget(Device()), Target.Surface);
  EXPECT_EQ(Target.SavedTarget, Screen);
  LPDIRECT3DSURFACE9 DepthNow;
  Device()->GetDepthStencilSurface(DepthNow);
  EXPECT_EQ(DepthNow, Depth);
  ASSERT_EQ(Target.EndRender(), D3D_OK);
  EXPECT_EQ(CurrentTarget(Device()), Screen);
  EXPECT_EQ(Target.SavedTarget, Screen);  // kept until the next BeginRender
}

TEST_F(RenderTargetTest, DrawSetsTextureFvfCullAndNothingElse) {
  TvokRenderTarget Target(D3D(), 64, 48);
  Target.SetTexCoords(0, 0.08f, 1, 1);
  Device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  Device()->SetRenderState(D3DRS_ZENABLE, FALSE);
  Device()->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  Device()->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  Device()->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  vkgfx::VkClearRecording(Device());

  Device()->BeginScene();
  ASSERT_EQ(Target.Draw(), D3D_OK);
  Device()->EndScene();
  const auto& Draws = vkgfx::VkRecordedDraws(Device());
  ASSERT_EQ(Draws.size(), 1u);
  const auto& D = Draws[0];
  EXPECT_EQ(D.kind, vkgfx::DrawRecord::Kind::PrimitiveUP);
  EXPECT_EQ(D.type, D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(D.primitiveCount, 2u);
  EXPECT_EQ(D.stride, 24u);
  EXPECT_EQ(D.state.fvf, 0x104u);
  EXPECT_EQ(D.state.textures[0], Target.Texture);
  EXPECT_EQ(D.state.render[D3DRS_CULLMODE], static_cast<DWORD>(D3DCULL_NONE));
  EXPECT_EQ(D.state.render[D3DRS_ALPHABLENDENABLE], static_cast<DWORD>(TRUE));
  EXPECT_EQ(D.state.render[D3DRS_ZENABLE], static_cast<DWORD>(FALSE));
  EXPECT_EQ(D.state.stage[0][D3DTSS_COLOROP], static_cast<DWORD>(D3DTOP_SELECTARG2));
  EXPECT_EQ(D.state.sampler[0][D3DSAMP_MAGFILTER], static_cast<DWORD>(D3DTEXF_LINEAR));
  EXPECT_EQ(DrawnQuad(D), QuadOf(Target.Vertices));
  // Texture and cull mode stay set afterwards.
  DWORD Cull = 0;
  Device()->GetRenderState(D3DRS_CULLMODE, &Cull);
  EXPECT_EQ(Cull, static_cast<DWORD>(D3DCULL_NONE));
  LPDIRECT3DBASETEXTURE9 Bound;
  Device()->GetTexture(0, Bound);
  EXPECT_EQ(Bound, Target.Texture);
}

TEST_F(RenderTargetTest, RefusedTextureLeavesTheScreenAlone) {
  vkgfx::InjectedFaults().failCreateResource = 1;
  vkgfx::VkClearRecording(Device());
  TvokRenderTarget Target(D3D(), 64, 48);
  EXPECT_FALSE(Target.Texture);
  // No clear went to the back buffer in place of the missing texture.
  for (const auto& C : vkgfx::VkRecordedCalls(Device())) EXPECT_NE(C.rfind("Clear", 0), 0u) << C;
  const auto Screen = BackBuffer(Device());
  EXPECT_TRUE(FAILED(Target.BeginRender()));
  EXPECT_EQ(CurrentTarget(Device()), Screen);
  Target.EndRender();
  EXPECT_EQ(CurrentTarget(Device()), Screen);
  Device()->BeginScene();
  EXPECT_TRUE(FAILED(Target.Draw()));
  Device()->EndScene();
  EXPECT_TRUE(vkgfx::VkRecordedDraws(Device()).empty());
}

TEST_F(RenderTargetTest, EndRenderWithoutBeginDoesNotClearTheTarget) {
  TvokRenderTarget Target(D3D(), 64, 48);
  Target.SavedTarget.reset();
  const auto Screen = BackBuffer(Device());
  EXPECT_TRUE(FAILED(Target.EndRender()));
  EXPECT_EQ(CurrentTarget(Device()), Screen);
}

using ScreenPlaneTest = ShowTest;

TEST_F(ScreenPlaneTest, HoldsItsTextureAndDrawsItFullScreen) {
  LPDIRECT3DTEXTURE9 Picture;
  ASSERT_EQ(Device()->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, Picture, nullptr), D3D_OK);
  const long Before = Picture.use_count();
  {
    TvokScreenPlane Plane(D3D(), Picture);
    EXPECT_EQ(Picture.use_count(), Before + 1);
    ExpectCorners(Plane.Vertices, 0, 0, 63, 47);
    ExpectTexCoords(Plane.Vertices, 0, 0, 1, 1);
    vkgfx::VkClearRecording(Device());
    Device()->BeginScene();
    ASSERT_EQ(Plane.Draw(), D3D_OK);
    Device()->EndScene();
    const auto& Draws = vkgfx::VkRecordedDraws(Device());
    ASSERT_EQ(Draws.size(), 1u);
    EXPECT_EQ(Draws[0].state.textures[0], Picture);
    EXPECT_EQ(Draws[0].state.fvf, 0x104u);
    EXPECT_EQ(Draws[0].state.render[D3DRS_CULLMODE], static_cast<DWORD>(D3DCULL_NONE));
    Device()->SetTexture(0, nullptr);
    vkgfx::VkClearRecording(Device());  // the log keeps the state of each draw, textures included
  }
  EXPECT_EQ(Picture.use_count(), Before);
}

TEST_F(ScreenPlaneTest, MissingPictureDrawsNothing) {
  TvokScreenPlane Plane(D3D(), nullptr);
  vkgfx::VkClearRecording(Device());
  Device()->BeginScene();
  EXPECT_TRUE(FAILED(Plane.Draw()));
  Device()->EndScene();
  EXPECT_TRUE(vkgfx::VkRecordedDraws(Device()).empty());
}

using SpriteTest = ShowTest;

TEST_F(SpriteTest, StartsOpaqueWhiteVisibleAtTheOrigin) {
  TvokSprite S(D3D());
  EXPECT_TRUE(S.Ok) << S.ErrorText;
  EXPECT_TRUE(S.Sprite);
  EXPECT_EQ(S.Alpha, 255);
  EXPECT_EQ(S.RGB, 0xFFFFFFu);
  EXPECT_EQ(S.Color, 0xFFFFFFFFu);
  EXPECT_EQ(S.Flags, 0x90u);
  EXPECT_TRUE(S.Visible);
  EXPECT_EQ(S.X, 0.0f);
  EXPECT_EQ(S.Y, 0.0f);
  EXPECT_EQ(S.Device, D3D()->Device);
}

TEST_F(SpriteTest, AlphaAndColourChangeOnlyOnADifferentValue) {
  TvokSprite S(D3D());
  S.SetAlpha(0);
  EXPECT_EQ(S.Color, 0x00FFFFFFu);
  S.SetColor(0x102030);
  EXPECT_EQ(S.Color, 0x00102030u);
  S.SetAlpha(0x80);
  EXPECT_EQ(S.Color, 0x80102030u);
  // Same values: Color is not recomputed (a stale value shows it was left alone).
  S.Color = 0x12345678;
  S.SetAlpha(0x80);
  S.SetColor(0x102030);
  EXPECT_EQ(S.Color, 0x12345678u);
}

TEST_F(SpriteTest, TextureKeepsTheRequestedSizeAsSourceRect) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(50, 30, D3DFMT_A8R8G8B8, Out);
  ASSERT_TRUE(S.Ok) << S.ErrorText;
  ASSERT_TRUE(S.Texture);
  EXPECT_EQ(Out, S.Texture);
  EXPECT_EQ(S.TexWidth, 50);
  EXPECT_EQ(S.TexHeight, 30);
  EXPECT_EQ(S.SourceRect.left, 0);
  EXPECT_EQ(S.SourceRect.top, 0);
  EXPECT_EQ(S.SourceRect.right, 50);
  EXPECT_EQ(S.SourceRect.bottom, 30);
  D3DSURFACE_DESC Desc{};
  S.Texture->GetLevelDesc(0, &Desc);
  EXPECT_GE(Desc.Width, 50u);
  EXPECT_GE(Desc.Height, 30u);
  EXPECT_GT(S.Texture->GetLevelCount(), 1u);  // a full chain
}

TEST_F(SpriteTest, RefusedTextureReportsAndClearsBothReferences) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(16, 16, D3DFMT_A8R8G8B8, Out);
  ASSERT_TRUE(Out);
  vkgfx::InjectedFaults().failCreateResource = 1;
  S.CreateTexture(16, 16, D3DFMT_A8R8G8B8, Out);
  EXPECT_FALSE(S.Ok);
  EXPECT_EQ(S.ErrorText, "Sprite load texture from file error.");
  EXPECT_FALSE(S.Texture);
  EXPECT_FALSE(Out);
  EXPECT_FALSE(S.FillTexture(255, 255, 255));
  EXPECT_EQ(S.ErrorText, "Sprite fill texture error.");
}

TEST_F(SpriteTest, FillMakesEveryTexelOfEveryLevelOpaqueAndClampsBytes) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(8, 4, D3DFMT_A8R8G8B8, Out);
  ASSERT_TRUE(S.Texture);
  struct Case {
    uint8_t R, G, B;
    uint32_t Expected;
  };
  // Bytes go to the fill unscaled: any non-zero byte is full intensity.
  for (const Case& C : {Case{255, 255, 255, 0xFFFFFFFFu}, Case{0, 0, 0, 0xFF000000u}, Case{1, 0, 200, 0xFFFF00FFu}}) {
    ASSERT_TRUE(S.FillTexture(C.R, C.G, C.B));
    for (UINT Level = 0; Level < S.Texture->GetLevelCount(); ++Level) {
      LPDIRECT3DSURFACE9 Surface;
      ASSERT_EQ(S.Texture->GetSurfaceLevel(Level, Surface), D3D_OK);
      std::vector<uint8_t> Rgba;
      UINT W = 0, H = 0;
      ASSERT_EQ(vkgfx::VkReadSurface(Surface.get(), Rgba, W, H), D3D_OK);
      ASSERT_EQ(Rgba.size(), size_t(W) * H * 4);
      for (size_t i = 0; i < Rgba.size(); i += 4) {
        const uint32_t Argb = (uint32_t(Rgba[i + 3]) << 24) | (uint32_t(Rgba[i]) << 16) |
                              (uint32_t(Rgba[i + 1]) << 8) | Rgba[i + 2];
        ASSERT_EQ(Argb, C.Expected) << "level " << Level << " texel " << i / 4;
      }
    }
  }
}

TEST_F(SpriteTest, FailedFillReportsTheFillMessage) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(8, 8, D3DFMT_A8R8G8B8, Out);
  ASSERT_TRUE(S.Ok);
  vkgfx::InjectedFaults().failLock = 100;
  EXPECT_FALSE(S.FillTexture(0, 0, 0));
  EXPECT_FALSE(S.Ok);
  EXPECT_EQ(S.ErrorText, "Sprite fill texture error.");
}

TEST_F(SpriteTest, DrawGoesThroughTheSpriteAndRestoresTheState) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(64, 48, D3DFMT_A8R8G8B8, Out);
  S.FillTexture(255, 255, 255);
  S.SetAlpha(0x40);
  Device()->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  Device()->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  vkgfx::VkClearRecording(Device());

  Device()->BeginScene();
  S.Visible = false;
  S.Draw();
  EXPECT_TRUE(vkgfx::VkRecordedDraws(Device()).empty());

  S.Visible = true;
  S.Draw();
  Device()->EndScene();
  const auto& Draws = vkgfx::VkRecordedDraws(Device());
  ASSERT_EQ(Draws.size(), 1u);
  EXPECT_EQ(Draws[0].state.textures[0], S.Texture);
  EXPECT_EQ(Draws[0].state.render[D3DRS_ALPHABLENDENABLE], static_cast<DWORD>(TRUE));
  DWORD Blend = 1, Cull = 0;
  Device()->GetRenderState(D3DRS_ALPHABLENDENABLE, &Blend);
  Device()->GetRenderState(D3DRS_CULLMODE, &Cull);
  EXPECT_EQ(Blend, static_cast<DWORD>(FALSE));
  EXPECT_EQ(Cull, static_cast<DWORD>(D3DCULL_CCW));
}
