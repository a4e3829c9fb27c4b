// A start-up pass through the scenes' render routines with the graphics layer in warm-up mode:
// every program the show draws with is built before the clock starts, so no frame waits for a
// compiler. Nothing reaches the screen, and every piece of show state the render routines touch
// is put back, so the show starts exactly as if the pass had not run: what the scenes share here,
// what each scene keeps of its own through its row's warm-up routine.

#include "platform/gfx/backend.h"
#include "show/Globals.h"
#include "show/SceneTable.h"

namespace {

// What the render routines change of the state every scene shares, besides the device.
struct TSharedSnapshot {
  int Scene = CurrentScene;
  int Frames = FrameCount;
  TPostEffect Effect = PostEffect;
  uint32_t SceneStartTime = SceneStart;
  uint8_t Flash = FlashSprite ? FlashSprite->Alpha : 0;
  uint8_t Fade = FadeSprite ? FadeSprite->Alpha : 0;

  void Restore() const {
    CurrentScene = Scene;
    FrameCount = Frames;
    PostEffect = Effect;
    SceneStart = SceneStartTime;
    SetLayerAlpha(FlashSprite, Flash);
    SetLayerAlpha(FadeSprite, Fade);
  }
};

void WarmUpRows(TWarmUpPhase Phase) {
  for (const TScene* Row : Scenes())
    if (Row->WarmUp) Row->WarmUp(Phase);
}

}  // namespace

void WarmUpShow() {
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  const TSharedSnapshot Snapshot;
  WarmUpRows(TWarmUpPhase::Before);

  gx::GxSetWarmUp(Device, true);
  if (SUCCEEDED(Device->BeginScene())) {
    for (const TScene* Row : Scenes()) {
      CurrentScene = Row->Number;
      FrameCount = 3;                            // late enough for the capture
      PostEffect = Row->Effect;
      SceneStart = Engine->Time - 3000;          // scene five shows its end picture by then
      SetLayerAlpha(FlashSprite, 128);
      SetLayerAlpha(FadeSprite, 128);
      SetupLight(*Row);
      SetupFog(*Row);
      Row->Render(0);
    }
    // The first scene set its light at load and never again.
    SetupLight(*Scenes().front());
    Device->EndScene();
  }
  gx::GxSetWarmUp(Device, false);
  WarmUpRows(TWarmUpPhase::After);
  Snapshot.Restore();
}
