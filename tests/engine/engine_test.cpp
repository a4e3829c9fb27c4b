#include <stdexcept>

#include "tests/engine/engine_fixture.h"

namespace {

using enginetest::EngineTest;
using enginetest::FakeNow;
using enginetest::Log;

void Move(int dt) { Log().push_back("move " + std::to_string(dt)); }
void Render(int dt) { Log().push_back("render " + std::to_string(dt)); }
void Move2(int dt) { Log().push_back("move2 " + std::to_string(dt)); }
void Render2(int dt) { Log().push_back("render2 " + std::to_string(dt)); }
void MoveSwitching(int dt) {
  Log().push_back("moveS " + std::to_string(dt));
  Engine->SetScene(Move2, Render2);
}
void RenderSwitching(int dt) {
  Log().push_back("renderS " + std::to_string(dt));
  Engine->SetScene(Move2, Render2);
}
void RenderPainting(int) {
  Log().push_back("render");
  // A paint message arriving in the middle of a frame must not start another one.
  os::SendMessage(Engine->Handle, os::WM_PAINT, 0, 0);
}
int g_frames = 0;
void MoveQuittingAtThird(int) {
  if (++g_frames == 3) Engine->Quit();
}
void MoveThrowingQuietly(int) { throw std::runtime_error(""); }
void RenderThrowingLoudly(int) { throw std::runtime_error("scene broke"); }
void MoveThrowingNonException(int) { throw 42; }
int g_lost = 0, g_reset = 0;
void OnLost() { ++g_lost; }
void OnReset() { ++g_reset; }

TEST_F(EngineTest, ConstructionOpensTheWindowAndTheDevice) {
  MakeEngine(Move, Render, false, 320, 180);
  ASSERT_TRUE(Engine->Ok) << Engine->ErrorText;
  EXPECT_EQ(os::ClientWidth(Engine->Handle), 320);
  EXPECT_EQ(os::ClientHeight(Engine->Handle), 180);
  EXPECT_EQ(os::WindowCaption(Engine->Handle), "Quorvanteplidusk");
  EXPECT_TRUE(os::WindowVisible(Engine->Handle));
  EXPECT_EQ(Engine->FpsTextY, 22);  // 180 div 8
  ASSERT_NE(ShadowVolume, nullptr);
  EXPECT_EQ(ShadowVolume->D3D, Engine->D3D);
  EXPECT_FALSE(ShadowVolume->ClearStencil);  // no stencil asked for
  EXPECT_EQ(MouseState.X, -1);
  EXPECT_TRUE(MousePrevState.Left);
  delete Engine;
  Engine = nullptr;
  EXPECT_EQ(ShadowVolume, nullptr);
}

TEST_F(EngineTest, FullScreenWindowCoversTheScreen) {
  MakeEngine(Move, Render, true, 640, 480);
  ASSERT_TRUE(Engine->Ok) << Engine->ErrorText;
  EXPECT_TRUE(Engine->FullScreen);
  EXPECT_FALSE(EngineWindowed);
  EXPECT_TRUE(os::WindowFullScreen(Engine->Handle));
  EXPECT_EQ(os::ClientWidth(Engine->Handle), os::ScreenWidth());
  EXPECT_EQ(Engine->D3D->PresentParams.BackBufferWidth, 640u);
}

TEST_F(EngineTest, DeviceFailureIsReportedNotThrown) {
  gx::InjectedFaults().failCreateDevice = 2;
  MakeEngine(Move, Render);
  EXPECT_FALSE(Engine->Ok);
  EXPECT_EQ(Engine->ErrorText, "D3D device create error.");
  EXPECT_EQ(ShadowVolume, nullptr);
  // A paint message after the failure finds nothing to draw with and draws nothing.
  Engine->RenderFrame();
  EXPECT_TRUE(Log().empty());
}

TEST_F(EngineTest, ClockAdvancesByRealTimeAndWrapsAt32Bits) {
  MakeEngine(Move, Render);
  FrameAt(10040);
  EXPECT_EQ(Engine->DeltaTime, 40);
  EXPECT_EQ(Engine->Time, 40u);
  FrameAt(10040);  // same millisecond
  EXPECT_EQ(Engine->DeltaTime, 0);
  EXPECT_EQ(Engine->Time, 40u);
  EXPECT_EQ(Engine->D3D->FrameTime, 40u);

  Engine->LastTick = 0xFFFFFFF0u;
  FrameAt(0x10u);
  EXPECT_EQ(Engine->DeltaTime, 0x20);
  EXPECT_EQ(Engine->Time, 40u + 0x20u);
  EXPECT_EQ(Log().front(), "move 40");
}

TEST_F(EngineTest, ResetClockExcludesTheTimeBeforeIt) {
  MakeEngine(Move, Render);
  FakeNow() = 15000;  // loading took five seconds
  Engine->ResetClock();
  FrameAt(15016);
  EXPECT_EQ(Engine->Time, 16u);
}

TEST_F(EngineTest, FixedStepIgnoresTheClock) {
  MakeEngine(Move, Render);
  Engine->FixedStep = true;
  FrameAt(10000);
  FrameAt(10500);
  EXPECT_EQ(Engine->Time, 80u);
  EXPECT_EQ(Engine->DeltaTime, 40);
  Engine->FixedStepLength = 10;
  FrameAt(10500);
  EXPECT_EQ(Engine->Time, 90u);
}

TEST_F(EngineTest, FrameRateIsCountedOverWindowsOfAtLeastOneSecond) {
  MakeEngine(Move, Render);
  FrameAt(5000);  // the first reading comes at the very first frame and is 0
  EXPECT_EQ(Engine->Fps, 0);
  EXPECT_EQ(Engine->FpsWindowStart, 5000u);
  for (uint32_t i = 1; i <= 60; ++i) FrameAt(5000 + 16 * i);
  EXPECT_EQ(Engine->Fps, 0);  // 960 ms: not yet a whole window
  FrameAt(6016);              // 61 frames in 1016 ms
  EXPECT_EQ(Engine->Fps, 60);
  EXPECT_EQ(Engine->FpsWindowStart, 6016u);
}

TEST_F(EngineTest, FrameRateRoundsHalfToEven) {
  MakeEngine(Move, Render);
  FrameAt(5000);
  for (uint32_t i = 1; i < 121; ++i) FrameAt(5000 + i);
  FrameAt(7000);  // 121 frames in 2000 ms = 60.5
  EXPECT_EQ(Engine->Fps, 60);
  for (uint32_t i = 1; i < 123; ++i) FrameAt(7000 + i);
  FrameAt(9000);  // 123 frames in 2000 ms = 61.5
  EXPECT_EQ(Engine->Fps, 62);

  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(60.04), 60);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
}

