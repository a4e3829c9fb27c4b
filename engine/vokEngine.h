#pragma once
// The engine: the render window, the message loop, the millisecond demo clock, the frame-rate
// counter and lost-device recovery. The show plugs in two plain routines per scene, OnMove and
// OnRender, and reaches everything else through the global Engine (Engine->Time,
// Engine->D3D->Device).

#include <cstdint>
#include <string>

#include "engine/vokD3D.h"
#include "engine/vokObject.h"
#include "engine/vokShadow.h"
#include "platform/os/messages.h"
#include "platform/os/window.h"

using TvokFrameProc = void (*)(int DeltaTime);
using TvokNotifyProc = void (*)();

// The mouse as the window procedure last saw it.
struct TvokMouseState {
  int32_t X;
  int32_t Y;
  bool Left;
  bool Right;
  bool Middle;
  bool Shift;
  bool Control;
  int16_t Wheel;
  bool DoubleClick;
};

// The window style used for a created window in windowed mode when none is given:
// visible, caption, close box, sizing frame.
constexpr uint32_t DefaultWindowStyle = 0x10CC0000u;

// Class name of the engine's window.
constexpr const char* EngineWindowClass = "vokEngine";

class TvokEngine : public TvokObject {
 public:
  os::Message Msg{};
  void* Icon = nullptr;  // no icon: the class gets a null icon handle
  bool Terminated = false;
  bool Rendering = false;
  bool DeviceLost = false;
  int DeltaTime = 0;
  uint32_t FpsWindowStart = 0;
  uint32_t LastTick = 0;
  int FpsFrames = 0;
  int Fps = 0;
  bool MeasureFps = true;
  TvokFrameProc OnMove = nullptr;
  TvokFrameProc OnRender = nullptr;
  std::string Caption;
  bool Windowed = true;
  bool FullScreen = false;
  TvokNotifyProc OnDeviceLost = nullptr;
  TvokNotifyProc OnDeviceReset = nullptr;
  bool CursorVisible = true;
  bool ShowFps = false;
  uint32_t Time = 0;
  bool FixedStep = false;
  HWND Handle = nullptr;
  TvokD3D* D3D = nullptr;  // owned
  int FpsTextY = 0;
  bool StopRequested = false;
  const RECT* PresentSourceRect = nullptr;
  const RECT* PresentDestRect = nullptr;

  // Length of one fixed step in ms (40 unless a run asks for another step length).
  uint32_t FixedStepLength = 40;
  // Called after every presented frame (capture, tracing, run limits); nil in a plain run.
  TvokNotifyProc OnFramePresented = nullptr;

  // A fixed step of exactly RateDen / RateNum seconds (a frame rate such as 60 or 30000/1001):
  // with FixedStep and RateNum > 0 the k-th frame (from 0) shows Time = floor(k * 1000 * RateDen /
  // RateNum), computed from the frame number so that nothing drifts. FixedFrame is k of the next
  // frame. RateNum = 0 keeps the plain FixedStepLength step.
  uint32_t RateNum = 0;
  uint32_t RateDen = 1;
  uint64_t FixedFrame = 0;
  // Set by Quit: the show asked to end (a replay that draws nothing stops there too).
  bool QuitCalled = false;
  // Show-maker controls: while Paused no frame runs (the caller resets the clock on resuming).
  bool Paused = false;
  // A live run with music follows what is heard: the show's moment leaving the speakers now, in ms,
  // and whether the music's sound has reached them since it last started or jumped. False when
  // there is no music to follow; the clock then counts real time. Nil: real time always.
  bool (*HeardTime)(double& Ms, bool& Started) = nullptr;
  // How long a frame takes from its clock step to being shown (ms, smoothed): the clock aims at
  // what will be heard when the picture appears.
  double PresentLead = 0;
  // Sees every key press before the engine does; true when it took the key. Nil in a plain run.
  bool (*OnKeyDown)(uint32_t VirtualKey) = nullptr;

  TvokEngine(HWND Window, int Width, int Height, int RefreshRate, bool TrueColor, const std::string& Caption,
             TvokFrameProc OnMove, TvokFrameProc OnRender, bool FullScreen, bool HardwareVertexProcessing,
             bool DepthBuffer, bool Stencil, bool VSync, bool VertexShader20, D3DMULTISAMPLE_TYPE MultiSample,
             uint32_t WindowStyle);
  ~TvokEngine();
  TvokEngine(const TvokEngine&) = delete;
  TvokEngine& operator=(const TvokEngine&) = delete;

  // The message loop: returns once the window is gone (WM_QUIT), StopRequested is set, or an
  // exception with an empty message reached it. Exceptions with a message propagate.
  void Run();
  // One frame; skipped while inactive or already inside a frame.
  void RenderFrame();
  // The next frame's DeltaTime counts from now; Time is kept.
  void ResetClock();
  // Both routines at once; inside OnMove the new OnRender already draws the current frame.
  void SetScene(TvokFrameProc OnMove, TvokFrameProc OnRender);
  // Closes the window the way its close box does.
  void Quit();
  void ShowCursor(bool Visible);

  void UpdateClock();
  void RestoreDevice();
  // The next clock value on the heard music's clock: Next is where real time alone would put it.
  uint32_t FollowHeard(uint32_t Next, uint32_t Now);
  // One frame of the show's logic without a picture: clock, move and render routines run as in
  // RenderFrame, but the device draws nothing (unless Draw) and nothing is presented. Seeking
  // replays the show with these, so every moment is reached exactly as a run from 0 reaches it.
  void SkipFrame(bool Draw = false);
  // Time of frame K of the fixed rational step.
  uint32_t RateFrameTime(uint64_t K) const;

 private:
  void CreateEngineWindow(int Width, int Height, uint32_t WindowStyle);
  uint32_t StepTick = 0;            // real time of the current frame's clock step
  bool WaitingForMusic = false;     // the music plays but is not heard yet
  uint32_t WaitingSince = 0;
};

// The window procedure of the engine's window class.
os::LRESULT EngineWindowProc(HWND Window, uint32_t Message, os::WPARAM WParam, os::LPARAM LParam);

extern TvokEngine* Engine;
extern TShadowVolume* ShadowVolume;
extern bool AppActive;
extern bool EngineWindowed;
extern bool CursorHidden;
extern uint8_t KeyState[256];
constexpr int KeyFlagCount = 13;
extern bool KeyFlags[KeyFlagCount];
extern uint8_t LastChar;
extern TvokMouseState MouseLive;
extern TvokMouseState MouseState;
extern TvokMouseState MousePrevState;

// KeyFlags index of a virtual key, -1 for keys the engine does not track.
int KeyFlagIndex(uint32_t VirtualKey);
// Round half to even, as the frame rate is rounded.
int RoundHalfEven(double Value);
