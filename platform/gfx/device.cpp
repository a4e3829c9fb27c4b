#include "platform/gfx/device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/display_modes.h"
#include "platform/gfx/formats.h"

namespace gx {

Device::Device(std::shared_ptr<IDirect3D9> d3d, BackendKind kind, std::unique_ptr<Backend> backend)
    : d3d_(std::move(d3d)), kind_(kind), backend_(std::move(backend)) {}

Device::~Device() {
  // The display's own mode comes back with the device that took it.
  if (fullScreenMode_) os::RestoreDesktopMode(window_);
  // Bound objects first: their GPU copies go while the backend still exists.
  state_ = DeviceState{};
  backBuffer_.reset();
  autoDepth_.reset();
}

HRESULT Device::ResolveSize(HWND window, D3DPRESENT_PARAMETERS& p) {
  if (p.Windowed) {
    // A windowed device takes the client area when no size is given, and
    // tells the caller what it took, as Direct3D 9 does.
    HWND w = p.hDeviceWindow ? p.hDeviceWindow : window;
    if (p.BackBufferWidth == 0) p.BackBufferWidth = UINT(std::max(0, os::ClientWidth(w)));
    if (p.BackBufferHeight == 0) p.BackBufferHeight = UINT(std::max(0, os::ClientHeight(w)));
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = DesktopMode().Format;
  }
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) return D3DERR_INVALIDCALL;
  switch (p.BackBufferFormat) {
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      break;
    default:
      return D3DERR_NOTAVAILABLE;
  }
  if (p.EnableAutoDepthStencil && !SupportsDepthFormat(kind_, p.AutoDepthStencilFormat)) return D3DERR_NOTAVAILABLE;
  if (p.MultiSampleType > D3DMULTISAMPLE_16_SAMPLES) return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT Device::CreateBackBuffer() {
  D3DSURFACE_DESC desc{};
  desc.Format = params_.BackBufferFormat;
  desc.Type = D3DRTYPE_SURFACE;
  desc.Usage = D3DUSAGE_RENDERTARGET;
  desc.Pool = D3DPOOL_DEFAULT;
  desc.MultiSampleType = params_.MultiSampleType;
  desc.Width = params_.BackBufferWidth;
  desc.Height = params_.BackBufferHeight;
  backBuffer_ = std::make_shared<Surface>(Surface::Kind::BackBuffer, weak_from_this(), desc);
  HRESULT hr = backend_->CreateSurface(*backBuffer_);
  if (FAILED(hr)) return hr;
  autoDepth_.reset();
  if (params_.EnableAutoDepthStencil) {
    desc.Format = params_.AutoDepthStencilFormat;
    desc.Usage = D3DUSAGE_DEPTHSTENCIL;
    autoDepth_ = std::make_shared<Surface>(Surface::Kind::DepthStencil, weak_from_this(), desc);
    hr = backend_->CreateSurface(*autoDepth_);
    if (FAILED(hr)) return hr;
  }
  return D3D_OK;
}

HRESULT Device::Open(HWND window, D3DPRESENT_PARAMETERS& params) {
  HRESULT hr = ResolveSize(window, params);
  if (FAILED(hr)) Refused(hr, "CreateDevice",
                          "the present parameters ask for a size, format or depth format not offered");
  if (FAILED(hr)) return hr;
  params_ = params;
  window_ = params.hDeviceWindow ? params.hDeviceWindow : window;
  hr = backend_->Open(window_, params_.BackBufferWidth, params_.BackBufferHeight, params_);
  if (FAILED(hr)) return hr;
  hr = CreateBackBuffer();
  if (FAILED(hr)) return hr;
  state_.SetDefaults(params_.EnableAutoDepthStencil, params_.BackBufferWidth, params_.BackBufferHeight);
  state_.renderTarget = backBuffer_;
  state_.depthStencil = autoDepth_;
  backend_->StateChanged(StateKind::All, 0, 0, 0);
  // A full-screen device switches the display to its back buffer's mode and rate, where the
  // system allows it. Where it does not, the window covers the desktop in the desktop's mode and
  // Present scales the picture onto it with its proportions kept.
  if (!params_.Windowed)
    fullScreenMode_ = os::SetFullScreenMode(window_, int(params_.BackBufferWidth), int(params_.BackBufferHeight),
                                            int(params_.FullScreen_RefreshRateInHz));
  return D3D_OK;
}

void Device::Changed(StateKind kind, DWORD index, DWORD type, DWORD value) {
  ++stats_.stateChanges;
  backend_->StateChanged(kind, index, type, value);
}

// ---------------------------------------------------------------------------
// Device and frame

HRESULT Device::TestCooperativeLevel() {
  // A lost context loses the device at once, not only at the next Present.
  if (backend_->ContextState() != Backend::Context::InUse && !lost_) lost_ = true, lostCallIndex_ = 0;
  if (!lost_) return D3D_OK;
  if (backend_->ContextState() == Backend::Context::Lost)
    return Refused(D3DERR_DEVICELOST, __func__, "the graphics context is lost");
  const auto& levels = InjectedFaults().lostCooperativeLevels;
  if (levels.empty()) return Refused(D3DERR_DEVICENOTRESET, __func__, "the device is lost and may be reset now");
  HRESULT hr = levels[std::min(lostCallIndex_, levels.size() - 1)];
  ++lostCallIndex_;
  return hr;
}

HRESULT Device::GetDirect3D(std::shared_ptr<IDirect3D9>& d3d) {
  d3d = d3d_;
  return d3d ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
  if (!caps) return Refused(D3DERR_INVALIDCALL, __func__, "caps is null");
  FillCaps(kind_, *caps);
  return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
  if (!mode) return Refused(D3DERR_INVALIDCALL, __func__, "mode is null");
  if (swapChain != 0) return Refused(D3DERR_INVALIDCALL, __func__, Why("swap chain %u does not exist (only 0)", swapChain));
  if (params_.Windowed) {
    *mode = DesktopMode();
  } else {
    mode->Width = params_.BackBufferWidth;
    mode->Height = params_.BackBufferHeight;
    mode->RefreshRate = params_.FullScreen_RefreshRateInHz;
    mode->Format = params_.BackBufferFormat;
  }
  return D3D_OK;
}

BOOL Device::ShowCursor(BOOL show) {
  // The device cursor is a hardware overlay that was never given an image
  // here; only its visibility flag is kept, the OS layer owns the real cursor.
  BOOL previous = cursorShown_;
  cursorShown_ = show ? 1 : 0;
  backend_->Note(show ? "ShowCursor 1" : "ShowCursor 0");
  return previous;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* params) {
  if (!params) return Refused(D3DERR_INVALIDCALL, __func__, "present parameters are null");
  backend_->Note("Reset");
  auto& faults = InjectedFaults();
  if (faults.failReset > 0) {
    --faults.failReset;
    lost_ = true;
    return Refused(D3DERR_DEVICELOST, __func__, "injected fault (failReset)");
  }
  if (backend_->ContextState() == Backend::Context::Lost) {
    lost_ = true;
    return Refused(D3DERR_DEVICELOST, __func__, "the graphics context is still lost");
  }
  D3DPRESENT_PARAMETERS p = *params;
  HRESULT hr = ResolveSize(window_, p);
  if (FAILED(hr)) Refused(hr, "Reset", "the present parameters ask for a size, format or depth format not offered");
  if (FAILED(hr)) return hr;
  // Reset brings every state back to its default and drops bindings, so the caller's default-pool
  // resources can go. After a lost context, though, nothing the program set was lost (the state is
  // kept here in plain arrays; only GPU objects went, and they are made again from their copies):
  // that Reset keeps it, the new back buffer and depth buffer in place of the old, so a program
  // that does not set its state again after a reset (this one sets no reset callbacks) draws on
  // as before.
  const bool keepState = backend_->ContextState() == Backend::Context::Back &&
                         p.BackBufferWidth == params_.BackBufferWidth && p.BackBufferHeight == params_.BackBufferHeight;
  DeviceState kept = keepState ? std::move(state_) : DeviceState{};
  const IDirect3DSurface9* oldBack = backBuffer_.get();
  const IDirect3DSurface9* oldDepth = autoDepth_.get();
  state_ = DeviceState{};
  backBuffer_.reset();
  autoDepth_.reset();
  params_ = p;
  *params = p;
  hr = backend_->Resize(p.BackBufferWidth, p.BackBufferHeight, p);
  if (SUCCEEDED(hr)) hr = CreateBackBuffer();
  if (FAILED(hr)) {
    lost_ = true;
    return hr;
  }
  if (keepState) {
    state_ = std::move(kept);
    if (state_.renderTarget.get() == oldBack) state_.renderTarget = backBuffer_;
    if (state_.depthStencil.get() == oldDepth) state_.depthStencil = autoDepth_;
  } else {
    state_.SetDefaults(p.EnableAutoDepthStencil, p.BackBufferWidth, p.BackBufferHeight);
    state_.renderTarget = backBuffer_;
    state_.depthStencil = autoDepth_;
  }
  backend_->StateChanged(StateKind::All, 0, 0, 0);
  backend_->ContextReset();
  lost_ = false;
  lostCallIndex_ = 0;
  inScene_ = false;
  return D3D_OK;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const void*) {
  backend_->Note("Present");
  if (inScene_) return Refused(D3DERR_INVALIDCALL, __func__, "inside BeginScene/EndScene");
  auto& faults = InjectedFaults();
  if (!lost_ && (backend_->ContextState() != Backend::Context::InUse || faults.presentDeviceLost > 0)) {
    if (backend_->ContextState() == Backend::Context::InUse) --faults.presentDeviceLost;
    lost_ = true;
    lostCallIndex_ = 0;
  }
  if (lost_) return Refused(D3DERR_DEVICELOST, __func__, "the device is lost");
  ++stats_.frames;
  return backend_->Present();
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                              std::shared_ptr<IDirect3DSurface9>& surface) {
  if (swapChain != 0 || index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !backBuffer_) {
    surface.reset();
    return Refused(D3DERR_INVALIDCALL, __func__, "only back buffer 0 of swap chain 0 exists");
  }
  surface = backBuffer_;
  return D3D_OK;
}

HRESULT Device::BeginScene() {
  if (inScene_) return Refused(D3DERR_INVALIDCALL, __func__, "inside BeginScene/EndScene");
  auto& faults = InjectedFaults();
  if (faults.failBeginScene > 0) {
    --faults.failBeginScene;
    backend_->Note("BeginScene failed");
    return Refused(D3DERR_INVALIDCALL, __func__, "injected fault (failBeginScene)");
  }
  inScene_ = true;
  backend_->Note("BeginScene");
  return D3D_OK;
}

HRESULT Device::EndScene() {
  if (!inScene_) return Refused(D3DERR_INVALIDCALL, __func__, "outside BeginScene/EndScene");
  inScene_ = false;
  backend_->Note("EndScene");
  return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  // As Direct3D 9: rectangles without a count clear nothing (and succeed); a count without
  // rectangles clears the whole viewport.
  if (count == 0 && rects) return D3D_OK;
  if (!rects) count = 0;
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !state_.depthStencil)
    return Refused(D3DERR_INVALIDCALL, __func__, "depth or stencil clear without a depth-stencil surface set");
  if (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))
    return Refused(D3DERR_INVALIDCALL, __func__, "unknown clear flags");
  // The rectangles follow, left top right bottom each, when there are any.
  char head[40];
  std::snprintf(head, sizeof head, "Clear %u %08x", flags, color);
  std::string note = head;
  for (DWORD i = 0; i < count; ++i)
    note += " " + std::to_string(rects[i].left) + " " + std::to_string(rects[i].top) + " " +
            std::to_string(rects[i].right) + " " + std::to_string(rects[i].bottom);
  backend_->Note(note);
  backend_->Clear(state_, count, rects, flags, color, z, stencil);
  return D3D_OK;
}

