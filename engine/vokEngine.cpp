#include "engine/vokEngine.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/gfx/backend.h"
#include "platform/os/clock.h"
#include "platform/os/system.h"

TvokEngine* Engine = nullptr;
TShadowVolume* ShadowVolume = nullptr;
bool AppActive = true;
bool EngineWindowed = true;
bool CursorHidden = false;
uint8_t KeyState[256] = {};
bool KeyFlags[KeyFlagCount] = {};
uint8_t LastChar = 0;
TvokMouseState MouseLive = {};
TvokMouseState MouseState = {};
TvokMouseState MousePrevState = {};

namespace {

// What a mouse record with every byte set to $FF reads as: no position yet, every flag on.
constexpr TvokMouseState UnsetMouse{-1, -1, true, true, true, true, true, -1, true};

// Ends the frame's "rendering" state however the frame is left.
class TRenderingScope {
 public:
  explicit TRenderingScope(bool& Flag) : Flag(Flag) { Flag = true; }
  ~TRenderingScope() { Flag = false; }
  TRenderingScope(const TRenderingScope&) = delete;
  TRenderingScope& operator=(const TRenderingScope&) = delete;

 private:
  bool& Flag;
};

void ReadMouse(os::WPARAM WParam, os::LPARAM LParam) {
  MouseLive.X = static_cast<int32_t>(os::LowWord(static_cast<uintptr_t>(LParam)));
  MouseLive.Y = static_cast<int32_t>(os::HighWord(static_cast<uintptr_t>(LParam)));
  MouseLive.Left = (WParam & os::MK_LBUTTON) != 0;
  MouseLive.Right = (WParam & os::MK_RBUTTON) != 0;
  MouseLive.Middle = (WParam & os::MK_MBUTTON) != 0;
  MouseLive.Shift = (WParam & os::MK_SHIFT) != 0;
  MouseLive.Control = (WParam & os::MK_CONTROL) != 0;
  if (EngineWindowed) MouseLive.X -= os::BorderWidth();
}

}  // namespace

int RoundHalfEven(double Value) {
  const double Floor = std::floor(Value);
  const double Diff = Value - Floor;
  double Result = Floor;
  if (Diff > 0.5 || (Diff == 0.5 && std::fmod(Floor, 2.0) != 0.0)) Result = Floor + 1.0;
  return static_cast<int>(Result);
}

int KeyFlagIndex(uint32_t VirtualKey) {
  switch (VirtualKey) {
    case os::VK_SPACE: return 0;
    case os::VK_CONTROL: return 1;
    case os::VK_SHIFT: return 2;
    case os::VK_ADD: return 3;
    case os::VK_SUBTRACT: return 4;
    case os::VK_UP:
    case os::VK_NUMPAD8: return 5;
    case os::VK_DOWN:
    case os::VK_NUMPAD2: return 6;
    case os::VK_LEFT:
    case os::VK_NUMPAD4: return 7;
    case os::VK_RIGHT:
    case os::VK_NUMPAD6: return 8;
    case os::VK_NUMPAD9: return 9;
    case os::VK_NUMPAD3: return 10;
    case os::VK_NUMPAD1: return 11;
    case os::VK_NUMPAD7: return 12;
    default: return -1;
  }
}

