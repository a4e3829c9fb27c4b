#pragma once
// A device wrapper on a headless window, on the backend a test asks for.

#include <gtest/gtest.h>

#include <memory>

#include "engine/vokD3D.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"

namespace vktest {

inline os::LRESULT IgnoreMessages(HWND, uint32_t, os::WPARAM, os::LPARAM) { return 0; }

inline std::unique_ptr<TvokD3D> MakeD3D(gx::BackendKind kind, int width = 64, int height = 64) {
  os::SetHeadless(true);
  os::WindowClass wc;
  wc.name = "vokModelsTest";
  wc.proc = IgnoreMessages;
  os::RegisterClass(wc);
  HWND window = os::CreateWindow("vokModelsTest", "models", 0, 0, 0, 0, width, height);
  gx::ClearFaults();
  gx::SetBackendKind(kind);
  return std::make_unique<TvokD3D>(window, width, height, 0, true, false, false, true, false, false, false,
                                   D3DMULTISAMPLE_NONE);
}

// A recording device inside BeginScene with an empty log: what the draw tests start from.
class RecordingSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d = MakeD3D(gx::BackendKind::Recording);
    ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
    dev = d3d->Device.get();
    gx::GxClearRecording(dev);
    ASSERT_EQ(dev->BeginScene(), S_OK);
  }
  void TearDown() override {
    dev->EndScene();
    gx::ClearFaults();
  }

  std::unique_ptr<TvokD3D> d3d;
  IDirect3DDevice9* dev = nullptr;
};

}  // namespace vktest