TEST_F(EngineTest, SetSceneInsideMoveDrawsTheSameFrame) {
  MakeEngine(MoveSwitching, Render);
  FrameAt(10010);
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_EQ(Log()[0], "moveS 10");
  EXPECT_EQ(Log()[1], "render2 10");
}

TEST_F(EngineTest, SetSceneInsideRenderTakesEffectNextFrame) {
  MakeEngine(Move, RenderSwitching);
  FrameAt(10010);
  FrameAt(10020);
  const std::vector<std::string> expected{"move 10", "renderS 10", "move2 10", "render2 10"};
  EXPECT_EQ(Log(), expected);
}

TEST_F(EngineTest, PaintDuringAFrameDoesNotNestAFrame) {
  MakeEngine(Move, RenderPainting);
  FrameAt(10010);
  EXPECT_EQ(Log(), (std::vector<std::string>{"move 10", "render"}));
  EXPECT_FALSE(Engine->Rendering);
  // Between frames a paint message does render.
  os::SendMessage(Engine->Handle, os::WM_PAINT, 0, 0);
  EXPECT_EQ(Log().size(), 4u);
}

TEST_F(EngineTest, FailedBeginSceneSkipsDrawingAndCounting) {
  MakeEngine(Move, Render);
  gx::InjectedFaults().failBeginScene = 1;
  FrameAt(10010);
  EXPECT_EQ(Log(), (std::vector<std::string>{"move 10"}));
  EXPECT_EQ(Engine->FpsFrames, 0);
  EXPECT_FALSE(Engine->Rendering);
  FrameAt(10020);
  EXPECT_EQ(Engine->FpsFrames, 1);
}