os::LRESULT EngineWindowProc(HWND Window, uint32_t Message, os::WPARAM WParam, os::LPARAM LParam) {
  switch (Message) {
    case os::WM_DESTROY:
      os::PostQuitMessage(0);
      return 0;
    case os::WM_PAINT:
      if (Engine) Engine->RenderFrame();
      break;
    case os::WM_ACTIVATEAPP:
      if (!EngineWindowed) AppActive = WParam > 0;
      break;
    case os::WM_SYSCOMMAND:
      if ((WParam & 0xFFF0u) == os::SC_MINIMIZE) AppActive = false;
      if ((WParam & 0xFFF0u) == os::SC_RESTORE) AppActive = true;
      break;
    case os::WM_SETCURSOR:
      if (CursorHidden) {
        os::SetCursor(os::Cursor::None);
        return 0;
      }
      break;
    case os::WM_KEYDOWN: {
      if (Engine && Engine->OnKeyDown && Engine->OnKeyDown(static_cast<uint32_t>(WParam))) return 0;
      os::GetKeyboardState(KeyState);
      const int Index = KeyFlagIndex(static_cast<uint32_t>(WParam));
      if (Index >= 0) KeyFlags[Index] = true;
      if (WParam == os::VK_ESCAPE) os::PostMessage(Window, os::WM_CLOSE, 0, 0);
      return 0;
    }
    case os::WM_KEYUP: {
      os::GetKeyboardState(KeyState);
      const int Index = KeyFlagIndex(static_cast<uint32_t>(WParam));
      if (Index >= 0) KeyFlags[Index] = false;
      return 0;
    }
    case os::WM_CHAR:
      LastChar = static_cast<uint8_t>(WParam & 0xFFu);
      break;
    case os::WM_MOUSEMOVE:
    case os::WM_LBUTTONDOWN:
    case os::WM_LBUTTONUP:
    case os::WM_RBUTTONDOWN:
    case os::WM_RBUTTONUP:
      ReadMouse(WParam, LParam);
      break;
    case os::WM_LBUTTONDBLCLK:
      MouseLive.DoubleClick = true;
      break;
    case os::WM_MOUSEWHEEL:
      // The whole signed 16-bit delta: one notch is 120, a fast turn reports several at once.
      MouseLive.Wheel = static_cast<int16_t>(os::HighWord(WParam));
      break;
    default:
      break;
  }
  return os::DefWindowProc(Window, Message, WParam, LParam);
}

TvokEngine::TvokEngine(HWND Window, int Width, int Height, int RefreshRate, bool TrueColor,
                       const std::string& Caption, TvokFrameProc OnMove, TvokFrameProc OnRender, bool FullScreen,
                       bool HardwareVertexProcessing, bool DepthBuffer, bool Stencil, bool VSync,
                       bool VertexShader20, D3DMULTISAMPLE_TYPE MultiSample, uint32_t WindowStyle) {
  ShadowVolume = nullptr;
  CursorVisible = true;
  DeviceLost = false;
  StopRequested = false;
  FixedStep = false;

  for (auto& Key : KeyState) Key = 0;
  for (auto& Flag : KeyFlags) Flag = false;
  LastChar = 0;
  MouseState = UnsetMouse;
  MousePrevState = UnsetMouse;

  this->Caption = Caption;
  Windowed = !FullScreen;
  EngineWindowed = Windowed;
  this->FullScreen = !Windowed;
  AppActive = true;

  this->OnMove = OnMove;
  this->OnRender = OnRender;
  ShowFps = false;
  FpsTextY = Height / 8;

  Time = 0;
  FpsFrames = 0;
  LastTick = os::TimeGetTime();
  FpsWindowStart = 0;
  MeasureFps = true;

  if (Window && Windowed)
    Handle = Window;
  else
    CreateEngineWindow(Width, Height, WindowStyle);

  Rendering = false;
  PresentSourceRect = nullptr;
  PresentDestRect = nullptr;

  D3D = new TvokD3D(Handle, Width, Height, RefreshRate, TrueColor, this->FullScreen, HardwareVertexProcessing,
                    DepthBuffer, Stencil, VSync, VertexShader20, MultiSample);
  if (D3D->Ok) {
    ShadowVolume = new TShadowVolume(D3D);
    ShadowVolume->ClearStencil = D3D->StencilBuffer;
  } else {
    SetError(D3D->ErrorText);
  }
}

void TvokEngine::CreateEngineWindow(int Width, int Height, uint32_t WindowStyle) {
  os::WindowClass Class;
  Class.name = EngineWindowClass;
  Class.style = os::CS_HREDRAW | os::CS_VREDRAW | os::CS_DBLCLKS;
  Class.proc = EngineWindowProc;
  Class.cursor = os::Cursor::Arrow;
  os::RegisterClass(Class);

  if (Windowed) {
    const uint32_t Style = WindowStyle != 0 ? WindowStyle : DefaultWindowStyle;
    // The window system sizes the client area itself, so the requested size needs no adjusting
    // for the frame: the client area is exactly Width x Height at the top-left corner.
    Handle = os::CreateWindow(EngineWindowClass, Caption, Style, 0, 0, 0, Width, Height);
  } else {
    Handle = os::CreateWindow(EngineWindowClass, Caption, os::WS_POPUP, os::WS_EX_APPWINDOW, 0, 0,
                              os::ScreenWidth(), os::ScreenHeight());
  }
  if (Handle) {
    os::ShowWindow(Handle, true);
    os::UpdateWindow(Handle);
  }
}

