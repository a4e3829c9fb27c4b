// The post-processing path on the gl backend, read back pixel by pixel: the capture shows the
// frame from v = 0.08 down, a fresh target is black, and every post shader compiles from its
// source and visibly changes the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "tests/layers/show_fixture.h"

using namespace vktest;

namespace {

struct Picture {
  std::vector<uint8_t> Rgba;
  UINT Width = 0, Height = 0;
  uint32_t At(int X, int Y) const {
    const uint8_t* P = &Rgba[(size_t(Y) * Width + X) * 4];
    return (uint32_t(P[0]) << 16) | (uint32_t(P[1]) << 8) | P[2];
  }
};

constexpr uint32_t Red = 0xFF0000, Yellow = 0xFFFF00, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF;

class GlConformancePost : public ShowTest {
 protected:
  vkgfx::BackendKind Kind() const override { return vkgfx::BackendKind::Gl; }
  int ScreenWidth() const override { return 64; }
  int ScreenHeight() const override { return 50; }

  void FillRows(int Top, int Bottom, D3DCOLOR Colour) {
    RECT R{0, Top, ScreenWidth(), Bottom};
    Device()->Clear(1, &R, D3DCLEAR_TARGET, Colour, 1.0f, 0);
  }
  void FillRect(int L, int T, int R, int B, D3DCOLOR Colour) {
    RECT Rc{L, T, R, B};
    Device()->Clear(1, &Rc, D3DCLEAR_TARGET, Colour, 1.0f, 0);
  }

  // Draws the capture over a white screen, through whatever pixel shader is selected.
  Picture ShowCapture() {
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    Device()->BeginScene();
    PostTarget->Draw();
    Device()->EndScene();
    Device()->SetPixelShader(nullptr);
    Picture P;
    EXPECT_EQ(vkgfx::VkReadBackBuffer(Device(), P.Rgba, P.Width, P.Height), D3D_OK);
    return P;
  }

  // A picture with hard edges and bright spots: black, a white square, coloured bars.
  void CaptureTestPicture() {
    ASSERT_EQ(PostTarget->BeginRender(), D3D_OK);
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    FillRect(8, 12, 24, 28, 0xFFFFFFFF);
    FillRect(32, 8, 36, 46, 0xFFFF4020);
    FillRect(44, 20, 60, 24, 0xFF20C0FF);
    FillRect(40, 34, 56, 44, 0xFF808080);
    PostTarget->EndRender();
  }
};

double MeanDifference(const Picture& A, const Picture& B) {
  // The last row and column lie outside the quad (its far edges sit on them): compare the rest.
  double Sum = 0;
  int N = 0;
  for (UINT Y = 0; Y + 1 < A.Height; ++Y)
    for (UINT X = 0; X + 1 < A.Width; ++X)
      for (int C = 0; C < 3; ++C) {
        const size_t I = (size_t(Y) * A.Width + X) * 4 + C;
        Sum += std::abs(int(A.Rgba[I]) - int(B.Rgba[I]));
        ++N;
      }
  return Sum / N;
}

}  // namespace

TEST_F(GlConformancePost, CaptureIsShownFromV008DownOverTheWholeScreen) {
  CreatePostTarget();
  ASSERT_TRUE(PostTarget->Texture);
  ASSERT_EQ(PostTarget->BeginRender(), D3D_OK);
  // 8 % of 50 rows is 4: rows 0..2 red, row 3 (the border) yellow, then green and blue halves.
  FillRows(0, 3, 0xFF000000 | Red);
  FillRows(3, 4, 0xFF000000 | Yellow);
  FillRows(4, 27, 0xFF000000 | Green);
  FillRows(27, 50, 0xFF000000 | Blue);
  PostTarget->EndRender();

  Picture P = ShowCapture();
  ASSERT_EQ(P.Width, 64u);
  ASSERT_EQ(P.Height, 50u);
  for (int Y = 0; Y < 49; ++Y)
    for (int X = 0; X < 63; ++X) ASSERT_NE(P.At(X, Y), Red) << X << "," << Y;
  const uint32_t Top = P.At(10, 0);
  EXPECT_TRUE(Top == Green || Top == Yellow) << std::hex << Top;
  // Texel row 27 (v = 0.54) lands on screen row (0.54 - 0.08) / 0.92 * 49 = 24.5.
  for (int Y = 1; Y <= 23; ++Y) EXPECT_EQ(P.At(30, Y), Green) << Y;
  for (int Y = 26; Y <= 48; ++Y) EXPECT_EQ(P.At(30, Y), Blue) << Y;

  // Without the offset the red top is on screen.
  PostTarget->SetTexCoords(0, 0, 1, 1);
  Picture Full = ShowCapture();
  EXPECT_EQ(Full.At(10, 0), Red);
}