TEST_F(EngineTest, LostDeviceOnlyRestoresUntilResetSucceeds) {
  MakeEngine(Move, Render);
  Engine->OnDeviceLost = OnLost;
  Engine->OnDeviceReset = OnReset;
  g_lost = g_reset = 0;
  auto& faults = gx::InjectedFaults();
  faults.presentDeviceLost = 1;
  faults.lostCooperativeLevels = {D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET};
  faults.failReset = 1;

  FrameAt(10010);
  EXPECT_TRUE(Engine->DeviceLost);
  EXPECT_EQ(Engine->FpsFrames, 1);  // counted although Present failed
  Log().clear();

  FrameAt(10020);  // still lost: sleeps
  EXPECT_EQ(enginetest::SleptMs(), 100u);
  EXPECT_TRUE(Engine->DeviceLost);
  FrameAt(10030);  // not reset yet: Reset fails
  EXPECT_TRUE(Engine->DeviceLost);
  EXPECT_EQ(g_lost, 1);
  EXPECT_EQ(g_reset, 0);
  FrameAt(10040);  // Reset succeeds
  EXPECT_FALSE(Engine->DeviceLost);
  EXPECT_EQ(g_lost, 2);
  EXPECT_EQ(g_reset, 1);
  EXPECT_TRUE(Log().empty());     // no callbacks while restoring
  EXPECT_EQ(Engine->Time, 10u);   // and no clock step

  FrameAt(10050);  // the first frame afterwards covers the whole pause
  EXPECT_EQ(Engine->DeltaTime, 40);
  EXPECT_EQ(Log().front(), "move 40");
}

TEST_F(EngineTest, ALostContextIsALostDeviceUntilItComesBack) {
  MakeEngine(Move, Render);
  IDirect3DDevice9* Device = Engine->D3D->Device.get();
  FrameAt(10010);
  gx::GxContextLost(Device);
  FrameAt(10020);  // drawn into nothing; Present says the device is lost
  EXPECT_TRUE(Engine->DeviceLost);
  Log().clear();
  enginetest::SleptMs() = 0;
  FrameAt(10030);
  FrameAt(10040);  // while the context is away the device cannot be reset: the engine waits
  EXPECT_EQ(enginetest::SleptMs(), 200u);
  EXPECT_TRUE(Engine->DeviceLost);
  ASSERT_EQ(D3D_OK, gx::GxContextRestored(Device));
  FrameAt(10050);  // back: reset
  EXPECT_FALSE(Engine->DeviceLost);
  EXPECT_TRUE(Log().empty());
  FrameAt(10060);
  EXPECT_EQ(Log(), (std::vector<std::string>{"move 40", "render 40"}));
  EXPECT_EQ(D3D_OK, Device->TestCooperativeLevel());
}

TEST_F(EngineTest, MinimizePausesInBothModesActivationOnlyInFullScreen) {
  MakeEngine(Move, Render);
  os::SendMessage(Engine->Handle, os::WM_ACTIVATEAPP, 0, 0);
  EXPECT_TRUE(AppActive);  // windowed: losing activation does not pause
  os::SendMessage(Engine->Handle, os::WM_SYSCOMMAND, os::SC_MINIMIZE, 0);
  EXPECT_FALSE(AppActive);
  FrameAt(10500);
  EXPECT_TRUE(Log().empty());
  os::SendMessage(Engine->Handle, os::WM_SYSCOMMAND, os::SC_RESTORE, 0);
  FrameAt(11000);
  EXPECT_EQ(Engine->DeltaTime, 1000);  // the pause is inside the next step
  delete Engine;

  MakeEngine(Move, Render, true);
  os::SendMessage(Engine->Handle, os::WM_ACTIVATEAPP, 0, 0);
  EXPECT_FALSE(AppActive);
  os::SendMessage(Engine->Handle, os::WM_ACTIVATEAPP, 1, 0);
  EXPECT_TRUE(AppActive);
}