TvokEngine::~TvokEngine() {
  delete ShadowVolume;
  ShadowVolume = nullptr;
  delete D3D;
  D3D = nullptr;
  // A late paint message must not reach a freed engine.
  if (Engine == this) Engine = nullptr;
}

void TvokEngine::UpdateClock() {
  uint32_t Now;
  if (FixedStep && RateNum > 0) {
    LastTick = Time;
    const uint32_t Next = RateFrameTime(FixedFrame++);
    DeltaTime = static_cast<int>(Next - Time);
    Time = Next;
    Now = os::TimeGetTime();
  } else if (FixedStep) {
    LastTick = Time;
    DeltaTime = static_cast<int>(FixedStepLength);
    Time += FixedStepLength;
    // The step says nothing about how fast frames really come; the rate is measured on the real
    // clock so it stays meaningful.
    Now = os::TimeGetTime();
  } else {
    Now = os::TimeGetTime();
    uint32_t Next = Time + (Now - LastTick);
    LastTick = Now;
    if (HeardTime) Next = FollowHeard(Next, Now);
    DeltaTime = static_cast<int>(Next - Time);
    Time = Next;
  }
  StepTick = Now;
  if (MeasureFps && Now - FpsWindowStart >= 1000u) {
    Fps = RoundHalfEven(static_cast<double>(FpsFrames) * 1000.0 / static_cast<double>(Now - FpsWindowStart));
    FpsFrames = 0;
    FpsWindowStart = Now;
  }
  if (D3D) D3D->FrameTime = Time;
}

void TvokEngine::RenderFrame() {
  if (!AppActive || Rendering) return;
  if (Paused) {
    os::Sleep(10);  // nothing to do until a key arrives; do not spin
    return;
  }
  // A failed device wrapper has nothing to draw with.
  if (!D3D || !D3D->Device) return;
  if (DeviceLost) {
    RestoreDevice();
    return;
  }
  UpdateClock();
  MousePrevState = MouseState;
  MouseState = MouseLive;
  if (OnMove) OnMove(DeltaTime);

  TRenderingScope Scope(Rendering);
  if (FAILED(D3D->Device->BeginScene())) return;
  // Read only now: a SetScene inside OnMove already draws this frame.
  if (OnRender) OnRender(DeltaTime);
  if (ShowFps) D3D->TextOut(0, FpsTextY, "FPS:" + std::to_string(Fps), 0xFFFFFFFFu);
  D3D->Device->EndScene();
  const HRESULT Result = D3D->Device->Present(PresentSourceRect, PresentDestRect, nullptr, nullptr);
  if (Result == D3DERR_DEVICELOST) DeviceLost = true;
  if (HeardTime && !FixedStep) {
    const double Lead = static_cast<double>(os::TimeGetTime() - StepTick);
    PresentLead = PresentLead == 0 ? Lead : PresentLead + (Lead - PresentLead) * 0.1;
  }
  ++FpsFrames;
  if (OnFramePresented) OnFramePresented();
}

namespace {
// Beyond half a frame from what is heard (a stall, a device that ran dry, a frame held up) the
// clock jumps there at once; a smaller distance (the estimate's own jitter) is taken up a quarter
// per frame, so frames stay even while the picture stays within a frame of the sound. A frame is
// taken as at most HeardSnapMaxMs: the wall clock's step over a stall is no frame.
constexpr double HeardSnapMinMs = 4.0;
constexpr double HeardSnapMaxMs = 50.0;
constexpr double HeardPull = 0.25;
// How long the picture waits at the start or after a jump for music that has not reached the
// speakers (a sound output waking up). A device that never plays is given up on after this.
constexpr uint32_t HeardWaitLimit = 3000;
}  // namespace

