#include "engine/vokRenderTarget.h"

#include "engine/vokD3D.h"

void SetQuadTexCoords(TScreenQuad& Vertices, float U0, float V0, float U1, float V1) {
  Vertices[0].u = U0;
  Vertices[0].v = V0;
  Vertices[1].u = U1;
  Vertices[1].v = V0;
  Vertices[2].u = U0;
  Vertices[2].v = V1;
  Vertices[3].u = U1;
  Vertices[3].v = V1;
}

void SetQuadRect(TScreenQuad& Vertices, int Left, int Top, int Width, int Height) {
  const float L = static_cast<float>(Left);
  const float T = static_cast<float>(Top);
  const float R = static_cast<float>(Left + Width - 1);
  const float B = static_cast<float>(Top + Height - 1);
  const float X[4] = {L, R, L, R};
  const float Y[4] = {T, T, B, B};
  for (int i = 0; i < 4; ++i) {
    Vertices[i].x = X[i];
    Vertices[i].y = Y[i];
    Vertices[i].z = 0.0f;
    Vertices[i].rhw = 1.0f;
  }
}

namespace {

// The one drawing path of both classes.
HRESULT DrawQuad(IDirect3DDevice9* Device, const LPDIRECT3DTEXTURE9& Texture, const TScreenQuad& Vertices) {
  // Without its texture the quad would come out in the current colour over the whole
  // screen (a white sheet); there is nothing of ours to show, so show nothing.
  if (!Device || !Texture) return D3DERR_INVALIDCALL;
  Device->SetTexture(0, Texture);
  Device->SetFVF(ScreenVertexFVF);
  Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  return Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, Vertices, sizeof(TScreenVertex));
}

}  // namespace

TvokRenderTarget::TvokRenderTarget(TvokD3D* D3D, int Width, int Height)
    : D3D(D3D), Width(Width), Height(Height) {
  D3DSURFACE_DESC Desc{};
  Desc.Format = D3DFMT_X8R8G8B8;  // what a windowed back buffer reports; overwritten below
  D3D->GetBackBufferDesc(Desc);
  if (D3D->Device && Width > 0 && Height > 0) {
    if (FAILED(D3D->Device->CreateTexture(Width, Height, 1, D3DUSAGE_RENDERTARGET, Desc.Format,
                                          D3DPOOL_DEFAULT, Texture, nullptr)))
      Texture.reset();
  }
  SetTexCoords(0, 0, 1, 1);
  SetRect(0, 0, D3D->Width, D3D->Height);
  // Start transparent black; only clear when the texture really became the target, or the
  // clear would hit the back buffer instead.
  if (SUCCEEDED(BeginRender())) D3D->ClearTarget(0x00000000);
  EndRender();
}

TvokRenderTarget::~TvokRenderTarget() {
  Texture.reset();
  Surface.reset();
}

void TvokRenderTarget::SetTexCoords(float U0, float V0, float U1, float V1) {
  SetQuadTexCoords(Vertices, U0, V0, U1, V1);
}

void TvokRenderTarget::SetRect(int Left, int Top, int Width, int Height) {
  SetQuadRect(Vertices, Left, Top, Width, Height);
}

HRESULT TvokRenderTarget::BeginRender() {
  IDirect3DDevice9* Device = D3D->Device.get();
  if (!Device) return D3DERR_INVALIDCALL;
  SavedTarget.reset();
  HRESULT hr = Device->GetRenderTarget(0, SavedTarget);
  if (FAILED(hr)) return hr;
  Surface.reset();
  if (!Texture) return D3DERR_INVALIDCALL;
  hr = Texture->GetSurfaceLevel(0, Surface);
  if (FAILED(hr)) return hr;
  return Device->SetRenderTarget(0, Surface);
}

HRESULT TvokRenderTarget::EndRender() {
  IDirect3DDevice9* Device = D3D->Device.get();
  // Render target 0 can never be nil: without a saved target there is nothing to go back to.
  if (!Device || !SavedTarget) return D3DERR_INVALIDCALL;
  return Device->SetRenderTarget(0, SavedTarget);
}

HRESULT TvokRenderTarget::Draw() { return DrawQuad(D3D->Device.get(), Texture, Vertices); }

TvokScreenPlane::TvokScreenPlane(TvokD3D* D3D, LPDIRECT3DTEXTURE9 Texture) : D3D(D3D), Texture(std::move(Texture)) {
  SetTexCoords(0, 0, 1, 1);
  SetRect(0, 0, D3D->Width, D3D->Height);
}

TvokScreenPlane::~TvokScreenPlane() { Texture.reset(); }

void TvokScreenPlane::SetTexCoords(float U0, float V0, float U1, float V1) {
  SetQuadTexCoords(Vertices, U0, V0, U1, V1);
}

void TvokScreenPlane::SetRect(int Left, int Top, int Width, int Height) {
  SetQuadRect(Vertices, Left, Top, Width, Height);
}

HRESULT TvokScreenPlane::Draw() { return DrawQuad(D3D->Device.get(), Texture, Vertices); }
