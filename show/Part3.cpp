// Scene three: the ticket slide show over the sphere-mapped floor. On every half-beat a new
// picture slides in from the left and stops in the middle while the previous one drifts away to
// the right; a faint copy of both lies on the floor as a reflection.

#include <algorithm>
#include <cmath>

#include "engine/vokModells.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

// The scene's routines: the rest of the show reaches them through the row.
static void LoadPart3();
static void MovePart3(int DeltaTime);
static void RenderPart3(int DeltaTime);
static void FreePart3();

namespace {

constexpr uint32_t StepEnd[] = {3692, 7385, 11077, 14769};
constexpr uint32_t HalfBeat = 461;
constexpr int PictureCount = 11;

TzanObject* FloorPlane = nullptr;
uint32_t BeatStart = 0;
int BeatCount = 0;
int TicketIndex = 1;
float SlideA = 0.0f;
float SlideB = 0.0f;

int PreviousPicture() { return TicketIndex == 1 ? PictureCount : TicketIndex - 1; }

// The sliding-in position always carries the new picture.
int PictureAtA() { return BeatCount % 2 != 0 ? TicketIndex : PreviousPicture(); }
int PictureAtB() { return BeatCount % 2 != 0 ? PreviousPicture() : TicketIndex; }

void DrawPicture(int Picture, float X) {
  TicketPlane->Texture = TexTickets[Picture];
  TicketSet->Position.x = X;
  TicketSet->DrawAll(false);
}

void DrawPictures() {
  DrawPicture(PictureAtA(), SlideA);
  if (BeatCount >= 2) DrawPicture(PictureAtB(), SlideB);
}

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part3Scene{3, "Part3", LoadPart3, MovePart3, RenderPart3, FreePart3, StepEnd, 0,
                               LightAlong(1.0f, 1.5f, 0.5f, 1.5f), FogFrom(20.0f, 30.0f), TPostEffect::Blur};

TSlideShowState Part3State() { return {BeatStart, BeatCount, TicketIndex, SlideA, SlideB}; }

void LoadPart3() {
  BeatStart = 0;
  BeatCount = 0;
  TicketIndex = 1;
  FloorPlane = new TzanObject(Engine->D3D);
  FloorPlane->Param1 = 8.0f;  // cells 8 x 8, eight columns, eight rows: 64 x 64 units
  FloorPlane->Param2 = 8.0f;
  FloorPlane->Param3 = 8.0f;
  FloorPlane->Param4 = 8.0f;
  FloorPlane->BuildPlane();
  SetWhiteMaterial(*FloorPlane, 0.3f);
  FloorPlane->CullMode = D3DCULL_NONE;
  FloorPlane->Textured = true;
  FloorPlane->Texture = TexFloor;
  FloorPlane->SphereMapped = true;
  FloorPlane->EnvTexture = TexEnvMap;
  FloorPlane->TexCoordIndex = D3DTSS_TCI_SPHEREMAP;
  FloorPlane->Rotation.x = DegToRad(90.0f);  // lying flat
  FloorPlane->Position.y = -0.2f;
}

void MovePart3(int) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t Time = Engine->Time;
  if (BeginFirstFrame(Part3Scene)) {
    D3D->SetCamera(true, 0.0f, 2.8f, -9.0f);
    D3D->CameraRotation.x = DegToRad(5.0f);
    SetupLight(Part3Scene);
    SetupFog(Part3Scene);
    BlurLevel = 4.0f;
    SetLayerAlpha(FlashSprite, 0);
    SetLayerAlpha(FadeSprite, 0);
    SlideA = -30.0f;
    SlideB = -30.0f;
    if (TicketSet != nullptr) {
      TicketSet->Rescale(0.3f, 0.4f, 0.3f);
      TicketSet->Position = D3DXVECTOR3(-30.0f, 0.0f, -5.0f);
      TicketSet->Rotation = D3DXVECTOR3(0.0f, 0.0f, DegToRad(270.0f));
    }
    StartSceneClock();
    BeatStart = SceneStart;
    BeatCount = 1;
  }

  D3D->CameraPosition.x = static_cast<float>(std::cos(static_cast<double>(SceneTime()) / 5000.0) * 1.0);
  if (Step == 1) FadeOutLayer(FadeSprite, StepTime(), 2.0);

  if (Time - BeatStart >= HalfBeat) {
    BeatStart += HalfBeat;
    ++BeatCount;
    if (++TicketIndex > PictureCount) TicketIndex = 1;
  }
  const double B = static_cast<double>(Time - BeatStart);
  const float SlidingIn = static_cast<float>(std::min(B / 6.0 - 30.0, 0.0));
  const float Leaving = static_cast<float>(B / 30.0);
  if (BeatCount % 2 != 0) {
    SlideA = SlidingIn;
    SlideB = Leaving;
  } else {
    SlideA = Leaving;
    SlideB = SlidingIn;
  }

  AdvanceSceneStep(Part3Scene);
}

void RenderPart3(int) {
  if (!SceneIsCurrent(Part3Scene)) return;
  IDirect3DDevice9* Device = Engine->D3D->Device.get();

  BeginSceneFrame();
  Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Device->SetRenderState(D3DRS_FOGENABLE, TRUE);

  FloorPlane->UpdateWorld();
  FloorPlane->DrawObject(false);

  if (TicketSet != nullptr && TicketPlane != nullptr) {
    // The reflection lies over the floor: no depth test, no depth writes, a fifth of the light.
    Device->SetRenderState(D3DRS_ZENABLE, FALSE);
    Device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    TicketSet->Alpha = 0.2f;
    TicketSet->Position.y = -1.0f;
    TicketSet->Rotation.y = DegToRad(0.0f);
    TicketSet->Rotation.z = DegToRad(270.0f);
    DrawPictures();
    TicketSet->Alpha = 1.0f;
    TicketSet->Position.y = 1.0f;
    TicketSet->Rotation = D3DXVECTOR3(0.0f, 0.0f, DegToRad(270.0f));
    Device->SetRenderState(D3DRS_ZENABLE, TRUE);
    Device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);

    DrawPictures();
  }

  DrawLayer(FadeSprite);
  DrawLayer(FlashSprite);
  Device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  EndSceneFrame();
}

void FreePart3() {
  delete FloorPlane;
  FloorPlane = nullptr;
}
