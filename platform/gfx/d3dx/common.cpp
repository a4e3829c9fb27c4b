// Buffers and the debug message channel of the D3DX units.

#include "platform/gfx/d3dx/common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace d3dx {

bool Verbose() {
#ifndef NDEBUG
  return true;
#else
  static const bool verbose = std::getenv("GX_D3DX_VERBOSE") != nullptr;
  return verbose;
#endif
}

namespace {
thread_local std::string lastError;
}  // namespace

void DebugLog(const std::string& message) {
  lastError = message;
  if (Verbose()) std::fprintf(stderr, "d3dx: %s\n", message.c_str());
}

namespace {

class Buffer final : public ID3DXBuffer {
 public:
  Buffer(const void* data, std::size_t size, bool text) : size_(DWORD(size)) {
    // DWORD-aligned storage: shader code is handed on as const DWORD*.
    words_.assign((size + (text ? 1 : 0) + 3) / 4 + 1, 0);
    if (data && size) std::memcpy(words_.data(), data, size);
  }
  LPVOID GetBufferPointer() override { return words_.data(); }
  DWORD GetBufferSize() override { return size_; }

 private:
  std::vector<DWORD> words_;
  DWORD size_;
};

}  // namespace

LPD3DXBUFFER MakeBuffer(const void* data, std::size_t size, bool text) {
  return std::make_shared<Buffer>(data, size, text);
}

D3DCAPS9 DeviceCaps(IDirect3DDevice9* device) {
  D3DCAPS9 caps;
  std::memset(&caps, 0, sizeof caps);
  if (device && FAILED(device->GetDeviceCaps(&caps))) std::memset(&caps, 0, sizeof caps);
  return caps;
}

}  // namespace d3dx

std::string GxD3DXTakeLastError() { return std::exchange(d3dx::lastError, std::string()); }

HRESULT D3DXCreateBuffer(DWORD size, LPD3DXBUFFER& buffer) {
  buffer = d3dx::MakeBuffer(nullptr, size, false);
  return S_OK;
}