// ---------------------------------------------------------------------------
// Resources

static bool FailResource() { return FaultFires(&Faults::failCreateResource); }

// Index checks shared by the light and stage calls; the message names the number refused.
static HRESULT CheckLightIndex(const char* call, DWORD index, const std::array<bool, kMaxLights>* mustBeSet) {
  if (index >= kMaxLights)
    return Refused(D3DERR_INVALIDCALL, call, Why("light %lu is out of range (0 to %lu)", static_cast<unsigned long>(index),
                                                 static_cast<unsigned long>(kMaxLights - 1)));
  if (mustBeSet && !(*mustBeSet)[index])
    return Refused(D3DERR_INVALIDCALL, call, Why("light %lu was never set", static_cast<unsigned long>(index)));
  return D3D_OK;
}

// Texture-stage and sampler states: a table each, the same checks and bookkeeping.
static HRESULT CheckPerStage(const char* call, StateKind kind, DWORD index, DWORD type, size_t count) {
  const bool stage = kind == StateKind::Stage;
  if (index >= kMaxStages)
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("%s %lu is out of range (0 to %lu)", stage ? "stage" : "sampler",
                       static_cast<unsigned long>(index), static_cast<unsigned long>(kMaxStages - 1)));
  if (type >= count)
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("%s %lu is out of range", stage ? "texture-stage state" : "sampler state",
                       static_cast<unsigned long>(type)));
  return D3D_OK;
}

