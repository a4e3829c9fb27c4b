#pragma once
// The whole show in this process: a headless engine on the recording backend (or the gl one),
// the real archive of the run folder loaded in the show's own start-up order (the scene table's),
// and a record of the show's state after each presented frame. Free of any test framework: the benchmarks use it too.

#include <cstdint>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"
#include "show/Show.h"

namespace vktest {

struct FrameRecord {
  uint32_t Time;
  int Scene;
  int Step;
  uint32_t SceneStart;
  uint8_t Flash;
  uint8_t Fade;
  uint8_t PostEffect;
  int LiveTickets2;
  int LiveTickets4;
  uint32_t FadeOutStart;
  TSlideShowState Slides;
};

inline std::vector<FrameRecord>* Recording = nullptr;

// Closes the show's archive, when one is open, with the entry it read last.
inline void CloseArchive() {
  if (!Resource) return;
  Resource->Close();
  Resource->FreeEntry(ResourceData);
  delete Resource;
  Resource = nullptr;
}

// The engine gone, no fault left injected and the shared scene state back at its starting values.
inline void ReleaseEngine() {
  delete Engine;
  Engine = nullptr;
  gx::ClearFaults();
  ResetSceneState();
}

inline void RecordFrame() {
  // Only the current frame matters here; the recording backend would keep every draw of the show.
  if (gx::GetBackendKind() == gx::BackendKind::Recording) gx::GxClearRecording(Engine->D3D->Device.get());
  if (Recording == nullptr) return;
  Recording->push_back({Engine->Time, CurrentScene, Step, SceneStart,
                        FlashSprite ? FlashSprite->Alpha : uint8_t(0), FadeSprite ? FadeSprite->Alpha : uint8_t(0),
                        static_cast<uint8_t>(PostEffect), Part2Stream().ActiveCount(), Part4Stream().ActiveCount(), Part5FadeOutStart(), Part3State()});
}

// Loads the show on a fresh engine, runs it to its end with the fixed 40 ms step, and releases it.
class WholeShow {
 public:
  explicit WholeShow(gx::BackendKind Kind = gx::BackendKind::Recording,
                     std::string ArchivePath = std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr")
      : Kind(Kind), ArchivePath(std::move(ArchivePath)) {}

  gx::BackendKind Kind;
  std::string ArchivePath;
  std::vector<FrameRecord> Frames;
  UINT Width = 160, Height = 90;
  uint32_t Seed = 1234;

  void Load() {
    os::SetHeadless(true);
    gx::ClearFaults();
    gx::SetBackendKind(Kind);
    InstallShow();
    ShowFace.Reset(Seed);
    Engine = new TvokEngine(nullptr, Width, Height, 0, true, "show", ShowFace.FirstMove, ShowFace.FirstRender, false,
                            true, true, false, false, true, D3DMULTISAMPLE_NONE, 0);
    if (!Engine->Ok) {
      Error = Engine->ErrorText;
      return;
    }
    Engine->FixedStep = true;
    Engine->OnFramePresented = RecordFrame;
    PostEffectsAvailable = true;
    // Opened without the program's checks of the file: the loaders must cope with any archive.
    Resource = new TvokResource();
    Resource->Open(ArchivePath);
    for (const TShowStage& Stage : LoadStages()) Stage.Run();
    CloseArchive();
    Engine->D3D->SetProjection(Engine->D3D->Aspect, 0.1f, 1000.0f, 3.14159274f / 4.0f);
    Engine->ResetClock();
    Recording = &Frames;
  }

  // Empty when loading went well.
  std::string Error;

  void Run() {
    Load();
    if (!Error.empty()) return;
    Engine->Run();
    Terminated = Engine->Terminated;
    Release();
  }

  bool Terminated = false;

  void Release() {
    Recording = nullptr;
    FreeShowContent();
    delete PostTarget;
    PostTarget = nullptr;
    ReleaseEngine();
  }
};

}  // namespace vktest
