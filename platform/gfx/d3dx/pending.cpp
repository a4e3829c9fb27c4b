// Entry points whose implementation has not landed yet: they fail cleanly.

#include "platform/gfx/d3dx9.h"

HRESULT D3DXCreateSprite(const LPDIRECT3DDEVICE9&, LPD3DXSPRITE& s) { s.reset(); return E_NOTIMPL; }
HRESULT D3DXCreateFontIndirectA(const LPDIRECT3DDEVICE9&, const D3DXFONT_DESCA*, LPD3DXFONT& f) {
  f.reset();
  return E_NOTIMPL;
}
HRESULT D3DXCreateRenderToSurface(const LPDIRECT3DDEVICE9&, UINT, UINT, D3DFORMAT, BOOL, D3DFORMAT,
                                  LPD3DXRENDERTOSURFACE& r) {
  r.reset();
  return E_NOTIMPL;
}
