// Scene five: the screen turns white, the end picture appears under the fading white, the
// music stops, the picture fades to black and the show quits.

#include "show/Globals.h"
#include "show/Music.h"
#include "show/Parts.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

namespace {

constexpr uint32_t WhiteTime = 2000;
constexpr uint32_t MusicStopTime = 7300;
constexpr uint32_t FadeOutTime = 10000;
// The final fade begins in the first millisecond after FadeOutTime and passes full black 2555 ms
// later, when Round(255.5) = 256 first exceeds 255: the show's last moment.
constexpr uint32_t EndTime = FadeOutTime + 1 + 2555;

TvokScreenPlane* EndPlane = nullptr;
uint32_t FadeOutStart = 0;  // 0: the final fade has not begun

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part5Scene{5, "Part5", LoadPart5, MovePart5, RenderPart5, FreePart5, {}, EndTime,
                               LightAround(1.0f, 30.0f, -0.7f), NoFog, TPostEffect::None};

uint32_t Part5FadeOutStart() { return FadeOutStart; }

void LoadPart5() {
  FadeOutStart = 0;
  EndPlane = new TvokScreenPlane(Engine->D3D, TexEndPic);
}

void MovePart5(int) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t Time = Engine->Time;
  if (BeginFirstFrame(Part5Scene)) {
    SetupLight(5);
    D3D->SetCamera(true, 0.0f, 0.0f, -30.0f);
    D3D->CameraRotation.x = DegToRad(300.0f);
    StartSceneClock();
  }
  if (Step != 1) return;

  const uint32_t T = SceneTime();
  if (T < WhiteTime)
    FadeInLayer(FlashSprite, T, 1.0);
  else
    FadeOutLayer(FlashSprite, T - WhiteTime, 15.0);

  if (T > MusicStopTime) StopMusic();

  if (T > FadeOutTime) {
    if (FadeOutStart == 0) FadeOutStart = Time;
    int64_t Alpha = timeline::RoundDiv(Time - FadeOutStart, 10.0);
    if (Alpha > 255) {
      Alpha = 255;
      Engine->Quit();
    }
    SetLayerAlpha(FadeSprite, static_cast<uint8_t>(Alpha));
  }
}

void RenderPart5(int) {
  if (!SceneIsCurrent(5)) return;
  IDirect3DDevice9* Device = Engine->D3D->Device.get();

  BeginSceneFrame();
  Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  if (SceneTime() > WhiteTime && EndPlane != nullptr) EndPlane->Draw();
  DrawLayer(FlashSprite);
  DrawLayer(FadeSprite);
  EndSceneFrame();
}

void FreePart5() {
  delete EndPlane;
  EndPlane = nullptr;
}
