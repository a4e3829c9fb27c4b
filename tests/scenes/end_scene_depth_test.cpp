// Scene five draws everything at depth 0, which passes the depth test whatever the buffer holds:
// it draws without the test, and puts the state back for whatever draws after its render routine
// (the warm-up runs it before scene one).

#include <gtest/gtest.h>

#include "tests/support/show_harness.h"

namespace vktest {
namespace {

struct DepthUse {
  int EndDraws = 0;       // draws of scene five
  int EndDepthTests = 0;  // of them, with the depth test on
};
DepthUse Seen;

void CountEndDepthTests() {
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  if (CurrentScene == 5)
    for (const gx::DrawRecord& Draw : gx::GxRecordedDraws(Device)) {
      ++Seen.EndDraws;
      if (Draw.state.render[D3DRS_ZENABLE] != D3DZB_FALSE) ++Seen.EndDepthTests;
    }
  gx::GxClearRecording(Device);
}

TEST(EndScene, DrawsWithoutTheDepthTestAndLeavesItOnForTheRest) {
  WholeShow Show;
  Show.Load();
  ASSERT_TRUE(Show.Error.empty()) << Show.Error;
  DWORD DepthTest = D3DZB_FALSE;
  Engine->D3D->Device->GetRenderState(D3DRS_ZENABLE, &DepthTest);
  EXPECT_EQ(DepthTest, DWORD(D3DZB_TRUE)) << "the warm-up through scene five left the depth test off";

  Seen = {};
  Engine->OnFramePresented = CountEndDepthTests;
  Engine->Run();
  Show.Release();
  EXPECT_GT(Seen.EndDraws, 100);  // the picture and the layers over about twelve seconds
  EXPECT_EQ(Seen.EndDepthTests, 0);
}

}  // namespace
}  // namespace vktest
