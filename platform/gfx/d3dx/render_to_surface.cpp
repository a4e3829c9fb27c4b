// ID3DXRenderToSurface: a device scene drawn into a given surface, with the
// previous render target, depth buffer and viewport put back afterwards.

#include "platform/gfx/d3dx/common.h"

namespace {

class RenderToSurface final : public ID3DXRenderToSurface {
 public:
  RenderToSurface(LPDIRECT3DDEVICE9 device, const D3DXRTS_DESC& desc) : device_(std::move(device)), desc_(desc) {}

  HRESULT Init() {
    if (!desc_.DepthStencil) return S_OK;
    return device_->CreateDepthStencilSurface(desc_.Width, desc_.Height, desc_.DepthStencilFormat,
                                              D3DMULTISAMPLE_NONE, 0, TRUE, depth_, nullptr);
  }

  HRESULT GetDevice(LPDIRECT3DDEVICE9& device) override {
    device = device_;
    return S_OK;
  }
  HRESULT GetDesc(D3DXRTS_DESC* desc) override { return d3dx::CopyOut(desc, desc_); }

  HRESULT BeginScene(const LPDIRECT3DSURFACE9& surface, const D3DVIEWPORT9* viewport) override {
    if (begun_ || !surface) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC sd{};
    if (FAILED(surface->GetDesc(&sd))) return D3DERR_INVALIDCALL;
    HRESULT hr = device_->GetRenderTarget(0, savedTarget_);
    if (FAILED(hr)) return hr;
    device_->GetDepthStencilSurface(savedDepth_);
    device_->GetViewport(&savedViewport_);
    hr = device_->SetRenderTarget(0, surface);
    if (FAILED(hr)) {
      Release();
      return hr;
    }
    if (depth_) device_->SetDepthStencilSurface(depth_);
    D3DVIEWPORT9 vp{0, 0, sd.Width, sd.Height, 0.0f, 1.0f};
    device_->SetViewport(viewport ? viewport : &vp);
    hr = device_->BeginScene();
    if (FAILED(hr)) {
      PutBack();
      return hr;
    }
    begun_ = true;
    return S_OK;
  }

  HRESULT EndScene(DWORD mipFilter) override {
    if (!begun_) return D3DERR_INVALIDCALL;
    begun_ = false;
    const HRESULT hr = device_->EndScene();
    PutBack();
    return hr;
  }

  HRESULT OnLostDevice() override {
    if (begun_) EndScene(D3DX_FILTER_NONE);
    depth_.reset();
    return S_OK;
  }
  HRESULT OnResetDevice() override { return depth_ ? S_OK : Init(); }

 private:
  void PutBack() {
    device_->SetRenderTarget(0, savedTarget_);
    if (depth_) device_->SetDepthStencilSurface(savedDepth_);
    device_->SetViewport(&savedViewport_);
    Release();
  }
  void Release() {
    savedTarget_.reset();
    savedDepth_.reset();
  }

  LPDIRECT3DDEVICE9 device_;
  D3DXRTS_DESC desc_;
  LPDIRECT3DSURFACE9 depth_;
  LPDIRECT3DSURFACE9 savedTarget_, savedDepth_;
  D3DVIEWPORT9 savedViewport_{};
  bool begun_ = false;
};

}  // namespace

HRESULT D3DXCreateRenderToSurface(const LPDIRECT3DDEVICE9& device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat,
                                  LPD3DXRENDERTOSURFACE& renderToSurface) {
  renderToSurface.reset();
  if (!device || width == 0 || height == 0) return D3DERR_INVALIDCALL;
  auto rts = std::make_shared<RenderToSurface>(
      device, D3DXRTS_DESC{width, height, format, depthStencil, depthStencilFormat});
  const HRESULT hr = rts->Init();
  if (FAILED(hr)) return hr;
  renderToSurface = std::move(rts);
  return S_OK;
}
