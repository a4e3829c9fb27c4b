// The layer's own entry points (backend.h), reaching through to the device.

#include "platform/gfx/backend.h"
#include "platform/gfx/device.h"
#include "platform/gfx/formats.h"

namespace gx {

static Device* Dev(IDirect3DDevice9* device) { return dynamic_cast<Device*>(device); }

const std::vector<DrawRecord>& GxRecordedDraws(IDirect3DDevice9* device) {
  static const std::vector<DrawRecord> kNone;
  Device* d = Dev(device);
  auto* draws = d ? d->backend().RecordedDraws() : nullptr;
  return draws ? *draws : kNone;
}

const std::vector<std::string>& GxRecordedCalls(IDirect3DDevice9* device) {
  static const std::vector<std::string> kNone;
  Device* d = Dev(device);
  auto* calls = d ? d->backend().RecordedCalls() : nullptr;
  return calls ? *calls : kNone;
}

void GxClearRecording(IDirect3DDevice9* device) {
  Device* d = Dev(device);
  if (!d) return;
  if (auto* draws = d->backend().RecordedDraws()) draws->clear();
  if (auto* calls = d->backend().RecordedCalls()) calls->clear();
}

Stats GxGetStats(IDirect3DDevice9* device) {
  Device* d = Dev(device);
  if (!d) return {};
  Stats s = d->stats();
  d->backend().AddStats(s);
  return s;
}

void GxResetStats(IDirect3DDevice9* device) {
  Device* d = Dev(device);
  if (!d) return;
  d->stats() = Stats{};
  d->backend().ResetStats();
}

HRESULT GxReadBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height) {
  Device* d = Dev(device);
  if (!d || !d->backBuffer()) return D3DERR_INVALIDCALL;
  return GxReadSurface(d->backBuffer().get(), rgba, width, height);
}

HRESULT GxQueueBackBufferRead(IDirect3DDevice9* device, unsigned slot) {
  Device* d = Dev(device);
  if (!d || !d->backBuffer()) return D3DERR_INVALIDCALL;
  return d->backend().QueueRead(*d->backBuffer(), slot);
}

HRESULT GxTakeBackBufferRead(IDirect3DDevice9* device, unsigned slot, std::uint8_t* rgba, std::size_t size) {
  Device* d = Dev(device);
  if (!d) return D3DERR_INVALIDCALL;
  return d->backend().TakeRead(slot, rgba, size);
}

HRESULT GxReadSurface(IDirect3DSurface9* surface, std::vector<std::uint8_t>& rgba, UINT& width, UINT& height) {
  auto* s = dynamic_cast<Surface*>(surface);
  if (!s) return D3DERR_INVALIDCALL;
  auto device = s->device.lock();
  if (!device) return D3DERR_INVALIDCALL;
  width = s->desc.Width;
  height = s->desc.Height;
  // A texture level with a system copy reads from it, whatever the backend; only
  // render targets (the back buffer among them) ask the backend.
  if (s->texture && !s->texture->store.IsRenderTarget()) {
    TextureStore& t = s->texture->store;
    const Image& img = t.At(s->face, s->level);
    const UINT bpp = BytesPerPixel(t.format);
    rgba.assign(size_t(img.width) * img.height * 4, 0);
    for (UINT y = 0; y < img.height; ++y)
      for (UINT x = 0; x < img.width; ++x)
        PixelToRgba8(t.format, &img.pixels[size_t(y) * img.pitch + x * bpp], &rgba[(size_t(y) * img.width + x) * 4]);
    return D3D_OK;
  }
  return device->backend().ReadSurface(*s, rgba);
}

void GxContextLost(IDirect3DDevice9* device) {
  if (Device* d = Dev(device)) d->backend().LoseContext();
}

HRESULT GxContextRestored(IDirect3DDevice9* device) {
  Device* d = Dev(device);
  return d ? d->backend().RestoreContext() : D3DERR_INVALIDCALL;
}

void GxSetWarmUp(IDirect3DDevice9* device, bool on) {
  if (Device* d = Dev(device)) d->backend().SetWarmUp(on);
}

}  // namespace gx