uint32_t TvokEngine::FollowHeard(uint32_t Next, uint32_t Now) {
  double Heard = 0;
  bool Started = false;
  if (!HeardTime(Heard, Started)) {
    WaitingForMusic = false;
    return Next;
  }
  if (!Started) {
    if (!WaitingForMusic) {
      WaitingForMusic = true;
      WaitingSince = Now;
    }
    // The picture holds until the music is heard; the time waited is not show time.
    if (Now - WaitingSince < HeardWaitLimit) return Time;
    return Next;
  }
  WaitingForMusic = false;
  const double Target = Heard + PresentLead;
  const double Error = Target - static_cast<double>(Next);
  const double Snap = std::clamp(0.5 * static_cast<double>(Next - Time), HeardSnapMinMs, HeardSnapMaxMs);
  const double Aim = std::fabs(Error) > Snap ? Target : static_cast<double>(Next) + Error * HeardPull;
  // The clock never runs backwards: a picture ahead of the music waits for it.
  if (Aim <= static_cast<double>(Time)) return Time;
  return static_cast<uint32_t>(std::llround(Aim));
}

uint32_t TvokEngine::RateFrameTime(uint64_t K) const {
  if (RateNum == 0) return static_cast<uint32_t>(K * FixedStepLength);
  return static_cast<uint32_t>(K * 1000u * RateDen / RateNum);
}

void TvokEngine::SkipFrame(bool Draw) {
  if (Rendering || !D3D || !D3D->Device) return;
  UpdateClock();
  MousePrevState = MouseState;
  MouseState = MouseLive;
  if (OnMove) OnMove(DeltaTime);
  TRenderingScope Scope(Rendering);
  IDirect3DDevice9* Device = D3D->Device.get();
  if (FAILED(Device->BeginScene())) return;
  gx::GxSetWarmUp(Device, !Draw);
  try {
    if (OnRender) OnRender(DeltaTime);
  } catch (...) {
    gx::GxSetWarmUp(Device, false);
    Device->EndScene();
    throw;
  }
  gx::GxSetWarmUp(Device, false);
  Device->EndScene();
}

void TvokEngine::RestoreDevice() {
  const HRESULT Result = D3D->Device->TestCooperativeLevel();
  if (SUCCEEDED(Result)) return;
  if (Result == D3DERR_DEVICELOST) {
    os::Sleep(100);
    return;
  }
  if (Result == D3DERR_DEVICENOTRESET) {
    if (OnDeviceLost) OnDeviceLost();
    if (SUCCEEDED(D3D->Device->Reset(&D3D->PresentParams))) {
      if (OnDeviceReset) OnDeviceReset();
      DeviceLost = false;
    }
  }
}

void TvokEngine::Run() {
  try {
    do {
      if (os::PeekMessage(Msg, nullptr, 0, 0, os::PM_NOREMOVE)) {
        Terminated = !os::GetMessage(Msg, nullptr, 0, 0);
        os::TranslateMessage(Msg);
        os::DispatchMessage(Msg);
      } else {
        RenderFrame();
      }
      // A Ctrl+C or SIGTERM ends the show like its close box, whenever it came (the window
      // system turns it into a close; this holds should no window have been there to close).
    } while (!Terminated && !StopRequested && !os::StopRequested());
  } catch (const std::exception& Error) {
    // An exception without text is the show's way of stopping quietly; anything with something
    // to say goes on to the start-up, which reports it.
    const char* Text = Error.what();
    if (Text && *Text) throw;
  }
}

void TvokEngine::ResetClock() { LastTick = os::TimeGetTime(); }

void TvokEngine::SetScene(TvokFrameProc OnMove, TvokFrameProc OnRender) {
  this->OnMove = OnMove;
  this->OnRender = OnRender;
}

void TvokEngine::Quit() {
  QuitCalled = true;
  os::PostMessage(Handle, os::WM_CLOSE, 0, 0);
}

void TvokEngine::ShowCursor(bool Visible) {
  CursorVisible = Visible;
  CursorHidden = !Visible;
  if (Visible) {
    os::SetCursor(os::Cursor::Arrow);
  } else {
    os::SetCursor(os::Cursor::None);
    if (D3D && D3D->Device) D3D->Device->ShowCursor(FALSE);
  }
}