template <size_t N>
HRESULT Device::SetPerStage(const char* call, StateKind kind, PerStage<N>& table, DWORD index, DWORD type,
                            DWORD value) {
  if (HRESULT hr = CheckPerStage(call, kind, index, type, N); FAILED(hr)) return hr;
  if (table[index][type] == value) return Unchanged();
  table[index][type] = value;
  Changed(kind, index, type, value);
  return D3D_OK;
}

template <size_t N>
static HRESULT GetPerStage(const char* call, StateKind kind, const PerStage<N>& table, DWORD index, DWORD type,
                           DWORD* value) {
  if (!value) return Refused(D3DERR_INVALIDCALL, call, "value is null");
  if (HRESULT hr = CheckPerStage(call, kind, index, type, N); FAILED(hr)) return hr;
  *value = table[index][type];
  return D3D_OK;
}

static HRESULT CheckTextureArgs(const char* call, UINT width, UINT height, UINT& levels, DWORD usage,
                                D3DFORMAT format, D3DPOOL pool) {
  if (width == 0 || height == 0 || width > 8192 || height > 8192)
    return Refused(D3DERR_INVALIDCALL, call, Why("size %ux%u is outside 1x1 to 8192x8192", width, height));
  if (!IsTextureFormat(format))
    return Refused(D3DERR_INVALIDCALL, call, Why("format %u is not a texture format this layer has", unsigned(format)));
  if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT)
    return Refused(D3DERR_INVALIDCALL, call, "render targets must be in D3DPOOL_DEFAULT");
  if (usage & ~(D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP))
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("usage 0x%lx has flags other than RENDERTARGET, DYNAMIC and AUTOGENMIPMAP",
                       static_cast<unsigned long>(usage)));
  UINT full = FullMipCount(width, height);
  if (levels == 0) levels = full;
  if (levels > full)
    return Refused(D3DERR_INVALIDCALL, call, Why("%u levels asked for, a full mip chain has %u", levels, full));
  if (pool > D3DPOOL_SCRATCH) return Refused(D3DERR_INVALIDCALL, call, Why("unknown pool %u", unsigned(pool)));
  return D3D_OK;
}

// Both kinds of texture are made the same way: checked, given their system copy, then their GPU copy.
template <class Object, class Interface>
HRESULT Device::MakeTexture(const char* call, D3DRESOURCETYPE type, UINT width, UINT height, UINT levels, UINT faces,
                            DWORD usage, D3DFORMAT format, D3DPOOL pool, std::shared_ptr<Interface>& texture) {
  texture.reset();
  HRESULT hr = CheckTextureArgs(call, width, height, levels, usage, format, pool);
  if (FAILED(hr)) return hr;
  if (FailResource()) return Refused(D3DERR_OUTOFVIDEOMEMORY, call, "injected fault (failCreateResource)");
  TextureStore store;
  store.type = type;
  store.format = format, store.usage = usage, store.pool = pool;
  store.width = width, store.height = height, store.levels = levels, store.faces = faces;
  store.Allocate();
  auto t = std::make_shared<Object>(weak_from_this(), std::move(store));
  hr = backend_->CreateTexture(t->core.store);
  if (FAILED(hr)) return hr;
  texture = t;
  return D3D_OK;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              std::shared_ptr<IDirect3DTexture9>& texture, void*) {
  return MakeTexture<Texture>(__func__, D3DRTYPE_TEXTURE, width, height, levels, 1, usage, format, pool, texture);
}

