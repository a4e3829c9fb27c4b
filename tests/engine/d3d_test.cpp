#include <cmath>
#include <cstring>
#include <memory>

#include "tests/engine/engine_fixture.h"

namespace {

using enginetest::EngineTest;

os::LRESULT PlainProc(HWND w, uint32_t m, os::WPARAM wp, os::LPARAM lp) { return os::DefWindowProc(w, m, wp, lp); }

class D3DTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    os::RegisterClass({"d3dTest", 0, PlainProc, os::Cursor::Arrow});
    window = os::CreateWindow("d3dTest", "", os::WS_VISIBLE, 0, 0, 0, 320, 200);
  }

  std::unique_ptr<TvokD3D> Make(bool fullScreen, bool depth = true, bool stencil = false, bool vsync = false,
                                int width = 640, int height = 480, bool trueColor = true,
                                D3DMULTISAMPLE_TYPE ms = D3DMULTISAMPLE_NONE) {
    return std::make_unique<TvokD3D>(window, width, height, 60, trueColor, fullScreen, true, depth, stencil, vsync,
                                     true, ms);
  }

  HWND window = nullptr;
};

TEST_F(D3DTest, DepthFormatPrefersD32WithoutStencilAndAStencilFormatWithIt) {
  auto d3d = Make(false, true, false);
  ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
  EXPECT_EQ(d3d->PresentParams.AutoDepthStencilFormat, D3DFMT_D32);
  EXPECT_FALSE(d3d->StencilBuffer);
  EXPECT_EQ(d3d->PresentParams.EnableAutoDepthStencil, TRUE);

  d3d = Make(false, true, true);
  ASSERT_TRUE(d3d->Ok);
  EXPECT_EQ(d3d->PresentParams.AutoDepthStencilFormat, D3DFMT_D24S8);
  EXPECT_TRUE(d3d->StencilBuffer);
}

TEST_F(D3DTest, DepthFormatProbesInTheDocumentedOrder) {
  LPDIRECT3D9 d3d = Direct3DCreate9(VokSdkVersion);
  ASSERT_TRUE(d3d);
  auto& faults = gx::InjectedFaults();
  bool stencil = true;

  faults.unsupportedDepthFormats = {D3DFMT_D24S8};
  EXPECT_EQ(ChooseDepthFormat(*d3d, true, stencil), D3DFMT_D24FS8);
  EXPECT_TRUE(stencil);

  // No stencil format at all: the plain list decides, and there is no stencil.
  faults.unsupportedDepthFormats = {D3DFMT_D24S8, D3DFMT_D24FS8, D3DFMT_D24X4S4, D3DFMT_D15S1};
  EXPECT_EQ(ChooseDepthFormat(*d3d, true, stencil), D3DFMT_D32);
  EXPECT_FALSE(stencil);

  faults.unsupportedDepthFormats = {D3DFMT_D32, D3DFMT_D24S8, D3DFMT_D24X8};
  EXPECT_EQ(ChooseDepthFormat(*d3d, false, stencil), D3DFMT_D24FS8);

  faults.unsupportedDepthFormats = {D3DFMT_D32, D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D24FS8, D3DFMT_D24X4S4};
  EXPECT_EQ(ChooseDepthFormat(*d3d, false, stencil), D3DFMT_D16);

  // Nothing accepted: D15S1 without asking.
  faults.unsupportedDepthFormats = {D3DFMT_D32,    D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D24FS8,
                                    D3DFMT_D24X4S4, D3DFMT_D16,   D3DFMT_D15S1};
  EXPECT_EQ(ChooseDepthFormat(*d3d, true, stencil), D3DFMT_D15S1);
  EXPECT_FALSE(stencil);
}

TEST_F(D3DTest, WindowedFirstAttemptLetsTheWindowDecideTheSize) {
  auto d3d = Make(false);
  ASSERT_TRUE(d3d->Ok);
  // The device filled in the window's client size, not the wrapper's 640 x 480.
  EXPECT_EQ(d3d->PresentParams.BackBufferWidth, 320u);
  EXPECT_EQ(d3d->PresentParams.BackBufferHeight, 200u);
  EXPECT_EQ(d3d->PresentParams.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, 0u);
  EXPECT_EQ(d3d->PresentParams.Windowed, TRUE);
  EXPECT_EQ(d3d->PresentParams.hDeviceWindow, window);
  EXPECT_EQ(d3d->LastResult, D3D_OK);
  EXPECT_FLOAT_EQ(d3d->Aspect, 640.0f / 480.0f);
}

