#pragma once
// Small helpers shared by the D3DX units.

#include <string>

#include "platform/gfx/d3dx/d3dx9.h"

namespace d3dx {

// Messages of failed loads and compiles go to standard error in debug builds, or whenever the
// environment variable GX_D3DX_VERBOSE is set; the last one is kept for GxD3DXTakeLastError.
bool Verbose();
void DebugLog(const std::string& message);

// A buffer holding a copy of the given bytes (plus a terminating NUL that the size leaves out
// when text is true, so GetBufferPointer() can be read as a C string).
LPD3DXBUFFER MakeBuffer(const void* data, std::size_t size, bool text);
inline LPD3DXBUFFER MakeTextBuffer(const std::string& text) { return MakeBuffer(text.data(), text.size(), true); }

// A Get... method's copy into the caller's out-parameter: D3DERR_INVALIDCALL for a null one.
template <class T>
HRESULT CopyOut(T* out, const T& value) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = value;
  return S_OK;
}

// The device's capabilities; zeroed when the device cannot tell.
D3DCAPS9 DeviceCaps(IDirect3DDevice9* device);

}  // namespace d3dx