HRESULT Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  std::shared_ptr<IDirect3DCubeTexture9>& texture, void*) {
  return MakeTexture<CubeTexture>(__func__, D3DRTYPE_CUBETEXTURE, edge, edge, levels, 6, usage, format, pool, texture);
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   std::shared_ptr<IDirect3DVertexBuffer9>& buffer, void*) {
  buffer.reset();
  if (length == 0 || length > (256u << 20))
    return Refused(D3DERR_INVALIDCALL, __func__, Why("length %u is outside 1 byte to 256 MiB", length));
  if (FailResource()) return Refused(D3DERR_OUTOFVIDEOMEMORY, __func__, "injected fault (failCreateResource)");
  BufferStore store;
  store.type = D3DRTYPE_VERTEXBUFFER;
  store.usage = usage, store.pool = pool, store.fvf = fvf;
  store.data.assign(length, 0);
  buffer = std::make_shared<VertexBuffer>(weak_from_this(), std::move(store));
  return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  std::shared_ptr<IDirect3DIndexBuffer9>& buffer, void*) {
  buffer.reset();
  // Only 16-bit indexes: the program uses nothing else and GL draws them as they are.
  if (length == 0 || length > (256u << 20))
    return Refused(D3DERR_INVALIDCALL, __func__, Why("length %u is outside 1 byte to 256 MiB", length));
  if (format != D3DFMT_INDEX16)
    return Refused(D3DERR_INVALIDCALL, __func__, Why("index format %u; only D3DFMT_INDEX16 is offered", unsigned(format)));
  if (FailResource()) return Refused(D3DERR_OUTOFVIDEOMEMORY, __func__, "injected fault (failCreateResource)");
  BufferStore store;
  store.type = D3DRTYPE_INDEXBUFFER;
  store.usage = usage, store.pool = pool, store.format = format;
  store.data.assign(length, 0);
  buffer = std::make_shared<IndexBuffer>(weak_from_this(), std::move(store));
  return D3D_OK;
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms,
                                          DWORD, BOOL, std::shared_ptr<IDirect3DSurface9>& surface, void*) {
  surface.reset();
  if (width == 0 || height == 0) return Refused(D3DERR_INVALIDCALL, __func__, Why("size %ux%u", width, height));
  if (!SupportsDepthFormat(kind_, format))
    return Refused(D3DERR_INVALIDCALL, __func__, Why("depth format %u is not offered", unsigned(format)));
  if (FailResource()) return Refused(D3DERR_OUTOFVIDEOMEMORY, __func__, "injected fault (failCreateResource)");
  D3DSURFACE_DESC desc{};
  desc.Format = format, desc.Type = D3DRTYPE_SURFACE, desc.Usage = D3DUSAGE_DEPTHSTENCIL;
  desc.Pool = D3DPOOL_DEFAULT, desc.MultiSampleType = ms, desc.Width = width, desc.Height = height;
  auto s = std::make_shared<Surface>(Surface::Kind::DepthStencil, weak_from_this(), desc);
  HRESULT hr = backend_->CreateSurface(*s);
  if (FAILED(hr)) return hr;
  surface = s;
  return D3D_OK;
}

// ---------------------------------------------------------------------------
// Render targets and viewport

HRESULT Device::SetRenderTarget(DWORD index, const std::shared_ptr<IDirect3DSurface9>& surface) {
  if (index != 0) return surface ? D3DERR_INVALIDCALL : D3D_OK;  // one render target only
  auto s = std::dynamic_pointer_cast<Surface>(surface);
  if (!s || !(s->desc.Usage & D3DUSAGE_RENDERTARGET))
    return Refused(D3DERR_INVALIDCALL, __func__, "the surface is not a render target");
  // Setting a render target resets the viewport to cover it, as Direct3D 9 does.
  D3DVIEWPORT9 vp{0, 0, s->desc.Width, s->desc.Height, 0.0f, 1.0f};
  if (std::memcmp(&vp, &state_.viewport, sizeof vp) != 0) {
    state_.viewport = vp;
    Changed(StateKind::Viewport, 0, 0, 0);
  }
  // ... and the scissor rectangle.
  RECT scissor{0, 0, LONG(s->desc.Width), LONG(s->desc.Height)};
  if (std::memcmp(&scissor, &state_.scissor, sizeof scissor) != 0) {
    state_.scissor = scissor;
    Changed(StateKind::Scissor, 0, 0, 0);
  }
  if (state_.renderTarget == s) return Unchanged();
  state_.renderTarget = s;
  Changed(StateKind::RenderTarget, 0, 0, DWORD(s->serial));
  return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, std::shared_ptr<IDirect3DSurface9>& surface) {
  surface.reset();
  if (index != 0) return Refused(D3DERR_NOTFOUND, __func__, Why("render target %lu; only 0 exists", static_cast<unsigned long>(index)));
  surface = state_.renderTarget;
  return surface ? D3D_OK : D3DERR_NOTFOUND;
}