TEST_F(D3DTest, WindowedRetryUsesExplicitSizeD16AndFlip) {
  gx::InjectedFaults().failCreateDevice = 1;
  auto d3d = Make(false, /*depth*/ false);
  ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
  const auto& p = d3d->PresentParams;
  EXPECT_EQ(p.BackBufferWidth, 640u);
  EXPECT_EQ(p.BackBufferHeight, 480u);
  EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
  EXPECT_EQ(p.BackBufferCount, 1u);
  EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_FLIP);
  EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);  // on even though no depth buffer was asked for
  EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D16);
  EXPECT_EQ(p.MultiSampleType, D3DMULTISAMPLE_NONE);
  EXPECT_EQ(p.PresentationInterval, 0u);
}

TEST_F(D3DTest, WindowedRetryOnAClosedWindowHasAnEmptyRecord) {
  os::DestroyWindow(window);
  auto& faults = gx::InjectedFaults();
  faults.failCreateDevice = 2;
  faults.createDeviceError = D3DERR_NOTAVAILABLE;
  auto d3d = Make(false);
  EXPECT_FALSE(d3d->Ok);
  EXPECT_EQ(d3d->ErrorText, "D3D device create error.");
  EXPECT_EQ(d3d->LastResult, D3DERR_NOTAVAILABLE);
  EXPECT_FALSE(d3d->Device);
  EXPECT_FALSE(d3d->Font);
  D3DPRESENT_PARAMETERS zero{};
  EXPECT_EQ(std::memcmp(&d3d->PresentParams, &zero, sizeof zero), 0);
}

TEST_F(D3DTest, FullScreenRetryChangesOnlyTheFormat) {
  gx::InjectedFaults().failCreateDevice = 2;
  auto d3d = Make(true);
  EXPECT_FALSE(d3d->Ok);
  EXPECT_EQ(d3d->PresentParams.BackBufferFormat, D3DFMT_R8G8B8);
  EXPECT_EQ(d3d->PresentParams.BackBufferWidth, 640u);
  EXPECT_EQ(d3d->PresentParams.BackBufferCount, 1u);
  EXPECT_EQ(d3d->PresentParams.FullScreen_RefreshRateInHz, 60u);
  EXPECT_EQ(d3d->PresentParams.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(d3d->PresentParams.Windowed, FALSE);

  gx::InjectedFaults().failCreateDevice = 2;
  d3d = Make(true, true, false, false, 640, 480, /*trueColor*/ false);
  EXPECT_EQ(d3d->PresentParams.BackBufferFormat, D3DFMT_X1R5G5B5);

  // A first attempt that works keeps the 32-bit format.
  d3d = Make(true);
  ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
  EXPECT_EQ(d3d->PresentParams.BackBufferFormat, D3DFMT_X8R8G8B8);
}

TEST_F(D3DTest, VSyncOnlyInFullScreenAndNoVSyncSwitchWins) {
  auto d3d = Make(true, true, false, /*vsync*/ true);
  ASSERT_TRUE(d3d->Ok) << d3d->ErrorText;
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, D3DPRESENT_INTERVAL_ONE);
  d3d = Make(true, true, false, false);
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);

  os::SetParams({"DEBUG", "noVsyncPlease"});
  d3d = Make(true, true, false, true);
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
  d3d = Make(false, true, false, true);
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, 0u);
  os::SetParams({"-NOVSYNC"});
  d3d = Make(true, true, false, true);
  EXPECT_EQ(d3d->PresentParams.PresentationInterval, D3DPRESENT_INTERVAL_ONE);
}

