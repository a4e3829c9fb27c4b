// Multisampling on the gl backend: a device asked for D3DMULTISAMPLE_n_SAMPLES draws into
// multisampled framebuffers, resolved into the back buffer and into render-target textures.

#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

std::shared_ptr<IDirect3DDevice9> MakeMultisampled(D3DMULTISAMPLE_TYPE samples) {
  auto device = MakeDevice(gx::BackendKind::Gl, 64, 64, true, D3DFMT_D24S8, samples);
  if (!device) return nullptr;
  std::shared_ptr<IDirect3D9> d3d;
  EXPECT_EQ(D3D_OK, device->GetDirect3D(d3d));
  if (d3d)
    EXPECT_EQ(D3D_OK, d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, samples, nullptr));
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  return device;
}

// A white triangle over black whose three edges all run slanted; depth-tested, so the
// multisampled depth buffer takes part.
void DrawSlantedTriangle(IDirect3DDevice9* d) {
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  ScreenVertex v[3] = {{4, 4, 0.5f, 1, 0xFFFFFFFF}, {60, 12, 0.5f, 1, 0xFFFFFFFF}, {8, 60, 0.5f, 1, 0xFFFFFFFF}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]));
}

// Pixels that are neither black nor white: partly covered ones.
int PartlyCovered(const Picture& p) {
  int n = 0;
  for (UINT y = 0; y < p.height(); ++y)
    for (UINT x = 0; x < p.width(); ++x) n += p.At(x, y).g > 10 && p.At(x, y).g < 245;
  return n;
}

}  // namespace

TEST(GfxGl_multisample, ASlantedEdgeGetsIntermediateCoverage) {
  for (D3DMULTISAMPLE_TYPE samples : {D3DMULTISAMPLE_NONE, D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES,
                                      D3DMULTISAMPLE_8_SAMPLES}) {
    SCOPED_TRACE(testing::Message() << int(samples) << " samples");
    auto device = MakeMultisampled(samples);
    ASSERT_TRUE(device) << "no headless OpenGL 3.3 device";
    IDirect3DDevice9* d = device.get();
    d->BeginScene();
    DrawSlantedTriangle(d);
    d->EndScene();
    Picture p(d);
    ExpectNear(p.At(12, 14), {255, 255, 255, 255}, 0, "inside");
    ExpectNear(p.At(50, 50), {0, 0, 0, 255}, 0, "outside");
    // About 150 pixels lie on the three edges; with samples most of them are partly covered.
    if (samples == D3DMULTISAMPLE_NONE)
      EXPECT_EQ(PartlyCovered(p), 0);
    else
      EXPECT_GT(PartlyCovered(p), 60);
  }
}

TEST(GfxGl_multisample, TheRenderStateSwitchesItOff) {
  auto device = MakeMultisampled(D3DMULTISAMPLE_4_SAMPLES);
  ASSERT_TRUE(device) << "no headless OpenGL 3.3 device";
  IDirect3DDevice9* d = device.get();
  DWORD on = 0;
  d->GetRenderState(D3DRS_MULTISAMPLEANTIALIAS, &on);
  EXPECT_EQ(on, DWORD(TRUE));  // Direct3D's default
  d->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, FALSE);
  d->BeginScene();
  DrawSlantedTriangle(d);
  d->EndScene();
  EXPECT_EQ(PartlyCovered(Picture(d)), 0);
}

TEST(GfxGl_multisample, ARenderTargetIsResolvedBeforeItIsSampledOrRead) {
  auto device = MakeMultisampled(D3DMULTISAMPLE_4_SAMPLES);
  ASSERT_TRUE(device) << "no headless OpenGL 3.3 device";
  IDirect3DDevice9* d = device.get();
  std::shared_ptr<IDirect3DTexture9> rt;
  ASSERT_EQ(D3D_OK, d->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, rt, nullptr));
  std::shared_ptr<IDirect3DSurface9> surface, back;
  rt->GetSurfaceLevel(0, surface);
  ExpectNear(Picture(surface.get()).At(5, 5), {0, 0, 0, 0}, 0, "a fresh target is transparent black");
  d->GetRenderTarget(0, back);
  d->BeginScene();
  ASSERT_EQ(D3D_OK, d->SetRenderTarget(0, surface));
  DrawSlantedTriangle(d);
  // Straight back to the screen, and the target drawn over it as a texture.
  ASSERT_EQ(D3D_OK, d->SetRenderTarget(0, back));
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  Picture screen = ShowTexture(d, rt);
  ExpectNear(screen.At(12, 14), {255, 255, 255, 255}, 0, "the triangle, sampled");
  ExpectNear(screen.At(50, 50), {0, 0, 0, 255}, 0, "around it, sampled");
  EXPECT_GT(PartlyCovered(screen), 60) << "the edges arrive smoothed";

  // Read straight after drawing, without leaving the target, it is resolved too.
  d->SetTexture(0, nullptr);
  d->BeginScene();
  d->SetRenderTarget(0, surface);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  DrawRect(d, 0, 0, 16, 16, 0xFFFF0000);
  d->EndScene();
  Picture direct(surface.get());
  ExpectNear(direct.At(4, 4), {255, 0, 0, 255}, 0, "drawn just now");
  ExpectNear(direct.At(30, 30), {0, 0, 0, 255}, 0, "cleared just now");
}