HRESULT Device::SetDepthStencilSurface(const std::shared_ptr<IDirect3DSurface9>& surface) {
  auto s = std::dynamic_pointer_cast<Surface>(surface);
  if (surface && (!s || s->kind != Surface::Kind::DepthStencil))
    return Refused(D3DERR_INVALIDCALL, __func__, "the surface is not a depth-stencil surface");
  if (state_.depthStencil == s) return Unchanged();
  state_.depthStencil = s;
  Changed(StateKind::DepthStencil, 0, 0, s ? DWORD(s->serial) : 0);
  return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(std::shared_ptr<IDirect3DSurface9>& surface) {
  surface = state_.depthStencil;
  return surface ? D3D_OK : D3DERR_NOTFOUND;
}

// States kept as plain structures: stored unless unchanged, handed back as stored.
template <class T>
HRESULT Device::SetPlain(const char* call, const char* name, const T* value, T& slot, StateKind kind, DWORD type) {
  if (!value) return Refused(D3DERR_INVALIDCALL, call, std::string(name) + " is null");
  if (std::memcmp(value, &slot, sizeof *value) == 0) return Unchanged();
  slot = *value;
  Changed(kind, 0, type, 0);
  return D3D_OK;
}

template <class T>
static HRESULT GetPlain(const char* call, const char* name, const T& slot, T* out) {
  if (!out) return Refused(D3DERR_INVALIDCALL, call, std::string(name) + " is null");
  *out = slot;
  return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* vp) {
  if (!vp) return Refused(D3DERR_INVALIDCALL, __func__, "viewport is null");
  if (!state_.renderTarget) return Refused(D3DERR_INVALIDCALL, __func__, "no render target is set");
  const auto& rt = static_cast<Surface*>(state_.renderTarget.get())->desc;
  if (vp->Width == 0 || vp->Height == 0 || vp->X + vp->Width > rt.Width || vp->Y + vp->Height > rt.Height ||
      !(vp->MinZ >= 0.0f && vp->MinZ <= 1.0f && vp->MaxZ >= 0.0f && vp->MaxZ <= 1.0f))
    return Refused(D3DERR_INVALIDCALL, __func__,
                   Why("viewport %u,%u %ux%u depth %g..%g leaves the %ux%u render target", vp->X, vp->Y, vp->Width,
                       vp->Height, vp->MinZ, vp->MaxZ, rt.Width, rt.Height));
  return SetPlain(__func__, "viewport", vp, state_.viewport, StateKind::Viewport);
}

HRESULT Device::GetViewport(D3DVIEWPORT9* vp) { return GetPlain(__func__, "viewport", state_.viewport, vp); }

HRESULT Device::SetScissorRect(const RECT* rect) {
  return SetPlain(__func__, "rectangle", rect, state_.scissor, StateKind::Scissor);
}

HRESULT Device::GetScissorRect(RECT* rect) { return GetPlain(__func__, "rectangle", state_.scissor, rect); }

// ---------------------------------------------------------------------------
// Fixed-function state

static D3DMATRIX* TransformSlot(DeviceState& s, D3DTRANSFORMSTATETYPE t) {
  switch (t) {
    case D3DTS_WORLD: return &s.world;
    case D3DTS_VIEW: return &s.view;
    case D3DTS_PROJECTION: return &s.projection;
    default:
      if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) return &s.textureTransform[t - D3DTS_TEXTURE0];
      return nullptr;
  }
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX* m) {
  D3DMATRIX* slot = TransformSlot(state_, t);
  if (!slot) return Refused(D3DERR_INVALIDCALL, __func__, Why("transform %u is not one this layer keeps", unsigned(t)));
  return SetPlain(__func__, "matrix", m, *slot, StateKind::Transform, t);
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE t, D3DMATRIX* m) {
  D3DMATRIX* slot = TransformSlot(state_, t);
  if (!slot) return Refused(D3DERR_INVALIDCALL, __func__, Why("transform %u is not one this layer keeps", unsigned(t)));
  return GetPlain(__func__, "matrix", *slot, m);
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material) {
  return SetPlain(__func__, "material", material, state_.material, StateKind::Material);
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material) {
  return GetPlain(__func__, "material", state_.material, material);
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
  if (!light) return Refused(D3DERR_INVALIDCALL, __func__, "light is null");
  if (HRESULT hr = CheckLightIndex(__func__, index, nullptr); FAILED(hr)) return hr;
  if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
    return Refused(D3DERR_INVALIDCALL, __func__, "unknown light type");
  if (state_.lightSet[index] && std::memcmp(light, &state_.lights[index], sizeof *light) == 0)
    return Unchanged();
  state_.lights[index] = *light;
  state_.lightSet[index] = true;
  Changed(StateKind::Light, index, 0, 0);
  return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
  if (!light) return Refused(D3DERR_INVALIDCALL, __func__, "light is null");
  if (HRESULT hr = CheckLightIndex(__func__, index, &state_.lightSet); FAILED(hr)) return hr;
  *light = state_.lights[index];
  return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
  if (HRESULT hr = CheckLightIndex(__func__, index, nullptr); FAILED(hr)) return hr;
  if (!state_.lightSet[index]) {
    // Enabling a light never set gives it the default light: white directional along +Z.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    light.Direction = {0.0f, 0.0f, 1.0f};
    state_.lights[index] = light;
    state_.lightSet[index] = true;
    Changed(StateKind::Light, index, 0, 0);
  }
  bool on = enable != 0;
  if (state_.lightEnabled[index] == on) return Unchanged();
  state_.lightEnabled[index] = on;
  Changed(StateKind::LightEnable, index, 0, on);
  return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
  if (!enable) return Refused(D3DERR_INVALIDCALL, __func__, "enable is null");
  if (HRESULT hr = CheckLightIndex(__func__, index, &state_.lightSet); FAILED(hr)) return hr;
  *enable = state_.lightEnabled[index] ? 128 : 0;  // Direct3D 9 reports TRUE as 128
  return D3D_OK;
}

