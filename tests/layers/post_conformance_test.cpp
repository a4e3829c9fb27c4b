// The post-processing path on the gl backend, read back pixel by pixel: the capture shows the
// frame from v = 0.08 down, a fresh target is black, and every post shader compiles from its
// source and visibly changes the picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/support/show_fixture.h"

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

double MeanDifference(const Picture& A, const Picture& B) {
  double Sum = 0;
  int N = 0;
  for (UINT Y = 0; Y < A.Height; ++Y)
    for (UINT X = 0; X < A.Width; ++X, N += 3)
      for (int C = 0; C < 3; ++C) {
        const size_t I = (size_t(Y) * A.Width + X) * 4 + C;
        Sum += std::abs(int(A.Rgba[I]) - int(B.Rgba[I]));
      }
  return Sum / N;
}

class PostGl_conformance : public ShowTest {
 protected:
  gx::BackendKind Kind() const override { return gx::BackendKind::Gl; }
  int ScreenHeight() const override { return 50; }

  void Fill(int L, int T, int R, int B, D3DCOLOR Colour) {
    RECT Rc{L, T, R, B};
    Device()->Clear(1, &Rc, D3DCLEAR_TARGET, Colour, 1.0f, 0);
  }

  Picture ReadBack() {
    Picture P;
    EXPECT_EQ(gx::GxReadBackBuffer(Device(), P.Rgba, P.Width, P.Height), D3D_OK);
    return P;
  }

  // The capture drawn over a white screen, through whatever pixel shader is selected.
  Picture ShowCapture() {
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    Device()->BeginScene();
    PostTarget->Draw();
    Device()->EndScene();
    Device()->SetPixelShader(nullptr);
    return ReadBack();
  }

  // Everything loaded, the whole capture shown, and a picture with hard edges and bright spots.
  void CaptureTestPicture() {
    CreatePostTarget();
    PostTarget->SetTexCoords(0, 0, 1, 1);
    OpenShaderArchive();
    LoadPostShaders();
    ASSERT_EQ(PostTarget->BeginRender(), D3D_OK);
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    Fill(8, 12, 24, 28, 0xFFFFFFFF);
    Fill(32, 8, 36, 46, 0xFFFF4020);
    Fill(44, 20, 60, 24, 0xFF20C0FF);
    PostTarget->EndRender();
  }
};

}  // namespace

TEST_F(PostGl_conformance, CaptureStartsBlackAndIsShownFromV008Down) {
  CreatePostTarget();
  ASSERT_TRUE(PostTarget->Texture);
  Picture Fresh = ShowCapture();
  EXPECT_EQ(Fresh.At(0, 0), 0u);
  EXPECT_EQ(Fresh.At(62, 48), 0u);
  // The quad reaches one pixel past the screen, so the last column and row show the capture
  // too rather than what the screen held before.
  EXPECT_EQ(Fresh.At(63, 49), 0u);
  EXPECT_EQ(Fresh.At(63, 0), 0u);
  EXPECT_EQ(Fresh.At(0, 49), 0u);

  // 8 % of 50 rows is 4: rows 0..2 red, row 3 (the border) yellow, then green and blue halves.
  ASSERT_EQ(PostTarget->BeginRender(), D3D_OK);
  Fill(0, 0, 64, 3, 0xFFFF0000);
  Fill(0, 3, 64, 4, 0xFFFFFF00);
  Fill(0, 4, 64, 27, 0xFF00FF00);
  Fill(0, 27, 64, 50, 0xFF0000FF);
  PostTarget->EndRender();
  Picture P = ShowCapture();
  for (int Y = 0; Y < 50; ++Y)
    for (int X = 0; X < 64; ++X) {
      ASSERT_NE(P.At(X, Y), 0xFF0000u) << X << "," << Y;
      ASSERT_NE(P.At(X, Y), 0xFFFFFFu) << X << "," << Y << " kept the old screen";
    }
  EXPECT_TRUE(P.At(10, 0) == 0x00FF00u || P.At(10, 0) == 0xFFFF00u);
  // Texel row 27 (v = 0.54) lands on screen row (0.54 - 0.08) / 0.92 * 50 = 25.
  for (int Y = 1; Y <= 23; ++Y) EXPECT_EQ(P.At(30, Y), 0x00FF00u) << Y;
  for (int Y = 26; Y <= 48; ++Y) EXPECT_EQ(P.At(30, Y), 0x0000FFu) << Y;
  // Without the offset the red top is on screen.
  PostTarget->SetTexCoords(0, 0, 1, 1);
  EXPECT_EQ(ShowCapture().At(10, 0), 0xFF0000u);
}

TEST_F(PostGl_conformance, EveryPostShaderCompilesAndChangesThePicture) {
  CaptureTestPicture();
  const Picture Plain = ShowCapture();
  const struct {
    const char* Name;
    LPDIRECT3DPIXELSHADER9* Shader;
    void (*Apply)();
  } Rows[] = {{"blur", &BlurPS, [] { ApplyBlurShader(BlurLevel); }},
              {"dream", &DreamPS, ApplyDreamShader},
              {"dream2", &Dream2PS, ApplyDream2Shader},
              {"ghost dream", &GhostDreamPS, ApplyGhostDreamShader},
              {"contrast dream", &ContrastDreamPS, ApplyContrastDreamShader}};
  for (const auto& R : Rows) {
    ASSERT_TRUE(*R.Shader) << R.Name << " did not compile";
    R.Apply();
    const double Diff = MeanDifference(ShowCapture(), Plain);
    EXPECT_GT(Diff, 2.0) << R.Name;
    EXPECT_LT(Diff, 60.0) << R.Name;  // changed, not destroyed
  }
}

TEST_F(PostGl_conformance, BlurStrengthFollowsTheLevel) {
  CaptureTestPicture();
  ASSERT_TRUE(BlurPS);
  const Picture Plain = ShowCapture();
  double Previous = -1;
  for (float Level : {0.0f, 1.0f, 4.0f}) {
    ApplyBlurShader(Level);
    const double Diff = MeanDifference(ShowCapture(), Plain);
    if (Level == 0.0f) {
      EXPECT_LT(Diff, 0.5);
    }
    EXPECT_GT(Diff, Previous) << Level;
    Previous = Diff;
  }
}

TEST_F(PostGl_conformance, RadialBlurChoosesItsShaderTechniqueAndStreaksThePicture) {
  CaptureTestPicture();
  ASSERT_TRUE(RadialBlurEffect);
  EXPECT_EQ(RadialBlurEffect->GetTechniqueByName("RadialBlur"), RadialBlurTechnique);
  const Picture Plain = ShowCapture();
  ASSERT_EQ(RadialBlurEffect->SetTexture("tFrame", PostTarget->Texture), D3D_OK);
  Device()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
  Device()->BeginScene();
  UINT Passes = 0;
  ASSERT_EQ(RadialBlurEffect->Begin(&Passes, 0), D3D_OK);
  RadialBlurEffect->BeginPass(0);
  PostTarget->Draw();
  RadialBlurEffect->EndPass();
  RadialBlurEffect->End();
  Device()->EndScene();
  const double Diff = MeanDifference(ReadBack(), Plain);
  EXPECT_GT(Diff, 2.0);
  EXPECT_LT(Diff, 60.0);
}
