// Scene two: tickets stream through turning fog layers, blurred. The camera shakes, rolls and
// turns from step to step; from the third step on white flashes fall on the beat.

#include "engine/vokModells.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"
#include "show/TicketStream.h"

// The scene's routines: the rest of the show reaches them through the row.
static void LoadPart2();
static void MovePart2(int DeltaTime);
static void RenderPart2(int DeltaTime);
static void FreePart2();
static void WarmUpPart2(TWarmUpPhase Phase);

namespace {

constexpr uint32_t StepEnd[] = {7384, 14769, 22153, 29538};

TTicketStream Stream(-4.0f);
std::optional<TTicketStream> KeptStream;  // over the warm-up pass

// The ticket set's pose and picture, which scenes three and four change too, over the warm-up.
struct TTicketSetPose {
  D3DXVECTOR3 Position, Rotation;
  float Alpha;
  LPDIRECT3DTEXTURE9 Texture;
} KeptPose{};

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part2Scene{2, "Part2", LoadPart2, MovePart2, RenderPart2, FreePart2, StepEnd, 0,
                               LightAround(0.5f, 30.0f, -0.7f), FogFrom(40.0f, 60.0f), TPostEffect::Blur,
                               WarmUpPart2};

TTicketStream& Part2Stream() { return Stream; }

void LoadPart2() {
  TvokD3D* D3D = Engine->D3D;

  TicketPlane = new TzanObject(D3D);
  TicketPlane->Param1 = 6.0f;  // one cell, 6 wide and 9 high
  TicketPlane->Param2 = 9.0f;
  TicketPlane->Param3 = 1.0f;
  TicketPlane->Param4 = 1.0f;
  TicketPlane->StretchTexture = true;
  TicketPlane->BuildPlane();
  TicketPlane->CullMode = D3DCULL_CCW;
  TicketPlane->Textured = true;
  TicketPlane->Texture = TexShowDown;  // every draw puts its ticket here
  TicketPlane->BasePosition.z = -0.5625f / 2.0f;

  TicketSet = new TzanObjectSet();
  TicketSet->Add(TicketPlane);
  TicketSet->Rotation.x = DegToRad(90.0f);
  TicketSet->Rotation.y = DegToRad(90.0f);
  TicketSet->Position.y = -1.0f;

  FogPlane = new TzanObject(D3D);
  FogPlane->Param1 = 30.0f;
  FogPlane->Param2 = 30.0f;
  FogPlane->Param3 = 1.0f;
  FogPlane->Param4 = 1.0f;
  FogPlane->BuildPlane();
  FogPlane->CullMode = D3DCULL_NONE;
  FogPlane->Textured = true;
  FogPlane->Texture = TexFog;
  FogPlane->AlphaBlend = true;

  Stream.Clear();
}

namespace {

// What each step does to the white layer and the camera.
void MoveStep(TvokD3D* D3D) {
  const double S = static_cast<double>(StepTime());
  switch (Step) {
    case 1:
      FadeOutLayer(FlashSprite, StepTime(), 2.0);
      D3D->CameraRotation.z = static_cast<float>(DegToRad(10.0f) - S / 10000.0);
      break;
    case 2:
      FadeOutLayer(FlashSprite, StepTime(), 1.0);
      D3D->CameraRotation.z = static_cast<float>(DegToRad(0.0f) + S / 10000.0);
      break;
    case 3:
      D3D->CameraRotation.x = static_cast<float>(DegToRad(275.0f) + S / 5000.0);
      D3D->CameraRotation.z = static_cast<float>(DegToRad(0.0f) - S / 20000.0);
      break;
    case 4:
      D3D->CameraRotation.z = static_cast<float>(DegToRad(0.0f) + S / 10000.0);
      break;
  }

  if (Step >= 3) BeatFlash(Stream.Beat);
}

}  // namespace

void MovePart2(int) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t Time = Engine->Time;
  if (BeginFirstFrame(Part2Scene)) {
    D3D->SetCamera(true, 0.0f, -2.0f, -10.0f);
    D3D->CameraRotation.x = DegToRad(338.0f);
    D3D->CameraRotation.y = DegToRad(20.0f);
    SetupFog(Part2Scene);
    SetupLight(Part2Scene);
    BlurLevel = 4.0f;
    SetLayerAlpha(FlashSprite, 0);
    SetLayerAlpha(FadeSprite, 0);
    StartSceneClock();
    Stream.Start(SceneStart);  // the first tickets; spawn and shake timers from the scene's start
  }

  Stream.Advance(Time, *D3D);

  MoveStep(D3D);

  if (AdvanceSceneStep(Part2Scene) == timeline::TStepAdvance::NextStep) {
    switch (Step) {
      case 2:
        D3D->CameraRotation.x = DegToRad(338.0f);
        D3D->CameraRotation.y = DegToRad(340.0f);
        break;
      case 3:
        Stream.Beat.BeatHold = true;
        D3D->CameraRotation.y = DegToRad(0.0f);
        D3D->CameraRotation.z = DegToRad(0.0f);
        break;
      case 4:
        Stream.Beat.BeatHold = true;
        D3D->CameraRotation.x = DegToRad(340.0f);
        D3D->CameraRotation.y = DegToRad(334.0f);
        D3D->CameraRotation.z = DegToRad(0.0f);
        break;
    }
    MoveStep(D3D);  // the new step shows in this very frame
  }
}

void RenderPart2(int) {
  if (!SceneIsCurrent(Part2Scene)) return;
  RenderTicketStream(Stream);
}

void FreePart2() {
  if (TicketSet != nullptr) {
    TicketSet->Clear();  // frees TicketPlane
    delete TicketSet;
    TicketSet = nullptr;
  }
  TicketPlane = nullptr;
  delete FogPlane;
  FogPlane = nullptr;
}

void WarmUpPart2(TWarmUpPhase Phase) {
  WarmUpTicketStream(Stream, KeptStream, Phase);
  if (Phase == TWarmUpPhase::Before) {
    if (TicketSet) KeptPose = {TicketSet->Position, TicketSet->Rotation, TicketSet->Alpha, nullptr};
    if (TicketPlane) KeptPose.Texture = TicketPlane->Texture;
    return;
  }
  if (TicketSet) {
    TicketSet->Position = KeptPose.Position;
    TicketSet->Rotation = KeptPose.Rotation;
    TicketSet->Alpha = KeptPose.Alpha;
  }
  if (TicketPlane) TicketPlane->Texture = KeptPose.Texture;
}
