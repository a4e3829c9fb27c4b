// Scene five: the screen turns white, the end picture appears under the fading white, the
// music stops (with the CODA switch it plays on), the picture fades to black and the show quits.

#include "show/Globals.h"
#include "show/Music.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

// The scene's routines: the rest of the show reaches them through the row.
static void LoadPart5();
static void MovePart5(int DeltaTime);
static void RenderPart5(int DeltaTime);
static void FreePart5();

namespace {

constexpr uint32_t WhiteTime = 2000;
constexpr uint32_t MusicStopTime = 7300;
constexpr uint32_t FadeOutTime = 10000;
// The final fade is seen from the first frame after FadeOutTime, timed from FadeOutTime itself,
// and passes full black 2555 ms later, when Round(255.5) = 256 first exceeds 255: the show's last
// moment, at most a millisecond before EndTime.
constexpr uint32_t EndTime = FadeOutTime + 1 + 2555;

TvokScreenPlane* EndPlane = nullptr;
uint32_t FadeOutStart = 0;  // 0: the final fade has not begun

// The plane is drawn without blending or alpha test: it replaces every pixel it covers.
bool PlaneReplacesScreen(IDirect3DDevice9* Device) {
  DWORD Blend = TRUE, AlphaTest = TRUE, Write = 0;
  Device->GetRenderState(D3DRS_ALPHABLENDENABLE, &Blend);
  Device->GetRenderState(D3DRS_ALPHATESTENABLE, &AlphaTest);
  Device->GetRenderState(D3DRS_COLORWRITEENABLE, &Write);
  return !Blend && !AlphaTest && (Write & 0x7) == 0x7;
}

// A plane of the screen's size ends on the last column and row (its far edges lie on Width - 1
// and Height - 1), so only they need the black the whole screen would otherwise be cleared to.
void ClearBesidePlane(IDirect3DDevice9* Device) {
  const LONG W = LONG(Engine->D3D->Width), H = LONG(Engine->D3D->Height);
  const RECT Uncovered[2] = {{W - 1, 0, W, H}, {0, H - 1, W - 1, H}};
  Device->Clear(2, Uncovered, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
}

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part5Scene{5, "Part5", LoadPart5, MovePart5, RenderPart5, FreePart5, {}, EndTime,
                               LightAround(1.0f, 30.0f, -0.7f), NoFog, TPostEffect::None};

uint32_t Part5FadeOutStart() { return FadeOutStart; }

void LoadPart5() {
  FadeOutStart = 0;
  EndPlane = new TvokScreenPlane(Engine->D3D, TexEndPic);
  EndPlane->CoverScreen();  // to the last pixel and sample, the picture at its own scale
}

void MovePart5(int) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t Time = Engine->Time;
  if (BeginFirstFrame(Part5Scene)) {
    SetupLight(Part5Scene);
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

  if (T > MusicStopTime && !MusicCoda) StopMusic();

  if (T > FadeOutTime) {
    if (FadeOutStart == 0) FadeOutStart = SceneStart + FadeOutTime;  // when it was due
    int64_t Alpha = timeline::RoundDiv(Time - FadeOutStart, 10.0);
    if (Alpha > 255) {
      Alpha = 255;
      Engine->Quit();
    }
    SetLayerAlpha(FadeSprite, static_cast<uint8_t>(Alpha));
  }
}

void RenderPart5(int) {
  if (!SceneIsCurrent(Part5Scene)) return;
  IDirect3DDevice9* Device = Engine->D3D->Device.get();

  // Everything here lies at depth 0, which passes whatever depth earlier frames left: the depth
  // clear would change no pixel, and neither would the depth test (nor the zeros it writes, which
  // nothing after reads). Without it a software rasteriser skips reading and writing the depth
  // buffer under every pixel of the picture and the layers.
  BeginSceneFrame(false);
  DWORD DepthTest = D3DZB_TRUE;
  Device->GetRenderState(D3DRS_ZENABLE, &DepthTest);
  Device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  const bool DrawPlane = SceneTime() > WhiteTime && EndPlane != nullptr;
  if (DrawPlane && PlaneReplacesScreen(Device))
    ClearBesidePlane(Device);
  else
    Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  if (DrawPlane) EndPlane->Draw();
  DrawLayer(FlashSprite);
  DrawLayer(FadeSprite);
  EndSceneFrame();
  Device->SetRenderState(D3DRS_ZENABLE, DepthTest);  // the warm-up passes through here too
}

void FreePart5() {
  delete EndPlane;
  EndPlane = nullptr;
}
