// Scene four: the ticket stream again, a little higher, seen from a tilted and rolled camera.
// The beat flashes run from the start; steps two to four open with a cut from black; for the
// last 1847 ms everything but the fog planes stands still.

#include <cmath>

#include "engine/vokModells.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

// The scene's routines: the rest of the show reaches them through the row.
static void LoadPart4();
static void MovePart4(int DeltaTime);
static void RenderPart4(int DeltaTime);
static void FreePart4();
static void WarmUpPart4(TWarmUpPhase Phase);

namespace {

constexpr uint32_t StepEnd[] = {7385, 14769, 22154, 29539};
constexpr uint32_t FreezeTime = 27692;

TTicketStream Stream(-2.0f);
std::optional<TTicketStream> KeptStream;  // over the warm-up pass

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part4Scene{4, "Part4", LoadPart4, MovePart4, RenderPart4, FreePart4, StepEnd, 0,
                               LightAround(0.5f, 30.0f, -0.7f), FogFrom(40.0f, 60.0f), TPostEffect::Blur,
                               WarmUpPart4};

TTicketStream& Part4Stream() { return Stream; }

void LoadPart4() { Stream.Clear(); }

namespace {

// What each step does to the layers and the camera; Moving while the stream still moves.
void MoveStep(TvokD3D* D3D, bool Moving) {
  const double S = static_cast<double>(StepTime());
  switch (Step) {
    case 1:
      FadeOutLayer(FlashSprite, StepTime(), 1.0);
      D3D->CameraRotation.z = static_cast<float>(DegToRad(30.0f) - S / 10000.0);
      break;
    case 2:
      FadeOutLayer(FadeSprite, StepTime(), 1.0);
      D3D->CameraRotation.y = static_cast<float>(std::cos(S / 4000.0) * 0.5);
      break;
    case 3:
      FadeOutLayer(FadeSprite, StepTime(), 2.0);
      D3D->CameraRotation.x = DegToRad(325.0f);
      D3D->CameraRotation.y = static_cast<float>(DegToRad(0.0f) + S / 20000.0);
      break;
    case 4:
      FadeOutLayer(FadeSprite, StepTime(), 1.0);
      if (Moving) {
        D3D->CameraRotation = D3DXVECTOR3(DegToRad(350.0f), DegToRad(330.0f),
                                          static_cast<float>(DegToRad(30.0f) - S / 10000.0));
      }
      break;
  }
}

}  // namespace

void MovePart4(int) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t Time = Engine->Time;
  if (BeginFirstFrame(Part4Scene)) {
    D3D->SetCamera(true, 0.0f, 1.0f, -10.0f);
    D3D->CameraRotation = D3DXVECTOR3(DegToRad(350.0f), DegToRad(330.0f), DegToRad(30.0f));
    SetupFog(Part4Scene);
    SetupLight(Part4Scene);
    if (TicketSet != nullptr) {
      TicketSet->Rescale(1.0f, 1.0f, 1.0f);
      TicketSet->Rotation = D3DXVECTOR3(0.0f, DegToRad(90.0f), 0.0f);
      TicketSet->Position.y = -1.0f;
    }
    BlurLevel = 4.0f;
    SetLayerAlpha(FlashSprite, 0);
    SetLayerAlpha(FadeSprite, 0);
    StartSceneClock();
    Stream.Start(SceneStart);  // the first tickets; spawn and shake timers from the scene's start
    Stream.Beat.BeatTime = SceneStart;
  }

  const uint32_t T = SceneTime();
  const bool Moving = T < FreezeTime;
  if (Moving) Stream.Advance(Time, *D3D);

  MoveStep(D3D, Moving);

  // One beat grid for the whole scene; once running it overrides step one's own flash.
  if (Moving) BeatFlash(Stream.Beat);

  // A step that ends here shows its successor in this very frame.
  if (AdvanceSceneStep(Part4Scene) == timeline::TStepAdvance::NextStep) MoveStep(D3D, Moving);
}

void RenderPart4(int) {
  if (!SceneIsCurrent(Part4Scene)) return;
  RenderTicketStream(Stream);
}

void FreePart4() {}

void WarmUpPart4(TWarmUpPhase Phase) { WarmUpTicketStream(Stream, KeptStream, Phase); }
