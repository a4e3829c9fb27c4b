// The Direct3D object and the failure paths the recording backend can be told
// to take: creation, depth-format probes, scenes, device loss and Reset, locks.

#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    gx::ClearFaults();
    os::SetHeadless(true);
    gx::SetBackendKind(gx::BackendKind::Recording);
  }
  void TearDown() override {
    gx::ClearFaults();
    gx::GxResetDisplayModes();
  }
};

TEST_F(Faults, Direct3DCreateCanFailAndChecksTheVersion) {
  EXPECT_TRUE(Direct3DCreate9(0x80000020u));  // what the program passes: 32 with the top bit
  EXPECT_FALSE(Direct3DCreate9(31));
  gx::InjectedFaults().failDirect3DCreate = true;
  EXPECT_FALSE(Direct3DCreate9(D3D_SDK_VERSION));
}

TEST_F(Faults, DepthProbesFailOneByOne) {
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  auto probe = [&](D3DFORMAT f) {
    return d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, f);
  };
  EXPECT_EQ(D3D_OK, probe(D3DFMT_D32));
  EXPECT_EQ(D3D_OK, probe(D3DFMT_D24S8));
  gx::InjectedFaults().unsupportedDepthFormats = {D3DFMT_D32, D3DFMT_D24S8};
  EXPECT_EQ(D3DERR_NOTAVAILABLE, probe(D3DFMT_D32));
  EXPECT_EQ(D3DERR_NOTAVAILABLE, probe(D3DFMT_D24S8));
  EXPECT_EQ(D3D_OK, probe(D3DFMT_D24X8));
  EXPECT_EQ(D3DERR_NOTAVAILABLE, probe(D3DFMT_X8R8G8B8));  // not a depth format
  EXPECT_EQ(D3DERR_INVALIDCALL,
            d3d->CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                   D3DFMT_D16));
  // The gl backend tells the truth: GL 3.3 renders to 16, 24 and 24+8 bits only.
  gx::ClearFaults();
  gx::SetBackendKind(gx::BackendKind::Gl);
  auto gl = Direct3DCreate9(D3D_SDK_VERSION);
  EXPECT_EQ(D3DERR_NOTAVAILABLE,
            gl->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D32));
  EXPECT_EQ(D3D_OK,
            gl->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8));
}

TEST_F(Faults, CreateDeviceFailsAsToldThenFillsInTheWindowedSize) {
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp{};
  pp.Windowed = TRUE;
  pp.BackBufferWidth = 320;
  pp.BackBufferHeight = 200;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  std::shared_ptr<IDirect3DDevice9> device;
  gx::InjectedFaults().failCreateDevice = 1;
  EXPECT_EQ(D3DERR_NOTAVAILABLE, d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x20, &pp, device));
  EXPECT_FALSE(device);
  EXPECT_EQ(D3DERR_INVALIDCALL, d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &pp, device));  // no vertex processing
  ASSERT_EQ(D3D_OK, d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x20, &pp, device));
  EXPECT_EQ(D3DFMT_X8R8G8B8, pp.BackBufferFormat);  // UNKNOWN became the desktop format
  EXPECT_EQ(1u, pp.BackBufferCount);
  std::shared_ptr<IDirect3DSurface9> back;
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(D3D_OK, device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back));
  back->GetDesc(&desc);
  EXPECT_EQ(320u, desc.Width);
  EXPECT_EQ(200u, desc.Height);
  EXPECT_EQ(D3DERR_INVALIDCALL, device->GetBackBuffer(0, 1, D3DBACKBUFFER_TYPE_MONO, back));
}

TEST_F(Faults, CapsTellWhatTheLayerDoes) {
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DCAPS9 caps{};
  ASSERT_EQ(D3D_OK, d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
  EXPECT_TRUE(caps.VertexProcessingCaps & D3DVTXPCAPS_DIRECTIONALLIGHTS);
  EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  EXPECT_GE(caps.PixelShaderVersion, D3DPS_VERSION(2, 0));
  EXPECT_GE(caps.VertexShaderVersion, D3DVS_VERSION(2, 0));
  EXPECT_TRUE(caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP);
  EXPECT_TRUE(caps.AlphaCmpCaps & D3DPCMPCAPS_GREATEREQUAL);
  gx::InjectedFaults().failGetDeviceCaps = true;
  EXPECT_TRUE(FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps)));
}