TEST_F(GlConformancePost, FreshTargetDrawsBlack) {
  CreatePostTarget();
  PostTarget->SetTexCoords(0, 0, 1, 1);
  Picture P = ShowCapture();
  for (int Y = 0; Y < 49; ++Y)
    for (int X = 0; X < 63; ++X) ASSERT_EQ(P.At(X, Y), 0u) << X << "," << Y;
  EXPECT_EQ(P.At(63, 49), White);  // the far corner lies outside the quad
}

TEST_F(GlConformancePost, EveryPostShaderCompilesAndChangesThePicture) {
  CreatePostTarget();
  PostTarget->SetTexCoords(0, 0, 1, 1);
  OpenShaderArchive();
  LoadPostShaders();
  CaptureTestPicture();
  const Picture Plain = ShowCapture();
  EXPECT_EQ(Plain.At(16, 20), White);

  struct Row {
    const char* Name;
    LPDIRECT3DPIXELSHADER9* Shader;
    void (*Apply)();
  };
  const Row Rows[] = {
      {"blur", &BlurPS, [] { ApplyBlurShader(BlurLevel); }},
      {"dream", &DreamPS, ApplyDreamShader},
      {"dream2", &Dream2PS, ApplyDream2Shader},
      {"ghost dream", &GhostDreamPS, ApplyGhostDreamShader},
      {"contrast dream", &ContrastDreamPS, ApplyContrastDreamShader},
  };
  for (const Row& R : Rows) {
    ASSERT_TRUE(*R.Shader) << R.Name << " did not compile";
    R.Apply();
    Picture P = ShowCapture();
    const double Diff = MeanDifference(P, Plain);
    EXPECT_GT(Diff, 2.0) << R.Name;
    // Changed, not destroyed: the picture is still mostly where it was.
    EXPECT_LT(Diff, 60.0) << R.Name;
  }
  EXPECT_NE(RadialBlurEffect, nullptr);
}

TEST_F(GlConformancePost, BlurStrengthFollowsTheLevel) {
  CreatePostTarget();
  PostTarget->SetTexCoords(0, 0, 1, 1);
  OpenShaderArchive();
  LoadPostShaders();
  ASSERT_TRUE(BlurPS);
  CaptureTestPicture();
  const Picture Plain = ShowCapture();
  double Previous = -1;
  for (float Level : {0.0f, 1.0f, 4.0f}) {
    ApplyBlurShader(Level);
    const double Diff = MeanDifference(ShowCapture(), Plain);
    if (Level == 0.0f) EXPECT_LT(Diff, 0.5);
    EXPECT_GT(Diff, Previous) << Level;
    Previous = Diff;
  }
}

TEST_F(GlConformancePost, RadialBlurChoosesItsShaderTechniqueAndStreaksThePicture) {
  CreatePostTarget();
  PostTarget->SetTexCoords(0, 0, 1, 1);
  OpenShaderArchive();
  LoadPostShaders();
  ASSERT_TRUE(RadialBlurEffect);
  ASSERT_NE(RadialBlurTechnique, nullptr);
  EXPECT_EQ(RadialBlurEffect->GetTechniqueByName("RadialBlur"), RadialBlurTechnique);
  EXPECT_EQ(RadialBlurEffect->ValidateTechnique(RadialBlurTechnique), D3D_OK);
  CaptureTestPicture();
  const Picture Plain = ShowCapture();

  ASSERT_EQ(RadialBlurEffect->SetTexture("tFrame", PostTarget->Texture), D3D_OK);
  Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
  Device()->BeginScene();
  UINT Passes = 0;
  ASSERT_EQ(RadialBlurEffect->Begin(&Passes, 0), D3D_OK);
  ASSERT_EQ(Passes, 1u);
  RadialBlurEffect->BeginPass(0);
  PostTarget->Draw();
  RadialBlurEffect->EndPass();
  RadialBlurEffect->End();
  Device()->EndScene();
  Picture Streaked;
  ASSERT_EQ(vkgfx::VkReadBackBuffer(Device(), Streaked.Rgba, Streaked.Width, Streaked.Height), D3D_OK);
  const double Diff = MeanDifference(Streaked, Plain);
  EXPECT_GT(Diff, 2.0);
  EXPECT_LT(Diff, 60.0);
  // The effect put the pixel shader back as it found it.
  LPDIRECT3DPIXELSHADER9 Bound;
  Device()->GetPixelShader(Bound);
  EXPECT_FALSE(Bound);
}
