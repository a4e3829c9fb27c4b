// Entry points whose implementation has not landed yet: they fail cleanly.

#include "platform/gfx/d3dx9.h"

HRESULT D3DXCreateFontIndirectA(const LPDIRECT3DDEVICE9&, const D3DXFONT_DESCA*, LPD3DXFONT& f) {
  f.reset();
  return E_NOTIMPL;
}
