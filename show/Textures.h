#pragma once
// The textures several scenes share, loaded once from the archive at start-up.

#include <string>

#include "platform/gfx/d3d9.h"

// Each nil until loaded; a load that fails leaves the variable as it was.
extern LPDIRECT3DTEXTURE9 TexEye;       // "texEye" (no scene draws it)
extern LPDIRECT3DTEXTURE9 TexEnvMap;    // "texEnvMap": sphere map of the pool wall and the floor
extern LPDIRECT3DTEXTURE9 TexInvSpot;   // "texInvSpot" (no scene draws it)
extern LPDIRECT3DTEXTURE9 TexShowDown;  // "texShowDown": the pool platform
extern LPDIRECT3DTEXTURE9 TexWater;     // "texWater": the pool floor under the water
extern LPDIRECT3DTEXTURE9 TexEndPic;    // "EndPic"
extern LPDIRECT3DTEXTURE9 TexFog;       // "fog"
extern LPDIRECT3DTEXTURE9 TexFloor;     // "Floor"
extern LPDIRECT3DTEXTURE9 TexParticle;  // "particle": released only at process end
// "Ticket-1" .. "Ticket-11" in TexTickets[1] .. TexTickets[11]; TexTickets[0] stays nil.
constexpr int TicketCount = 11;
extern LPDIRECT3DTEXTURE9 TexTickets[TicketCount + 1];

// Reads the entry into a texture with linear filtering on Sampler. A missing entry leaves Texture
// untouched; a picture the device cannot take is recorded in Engine's device wrapper.
void LoadTexture(const std::string& Name, LPDIRECT3DTEXTURE9& Texture, DWORD Sampler);
void LoadTextures();
// Releases the set, TexParticle excepted.
void FreeTextures();