// Render states the device keeps (Get... returns them) but that change nothing drawn: said once
// each, the first time one takes a value other than its default.
static void ReportIgnoredRenderState(DWORD state, DWORD value) {
  const char* name = nullptr;
  switch (state) {
    case D3DRS_CLIPPLANEENABLE: name = "D3DRS_CLIPPLANEENABLE (user clip planes)"; break;
    case D3DRS_VERTEXBLEND: name = "D3DRS_VERTEXBLEND (vertex blending)"; break;
    case D3DRS_POINTSPRITEENABLE: name = "D3DRS_POINTSPRITEENABLE (point sprites)"; break;
    case D3DRS_POINTSCALEENABLE: name = "D3DRS_POINTSCALEENABLE (point scaling)"; break;
    case D3DRS_SRGBWRITEENABLE: name = "D3DRS_SRGBWRITEENABLE (sRGB writes)"; break;
    case D3DRS_DEPTHBIAS: name = "D3DRS_DEPTHBIAS"; break;
    case D3DRS_SLOPESCALEDEPTHBIAS: name = "D3DRS_SLOPESCALEDEPTHBIAS"; break;
    case D3DRS_WRAP0: case D3DRS_WRAP1: case D3DRS_WRAP2: case D3DRS_WRAP3:
    case D3DRS_WRAP4: case D3DRS_WRAP5: case D3DRS_WRAP6: case D3DRS_WRAP7:
      name = "D3DRS_WRAP0..7 (coordinate wrapping)";
      break;
    default: return;
  }
  if (value != 0) ReportOnce(Why("render state %s is kept but not drawn; it has no effect", name));
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE s, DWORD value) {
  if (DWORD(s) >= GX_RENDERSTATE_COUNT)
    return Refused(D3DERR_INVALIDCALL, __func__, "render state number out of range");
  if (state_.render[s] == value) return Unchanged();
  ReportIgnoredRenderState(s, value);
  state_.render[s] = value;
  Changed(StateKind::Render, 0, s, value);
  return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE s, DWORD* value) {
  if (DWORD(s) >= GX_RENDERSTATE_COUNT)
    return Refused(D3DERR_INVALIDCALL, __func__, Why("render state %u is out of range", unsigned(s)));
  if (!value) return Refused(D3DERR_INVALIDCALL, __func__, "value is null");
  *value = state_.render[s];
  return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, const std::shared_ptr<IDirect3DBaseTexture9>& texture) {
  if (stage >= kMaxStages) return Refused(D3DERR_INVALIDCALL, __func__, "stage number out of range");
  if (texture && !CoreOf(texture.get())) return Refused(D3DERR_INVALIDCALL, __func__, "not a texture of this layer");
  if (state_.textures[stage] == texture) return Unchanged();
  state_.textures[stage] = texture;
  Changed(StateKind::Texture, stage, 0, texture ? DWORD(CoreOf(texture.get())->store.serial) : 0);
  return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, std::shared_ptr<IDirect3DBaseTexture9>& texture) {
  texture.reset();
  if (stage >= kMaxStages) return Refused(D3DERR_INVALIDCALL, __func__, "stage number out of range");
  texture = state_.textures[stage];
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  return SetPerStage(__func__, StateKind::Stage, state_.stage, stage, type, value);
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  return GetPerStage(__func__, StateKind::Stage, state_.stage, stage, type, value);
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  return SetPerStage(__func__, StateKind::Sampler, state_.sampler, sampler, type, value);
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  return GetPerStage(__func__, StateKind::Sampler, state_.sampler, sampler, type, value);
}

// ---------------------------------------------------------------------------
// Shaders

static bool ReadSource(const DWORD* function, std::string& out) {
  if (!function) return false;
  // The buffer is NUL-terminated GLSL; refuse anything absurdly long rather
  // than walking through memory looking for the end.
  const char* text = reinterpret_cast<const char*>(function);
  size_t n = strnlen(text, 1u << 20);
  if (n == 0 || n == (1u << 20)) return false;
  out.assign(text, n);
  return true;
}

// Both stages are made the same way: the source is checked and the backend builds the shader.
template <class Object, class Interface>
HRESULT Device::CreateShader(const char* call, const DWORD* function, bool pixel, std::shared_ptr<Interface>& shader) {
  shader.reset();
  ShaderStore store;
  store.pixel = pixel;
  if (!ReadSource(function, store.source))
    return Refused(D3DERR_INVALIDCALL, call,
                   "the code is not a NUL-terminated GLSL text (or is empty or over 1 MiB)");
  if (FailResource()) return Refused(D3DERR_OUTOFVIDEOMEMORY, call, "injected fault (failCreateResource)");
  auto s = std::make_shared<Object>(weak_from_this(), std::move(store));
  HRESULT hr = backend_->CreateShader(s->store);
  if (FAILED(hr)) return hr;
  shader = s;
  return D3D_OK;
}

template <class T>
HRESULT Device::SetShaderConstant(const char* call, ShaderStageIndex stage, const char* name, const T* values,
                                  UINT count) {
  if (!name || !*name) return Refused(D3DERR_INVALIDCALL, call, "constant without a name");
  if (!values || count == 0) return Refused(D3DERR_INVALIDCALL, call, Why("constant \"%s\" without values", name));
  ShaderConstants& constants = state_.constants[stage];
  bool changed;
  if constexpr (std::is_same_v<T, int>)
    changed = constants.SetInts(name, values, count);
  else
    changed = constants.SetFloats(name, values, count);
  if (!changed) return Unchanged();
  Changed(StateKind::ShaderConstant, DWORD(stage), 0, count);
  return D3D_OK;
}

HRESULT Device::GxSetVertexShaderConstantF(const char* name, const float* values, UINT count) {
  return SetShaderConstant(__func__, kVertexStage, name, values, count);
}
HRESULT Device::GxSetVertexShaderConstantI(const char* name, const int* values, UINT count) {
  return SetShaderConstant(__func__, kVertexStage, name, values, count);
}
HRESULT Device::GxSetPixelShaderConstantF(const char* name, const float* values, UINT count) {
  return SetShaderConstant(__func__, kPixelStage, name, values, count);
}
HRESULT Device::GxSetPixelShaderConstantI(const char* name, const int* values, UINT count) {
  return SetShaderConstant(__func__, kPixelStage, name, values, count);
}

template <class Object, class Interface>
HRESULT Device::SetShader(const char* call, const std::shared_ptr<Interface>& shader, std::shared_ptr<Interface>& slot,
                          StateKind kind) {
  if (shader && !std::dynamic_pointer_cast<Object>(shader))
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("not a %s shader of this layer", kind == StateKind::PixelShader ? "pixel" : "vertex"));
  if (slot == shader) return Unchanged();
  slot = shader;
  Changed(kind, 0, 0, 0);
  return D3D_OK;
}

HRESULT Device::CreateVertexShader(const DWORD* function, std::shared_ptr<IDirect3DVertexShader9>& shader) {
  return CreateShader<VertexShader>(__func__, function, false, shader);
}

HRESULT Device::SetVertexShader(const std::shared_ptr<IDirect3DVertexShader9>& shader) {
  return SetShader<VertexShader>(__func__, shader, state_.vertexShader, StateKind::VertexShader);
}

HRESULT Device::GetVertexShader(std::shared_ptr<IDirect3DVertexShader9>& shader) {
  shader = state_.vertexShader;
  return D3D_OK;
}

