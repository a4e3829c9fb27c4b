// Render targets, screen planes and sprites on the recording backend: geometry, the states
// each draw sets (and only those), and what happens when the device refuses a resource.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "engine/vokRenderTarget.h"
#include "engine/vokSprite.h"
#include "tests/support/show_fixture.h"

using namespace vktest;

namespace {

void ExpectQuad(const TScreenQuad& V, float L, float T, float R, float B, float V0) {
  const float X[4] = {L, R, L, R}, Y[4] = {T, T, B, B}, U[4] = {0, 1, 0, 1}, W[4] = {V0, V0, 1, 1};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(V[i].x, X[i]) << i;
    EXPECT_EQ(V[i].y, Y[i]) << i;
    EXPECT_EQ(V[i].z, 0.0f);
    EXPECT_EQ(V[i].rhw, 1.0f);
    EXPECT_FLOAT_EQ(V[i].u, U[i]) << i;
    EXPECT_FLOAT_EQ(V[i].v, W[i]) << i;
  }
}

LPDIRECT3DSURFACE9 CurrentTarget(IDirect3DDevice9* Device) {
  LPDIRECT3DSURFACE9 S;
  Device->GetRenderTarget(0, S);
  return S;
}

}  // namespace

using RenderTargetTest = ShowTest;

TEST_F(RenderTargetTest, SmallTextureCoversTheScreenAndRendersInto) {
  TvokRenderTarget Target(D3D(), 32, 16);
  ASSERT_TRUE(Target.Texture);
  D3DSURFACE_DESC Desc{}, Back{};
  Target.Texture->GetLevelDesc(0, &Desc);
  D3D()->GetBackBufferDesc(Back);
  EXPECT_EQ(Desc.Width, 32u);
  EXPECT_EQ(Desc.Usage & D3DUSAGE_RENDERTARGET, D3DUSAGE_RENDERTARGET);
  EXPECT_EQ(Desc.Format, Back.Format);
  // Far edges on the last pixel, whatever the texture size.
  ExpectQuad(Target.Vertices, 0, 0, 63, 47, 0);
  Target.SetRect(10, 20, 640, 480);
  Target.SetTexCoords(0, 0.08f, 1, 1);
  ExpectQuad(Target.Vertices, 10, 20, 649, 499, 0.08f);

  const auto Screen = CurrentTarget(Device());
  ASSERT_EQ(Target.BeginRender(), D3D_OK);
  EXPECT_EQ(CurrentTarget(Device()), Target.Surface);
  ASSERT_EQ(Target.EndRender(), D3D_OK);
  EXPECT_EQ(CurrentTarget(Device()), Screen);
  EXPECT_EQ(Target.SavedTarget, Screen);  // kept until the next BeginRender
}

