#include "show/Textures.h"

#include "show/AssetWarnings.h"

#include "engine/vokD3D.h"
#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/d3dx/d3dx9.h"

LPDIRECT3DTEXTURE9 TexEye;
LPDIRECT3DTEXTURE9 TexEnvMap;
LPDIRECT3DTEXTURE9 TexInvSpot;
LPDIRECT3DTEXTURE9 TexShowDown;
LPDIRECT3DTEXTURE9 TexWater;
LPDIRECT3DTEXTURE9 TexEndPic;
LPDIRECT3DTEXTURE9 TexFog;
LPDIRECT3DTEXTURE9 TexFloor;
LPDIRECT3DTEXTURE9 TexParticle;
LPDIRECT3DTEXTURE9 TexTickets[TicketCount + 1];

void LoadTexture(const std::string& Name, LPDIRECT3DTEXTURE9& Texture, DWORD Sampler) {
  if (!Resource) return;
  if (!Resource->ReadByName(Name, ResourceData)) {
    WarnMissingEntry(Name);
    return;
  }
  Texture = nullptr;
  TvokD3D* D3D = Engine ? Engine->D3D : nullptr;
  GxD3DXTakeLastError();
  const HRESULT hr = D3D && D3D->Device
                         ? D3DXCreateTextureFromFileInMemory(D3D->Device, ResourceData.Data, UINT(ResourceData.Size), Texture)
                         : D3DERR_INVALIDCALL;
  if (hr == D3D_OK) {
    D3D->Device->SetSamplerState(Sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    D3D->Device->SetSamplerState(Sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  } else {
    Texture = nullptr;
    if (D3D) D3D->SetError("Error during load texture " + Name);
    if (D3D && D3D->Device) EntryWarning(Name, "not usable as a picture: " + D3DXFailureReason(hr, ResourceData.Size));
  }
  Resource->FreeEntry(ResourceData);
}

void LoadTextures() {
  LoadTexture("texEye", TexEye, 0);
  LoadTexture("texEnvMap", TexEnvMap, 0);
  LoadTexture("texInvSpot", TexInvSpot, 0);
  LoadTexture("texShowDown", TexShowDown, 0);
  LoadTexture("texWater", TexWater, 0);
  LoadTexture("EndPic", TexEndPic, 0);
  LoadTexture("fog", TexFog, 0);
  for (int i = 1; i <= TicketCount; ++i) LoadTexture("Ticket-" + std::to_string(i), TexTickets[i], 0);
  LoadTexture("Floor", TexFloor, 0);
  LoadTexture("particle", TexParticle, 0);
}

void FreeTextures() {
  TexShowDown = nullptr;
  TexEnvMap = nullptr;
  TexEye = nullptr;
  TexInvSpot = nullptr;
  TexWater = nullptr;
  TexEndPic = nullptr;
  TexFog = nullptr;
  for (int i = 1; i <= TicketCount; ++i) TexTickets[i] = nullptr;
  TexFloor = nullptr;
}