HRESULT Device::CreatePixelShader(const DWORD* function, std::shared_ptr<IDirect3DPixelShader9>& shader) {
  return CreateShader<PixelShader>(__func__, function, true, shader);
}

HRESULT Device::SetPixelShader(const std::shared_ptr<IDirect3DPixelShader9>& shader) {
  return SetShader<PixelShader>(__func__, shader, state_.pixelShader, StateKind::PixelShader);
}

HRESULT Device::GetPixelShader(std::shared_ptr<IDirect3DPixelShader9>& shader) {
  shader = state_.pixelShader;
  return D3D_OK;
}

// ---------------------------------------------------------------------------
// Vertex input and drawing

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) {
  declaration.reset();
  if (!elements) return Refused(D3DERR_INVALIDCALL, __func__, "elements is null");
  DWORD fvf = 0;
  UINT count = 0;
  std::string why;
  if (!FvfOfDeclaration(elements, fvf, count, why))
    return Refused(D3DERR_INVALIDCALL, __func__, "only declarations a flexible vertex format can describe: " + why);
  declaration = std::make_shared<VertexDeclaration>(weak_from_this(), elements, count, fvf);
  return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(const std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) {
  auto* d = dynamic_cast<VertexDeclaration*>(declaration.get());
  if (declaration && !d) return Refused(D3DERR_INVALIDCALL, __func__, "not a vertex declaration of this layer");
  return UseFvf(d ? d->fvf : 0, declaration);
}

HRESULT Device::GetVertexDeclaration(std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) {
  declaration = state_.declaration;
  return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) { return UseFvf(fvf, nullptr); }

HRESULT Device::UseFvf(DWORD fvf, const std::shared_ptr<IDirect3DVertexDeclaration9>& declaration) {
  state_.declaration = declaration;
  if (state_.fvf == fvf) return Unchanged();
  state_.fvf = fvf;
  Changed(StateKind::Fvf, 0, 0, fvf);
  return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
  if (!fvf) return Refused(D3DERR_INVALIDCALL, __func__, "fvf is null");
  *fvf = state_.fvf;
  return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, const std::shared_ptr<IDirect3DVertexBuffer9>& buffer, UINT offset,
                                UINT stride) {
  if (stream != 0) return buffer ? D3DERR_INVALIDCALL : D3D_OK;  // one stream is all the program uses
  if (buffer && !std::dynamic_pointer_cast<VertexBuffer>(buffer))
    return Refused(D3DERR_INVALIDCALL, __func__, "not a vertex buffer of this layer");
  if (state_.streamBuffer == buffer && state_.streamOffset == offset && state_.streamStride == stride)
    return Unchanged();
  state_.streamBuffer = buffer;
  state_.streamOffset = offset;
  state_.streamStride = stride;
  Changed(StateKind::Stream, 0, 0, 0);
  return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, std::shared_ptr<IDirect3DVertexBuffer9>& buffer, UINT* offset,
                                UINT* stride) {
  if (stream != 0) return Refused(D3DERR_INVALIDCALL, __func__, Why("stream %u; only stream 0 exists", stream));
  if (!offset || !stride) return Refused(D3DERR_INVALIDCALL, __func__, "offset or stride is null");
  buffer = state_.streamBuffer;
  *offset = state_.streamOffset;
  *stride = state_.streamStride;
  return D3D_OK;
}

HRESULT Device::SetIndices(const std::shared_ptr<IDirect3DIndexBuffer9>& buffer) {
  if (buffer && !std::dynamic_pointer_cast<IndexBuffer>(buffer))
    return Refused(D3DERR_INVALIDCALL, __func__, "not an index buffer of this layer");
  if (state_.indices == buffer) return Unchanged();
  state_.indices = buffer;
  Changed(StateKind::Indices, 0, 0, 0);
  return D3D_OK;
}

HRESULT Device::GetIndices(std::shared_ptr<IDirect3DIndexBuffer9>& buffer) {
  buffer = state_.indices;
  return D3D_OK;
}

// The one check every draw call goes through. What Direct3D 9 itself refuses, and whatever would
// let a draw read outside memory the layer knows the size of, is always checked. The index scan
// of a user-pointer draw is what Direct3D's debug runtime adds: it runs with debug output on.
HRESULT Device::CheckDraw(const char* call, const DrawCall& d) const {
  // As in Direct3D 9, nothing is drawn outside BeginScene / EndScene.
  if (!inScene_) return Refused(D3DERR_INVALIDCALL, call, "outside BeginScene/EndScene");
  if (VertexCountOf(d.type, 1) == 0) return Refused(D3DERR_INVALIDCALL, call, "unknown primitive type");
  if (d.primitiveCount > (1u << 24)) return Refused(D3DERR_INVALIDCALL, call, "more than 2^24 primitives");
  if (!state_.vertexShader && LayoutOf(state_.fvf).position < 0)
    return Refused(D3DERR_INVALIDCALL, call, "the FVF in force has no position and no vertex shader is set");
  switch (d.kind) {
    case DrawRecord::Kind::Primitive: return CheckStreamDraw(call, d);
    case DrawRecord::Kind::IndexedPrimitive: return CheckIndexedStreamDraw(call, d);
    case DrawRecord::Kind::PrimitiveUP:
      if (!d.userVertices || d.userStride == 0)
        return Refused(D3DERR_INVALIDCALL, call, "no vertices or a zero stride");
      return D3D_OK;
    case DrawRecord::Kind::IndexedPrimitiveUP: return CheckUserIndexedDraw(call, d);
  }
  return D3D_OK;
}

HRESULT Device::CheckStreamDraw(const char* call, const DrawCall& d) const {
  auto* vb = static_cast<VertexBuffer*>(state_.streamBuffer.get());
  if (!vb || state_.streamStride == 0) return Refused(D3DERR_INVALIDCALL, call, "no vertex buffer on stream 0");
  // Never let a draw read past the end of its vertex buffer.
  std::uint64_t end =
      std::uint64_t(state_.streamOffset) + (std::uint64_t(d.startVertex) + d.vertexCount) * state_.streamStride;
  if (end > vb->store.data.size())
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("reads vertex bytes up to %llu of a %zu-byte vertex buffer", (unsigned long long)end,
                       vb->store.data.size()));
  return D3D_OK;
}

