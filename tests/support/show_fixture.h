#pragma once
// A headless engine on the backend a test asks for, with the shared scene state of the show
// back at its starting values, and an archive of the post-processing sources built on the fly.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"
#include "show/Globals.h"
#include "tests/support/archive_builder.h"
#include "tests/support/show_harness.h"

namespace vktest {

inline void NoFrame(int) {}

class ShowTest : public ::testing::Test {
 protected:
  virtual gx::BackendKind Kind() const { return gx::BackendKind::Recording; }
  virtual int ScreenHeight() const { return 48; }

  void SetUp() override {
    os::SetHeadless(true);
    gx::ClearFaults();
    gx::SetBackendKind(Kind());
    ResetShowState();
    Engine = new TvokEngine(nullptr, 64, ScreenHeight(), 0, true, "layers", NoFrame, NoFrame, false, true, true,
                            false, false, true, D3DMULTISAMPLE_NONE, 0);
    ASSERT_TRUE(Engine->Ok) << Engine->ErrorText;
    Engine->FixedStep = true;
  }

  void TearDown() override {
    FreePostShaders();
    delete PostTarget;
    delete FlashSprite;
    delete FadeSprite;
    PostTarget = nullptr, FlashSprite = FadeSprite = nullptr;
    CloseArchive();
    ReleaseEngine();
    PostEffectsAvailable = false;
  }

  // The shared scene state as the program image has it; the shaders are loaded anew by each test.
  static void ResetShowState() {
    ResetSceneState();
    PostEffectsAvailable = false;
  }

  // Opens an archive of the post-processing sources as the show packs them, minus Skip.
  void OpenShaderArchive(const std::vector<std::string>& Skip = {}) {
    static const char* const Entries[][2] = {
        {"pshBlur", "pshBlur.psh"},         {"pshDream", "pshDream.psh"},
        {"pshDream2", "pshDream2.psh"},     {"pshGhostDream", "pshGhostDream.psh"},
        {"pshContrastDream", "pshContrastDream.psh"}, {"fxRadialBlur", "fxRadialBlur.fx"}};
    std::vector<RawEntry> Raw;
    for (const auto& E : Entries) {
      if (std::find(Skip.begin(), Skip.end(), E[0]) != Skip.end()) continue;
      std::ifstream In(std::string(VK_SOURCE_DIR) + "/assets/shaders/" + E[1], std::ios::binary);
      std::stringstream Text;
      Text << In.rdbuf();
      Raw.push_back(Compressed(E[0], ToBytes(Text.str())));
    }
    OpenArchive(Raw);
  }

  void OpenArchive(const std::vector<RawEntry>& Raw) {
    Resource = new TvokResource();
    ASSERT_TRUE(Resource->Open(Temp.Write("shaders.vkr", Archive(Raw))));
  }

  IDirect3DDevice9* Device() const { return Engine->D3D->Device.get(); }
  TvokD3D* D3D() const { return Engine->D3D; }

  TempDir Temp;
};

}  // namespace vktest
