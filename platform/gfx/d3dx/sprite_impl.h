#pragma once
// The sprite object, shared with the font (which draws through a sprite of its own).

#include "platform/gfx/d3dx/d3dx9.h"

namespace d3dx {

LPD3DXSPRITE MakeSprite(const LPDIRECT3DDEVICE9& device);

}  // namespace d3dx