HRESULT Device::CheckIndexedStreamDraw(const char* call, const DrawCall& d) const {
  auto* vb = static_cast<VertexBuffer*>(state_.streamBuffer.get());
  auto* ib = static_cast<IndexBuffer*>(state_.indices.get());
  if (!vb || !ib || state_.streamStride == 0)
    return Refused(D3DERR_INVALIDCALL, call, "no vertex buffer on stream 0 or no index buffer set");
  auto& store = ib->store;
  if ((std::uint64_t(d.startIndex) + d.vertexCount) * 2 > store.data.size())
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("reads indexes %u..%u of a %zu-index buffer", d.startIndex, d.startIndex + d.vertexCount - 1,
                       store.data.size() / 2));
  // Every index must name a vertex inside the buffer; GL would otherwise read whatever lies
  // behind it. The range of the whole buffer, kept until the buffer changes, settles it for
  // almost every draw; only a draw near the limits looks at the indexes it reads.
  std::int64_t vertices = (std::int64_t(vb->store.data.size()) - state_.streamOffset) / state_.streamStride;
  const auto* all = reinterpret_cast<const std::uint16_t*>(store.data.data());
  if (store.indexRangeVersion != store.version) {
    auto [lo, hi] = std::minmax_element(all, all + store.data.size() / 2);
    store.lowestIndex = *lo, store.highestIndex = *hi;
    store.indexRangeVersion = store.version;
  }
  if (d.vertexCount == 0 || (d.baseVertex + std::int64_t(store.highestIndex) < vertices &&
                             d.baseVertex + std::int64_t(store.lowestIndex) >= 0))
    return D3D_OK;
  auto [lo, hi] = std::minmax_element(all + d.startIndex, all + d.startIndex + d.vertexCount);
  if (d.baseVertex + std::int64_t(*hi) >= vertices || d.baseVertex + std::int64_t(*lo) < 0)
    return Refused(D3DERR_INVALIDCALL, call,
                   Why("indexes %lld..%lld plus base vertex %d leave the %lld vertices of the vertex buffer",
                       (long long)*lo, (long long)*hi, d.baseVertex, (long long)vertices));
  return D3D_OK;
}

HRESULT Device::CheckUserIndexedDraw(const char* call, const DrawCall& d) const {
  if (!d.userVertices || !d.userIndices || d.userStride == 0 || d.userIndexFormat != D3DFMT_INDEX16)
    return Refused(D3DERR_INVALIDCALL, call, "no vertices or indexes, a zero stride, or indexes that are not 16-bit");
  if (!DebugOutput()) return D3D_OK;
  const auto* idx = static_cast<const std::uint16_t*>(d.userIndices);
  for (UINT i = 0; i < d.vertexCount; ++i)
    if (idx[i] < d.minIndex || idx[i] >= d.minIndex + d.numVertices)
      return Refused(D3DERR_INVALIDCALL, call,
                     Why("index %u lies outside the vertex range %u..%u", unsigned(idx[i]), d.minIndex,
                         d.minIndex + d.numVertices - 1));
  return D3D_OK;
}

// Hands a checked draw to the backend; a draw of no primitives succeeds and draws nothing.
HRESULT Device::SubmitDraw(const DrawCall& d) {
  if (d.primitiveCount == 0) return D3D_OK;
  ++stats_.draws;
  return backend_->Draw(state_, d);
}

static DrawCall MakeDrawCall(DrawRecord::Kind kind, D3DPRIMITIVETYPE type, UINT primitiveCount) {
  DrawCall d;
  d.kind = kind;
  d.type = type;
  d.primitiveCount = primitiveCount;
  d.vertexCount = VertexCountOf(type, primitiveCount);
  return d;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
  DrawCall d = MakeDrawCall(DrawRecord::Kind::Primitive, type, primitiveCount);
  d.startVertex = startVertex;
  if (HRESULT hr = CheckDraw(__func__, d); FAILED(hr)) return hr;
  return SubmitDraw(d);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                     UINT startIndex, UINT primitiveCount) {
  DrawCall d = MakeDrawCall(DrawRecord::Kind::IndexedPrimitive, type, primitiveCount);
  d.baseVertex = baseVertex;
  d.minIndex = minIndex;
  d.numVertices = numVertices;
  d.startIndex = startIndex;
  if (HRESULT hr = CheckDraw(__func__, d); FAILED(hr)) return hr;
  return SubmitDraw(d);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) {
  DrawCall d = MakeDrawCall(DrawRecord::Kind::PrimitiveUP, type, primitiveCount);
  d.userVertices = data;
  d.userStride = stride;
  if (HRESULT hr = CheckDraw(__func__, d); FAILED(hr)) return hr;
  HRESULT hr = SubmitDraw(d);
  // The user-pointer calls leave stream 0 unset.
  SetStreamSource(0, nullptr, 0, 0);
  return hr;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT primitiveCount,
                                       const void* indexData, D3DFORMAT indexFormat, const void* data, UINT stride) {
  DrawCall d = MakeDrawCall(DrawRecord::Kind::IndexedPrimitiveUP, type, primitiveCount);
  d.minIndex = minIndex;
  d.numVertices = numVertices;
  d.userVertices = data;
  d.userStride = stride;
  d.userIndices = indexData;
  d.userIndexFormat = indexFormat;
  if (HRESULT hr = CheckDraw(__func__, d); FAILED(hr)) return hr;
  HRESULT hr = SubmitDraw(d);
  SetStreamSource(0, nullptr, 0, 0);
  SetIndices(nullptr);
  return hr;
}

}  // namespace gx
