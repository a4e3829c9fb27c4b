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

void CoverQuadOverScreen(TScreenQuad& Vertices, int ScreenWidth, int ScreenHeight) {
  const TScreenVertex TopLeft = Vertices[0];
  const TScreenVertex BottomRight = Vertices[3];
  const float NewX[2] = {-0.5f, static_cast<float>(ScreenWidth) - 0.5f};
  const float NewY[2] = {-0.5f, static_cast<float>(ScreenHeight) - 0.5f};
  // Texture coordinate at a screen position on the quad's present mapping (a degenerate quad
  // keeps its one coordinate).
  auto Along = [](float P, float P0, float P1, float T0, float T1) {
    return P1 == P0 ? T0 : T0 + (P - P0) * (T1 - T0) / (P1 - P0);
  };
  for (int i = 0; i < 4; ++i) {
    const int Right = i & 1, Bottom = i >> 1;
    Vertices[i].x = NewX[Right];
    Vertices[i].y = NewY[Bottom];
    Vertices[i].u = Along(NewX[Right], TopLeft.x, BottomRight.x, TopLeft.u, BottomRight.u);
    Vertices[i].v = Along(NewY[Bottom], TopLeft.y, BottomRight.y, TopLeft.v, BottomRight.v);
  }
}

namespace {

// The one drawing path of both classes. ClampEdges draws with the texture clamped at its
// borders (the sampler's own addressing is put back afterwards).
HRESULT DrawQuad(IDirect3DDevice9* Device, const LPDIRECT3DTEXTURE9& Texture, const TScreenQuad& Vertices,
                 bool ClampEdges) {
  // Without its texture the quad would come out in the current colour over the whole
  // screen (a white sheet); there is nothing of ours to show, so show nothing.
  if (!Device || !Texture) return D3DERR_INVALIDCALL;
  Device->SetTexture(0, Texture);
  Device->SetFVF(ScreenVertexFVF);
  Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  if (!ClampEdges) return Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, Vertices, sizeof(TScreenVertex));
  DWORD AddressU = D3DTADDRESS_WRAP, AddressV = D3DTADDRESS_WRAP;
  Device->GetSamplerState(0, D3DSAMP_ADDRESSU, &AddressU);
  Device->GetSamplerState(0, D3DSAMP_ADDRESSV, &AddressV);
  Device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  Device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  const HRESULT Result = Device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, Vertices, sizeof(TScreenVertex));
  Device->SetSamplerState(0, D3DSAMP_ADDRESSU, AddressU);
  Device->SetSamplerState(0, D3DSAMP_ADDRESSV, AddressV);
  return Result;
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

void TvokRenderTarget::CoverScreen() {
  CoverQuadOverScreen(Vertices, D3D->Width, D3D->Height);
  CoversScreen = true;
}

HRESULT TvokRenderTarget::Draw() { return DrawQuad(D3D->Device.get(), Texture, Vertices, CoversScreen); }

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

void TvokScreenPlane::CoverScreen() {
  CoverQuadOverScreen(Vertices, D3D->Width, D3D->Height);
  CoversScreen = true;
}

HRESULT TvokScreenPlane::Draw() { return DrawQuad(D3D->Device.get(), Texture, Vertices, CoversScreen); }