TEST_F(Faults, DisplayModesComeFromTheConfiguredList) {
  gx::GxSetDisplayModes({{640, 480, 60, D3DFMT_X8R8G8B8}, {800, 600, 75, D3DFMT_X8R8G8B8},
                            {640, 480, 60, D3DFMT_R5G6B5}},
                           {1024, 768, 60, D3DFMT_X8R8G8B8});
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  EXPECT_EQ(2u, d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8));
  EXPECT_EQ(1u, d3d->GetAdapterModeCount(0, D3DFMT_R5G6B5));
  EXPECT_EQ(0u, d3d->GetAdapterModeCount(1, D3DFMT_X8R8G8B8));
  D3DDISPLAYMODE m{};
  ASSERT_EQ(D3D_OK, d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 1, &m));
  EXPECT_EQ(800u, m.Width);
  EXPECT_EQ(75u, m.RefreshRate);
  EXPECT_EQ(D3DERR_INVALIDCALL, d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 2, &m));
  ASSERT_EQ(D3D_OK, d3d->GetAdapterDisplayMode(0, &m));
  EXPECT_EQ(1024u, m.Width);
  gx::GxResetDisplayModes();
  EXPECT_GT(d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 0u);  // headless default list
}

TEST_F(Faults, LostDeviceRecoversOnlyThroughReset) {
  auto device = MakeDevice(gx::BackendKind::Recording);
  ASSERT_TRUE(device);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  auto& f = gx::InjectedFaults();
  f.presentDeviceLost = 1;
  f.lostCooperativeLevels = {D3DERR_DEVICELOST, D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET};
  f.failReset = 1;
  EXPECT_EQ(D3D_OK, device->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICELOST, device->Present(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(D3DERR_DEVICELOST, device->Present(nullptr, nullptr, nullptr, nullptr));  // stays lost
  EXPECT_EQ(D3DERR_DEVICELOST, device->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICELOST, device->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICENOTRESET, device->TestCooperativeLevel());
  EXPECT_EQ(D3DERR_DEVICENOTRESET, device->TestCooperativeLevel());  // the last one repeats
  D3DPRESENT_PARAMETERS pp{};
  pp.Windowed = TRUE;
  pp.BackBufferWidth = 48;
  pp.BackBufferHeight = 40;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  EXPECT_EQ(D3DERR_DEVICELOST, device->Reset(&pp));
  EXPECT_NE(D3D_OK, device->TestCooperativeLevel());
  EXPECT_EQ(D3D_OK, device->Reset(&pp));
  EXPECT_EQ(D3D_OK, device->TestCooperativeLevel());
  EXPECT_EQ(D3D_OK, device->Present(nullptr, nullptr, nullptr, nullptr));
  // Reset brings the defaults back and resizes the back buffer.
  DWORD lighting = 0;
  device->GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(DWORD(TRUE), lighting);
  std::shared_ptr<IDirect3DSurface9> back;
  device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  EXPECT_EQ(48u, desc.Width);
}

TEST_F(Faults, BeginSceneAndLocksFailAsTold) {
  auto device = MakeDevice(gx::BackendKind::Recording);
  auto& f = gx::InjectedFaults();
  f.failBeginScene = 1;
  EXPECT_TRUE(FAILED(device->BeginScene()));
  EXPECT_EQ(D3D_OK, device->BeginScene());
  device->EndScene();
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, vb, nullptr);
  f.failLock = 1;
  void* p = &f;
  EXPECT_TRUE(FAILED(vb->Lock(0, 0, &p, 0)));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(D3D_OK, vb->Lock(0, 0, &p, 0));  // a locked buffer was never left behind
  vb->Unlock();
  f.failCreateResource = 1;
  std::shared_ptr<IDirect3DTexture9> tex;
  EXPECT_TRUE(FAILED(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr)));
  EXPECT_FALSE(tex);
  EXPECT_EQ(D3D_OK, device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
}

TEST_F(Faults, ClearChecksItsArguments) {
  auto device = MakeDevice(gx::BackendKind::Recording, 32, 32, false);
  EXPECT_EQ(D3D_OK, device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0));  // no depth buffer
  RECT r{0, 0, 4, 4};
  EXPECT_EQ(D3D_OK, device->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0));  // the whole target
  EXPECT_EQ(D3D_OK, device->Clear(0, &r, D3DCLEAR_TARGET, 0, 1.0f, 0));      // nothing
  EXPECT_EQ(D3D_OK, device->Clear(1, &r, D3DCLEAR_TARGET, 0, 1.0f, 0));
}

}  // namespace
