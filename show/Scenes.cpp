#include "show/Scenes.h"

#include "engine/vokModells.h"
#include "show/Globals.h"

void SetWhiteMaterial(TzanObject& Object, float AmbientShare) {
  Object.Material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  Object.Material.Ambient.r = AmbientShare * Object.Material.Diffuse.r;
  Object.Material.Ambient.g = AmbientShare * Object.Material.Diffuse.g;
  Object.Material.Ambient.b = AmbientShare * Object.Material.Diffuse.b;
  Object.UseMaterial = true;
}

void RenderTicketStream(const TTicketStream& Tickets) {
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  BeginSceneFrame();
  Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Device->SetRenderState(D3DRS_FOGENABLE, TRUE);
  Tickets.Draw();
  DrawFogPlanes(SceneTime(), Engine->Time);
  DrawLayer(FadeSprite);
  DrawLayer(FlashSprite);
  Device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  EndSceneFrame();
}


void WarmUpTicketStream(TTicketStream& Stream, std::optional<TTicketStream>& Kept, TWarmUpPhase Phase) {
  if (Phase == TWarmUpPhase::After) {
    if (Kept) Stream = *Kept;
    Kept.reset();
    return;
  }
  Kept.emplace(Stream);
  TTicket& Ticket = Stream.Tickets[0];
  Ticket.Active = true;
  Ticket.Image = 1;
  Ticket.Angle = DegToRad(90.0f);
  Ticket.Pos = D3DXVECTOR3(0.0f, Stream.LaneY, 10.0f);
}