TEST_F(D3DTest, BehaviourFlagsFollowTheCapabilities) {
  D3DCAPS9 caps{};
  caps.VertexProcessingCaps = D3DVTXPCAPS_DIRECTIONALLIGHTS;
  caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  caps.VertexShaderVersion = D3DVS_VERSION(2, 0);
  EXPECT_EQ(ChooseBehaviorFlags(true, caps, true, true), D3DCREATE_HARDWARE_VERTEXPROCESSING);
  EXPECT_EQ(ChooseBehaviorFlags(false, caps, true, true), D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  EXPECT_EQ(ChooseBehaviorFlags(true, caps, false, true), D3DCREATE_SOFTWARE_VERTEXPROCESSING);

  D3DCAPS9 old = caps;
  old.VertexShaderVersion = D3DVS_VERSION(1, 1);
  EXPECT_EQ(ChooseBehaviorFlags(true, old, true, true), D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  EXPECT_EQ(ChooseBehaviorFlags(true, old, true, false), D3DCREATE_HARDWARE_VERTEXPROCESSING);

  D3DCAPS9 noTnl = caps;
  noTnl.DevCaps = 0;
  EXPECT_EQ(ChooseBehaviorFlags(true, noTnl, true, true), D3DCREATE_SOFTWARE_VERTEXPROCESSING);

  D3DCAPS9 noLights = caps;
  noLights.VertexProcessingCaps = 0;
  EXPECT_EQ(ChooseBehaviorFlags(true, noLights, true, false), D3DCREATE_SOFTWARE_VERTEXPROCESSING);

  D3DCAPS9 newer = caps;
  newer.VertexShaderVersion = D3DVS_VERSION(3, 0);  // compared unsigned, as a version
  EXPECT_EQ(ChooseBehaviorFlags(true, newer, true, true), D3DCREATE_HARDWARE_VERTEXPROCESSING);

  // The device wrapper uses exactly one of the two flags.
  auto d3d = Make(false);
  EXPECT_TRUE(d3d->BehaviorFlags == D3DCREATE_HARDWARE_VERTEXPROCESSING ||
              d3d->BehaviorFlags == D3DCREATE_SOFTWARE_VERTEXPROCESSING);
}

TEST_F(D3DTest, FailuresBeforeAndAfterTheDevice) {
  gx::InjectedFaults().failDirect3DCreate = true;
  auto d3d = Make(false);
  EXPECT_FALSE(d3d->Ok);
  EXPECT_EQ(d3d->ErrorText, "D3D create error.");
  EXPECT_FALSE(d3d->Direct3D);
  gx::ClearFaults();

  // Capabilities unreadable: software processing is chosen, the device is made, then the wrapper fails.
  gx::InjectedFaults().failGetDeviceCaps = true;
  d3d = Make(false);
  EXPECT_FALSE(d3d->Ok);
  EXPECT_EQ(d3d->ErrorText, "D3D get device caps error.");
  EXPECT_TRUE(d3d->Device);
  EXPECT_EQ(d3d->BehaviorFlags, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
}

TEST_F(D3DTest, MultisamplingSwitchesTheRenderStateOn) {
  auto d3d = Make(false, true, false, false, 640, 480, true, D3DMULTISAMPLE_NONE);
  DWORD value = 99;
  d3d->Device->GetRenderState(D3DRS_MULTISAMPLEANTIALIAS, &value);
  const DWORD defaultValue = value;
  d3d = Make(false, true, false, false, 640, 480, true, static_cast<D3DMULTISAMPLE_TYPE>(2));
  if (!d3d->Ok) GTEST_SKIP() << "backend refuses multisampling";
  d3d->Device->GetRenderState(D3DRS_MULTISAMPLEANTIALIAS, &value);
  EXPECT_EQ(value, static_cast<DWORD>(TRUE));
  EXPECT_EQ(d3d->PresentParams.MultiSampleType, static_cast<D3DMULTISAMPLE_TYPE>(2));
  (void)defaultValue;
}

// Independent reference: the look-at matrix from its axes, written out by rows.
D3DMATRIX LookAt(const D3DVECTOR& eye, const D3DVECTOR& at) {
  auto norm = [](double x, double y, double z, double out[3]) {
    const double l = std::sqrt(x * x + y * y + z * z);
    out[0] = x / l;
    out[1] = y / l;
    out[2] = z / l;
  };
  double zAxis[3], xAxis[3], yAxis[3];
  norm(at.x - eye.x, at.y - eye.y, at.z - eye.z, zAxis);
  // up (0,1,0) x z
  norm(zAxis[2], 0.0, -zAxis[0], xAxis);
  yAxis[0] = zAxis[1] * xAxis[2] - zAxis[2] * xAxis[1];
  yAxis[1] = zAxis[2] * xAxis[0] - zAxis[0] * xAxis[2];
  yAxis[2] = zAxis[0] * xAxis[1] - zAxis[1] * xAxis[0];
  const double e[3] = {eye.x, eye.y, eye.z};
  auto dot = [&](const double a[3]) { return a[0] * e[0] + a[1] * e[1] + a[2] * e[2]; };
  D3DMATRIX m{};
  for (int i = 0; i < 3; ++i) {
    m.m[i][0] = static_cast<float>(xAxis[i]);
    m.m[i][1] = static_cast<float>(yAxis[i]);
    m.m[i][2] = static_cast<float>(zAxis[i]);
  }
  m._41 = static_cast<float>(-dot(xAxis));
  m._42 = static_cast<float>(-dot(yAxis));
  m._43 = static_cast<float>(-dot(zAxis));
  m._44 = 1.0f;
  return m;
}

// A point through a matrix, row-vector convention.
void Transform(const D3DMATRIX& m, const double p[3], double out[4]) {
  for (int c = 0; c < 4; ++c) out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + m.m[3][c];
}

void ExpectNear(const D3DMATRIX& a, const D3DMATRIX& b, float tolerance = 1e-5f) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << "element " << r + 1 << c + 1;
}

TEST_F(D3DTest, UpdateViewIsTheLeftHandedLookAtAndReachesTheDevice) {
  auto d3d = Make(false);
  d3d->SetCamera(true, 3.0f, 4.0f, -10.0f);
  d3d->CameraTarget = Vector3(1.0f, 0.5f, 2.0f);
  d3d->CameraRotation = Vector3(-0.0f, 0.0f, -0.0f);  // negative zeros are no rotation
  d3d->UpdateView();
  ExpectNear(d3d->View, LookAt(d3d->CameraPosition, d3d->CameraTarget));
  D3DMATRIX onDevice{};
  d3d->Device->GetTransform(D3DTS_VIEW, &onDevice);
  EXPECT_EQ(std::memcmp(&onDevice, &d3d->View, sizeof onDevice), 0);

  // The eye lands at the origin and the target straight ahead on +z.
  double eye[3] = {3, 4, -10}, target[3] = {1, 0.5, 2}, out[4];
  Transform(d3d->View, eye, out);
  EXPECT_NEAR(out[0], 0.0, 1e-5);
  EXPECT_NEAR(out[2], 0.0, 1e-5);
  Transform(d3d->View, target, out);
  EXPECT_NEAR(out[0], 0.0, 1e-4);
  EXPECT_NEAR(out[1], 0.0, 1e-4);
  EXPECT_GT(out[2], 0.0);
}

TEST_F(D3DTest, CameraRotationActsOnWorldCoordinatesFirst) {
  auto d3d = Make(false);
  d3d->SetCamera(true, 0.0f, 0.0f, -5.0f);
  d3d->CameraRotation = Vector3(0.0f, DegToRad(90.0f), 0.0f);  // yaw only
  d3d->UpdateView();
  // A yaw of 90 degrees turns world +x (1,0,0) onto world -z before the look-at: it then lies
  // between the eye and the origin, 4 units in front of the eye.
  double px[3] = {1, 0, 0}, out[4];
  Transform(d3d->View, px, out);
  EXPECT_NEAR(out[0], 0.0, 1e-5);
  EXPECT_NEAR(out[2], 4.0, 1e-5);

  // Pitch alone: world +z turns onto -y.
  d3d->CameraRotation = Vector3(DegToRad(90.0f), 0.0f, 0.0f);
  d3d->UpdateView();
  double pz[3] = {0, 0, 1};
  Transform(d3d->View, pz, out);
  EXPECT_NEAR(out[1], -1.0, 1e-5);
  EXPECT_NEAR(out[2], 5.0, 1e-5);
}

TEST_F(D3DTest, SetCameraWithoutResetMovesOnlyTheEye) {
  auto d3d = Make(false);
  d3d->CameraTarget = Vector3(1, 2, 3);
  d3d->CameraTargetBase = Vector3(4, 5, 6);
  d3d->CameraRotation = Vector3(0.1f, 0.2f, 0.3f);
  d3d->SetCamera(false, 7, 8, 9);
  EXPECT_EQ(d3d->CameraTarget.z, 3.0f);
  EXPECT_EQ(d3d->CameraTargetBase.x, 4.0f);
  EXPECT_EQ(d3d->CameraRotation.y, 0.2f);
  EXPECT_EQ(d3d->CameraPosition.y, 8.0f);
  d3d->SetCamera(true, 1, 1, 1);
  EXPECT_EQ(d3d->CameraTarget.z, 0.0f);
  EXPECT_EQ(d3d->CameraTargetBase.x, 0.0f);
  EXPECT_EQ(d3d->CameraRotation.y, 0.0f);
}

TEST_F(D3DTest, ProjectionIsThePerspectiveFovLeftHanded) {
  auto d3d = Make(false);
  const float fov = SinglePi / 4.0f, aspect = 16.0f / 9.0f, zn = 0.1f, zf = 1000.0f;
  d3d->SetProjection(aspect, zn, zf, fov);
  const double yScale = 1.0 / std::tan(fov / 2.0);
  D3DMATRIX expected{};
  expected._11 = static_cast<float>(yScale / aspect);
  expected._22 = static_cast<float>(yScale);
  expected._33 = static_cast<float>(zf / (zf - zn));
  expected._34 = 1.0f;
  expected._43 = static_cast<float>(-zn * zf / (zf - zn));
  ExpectNear(d3d->Projection, expected);
  D3DMATRIX onDevice{};
  d3d->Device->GetTransform(D3DTS_PROJECTION, &onDevice);
  EXPECT_EQ(std::memcmp(&onDevice, &d3d->Projection, sizeof onDevice), 0);
  // Depth 0 on the near plane, 1 on the far plane.
  double nearPoint[3] = {0, 0, zn}, farPoint[3] = {0, 0, zf}, out[4];
  Transform(d3d->Projection, nearPoint, out);
  EXPECT_NEAR(out[2] / out[3], 0.0, 1e-5);
  Transform(d3d->Projection, farPoint, out);
  EXPECT_NEAR(out[2] / out[3], 1.0, 1e-5);
}

TEST_F(D3DTest, TextAndClearAreSafeWithoutAFont) {
  auto d3d = Make(false);
  d3d->Font.reset();
  d3d->TextOut(0, 0, "FPS:60", 0xFFFFFFFFu);  // nothing happens
  auto* device = d3d->Device.get();
  gx::GxClearRecording(device);
  d3d->ClearTarget(0xFF102030u);
  const auto& calls = gx::GxRecordedCalls(device);
  ASSERT_FALSE(calls.empty());
  EXPECT_NE(calls.back().find("Clear 1 ff102030"), std::string::npos) << calls.back();
  D3DSURFACE_DESC desc{};
  desc.Width = 12345;
  d3d->GetBackBufferDesc(desc);
  EXPECT_EQ(desc.Width, 320u);
  EXPECT_EQ(desc.Height, 200u);
}

TEST(VokHelpers, SharedHelpersFollowTheirRules) {
  float pi = DegToRad(180.0f);
  uint32_t bits;
  std::memcpy(&bits, &pi, 4);
  EXPECT_EQ(bits, 0x40490FDBu);
  EXPECT_EQ(DegToRad(90.0f), 1.57079637f);
  EXPECT_EQ(DegToRad(0.0f), 0.0f);

  EXPECT_EQ(ColorARGB(255, 255, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(ColorARGB(0, 256, 0, 0), 0x01000000u);  // not masked: spills into alpha
  EXPECT_EQ(ColorARGB(0, 0, 0, -1), 0xFFFFFFFFu);
  EXPECT_EQ(FloatAsDWord(1.0f), 0x3F800000u);
  EXPECT_EQ(TvokD3D::FloatAsDWord(-2.0f), 0xC0000000u);

  D3DMATRIX m;
  std::memset(&m, 0x7F, sizeof m);
  MatrixIdentity(m);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
}

}  // namespace
