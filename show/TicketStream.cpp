#include "show/TicketStream.h"

#include <cmath>

#include "engine/vokModells.h"
#include "show/Globals.h"
#include "show/Random.h"

namespace {

constexpr float SpawnZ = 70.0f;
constexpr float RetireZ = -50.0f;
constexpr double MsPerUnit = 30.0;

void StartTicket(TTicket& Ticket, float LaneY, float StartZ, uint32_t Time) {
  Ticket.Active = true;
  Ticket.Pos.x = 0.0f;
  Ticket.Pos.y = LaneY;
  Ticket.StartZ = StartZ;
  Ticket.Born = Time;
  Ticket.Angle = DegToRad(90.0f);
  Ticket.Image = Random(11) + 1;
}

}  // namespace

void TTicketStream::Clear() {
  for (TTicket& Ticket : Tickets) Ticket.Active = false;
  SpawnTime = 0;
  ShakeTime = 0;
  Beat = timeline::TBeatFlash{};
}

void TTicketStream::FirstTickets(uint32_t Time) {
  for (int i = 0; i < 10; ++i) StartTicket(Tickets[i], LaneY, static_cast<float>(70 - 7 * i), Time);
}

void TTicketStream::Start(uint32_t Time) {
  FirstTickets(Time);
  SpawnTime = Time;
  ShakeTime = Time;
}

void TTicketStream::Advance(uint32_t Time, TvokD3D& D3D) {
  Spawn(Time);
  Move(Time);
  Shake(Time, D3D);
}

void TTicketStream::Spawn(uint32_t Time) {
  if (Time - SpawnTime <= SpawnInterval) return;
  SpawnTime += SpawnInterval;
  for (TTicket& Ticket : Tickets) {
    if (!Ticket.Active) {
      StartTicket(Ticket, LaneY, SpawnZ, Time);
      return;
    }
  }
}

void TTicketStream::Move(uint32_t Time) {
  for (TTicket& Ticket : Tickets) {
    if (!Ticket.Active) continue;
    Ticket.Pos.z = static_cast<float>(Ticket.StartZ - static_cast<double>(Time - Ticket.Born) / MsPerUnit);
    if (Ticket.Pos.z < RetireZ) Ticket.Active = false;
  }
}

void TTicketStream::Shake(uint32_t Time, TvokD3D& D3D) {
  if (Time - ShakeTime < ShakeInterval) return;
  ShakeTime += ShakeInterval;
  const double T = static_cast<double>(Time);
  D3D.CameraTarget.x =
      static_cast<float>(Random(80) / 1000.0 + std::cos(T / 150.0) * 0.1 + D3D.CameraTargetBase.x);
  D3D.CameraTarget.y = static_cast<float>(std::sin(T / 150.0) * 0.1 + D3D.CameraTargetBase.y);
  D3D.CameraTarget.z = D3D.CameraTargetBase.z;
}

void TTicketStream::Draw() const {
  if (TicketSet == nullptr || TicketPlane == nullptr) return;
  const float Tilt = DegToRad(10.0f);
  for (const TTicket& Ticket : Tickets) {
    if (!Ticket.Active) continue;
    TicketSet->Position = D3DXVECTOR3(0.0f, Ticket.Pos.y, Ticket.Pos.z);
    TicketSet->Rotation.x = Ticket.Angle;
    TicketPlane->Texture = TexTickets[Ticket.Image];
    TicketSet->DrawAll(false);

    // The two side copies reuse the states the middle one set up.
    TicketSet->Rotation.x = Tilt + Ticket.Angle;
    TicketSet->Position.x = -9.5f;
    TicketSet->Position.y = Ticket.Pos.y + 0.9f;
    TicketSet->DrawAll(true);

    TicketSet->Rotation.x = Ticket.Angle - Tilt;
    TicketSet->Position.x = 9.5f;
    TicketSet->Position.y = Ticket.Pos.y + 0.9f;
    TicketSet->DrawAll(true);
  }
}

int TTicketStream::ActiveCount() const {
  int Count = 0;
  for (const TTicket& Ticket : Tickets) Count += Ticket.Active ? 1 : 0;
  return Count;
}

void DrawFogPlanes(uint32_t SceneTime, uint32_t Time) {
  if (FogPlane == nullptr) return;
  IDirect3DDevice9* Device = Engine->D3D->Device.get();

  DWORD AlphaArg1 = 0, AlphaOp = 0, SrcBlend = 0, DestBlend = 0, MaterialSource = 0;
  Device->GetTextureStageState(0, D3DTSS_ALPHAARG1, &AlphaArg1);
  Device->GetTextureStageState(0, D3DTSS_ALPHAOP, &AlphaOp);
  Device->GetRenderState(D3DRS_SRCBLEND, &SrcBlend);
  Device->GetRenderState(D3DRS_DESTBLEND, &DestBlend);
  Device->GetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, &MaterialSource);

  // Additive layers that never hide each other: no depth writes, source alpha from the material.
  Device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  Device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  Device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
  Device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);

  FogPlane->Position.y = -2.0f;
  const double Drift = static_cast<double>(SceneTime) / 270.0;
  const double Turn = static_cast<double>(Time) / 20000.0;
  for (int n = 95; n >= 1; --n) {
    FogPlane->Position.z = static_cast<float>((95 - 3 * n) - Drift);
    FogPlane->Rotation.z = static_cast<float>(DegToRad(static_cast<float>(n)) - Turn);
    FogPlane->UpdateWorld();
    FogPlane->DrawObject(true);
  }

  Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  Device->SetTextureStageState(0, D3DTSS_ALPHAARG1, AlphaArg1);
  Device->SetTextureStageState(0, D3DTSS_ALPHAOP, AlphaOp);
  Device->SetRenderState(D3DRS_SRCBLEND, SrcBlend);
  Device->SetRenderState(D3DRS_DESTBLEND, DestBlend);
  Device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, MaterialSource);
  Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  Device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}
