#pragma once
// Shared set-up for the graphics tests: a small device on either backend, and
// pixel read-back.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gfx/backend.h"
#include "platform/gfx/d3d9.h"
#include "platform/os/window.h"

namespace gfxtest {

struct Rgba {
  int r, g, b, a;
};

// The windowed present parameters of the tests' devices (MakeDevice; Reset).
inline D3DPRESENT_PARAMETERS TestParams(UINT width = 64, UINT height = 64, bool depth = true,
                                        D3DFORMAT depthFormat = D3DFMT_D24S8,
                                        D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
  D3DPRESENT_PARAMETERS pp{};
  pp.Windowed = TRUE;
  pp.BackBufferWidth = width;
  pp.BackBufferHeight = height;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.EnableAutoDepthStencil = depth;
  pp.AutoDepthStencilFormat = depthFormat;
  pp.MultiSampleType = samples;
  pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return pp;
}

// A headless device in a window of width x height; nullptr when the backend has none to give.
inline std::shared_ptr<IDirect3DDevice9> MakeDevice(gx::BackendKind kind, UINT width = 64, UINT height = 64,
                                                    bool depth = true, D3DFORMAT depthFormat = D3DFMT_D24S8,
                                                    D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
  os::SetHeadless(true);
  gx::SetBackendKind(kind);
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (!d3d) return nullptr;
  D3DPRESENT_PARAMETERS pp = TestParams(width, height, depth, depthFormat, samples);
  std::shared_ptr<IDirect3DDevice9> device;
  if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, device)))
    return nullptr;
  return device;
}

class Picture {
 public:
  explicit Picture(IDirect3DDevice9* device) {
    EXPECT_EQ(D3D_OK, gx::GxReadBackBuffer(device, pixels_, width_, height_));
  }
  explicit Picture(IDirect3DSurface9* surface) {
    EXPECT_EQ(D3D_OK, gx::GxReadSurface(surface, pixels_, width_, height_));
  }
  Rgba At(UINT x, UINT y) const {
    const std::uint8_t* p = &pixels_[(size_t(y) * width_ + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
  UINT width() const { return width_; }
  UINT height() const { return height_; }

 private:
  std::vector<std::uint8_t> pixels_;
  UINT width_ = 0, height_ = 0;
};

struct ScreenVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE
  float x, y, z, rhw;
  D3DCOLOR color;
};

struct ScreenTexVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};

// Two triangles covering [x0, x1) x [y0, y1) in Direct3D screen coordinates.
inline void DrawRect(IDirect3DDevice9* d, float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f) {
  ScreenVertex v[4] = {{x0, y0, z, 1, color}, {x1, y0, z, 1, color}, {x0, y1, z, 1, color}, {x1, y1, z, 1, color}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)));
}

// The same rectangle textured with the whole of stage 0's texture, its vertices coloured `color`.
inline void DrawTexturedRect(IDirect3DDevice9* d, float x0, float y0, float x1, float y1,
                             D3DCOLOR color = 0xFFFFFFFF) {
  ScreenTexVertex v[4] = {{x0, y0, 0.5f, 1, color, 0, 0},
                          {x1, y0, 0.5f, 1, color, 1, 0},
                          {x0, y1, 0.5f, 1, color, 0, 1},
                          {x1, y1, 0.5f, 1, color, 1, 1}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof v[0]));
}

// Draws `texture` from stage 0 over [x0, x1) x [y0, y1) as the scene's last draw, ends the scene
// and reads back the picture.
inline Picture ShowTexture(IDirect3DDevice9* d, const std::shared_ptr<IDirect3DBaseTexture9>& texture, float x0 = 0,
                           float y0 = 0, float x1 = 64, float y1 = 64) {
  d->SetTexture(0, texture);
  DrawTexturedRect(d, x0, y0, x1, y1);
  d->EndScene();
  return Picture(d);
}

// A fresh device of size x size pixels on one backend, with no faults left injected.
class DeviceTest : public ::testing::Test {
 protected:
  explicit DeviceTest(gx::BackendKind kind, UINT size = 64) : kind_(kind), size_(size) {}
  void SetUp() override {
    gx::ClearFaults();
    device = MakeDevice(kind_, size_, size_);
    ASSERT_TRUE(device) << "no headless device on this backend";
    d = device.get();
  }
  std::shared_ptr<IDirect3DDevice9> device;
  IDirect3DDevice9* d = nullptr;

 private:
  gx::BackendKind kind_;
  UINT size_;
};

// A GL device cleared to black (`clear` says which buffers), set up for pretransformed drawing:
// no lighting, no culling, no depth test.
class ScreenDrawingTest : public DeviceTest {
 protected:
  explicit ScreenDrawingTest(UINT size = 64, DWORD clear = D3DCLEAR_TARGET)
      : DeviceTest(gx::BackendKind::Gl, size), clear_(clear) {}
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->Clear(0, nullptr, clear_, 0xFF000000, 1.0f, 0);
  }

 private:
  DWORD clear_;
};

// A material of these colours (the rest zero) and one directional light, light 0, switched on.
inline void LightWithOneDirectional(IDirect3DDevice9* d, D3DCOLORVALUE materialDiffuse, D3DCOLORVALUE materialAmbient,
                                    D3DCOLORVALUE materialEmissive, D3DCOLORVALUE lightDiffuse,
                                    D3DCOLORVALUE lightAmbient, D3DVECTOR direction) {
  D3DMATERIAL9 mat{};
  mat.Diffuse = materialDiffuse;
  mat.Ambient = materialAmbient;
  mat.Emissive = materialEmissive;
  d->SetMaterial(&mat);
  D3DLIGHT9 light{};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = lightDiffuse;
  light.Ambient = lightAmbient;
  light.Direction = direction;
  d->SetLight(0, &light);
  d->LightEnable(0, TRUE);
}

// A 1x1 A8R8G8B8 texture of one colour.
inline std::shared_ptr<IDirect3DTexture9> SolidTexture(IDirect3DDevice9* d, D3DCOLOR argb) {
  std::shared_ptr<IDirect3DTexture9> tex;
  EXPECT_EQ(D3D_OK, d->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
  D3DLOCKED_RECT lr{};
  EXPECT_EQ(D3D_OK, tex->LockRect(0, &lr, nullptr, 0));
  std::memcpy(lr.pBits, &argb, 4);
  tex->UnlockRect(0);
  return tex;
}

inline void ExpectNear(Rgba got, Rgba want, int tolerance, const char* what) {
  EXPECT_NEAR(got.r, want.r, tolerance) << what << " (red)";
  EXPECT_NEAR(got.g, want.g, tolerance) << what << " (green)";
  EXPECT_NEAR(got.b, want.b, tolerance) << what << " (blue)";
  EXPECT_NEAR(got.a, want.a, tolerance) << what << " (alpha)";
}

}  // namespace gfxtest
