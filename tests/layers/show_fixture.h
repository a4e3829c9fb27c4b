#pragma once
// A headless engine on the backend a test asks for, with the shared scene state of the show
// back at its starting values, and archives of shader sources built on the fly.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demo/Globals.h"
#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"
#include "tests/resource/archive_builder.h"

namespace vktest {

inline void NoFrame(int) {}

// The shared scene state as the program image has it.
inline void ResetShowState() {
  StepStart = 0;
  SceneStart = 0;
  CurrentScene = 1;
  Step = 0;
  FrameCount = 0;
  PostEffect = 0;
  BlurLevel = 4.0f;
  DreamLevel = 3.0f;
  DreamCount = 12;
  GhostLevel = 0.0f;
  PostEffectsAvailable = false;
  PostCapturing = false;
}

inline std::string ReadSourceFile(const std::string& RelativePath) {
  std::ifstream In(std::string(VK_SOURCE_DIR) + "/" + RelativePath, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

// The six post-processing entries from their sources, as the archive holds them.
struct ShaderSource {
  const char* Entry;
  const char* File;
};
inline const std::vector<ShaderSource>& PostShaderSources() {
  static const std::vector<ShaderSource> List{
      {"pshBlur", "assets/shaders/pshBlur.psh"},
      {"pshDream", "assets/shaders/pshDream.psh"},
      {"pshDream2", "assets/shaders/pshDream2.psh"},
      {"pshGhostDream", "assets/shaders/pshGhostDream.psh"},
      {"pshContrastDream", "assets/shaders/pshContrastDream.psh"},
      {"fxRadialBlur", "assets/shaders/fxRadialBlur.fx"},
  };
  return List;
}

class ShowTest : public ::testing::Test {
 protected:
  virtual vkgfx::BackendKind Kind() const { return vkgfx::BackendKind::Recording; }
  virtual int ScreenWidth() const { return 64; }
  virtual int ScreenHeight() const { return 48; }

  void SetUp() override {
    os::SetHeadless(true);
    vkgfx::ClearFaults();
    vkgfx::SetBackendKind(Kind());
    ResetShowState();
    Engine = new TvokEngine(nullptr, ScreenWidth(), ScreenHeight(), 0, true, "layers", NoFrame, NoFrame, false,
                            true, true, false, false, true, D3DMULTISAMPLE_NONE, 0);
    ASSERT_TRUE(Engine->Ok) << Engine->ErrorText;
    Engine->FixedStep = true;
  }

  void TearDown() override {
    FreePostShaders();
    delete PostTarget;
    PostTarget = nullptr;
    delete FlashSprite;
    FlashSprite = nullptr;
    delete FadeSprite;
    FadeSprite = nullptr;
    CloseArchive();
    delete Engine;
    Engine = nullptr;
    vkgfx::ClearFaults();
    ResetShowState();
  }

  IDirect3DDevice9* Device() const { return Engine->D3D->Device.get(); }
  TvokD3D* D3D() const { return Engine->D3D; }

  // Opens an archive holding the post-processing sources, minus the entries named in Skip.
  void OpenShaderArchive(const std::vector<std::string>& Skip = {}) {
    std::vector<RawEntry> Entries;
    for (const auto& S : PostShaderSources()) {
      if (std::find(Skip.begin(), Skip.end(), S.Entry) != Skip.end()) continue;
      Entries.push_back(Compressed(S.Entry, ToBytes(ReadSourceFile(S.File))));
    }
    const std::string Path = Temp.Write("shaders.vkr", Archive(Entries));
    Resource = new TvokResource();
    ASSERT_TRUE(Resource->Open(Path));
  }

  void CloseArchive() {
    if (!Resource) return;
    Resource->Close();
    Resource->FreeEntry(ResourceData);
    delete Resource;
    Resource = nullptr;
  }

  TempDir Temp;
};

}  // namespace vktest
