// The Direct3D object: adapter 0, its modes and formats, and device creation.

#include <cstring>

#include "platform/gfx/backend_impl.h"
#include "platform/gfx/device.h"
#include "platform/gfx/display_modes.h"
#include "platform/gfx/formats.h"

namespace gx {
namespace {

class Direct3D9 final : public IDirect3D9, public std::enable_shared_from_this<Direct3D9> {
 public:
  explicit Direct3D9(BackendKind kind) : kind_(kind) {}

  UINT GetAdapterCount() override { return 1; }

  UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
    if (adapter != 0) return 0;
    UINT n = 0;
    for (const auto& m : DisplayModes()) n += m.Format == format;
    return n;
  }

  HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT index, D3DDISPLAYMODE* mode) override {
    if (adapter != 0 || !mode) return D3DERR_INVALIDCALL;
    for (const auto& m : DisplayModes()) {
      if (m.Format != format) continue;
      if (index-- == 0) {
        *mode = m;
        return D3D_OK;
      }
    }
    return D3DERR_INVALIDCALL;
  }

  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
    if (adapter != 0 || !mode) return D3DERR_INVALIDCALL;
    *mode = DesktopMode();
    return D3D_OK;
  }

  HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                          BOOL) override {
    if (adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (adapterFormat != D3DFMT_X8R8G8B8 && adapterFormat != D3DFMT_R5G6B5 && adapterFormat != D3DFMT_X1R5G5B5)
      return D3DERR_NOTAVAILABLE;
    if (backBufferFormat != D3DFMT_UNKNOWN && !IsTextureFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }

  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT format) override {
    if (adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (adapterFormat != D3DFMT_X8R8G8B8 && adapterFormat != D3DFMT_R5G6B5 && adapterFormat != D3DFMT_X1R5G5B5)
      return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
      if (resourceType != D3DRTYPE_SURFACE && resourceType != D3DRTYPE_TEXTURE) return D3DERR_NOTAVAILABLE;
      for (D3DFORMAT f : InjectedFaults().unsupportedDepthFormats)
        if (f == format) return D3DERR_NOTAVAILABLE;
      return SupportsDepthFormat(kind_, format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (resourceType != D3DRTYPE_TEXTURE && resourceType != D3DRTYPE_CUBETEXTURE && resourceType != D3DRTYPE_SURFACE)
      return D3DERR_NOTAVAILABLE;
    return IsTextureFormat(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
  }

  HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT, BOOL,
                                     D3DMULTISAMPLE_TYPE ms, DWORD* quality) override {
    if (adapter != 0 || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    // Multisampled framebuffers resolved into the back buffer and render targets: 2, 4 and 8
    // samples (a driver that offers fewer gives its most).
    if (quality) *quality = 1;
    const bool offered = ms == D3DMULTISAMPLE_NONE || ms == D3DMULTISAMPLE_2_SAMPLES ||
                         ms == D3DMULTISAMPLE_4_SAMPLES || ms == D3DMULTISAMPLE_8_SAMPLES;
    return offered ? D3D_OK : D3DERR_NOTAVAILABLE;
  }

  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override {
    if (adapter != 0 || type != D3DDEVTYPE_HAL || !caps) return D3DERR_INVALIDCALL;
    if (InjectedFaults().failGetDeviceCaps) return D3DERR_NOTAVAILABLE;
    FillCaps(kind_, *caps);
    return D3D_OK;
  }

  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags, D3DPRESENT_PARAMETERS* params,
                       std::shared_ptr<IDirect3DDevice9>& out) override {
    out.reset();
    if (adapter != 0 || type != D3DDEVTYPE_HAL || !params) return D3DERR_INVALIDCALL;
    if (!(flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                   D3DCREATE_MIXED_VERTEXPROCESSING)))
      return D3DERR_INVALIDCALL;
    auto& faults = InjectedFaults();
    if (faults.failCreateDevice > 0) {
      --faults.failCreateDevice;
      return faults.createDeviceError;
    }
    auto backend = kind_ == BackendKind::Gl ? MakeGlBackend() : MakeRecordingBackend();
    auto device = std::make_shared<Device>(shared_from_this(), kind_, std::move(backend));
    D3DPRESENT_PARAMETERS p = *params;
    HRESULT hr = device->Open(focus, p);
    if (FAILED(hr)) return hr;
    *params = p;  // Direct3D 9 fills in the sizes and format it chose
    out = device;
    return D3D_OK;
  }

 private:
  BackendKind kind_;
};

}  // namespace

