#include <cmath>

#include "tests/gfx/gfx_test_util.h"

using namespace gfxtest;

class GlConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    vkgfx::ClearFaults();
    device = MakeDevice(vkgfx::BackendKind::Gl);
    ASSERT_TRUE(device) << "no headless OpenGL 3.3";
    d = device.get();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  }
  std::shared_ptr<IDirect3DDevice9> device;
  IDirect3DDevice9* d = nullptr;
};

TEST_F(GlConformance, OnePixelPretransformedQuadCoversExactlyThatPixel) {
  d->BeginScene();
  DrawRect(d, 10, 20, 11, 21, 0xFFFF0000);
  DrawRect(d, 0, 0, 1, 1, 0xFF00FF00);
  DrawRect(d, 63, 63, 64, 64, 0xFF0000FF);
  d->EndScene();
  Picture p(d);
  for (UINT y = 0; y < 64; ++y)
    for (UINT x = 0; x < 64; ++x) {
      Rgba c = p.At(x, y);
      Rgba want{0, 0, 0, 255};
      if (x == 10 && y == 20) want = {255, 0, 0, 255};
      if (x == 0 && y == 0) want = {0, 255, 0, 255};
      if (x == 63 && y == 63) want = {0, 0, 255, 255};
      ASSERT_EQ(want.r, c.r) << x << "," << y;
      ASSERT_EQ(want.g, c.g) << x << "," << y;
      ASSERT_EQ(want.b, c.b) << x << "," << y;
    }
}
