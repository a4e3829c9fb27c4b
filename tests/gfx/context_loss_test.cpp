// A lost graphics context on the gl backend: the device reports itself lost as Direct3D 9 does,
// and after Reset a managed texture, a vertex buffer and a render target draw the picture they
// drew before. Natively the loss is simulated: the context comes back as a fresh one, in which
// every name held before means nothing or another object.

#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

// A 2x2 managed texture of four colours, a managed vertex buffer holding a square, and a
// default-pool render target.
struct Resources {
  std::shared_ptr<IDirect3DTexture9> texture;
  std::shared_ptr<IDirect3DVertexBuffer9> square;
  std::shared_ptr<IDirect3DTexture9> target;

  explicit Resources(IDirect3DDevice9* d) {
    EXPECT_EQ(D3D_OK, d->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture, nullptr));
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(D3D_OK, texture->LockRect(0, &lr, nullptr, 0));
    const D3DCOLOR texels[2][2] = {{0xFFFF0000, 0xFF00FF00}, {0xFF0000FF, 0xFFFFFFFF}};
    for (int y = 0; y < 2; ++y) std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch, texels[y], 8);
    texture->UnlockRect(0);

    const ScreenVertex v[4] = {{4, 4, 0.5f, 1, 0xFFFFFF00}, {12, 4, 0.5f, 1, 0xFFFFFF00},
                               {4, 12, 0.5f, 1, 0xFFFFFF00}, {12, 12, 0.5f, 1, 0xFFFFFF00}};
    EXPECT_EQ(D3D_OK, d->CreateVertexBuffer(sizeof v, 0, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, square,
                                            nullptr));
    void* data = nullptr;
    EXPECT_EQ(D3D_OK, square->Lock(0, sizeof v, &data, 0));
    std::memcpy(data, v, sizeof v);
    square->Unlock();
    MakeTarget(d);
  }

  void MakeTarget(IDirect3DDevice9* d) {
    EXPECT_EQ(D3D_OK, d->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, target,
                                       nullptr));
  }
};

// The square from the vertex buffer goes into the render target over blue; the back buffer
// shows the texture on its left half and the render target on its right half.
HRESULT DrawFrame(IDirect3DDevice9* d, Resources& r) {
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  std::shared_ptr<IDirect3DSurface9> backBuffer, level;
  EXPECT_EQ(D3D_OK, d->GetRenderTarget(0, backBuffer));
  EXPECT_EQ(D3D_OK, r.target->GetSurfaceLevel(0, level));
  d->BeginScene();
  d->SetRenderTarget(0, level);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
  d->SetTexture(0, nullptr);
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  d->SetStreamSource(0, r.square, 0, sizeof(ScreenVertex));
  EXPECT_EQ(D3D_OK, d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2));
  d->SetRenderTarget(0, backBuffer);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  d->SetTexture(0, r.texture);
  DrawTexturedRect(d, 0, 0, 32, 64);
  d->SetTexture(0, r.target);
  DrawTexturedRect(d, 32, 0, 64, 64);
  d->SetTexture(0, nullptr);
  d->SetStreamSource(0, nullptr, 0, 0);
  d->EndScene();
  return d->Present(nullptr, nullptr, nullptr, nullptr);
}

std::vector<std::uint8_t> Pixels(IDirect3DDevice9* d) {
  std::vector<std::uint8_t> rgba;
  UINT w = 0, h = 0;
  EXPECT_EQ(D3D_OK, gx::GxReadBackBuffer(d, rgba, w, h));
  return rgba;
}

void ExpectTheFrame(IDirect3DDevice9* d) {
  Picture p(d);
  ExpectNear(p.At(8, 8), {255, 0, 0, 255}, 0, "the texture's top left");
  ExpectNear(p.At(24, 56), {255, 255, 255, 255}, 0, "the texture's bottom right");
  ExpectNear(p.At(60, 60), {0, 0, 255, 255}, 0, "the render target's background");
  ExpectNear(p.At(48, 16), {255, 255, 0, 255}, 0, "the square from the vertex buffer");
}

class ContextLoss : public ScreenDrawingTest {
 protected:
  void TearDown() override { gx::ClearFaults(); }

  // Loses the context after a first frame, checks the device reports it as Direct3D 9 does,
  // and brings the context back (not yet the device).
  void LoseAndRestore() {
    gx::GxContextLost(d);
    EXPECT_EQ(D3DERR_DEVICELOST, d->TestCooperativeLevel());
    EXPECT_EQ(D3DERR_DEVICELOST, d->Present(nullptr, nullptr, nullptr, nullptr));
    D3DPRESENT_PARAMETERS pp = TestParams();
    EXPECT_EQ(D3DERR_DEVICELOST, d->Reset(&pp)) << "no Reset while the context is away";
    ASSERT_EQ(D3D_OK, gx::GxContextRestored(d));
    EXPECT_EQ(D3DERR_DEVICENOTRESET, d->TestCooperativeLevel());
    EXPECT_EQ(D3DERR_DEVICELOST, d->Present(nullptr, nullptr, nullptr, nullptr)) << "nothing shown before Reset";
  }