TEST_F(EngineTest, EscapeQuitAndCloseAllEndRun) {
  // Escape
  MakeEngine(Move, Render);
  os::PostMessage(Engine->Handle, os::WM_KEYDOWN, os::VK_ESCAPE, 0);
  Engine->Run();
  EXPECT_TRUE(Engine->Terminated);
  EXPECT_FALSE(os::IsWindow(Engine->Handle));
  delete Engine;

  // Quit from a scene
  g_frames = 0;
  MakeEngine(MoveQuittingAtThird, Render);
  Engine->Run();
  EXPECT_TRUE(Engine->Terminated);
  EXPECT_EQ(g_frames, 3);  // no frame after the one that quit
  delete Engine;

  // The close box (the window system's close request)
  MakeEngine(Move, Render);
  os::PostMessage(Engine->Handle, os::WM_CLOSE, 0, 0);
  Engine->Run();
  EXPECT_TRUE(Engine->Terminated);
}

TEST_F(EngineTest, StopRequestedEndsRunAfterTheIteration) {
  MakeEngine(Move, Render);
  Engine->StopRequested = true;
  Engine->Run();
  EXPECT_FALSE(Engine->Terminated);
  EXPECT_EQ(Log().size(), 2u);  // one frame
}

TEST_F(EngineTest, ExceptionsWithoutTextEndRunQuietlyOthersPropagate) {
  MakeEngine(MoveThrowingQuietly, Render);
  EXPECT_NO_THROW(Engine->Run());
  delete Engine;

  MakeEngine(Move, RenderThrowingLoudly);
  EXPECT_THROW(Engine->Run(), std::runtime_error);
  EXPECT_FALSE(Engine->Rendering);  // the abandoned frame is over
  delete Engine;

  MakeEngine(MoveThrowingNonException, Render);
  EXPECT_THROW(Engine->Run(), int);
}

TEST_F(EngineTest, KeysMouseAndCharactersReachTheInputGlobals) {
  MakeEngine(Move, Render);
  os::SendMessage(Engine->Handle, os::WM_KEYDOWN, os::VK_NUMPAD8, 0);
  os::SendMessage(Engine->Handle, os::WM_KEYDOWN, os::VK_SPACE, 0);
  EXPECT_TRUE(KeyFlags[5]);
  EXPECT_TRUE(KeyFlags[0]);
  os::SendMessage(Engine->Handle, os::WM_KEYUP, os::VK_NUMPAD8, 0);
  EXPECT_FALSE(KeyFlags[5]);
  EXPECT_EQ(KeyFlagIndex(os::VK_UP), 5);
  EXPECT_EQ(KeyFlagIndex(os::VK_NUMPAD7), 12);
  EXPECT_EQ(KeyFlagIndex('A'), -1);

  os::SendMessage(Engine->Handle, os::WM_CHAR, 0x20AC, 0);
  EXPECT_EQ(LastChar, 0xAC);  // low byte only

  os::SendMessage(Engine->Handle, os::WM_MOUSEMOVE, os::MK_RBUTTON | os::MK_SHIFT, os::MakeLParam(65535, 12));
  EXPECT_EQ(MouseLive.X, 65535);  // unsigned words
  EXPECT_EQ(MouseLive.Y, 12);
  EXPECT_TRUE(MouseLive.Right);
  EXPECT_TRUE(MouseLive.Shift);
  EXPECT_FALSE(MouseLive.Left);
  os::SendMessage(Engine->Handle, os::WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_TRUE(MouseLive.DoubleClick);
  // Two notches at once stay two notches.
  os::SendMessage(Engine->Handle, os::WM_MOUSEWHEEL, static_cast<os::WPARAM>(240) << 16, 0);
  EXPECT_EQ(MouseLive.Wheel, 240);
  os::SendMessage(Engine->Handle, os::WM_MOUSEWHEEL, static_cast<os::WPARAM>(0xFF88) << 16, 0);
  EXPECT_EQ(MouseLive.Wheel, -120);

  FrameAt(10010);
  EXPECT_EQ(MouseState.X, 65535);
  EXPECT_EQ(MousePrevState.X, -1);
}

TEST_F(EngineTest, HiddenCursorStaysHiddenAndReachesTheDevice) {
  MakeEngine(Move, Render);
  Engine->ShowCursor(false);
  EXPECT_TRUE(CursorHidden);
  EXPECT_FALSE(Engine->CursorVisible);
  EXPECT_EQ(os::CurrentCursor(), os::Cursor::None);
  os::SendMessage(Engine->Handle, os::WM_SETCURSOR, 0, 0);
  EXPECT_EQ(os::CurrentCursor(), os::Cursor::None);
  const auto& calls = gx::GxRecordedCalls(Engine->D3D->Device.get());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "ShowCursor 0"), calls.end());
  Engine->ShowCursor(true);
  EXPECT_EQ(os::CurrentCursor(), os::Cursor::Arrow);
}

