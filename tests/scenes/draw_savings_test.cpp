// Work the show leaves out because it changes no pixel, checked on every draw of a whole run:
// - scene five draws everything at depth 0, which passes the depth test whatever the buffer
//   holds: it draws without the test, and puts the state back for whatever draws after its
//   render routine (the warm-up runs it before scene one);
// - a scene captured for the blur is drawn only into the rows of the captured picture that the
//   post quad can read, and nothing else is cut.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tests/support/show_harness.h"

namespace vktest {
namespace {

struct Seen {
  DWORD DepthAfterLoad = D3DZB_FALSE;
  int EndDraws = 0;         // draws of scene five
  int EndDepthTests = 0;    // of them, with the depth test on
  int CaptureDraws = 0;     // draws into the post target
  int CaptureScissored = 0;
  LONG LowestCut = -1;      // the lowest scissor top of a capture draw (rows above are not drawn)
  float TopRead = 2.0f;     // the smallest v the post quad reads (at its top pixel centres)
  float Reach = 0.0f;       // the blur's radius then, in pixels of the captured picture
  UINT CaptureHeight = 0;
  int ScreenDrawsScissored = 0;  // draws into the back buffer with the scissor test on
};
Seen Whole;

void Inspect() {
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  std::shared_ptr<IDirect3DSurface9> Back;
  Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, Back);
  for (const gx::DrawRecord& Draw : gx::GxRecordedDraws(Device)) {
    const auto& S = Draw.state;
    const bool Scissored = S.render[D3DRS_SCISSORTESTENABLE] != FALSE;
    if (CurrentScene == 5) {
      ++Whole.EndDraws;
      if (S.render[D3DRS_ZENABLE] != D3DZB_FALSE) ++Whole.EndDepthTests;
    }
    if (S.renderTarget.get() == Back.get()) {
      if (Scissored) ++Whole.ScreenDrawsScissored;
      if (!S.pixelShader || (S.fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW) continue;
      // The post quad: its top vertices lie half a pixel above the top pixel centres.
      float Y[4], V[4];
      for (int I = 0; I < 4; ++I) {
        std::memcpy(&Y[I], Draw.vertices.data() + I * Draw.stride + 4, 4);
        std::memcpy(&V[I], Draw.vertices.data() + I * Draw.stride + 20, 4);
      }
      const float TopV = V[0] + (0.0f - Y[0]) * (V[2] - V[0]) / (Y[2] - Y[0]);
      Whole.TopRead = std::min(Whole.TopRead, TopV);
      Whole.Reach = std::max(Whole.Reach, BlurLevel);
      continue;
    }
    ++Whole.CaptureDraws;
    Whole.CaptureHeight = S.viewport.Height;
    if (!Scissored) continue;
    ++Whole.CaptureScissored;
    Whole.LowestCut = std::max(Whole.LowestCut, S.scissor.top);
    EXPECT_EQ(S.scissor.bottom, LONG(S.viewport.Height));
  }
  gx::GxClearRecording(Device);
}

class DrawSavings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Whole = {};
    WholeShow Show;
    Show.Width = 1280, Show.Height = 720;  // at 160 x 90 the blur reaches the top row
    Show.Load();
    ASSERT_TRUE(Show.Error.empty()) << Show.Error;
    Engine->D3D->Device->GetRenderState(D3DRS_ZENABLE, &Whole.DepthAfterLoad);
    Engine->OnFramePresented = Inspect;
    Engine->Run();
    Show.Release();
  }
};

TEST_F(DrawSavings, SceneFiveDrawsWithoutTheDepthTestAndLeavesItOnForTheRest) {
  EXPECT_EQ(Whole.DepthAfterLoad, DWORD(D3DZB_TRUE)) << "the warm-up through scene five left the depth test off";
  EXPECT_GT(Whole.EndDraws, 100);  // the picture and the layers over about twelve seconds
  EXPECT_EQ(Whole.EndDepthTests, 0);
}

TEST_F(DrawSavings, TheCaptureLeavesOutOnlyRowsThePostQuadNeverReads) {
  ASSERT_GT(Whole.CaptureDraws, 1000);
  EXPECT_EQ(Whole.CaptureScissored, Whole.CaptureDraws);
  ASSERT_LT(Whole.TopRead, 1.0f);
  // The top pixel centre's texel row, less the blur's reach, less the row filtering takes.
  const double FirstRowRead = std::floor(double(Whole.TopRead) * Whole.CaptureHeight - 0.5 - Whole.Reach) - 1.0;
  EXPECT_GT(Whole.LowestCut, 0);
  EXPECT_LE(Whole.LowestCut, FirstRowRead);
  EXPECT_EQ(Whole.ScreenDrawsScissored, 0) << "the scissor test stayed on after the capture";
}

}  // namespace
}  // namespace vktest