  void Reset() {
    D3DPRESENT_PARAMETERS pp = TestParams();
    ASSERT_EQ(D3D_OK, d->Reset(&pp));
    EXPECT_EQ(D3D_OK, d->TestCooperativeLevel());
  }
};

}  // namespace

TEST_F(ContextLoss, TexturesBuffersAndRenderTargetsDrawThePictureOfBefore) {
  Resources r(d);
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  ExpectTheFrame(d);
  const auto before = Pixels(d);

  LoseAndRestore();
  // As Direct3D 9 asks: default-pool resources go before Reset and are made again after it.
  r.target.reset();
  Reset();
  r.MakeTarget(d);
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  EXPECT_EQ(before, Pixels(d));

  // Again, the render target kept: it comes back (transparent black) and is drawn into again.
  LoseAndRestore();
  Reset();
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  EXPECT_EQ(before, Pixels(d));
  // Objects of the old context that go now must not delete what their old names mean in the
  // new one: a second set of resources, made after the reset, still draws.
  Resources fresh(d);
  r = Resources(d);
  ASSERT_EQ(D3D_OK, DrawFrame(d, fresh));
  EXPECT_EQ(before, Pixels(d));
}

TEST_F(ContextLoss, ResourcesMadeOrChangedWhileLostDrawAfterTheReset) {
  Resources r(d);
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  const auto before = Pixels(d);

  gx::GxContextLost(d);
  // A frame while lost draws nothing and fails only at Present.
  EXPECT_EQ(D3DERR_DEVICELOST, DrawFrame(d, r));
  Resources madeWhileLost(d);
  // A change to the square while lost reaches the GPU after the reset.
  ScreenVertex* v = nullptr;
  ASSERT_EQ(D3D_OK, r.square->Lock(0, 0, reinterpret_cast<void**>(&v), 0));
  for (int i = 0; i < 4; ++i) v[i].color = 0xFF00FFFF;
  r.square->Unlock();
  ASSERT_EQ(D3D_OK, gx::GxContextRestored(d));
  Reset();

  ASSERT_EQ(D3D_OK, DrawFrame(d, madeWhileLost));
  EXPECT_EQ(before, Pixels(d));
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  ExpectNear(Picture(d).At(48, 16), {0, 255, 255, 255}, 0, "the square changed while lost");
}

TEST_F(ContextLoss, InjectedFaultsStillApplyAroundIt) {
  Resources r(d);
  auto& f = gx::InjectedFaults();
  f.failReset = 1;
  gx::GxContextLost(d);
  ASSERT_EQ(D3D_OK, gx::GxContextRestored(d));
  D3DPRESENT_PARAMETERS pp = TestParams();
  EXPECT_EQ(D3DERR_DEVICELOST, d->Reset(&pp));  // the injected failure comes first
  Reset();
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  ExpectTheFrame(d);

  // An injected loss still takes the plain path: NOTRESET at once and a Reset that keeps the
  // context (and every object) as it is.
  f.presentDeviceLost = 1;
  EXPECT_EQ(D3DERR_DEVICELOST, DrawFrame(d, r));
  EXPECT_EQ(D3DERR_DEVICENOTRESET, d->TestCooperativeLevel());
  Reset();
  ASSERT_EQ(D3D_OK, DrawFrame(d, r));
  ExpectTheFrame(d);
}

TEST_F(ContextLoss, TheResetAfterItKeepsWhatTheProgramSetAndAPlainResetDoesNot) {
  Resources r(d);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetTexture(1, r.texture);
  gx::GxContextLost(d);
  ASSERT_EQ(D3D_OK, gx::GxContextRestored(d));
  Reset();
  DWORD lighting = TRUE;
  d->GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(lighting, DWORD(FALSE));
  std::shared_ptr<IDirect3DBaseTexture9> bound;
  d->GetTexture(1, bound);
  EXPECT_EQ(bound.get(), static_cast<IDirect3DBaseTexture9*>(r.texture.get()));
  std::shared_ptr<IDirect3DSurface9> back, current;
  ASSERT_EQ(D3D_OK, d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back));
  ASSERT_EQ(D3D_OK, d->GetRenderTarget(0, current));
  EXPECT_EQ(back, current) << "the new back buffer is the render target";

  Reset();  // nothing was lost: Direct3D 9's defaults
  d->GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(lighting, DWORD(TRUE));
  d->GetTexture(1, bound);
  EXPECT_EQ(bound, nullptr);
}