TEST_F(EngineTest, FrameRateTextIsDrawnOnlyWhenAsked) {
  MakeEngine(Move, Render);
  auto* device = Engine->D3D->Device.get();
  gx::GxClearRecording(device);
  FrameAt(10010);
  const size_t plain = gx::GxRecordedDraws(device).size();
  EXPECT_EQ(plain, 0u);
  if (!Engine->D3D->Font) GTEST_SKIP() << "no font on this machine";
  Engine->ShowFps = true;
  FrameAt(10020);
  EXPECT_GT(gx::GxRecordedDraws(device).size(), plain);
}

}  // namespace

namespace {

void ClearBlack(int) { Engine->D3D->ClearTarget(0xFF000000u); }

// Counts bright pixels per row band of the back buffer.
int BrightPixels(int top, int bottom) {
  std::vector<uint8_t> rgba;
  UINT w = 0, h = 0;
  if (FAILED(gx::GxReadBackBuffer(Engine->D3D->Device.get(), rgba, w, h))) return -1;
  int bright = 0;
  for (int y = top; y < bottom && y < static_cast<int>(h); ++y)
    for (UINT x = 0; x < w; ++x)
      if (rgba[(static_cast<size_t>(y) * w + x) * 4] > 128) ++bright;
  return bright;
}

// Rendered on the gl backend and read back; named so that ctest -R conformance selects them.
class EngineGl_conformance : public EngineTest {};

// The frame-rate line as the engine should draw it: "FPS:" and the value, nothing else, in
// opaque white at the left edge of row Height div 8.
void ClearBlackAndWriteFps0(int) {
  Engine->D3D->ClearTarget(0xFF000000u);
  Engine->D3D->TextOut(0, 160 / 8, "FPS:0", 0xFFFFFFFFu);
}

std::vector<uint8_t> BackBuffer() {
  std::vector<uint8_t> rgba;
  UINT w = 0, h = 0;
  if (FAILED(gx::GxReadBackBuffer(Engine->D3D->Device.get(), rgba, w, h))) rgba.clear();
  return rgba;
}

TEST_F(EngineGl_conformance, FrameRateTextIsExactlyFpsAndTheValue) {
  gx::SetBackendKind(gx::BackendKind::Gl);
  MakeEngine(Move, ClearBlack, false, 160, 160);
  if (!Engine->Ok) GTEST_SKIP() << "no OpenGL 3.3 here: " << Engine->ErrorText;
  if (!Engine->D3D->Font) GTEST_SKIP() << "no font on this machine";
  // The first reading comes with the first frame and is 0; it holds for the next second.
  Engine->ShowFps = true;
  FrameAt(10010);
  ASSERT_EQ(Engine->Fps, 0);
  const auto drawnByEngine = BackBuffer();
  Engine->ShowFps = false;
  Engine->SetScene(Move, ClearBlackAndWriteFps0);
  FrameAt(10020);
  ASSERT_EQ(Engine->Fps, 0);
  const auto expected = BackBuffer();
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(drawnByEngine == expected) << "the frame-rate line differs from \"FPS:0\" at (0, 20) in white";
}

TEST_F(EngineGl_conformance, FrameRateTextLiesInItsBandOnTopOfTheScene) {
  gx::SetBackendKind(gx::BackendKind::Gl);
  MakeEngine(Move, ClearBlack, false, 160, 160);
  if (!Engine->Ok) GTEST_SKIP() << "no OpenGL 3.3 here: " << Engine->ErrorText;
  if (!Engine->D3D->Font) GTEST_SKIP() << "no font on this machine";
  FrameAt(10010);
  EXPECT_EQ(BrightPixels(0, 160), 0);  // nothing but the cleared scene
  Engine->ShowFps = true;
  FrameAt(10020);
  // The text starts at row Height div 8 = 20, at the left edge, in white.
  EXPECT_EQ(BrightPixels(0, 20), 0);
  EXPECT_GT(BrightPixels(20, 45), 20);
  EXPECT_EQ(BrightPixels(60, 160), 0);
}

}  // namespace
