// A start-up pass through the scenes' render routines with the graphics layer in warm-up mode:
// every program the show draws with is built before the clock starts, so no frame waits for a
// compiler. Nothing reaches the screen, and every piece of show state the render routines touch
// is put back, so the show starts exactly as if the pass had not run.

#include "engine/vokModells.h"
#include "platform/gfx/backend.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

namespace {

// What the render routines change besides the device.
struct TShowSnapshot {
  int Scene = CurrentScene;
  int Frames = FrameCount;
  TPostEffect Effect = PostEffect;
  uint32_t SceneStartTime = SceneStart;
  uint8_t Flash = FlashSprite ? FlashSprite->Alpha : 0;
  uint8_t Fade = FadeSprite ? FadeSprite->Alpha : 0;
  TTicketStream Stream2 = Part2Stream();
  TTicketStream Stream4 = Part4Stream();
  D3DXVECTOR3 SetPosition = TicketSet ? TicketSet->Position : D3DXVECTOR3(0, 0, 0);
  D3DXVECTOR3 SetRotation = TicketSet ? TicketSet->Rotation : D3DXVECTOR3(0, 0, 0);
  float SetAlpha = TicketSet ? TicketSet->Alpha : 1.0f;
  LPDIRECT3DTEXTURE9 TicketTexture = TicketPlane ? TicketPlane->Texture : nullptr;

  void Restore() const {
    CurrentScene = Scene;
    FrameCount = Frames;
    PostEffect = Effect;
    SceneStart = SceneStartTime;
    SetLayerAlpha(FlashSprite, Flash);
    SetLayerAlpha(FadeSprite, Fade);
    Part2Stream() = Stream2;
    Part4Stream() = Stream4;
    if (TicketSet) {
      TicketSet->Position = SetPosition;
      TicketSet->Rotation = SetRotation;
      TicketSet->Alpha = SetAlpha;
    }
    if (TicketPlane) TicketPlane->Texture = TicketTexture;
  }
};

// One ticket in view, so the stream's draws are part of the pass.
void ShowOneTicket(TTicketStream& Stream) {
  TTicket& Ticket = Stream.Tickets[0];
  Ticket.Active = true;
  Ticket.Image = 1;
  Ticket.Angle = DegToRad(90.0f);
  Ticket.Pos = D3DXVECTOR3(0.0f, Stream.LaneY, 10.0f);
}

}  // namespace

void WarmUpShow() {
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  const TShowSnapshot Snapshot;

  gx::GxSetWarmUp(Device, true);
  if (SUCCEEDED(Device->BeginScene())) {
    for (const TScene* Row : Scenes()) {
      CurrentScene = Row->Number;
      FrameCount = 3;                            // late enough for the capture
      PostEffect = Row->Effect;
      SceneStart = Engine->Time - 3000;          // scene five shows its end picture by then
      SetLayerAlpha(FlashSprite, 128);
      SetLayerAlpha(FadeSprite, 128);
      ShowOneTicket(Part2Stream());
      ShowOneTicket(Part4Stream());
      SetupLight(Row->Number);
      SetupFog(Row->Number);
      Row->Render(0);
    }
    // The first scene set its light at load and never again.
    SetupLight(Scenes().front()->Number);
    Device->EndScene();
  }
  gx::GxSetWarmUp(Device, false);
  Snapshot.Restore();
}