TEST_F(RenderTargetTest, DrawSetsTextureFvfCullAndNothingElse) {
  TvokRenderTarget Target(D3D(), 64, 48);
  Device()->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  Device()->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  Device()->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  gx::GxClearRecording(Device());
  Device()->BeginScene();
  ASSERT_EQ(Target.Draw(), D3D_OK);
  Device()->EndScene();
  const auto& Draws = gx::GxRecordedDraws(Device());
  ASSERT_EQ(Draws.size(), 1u);
  const auto& D = Draws[0];
  EXPECT_EQ(D.type, D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(D.primitiveCount, 2u);
  EXPECT_EQ(D.stride, 24u);
  EXPECT_EQ(D.state.fvf, 0x104u);
  EXPECT_EQ(D.state.textures[0], Target.Texture);
  EXPECT_EQ(D.state.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(D.state.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
  EXPECT_EQ(D.state.stage[0][D3DTSS_COLOROP], DWORD(D3DTOP_SELECTARG2));
  ASSERT_EQ(D.vertices.size(), sizeof Target.Vertices);
  EXPECT_EQ(0, std::memcmp(D.vertices.data(), Target.Vertices, sizeof Target.Vertices));
}

TEST_F(RenderTargetTest, RefusedTextureLeavesTheScreenAlone) {
  gx::InjectedFaults().failCreateResource = 1;
  gx::GxClearRecording(Device());
  TvokRenderTarget Target(D3D(), 64, 48);
  EXPECT_FALSE(Target.Texture);
  // The creation's clear did not go to the back buffer in place of the missing texture.
  for (const auto& C : gx::GxRecordedCalls(Device())) EXPECT_NE(C.rfind("Clear", 0), 0u) << C;
  const auto Screen = CurrentTarget(Device());
  EXPECT_TRUE(FAILED(Target.BeginRender()));
  Target.EndRender();
  EXPECT_EQ(CurrentTarget(Device()), Screen);
  Device()->BeginScene();
  EXPECT_TRUE(FAILED(Target.Draw()));
  // A plane without its picture draws nothing either (no white sheet over the screen).
  TvokScreenPlane Plane(D3D(), nullptr);
  EXPECT_TRUE(FAILED(Plane.Draw()));
  Device()->EndScene();
  EXPECT_TRUE(gx::GxRecordedDraws(Device()).empty());
}

using SpriteTest = ShowTest;

TEST_F(SpriteTest, AlphaAndColourChangeOnlyOnADifferentValue) {
  TvokSprite S(D3D());
  ASSERT_TRUE(S.Ok) << S.ErrorText;
  EXPECT_EQ(S.Color, 0xFFFFFFFFu);
  EXPECT_EQ(S.Flags, 0x90u);
  S.SetAlpha(0);
  EXPECT_EQ(S.Color, 0x00FFFFFFu);
  S.SetColor(0x102030);
  S.SetAlpha(0x80);
  EXPECT_EQ(S.Color, 0x80102030u);
  // Same values: Color is not recomputed (a planted value shows it was left alone).
  S.Color = 0x12345678;
  S.SetAlpha(0x80);
  S.SetColor(0x102030);
  EXPECT_EQ(S.Color, 0x12345678u);
}

TEST_F(SpriteTest, TextureKeepsTheRequestedSizeAndFillClampsEveryLevel) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(50, 30, D3DFMT_A8R8G8B8, Out);
  ASSERT_TRUE(S.Texture);
  EXPECT_EQ(Out, S.Texture);
  EXPECT_EQ(S.SourceRect.right, 50);
  EXPECT_EQ(S.SourceRect.bottom, 30);
  EXPECT_GT(S.Texture->GetLevelCount(), 1u);
  // Bytes go to the fill unscaled: any non-zero byte is full intensity, alpha always full.
  for (auto [R, G, B, Expected] : {std::tuple{255, 255, 255, 0xFFFFFFFFu}, std::tuple{0, 0, 0, 0xFF000000u},
                                   std::tuple{1, 0, 200, 0xFFFF00FFu}}) {
    ASSERT_TRUE(S.FillTexture(uint8_t(R), uint8_t(G), uint8_t(B)));
    for (UINT Level = 0; Level < S.Texture->GetLevelCount(); ++Level) {
      LPDIRECT3DSURFACE9 Surface;
      S.Texture->GetSurfaceLevel(Level, Surface);
      std::vector<uint8_t> Rgba;
      UINT W = 0, H = 0;
      ASSERT_EQ(gx::GxReadSurface(Surface.get(), Rgba, W, H), D3D_OK);
      for (size_t i = 0; i < Rgba.size(); i += 4) {
        const uint32_t Argb = (uint32_t(Rgba[i + 3]) << 24) | (uint32_t(Rgba[i]) << 16) | (uint32_t(Rgba[i + 1]) << 8) |
                              Rgba[i + 2];
        ASSERT_EQ(Argb, Expected) << "level " << Level;
      }
    }
  }
}

TEST_F(SpriteTest, FailuresReportTheirMessages) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(8, 8, D3DFMT_A8R8G8B8, Out);
  gx::InjectedFaults().failLock = 100;
  EXPECT_FALSE(S.FillTexture(0, 0, 0));
  EXPECT_EQ(S.ErrorText, "Sprite fill texture error.");
  gx::InjectedFaults().failCreateResource = 1;
  S.CreateTexture(16, 16, D3DFMT_A8R8G8B8, Out);
  EXPECT_FALSE(S.Ok);
  EXPECT_EQ(S.ErrorText, "Sprite load texture from file error.");
  EXPECT_FALSE(S.Texture);
  EXPECT_FALSE(Out);
}

TEST_F(SpriteTest, DrawsTheRequestedRectangleInItsColourOnlyWhileVisible) {
  TvokSprite S(D3D());
  LPDIRECT3DTEXTURE9 Out;
  S.CreateTexture(50, 30, D3DFMT_A8R8G8B8, Out);
  S.SetAlpha(0x40);
  S.SetX(5);
  gx::GxClearRecording(Device());
  Device()->BeginScene();
  S.Visible = false;
  S.Draw();
  S.Visible = true;
  S.Draw();
  Device()->EndScene();
  const auto& Draws = gx::GxRecordedDraws(Device());
  ASSERT_EQ(Draws.size(), 1u);
  EXPECT_EQ(Draws[0].state.textures[0], S.Texture);
  // Pre-transformed corners x, y, z, rhw, colour, u, v: the size asked for, not the texture's.
  struct V { float X, Y, Z, Rhw; D3DCOLOR C; float U, W; };
  ASSERT_EQ(Draws[0].stride, sizeof(V));
  float MinX = 1e9f, MaxX = -1e9f, MaxY = -1e9f;
  for (size_t i = 0; i < Draws[0].vertexCount; ++i) {
    V Vertex;
    std::memcpy(&Vertex, Draws[0].vertices.data() + i * sizeof(V), sizeof(V));
    EXPECT_EQ(Vertex.C, 0x40FFFFFFu);
    MinX = std::min(MinX, Vertex.X), MaxX = std::max(MaxX, Vertex.X), MaxY = std::max(MaxY, Vertex.Y);
  }
  EXPECT_NEAR(MaxX - MinX, 50.0f, 1.0f);
  EXPECT_NEAR(MinX, 5.0f, 1.0f);
  EXPECT_NEAR(MaxY, 30.0f, 1.0f);
}
