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

// A GL device of size x size pixels cleared to black, set up for pretransformed drawing: no
// lighting, no culling, no depth test.
class ScreenDrawingTest : public ::testing::Test {
 protected:
  explicit ScreenDrawingTest(UINT size = 64) : size_(size) {}
  void SetUp() override {
    gx::ClearFaults();
    device = MakeDevice(gx::BackendKind::Gl, size_, size_);
    ASSERT_TRUE(device) << "no headless OpenGL 3.3";
    d = device.get();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  }
  std::shared_ptr<IDirect3DDevice9> device;
  IDirect3DDevice9* d = nullptr;

 private:
  UINT size_;
};

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