void FillCaps(BackendKind kind, D3DCAPS9& c) {
  std::memset(&c, 0, sizeof c);
  c.DeviceType = D3DDEVTYPE_HAL;
  c.AdapterOrdinal = 0;
  c.Caps2 = D3DCAPS2_DYNAMICTEXTURES;
  c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
  c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY | D3DDEVCAPS_TLVERTEXVIDEOMEMORY |
              D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP |
              D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT |
              D3DDEVCAPS_HWRASTERIZATION;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                        D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP;
  c.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_FOGRANGE |
                 D3DPRASTERCAPS_SCISSORTEST;
  c.ZCmpCaps = c.AlphaCmpCaps = 0xFF;  // every comparison
  c.SrcBlendCaps = c.DestBlendCaps = 0x7FF;
  c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND |
                D3DPSHADECAPS_FOGGOURAUD;
  c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                  D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
  c.TextureFilterCaps = c.CubeTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                                                  D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR |
                                                  D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                         D3DPTADDRESSCAPS_BORDER;
  c.MaxTextureWidth = c.MaxTextureHeight = 8192;
  c.MaxTextureRepeat = 8192;
  c.MaxTextureAspectRatio = 8192;
  c.MaxAnisotropy = 1;
  c.MaxVertexW = 1e10f;
  c.GuardBandLeft = c.GuardBandTop = -1e8f;
  c.GuardBandRight = c.GuardBandBottom = 1e8f;
  c.StencilCaps = 0x1FF;
  c.FVFCaps = 8;  // texture coordinate sets
  // Every operation up to LERP but the bump-mapping pair (BUMPENVMAP, BUMPENVMAPLUMINANCE).
  c.TextureOpCaps = 0x03FFFFFF & ~(D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE);
  c.MaxTextureBlendStages = kMaxStages;
  c.MaxSimultaneousTextures = kMaxStages;
  c.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                           D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER | D3DVTXPCAPS_TEXGEN_SPHEREMAP;
  c.MaxActiveLights = kMaxLights;
  c.MaxPointSize = 64.0f;
  c.MaxPrimitiveCount = 0xFFFFFF;
  c.MaxVertexIndex = 0xFFFF;
  c.MaxStreams = 1;
  c.MaxStreamStride = 255;
  // Shaders are GLSL 330 underneath, which does all that model 2.0 did.
  c.VertexShaderVersion = D3DVS_VERSION(2, 0);
  c.MaxVertexShaderConst = 256;
  c.PixelShaderVersion = D3DPS_VERSION(2, 0);
  c.PixelShader1xMaxValue = 8.0f;
  c.NumberOfAdaptersInGroup = 1;
  c.NumSimultaneousRTs = 1;
  c.PS20Caps.NumInstructionSlots = 512;
  c.PS20Caps.NumTemps = 32;
  c.VS20Caps.NumTemps = 32;
  (void)kind;  // both backends promise what the gl backend does
}

bool SupportsDepthFormat(BackendKind kind, D3DFORMAT format) {
  if (kind == BackendKind::Recording) return IsDepthFormat(format);
  // What GL 3.3 core must render to: 16 and 24 bits, 24 with 8 stencil bits.
  return format == D3DFMT_D16 || format == D3DFMT_D24X8 || format == D3DFMT_D24S8;
}

}  // namespace gx

std::shared_ptr<IDirect3D9> Direct3DCreate9(UINT sdkVersion) {
  auto& faults = gx::InjectedFaults();
  if (faults.failDirect3DCreate) return nullptr;
  if ((sdkVersion & 0x7FFFFFFF) != D3D_SDK_VERSION) return nullptr;
  return std::make_shared<gx::Direct3D9>(gx::GetBackendKind());
}
