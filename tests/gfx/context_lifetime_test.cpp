// The OpenGL context goes with its device, even while objects made on it are still held. The show
// keeps one texture to the process's end; a context living as long would never be finished nor
// deleted before the display closes, and Mesa's llvmpipe can hang for good in its thread teardown
// (at XCloseDisplay) when the context's last work is still in flight then.

#include <epoxy/egl.h>
#include <gtest/gtest.h>

#include "tests/support/gfx_device.h"

namespace {

using gfxtest::MakeDevice;

TEST(GlContextLifetime, TheContextGoesWithTheDeviceWhileATextureIsStillHeld) {
  auto device = MakeDevice(gx::BackendKind::Gl, 64, 64);
  if (!device) GTEST_SKIP() << "no headless OpenGL 3.3";
  std::shared_ptr<IDirect3DTexture9> held;
  ASSERT_EQ(D3D_OK, device->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, held, nullptr));
  ASSERT_TRUE(held);
  // Work the driver may not have done yet: a clear of the texture, never presented.
  std::shared_ptr<IDirect3DSurface9> level;
  ASSERT_EQ(D3D_OK, held->GetSurfaceLevel(0, level));
  ASSERT_EQ(D3D_OK, device->SetRenderTarget(0, level));
  ASSERT_EQ(D3D_OK, device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699u, 1.0f, 0));
  level.reset();
  ASSERT_NE(eglGetCurrentContext(), EGL_NO_CONTEXT) << "the device's context is current while it draws";

  device.reset();
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT) << "the held texture kept the device's context";

  // Released afterwards, the texture has nothing left to delete and does not touch GL.
  held.reset();
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
}

}  // namespace
