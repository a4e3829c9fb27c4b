#pragma once
// The device wrapper: the Direct3D object, the device, its capabilities, the text font, and the
// camera and projection every scene uses. Also the small vector and colour helpers the whole
// program shares.

#include <cstdint>
#include <string>

#include "engine/vokObject.h"
#include "platform/gfx/d3d9.h"
#include "platform/gfx/d3dx/d3dx9.h"
#include "platform/os/window.h"

// The SDK version every Direct3DCreate9 caller passes.
constexpr UINT VokSdkVersion = 0x80000020u;

class TvokD3D : public TvokObject {
 public:
  bool FullScreen = false;
  bool HardwareVertexProcessing = false;
  HRESULT LastResult = 0;
  int Width = 0;
  int Height = 0;
  bool TrueColor = false;
  bool DepthBuffer = false;
  bool StencilBuffer = false;
  D3DMULTISAMPLE_TYPE MultiSample = D3DMULTISAMPLE_NONE;
  D3DDEVTYPE DeviceType = D3DDEVTYPE_HAL;
  LPDIRECT3D9 Direct3D;
  D3DPRESENT_PARAMETERS PresentParams{};
  LPDIRECT3DDEVICE9 Device;
  LPD3DXFONT Font;
  D3DCAPS9 Caps{};
  uint32_t FrameTime = 0;
  float Aspect = 0.0f;
  D3DXVECTOR3 CameraTargetBase{0.0f, 0.0f, 0.0f};
  D3DXVECTOR3 CameraTarget{0.0f, 0.0f, 0.0f};
  D3DXVECTOR3 CameraPosition{0.0f, 0.0f, 0.0f};
  D3DXVECTOR3 CameraRotation{0.0f, 0.0f, 0.0f};  // x = pitch, y = yaw, z = roll, radians
  D3DMATRIX Projection{};
  D3DMATRIX View{};

  // The behaviour flags the device was created with (kept for diagnostics and tests).
  DWORD BehaviorFlags = 0;

  // Never throws: the outcome is Ok / ErrorText.
  TvokD3D(HWND Window, int Width, int Height, int RefreshRate, bool TrueColor, bool FullScreen,
          bool HardwareVertexProcessing, bool DepthBuffer, bool Stencil, bool VSync, bool VertexShader20,
          D3DMULTISAMPLE_TYPE MultiSample);
  ~TvokD3D();
  TvokD3D(const TvokD3D&) = delete;
  TvokD3D& operator=(const TvokD3D&) = delete;

  void CreateFont(int Height);
  void TextOut(int X, int Y, const std::string& Text, D3DCOLOR Color);
  void ClearTarget(D3DCOLOR Color);
  void GetBackBufferDesc(D3DSURFACE_DESC& Desc);
  void SetProjection(float Aspect, float Near, float Far, float Fov);
  void SetCamera(bool Reset, float X, float Y, float Z);
  void UpdateView();
  static DWORD FloatAsDWord(float Value);
};

// The depth(-stencil) format the device gets: the first candidate the adapter accepts. Stencil is
// set to whether the chosen format has stencil bits (only when a stencil was asked for).
D3DFORMAT ChooseDepthFormat(IDirect3D9& Direct3D, bool WantStencil, bool& Stencil);
// Hardware vertex processing only when asked for and the capabilities allow it.
DWORD ChooseBehaviorFlags(bool CapsValid, const D3DCAPS9& Caps, bool HardwareVertexProcessing, bool VertexShader20);

// Shared helpers.
constexpr float SinglePi = 3.14159274f;  // pi as a Single ($40490FDB)
float DegToRad(float Degrees);
D3DXVECTOR2 Vector2(float X, float Y);
D3DXVECTOR3 Vector3(float X, float Y, float Z);
D3DXVECTOR4 Vector4(float X, float Y, float Z, float W);
D3DCOLORVALUE ColorValue(float R, float G, float B, float A);
float Vec3Dot(const D3DXVECTOR3& A, const D3DXVECTOR3& B);
void Vec3Add(D3DXVECTOR3& Out, const D3DXVECTOR3& A, const D3DXVECTOR3& B);
void Vec3Subtract(D3DXVECTOR3& Out, const D3DXVECTOR3& A, const D3DXVECTOR3& B);
void Vec3Scale(D3DXVECTOR3& Out, const D3DXVECTOR3& A, float S);
void MatrixIdentity(D3DMATRIX& M);
// (A shl 24) or (R shl 16) or (G shl 8) or B: components are not masked to a byte.
D3DCOLOR ColorARGB(int A, int R, int G, int B);
DWORD FloatAsDWord(float Value);
