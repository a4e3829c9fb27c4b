#include "engine/vokD3D.h"

#include <cstring>

#include "platform/os/system.h"

namespace {

constexpr D3DFORMAT StencilFormats[] = {D3DFMT_D24S8, D3DFMT_D24FS8, D3DFMT_D24X4S4, D3DFMT_D15S1};
constexpr D3DFORMAT DepthFormats[] = {D3DFMT_D32,    D3DFMT_D24S8,    D3DFMT_D24X8,
                                      D3DFMT_D24FS8, D3DFMT_D24X4S4, D3DFMT_D16};

bool DepthFormatSupported(IDirect3D9& Direct3D, D3DFORMAT Format) {
  return SUCCEEDED(Direct3D.CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                              D3DRTYPE_SURFACE, Format));
}

}  // namespace

D3DFORMAT ChooseDepthFormat(IDirect3D9& Direct3D, bool WantStencil, bool& Stencil) {
  Stencil = false;
  if (WantStencil) {
    for (D3DFORMAT Format : StencilFormats) {
      if (DepthFormatSupported(Direct3D, Format)) {
        Stencil = true;
        return Format;
      }
    }
  }
  for (D3DFORMAT Format : DepthFormats)
    if (DepthFormatSupported(Direct3D, Format)) return Format;
  return D3DFMT_D15S1;
}

DWORD ChooseBehaviorFlags(bool CapsValid, const D3DCAPS9& Caps, bool HardwareVertexProcessing, bool VertexShader20) {
  if (!CapsValid) return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  if (HardwareVertexProcessing && (Caps.VertexProcessingCaps & D3DVTXPCAPS_DIRECTIONALLIGHTS)) {
    if (VertexShader20 && (!(Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ||
                           static_cast<DWORD>(Caps.VertexShaderVersion) < D3DVS_VERSION(2, 0)))
      return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    return D3DCREATE_HARDWARE_VERTEXPROCESSING;
  }
  return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

TvokD3D::TvokD3D(HWND Window, int Width, int Height, int RefreshRate, bool TrueColor, bool FullScreen,
                 bool HardwareVertexProcessing, bool DepthBuffer, bool Stencil, bool VSync, bool VertexShader20,
                 D3DMULTISAMPLE_TYPE MultiSample) {
  this->FullScreen = FullScreen;
  this->HardwareVertexProcessing = HardwareVertexProcessing;
  this->MultiSample = MultiSample;
  LastResult = 0;
  this->Width = Width;
  this->Height = Height;
  this->TrueColor = TrueColor;
  this->DepthBuffer = DepthBuffer;
  StencilBuffer = Stencil;
  Aspect = Height != 0 ? static_cast<float>(static_cast<double>(Width) / static_cast<double>(Height)) : 0.0f;
  DeviceType = D3DDEVTYPE_HAL;

  Direct3D = Direct3DCreate9(VokSdkVersion);
  if (!Direct3D) {
    SetError("D3D create error.");
    return;
  }

  PresentParams = D3DPRESENT_PARAMETERS{};
  PresentParams.Windowed = FullScreen ? FALSE : TRUE;
  PresentParams.hDeviceWindow = Window;
  PresentParams.EnableAutoDepthStencil = DepthBuffer ? TRUE : FALSE;
  // Chosen even without a depth buffer; it has no effect then.
  PresentParams.AutoDepthStencilFormat = ChooseDepthFormat(*Direct3D, Stencil, StencilBuffer);

  if (FullScreen) {
    PresentParams.BackBufferWidth = static_cast<UINT>(Width);
    PresentParams.BackBufferHeight = static_cast<UINT>(Height);
    PresentParams.BackBufferFormat = TrueColor ? D3DFMT_X8R8G8B8 : D3DFMT_R5G6B5;
    PresentParams.BackBufferCount = 1;
    PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    PresentParams.FullScreen_RefreshRateInHz = static_cast<UINT>(RefreshRate);
    if (os::HasParamPrefix("NOVSYNC")) VSync = false;
    PresentParams.PresentationInterval = VSync ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
  } else {
    PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    PresentParams.BackBufferFormat = D3DFMT_UNKNOWN;
  }
  PresentParams.MultiSampleType = MultiSample;

  const bool CapsValid = SUCCEEDED(Direct3D->GetDeviceCaps(0, DeviceType, &Caps));
  BehaviorFlags = ChooseBehaviorFlags(CapsValid, Caps, HardwareVertexProcessing, VertexShader20);

  LastResult = Direct3D->CreateDevice(0, DeviceType, Window, BehaviorFlags, &PresentParams, Device);
  if (FAILED(LastResult)) {
    if (FullScreen) {
      PresentParams.BackBufferFormat = TrueColor ? D3DFMT_R8G8B8 : D3DFMT_X1R5G5B5;
    } else {
      PresentParams = D3DPRESENT_PARAMETERS{};
      const int Bits = os::WindowBitsPerPixel(Window);
      if (Bits != 0) {
        PresentParams.Windowed = TRUE;
        PresentParams.hDeviceWindow = Window;
        PresentParams.BackBufferWidth = static_cast<UINT>(Width);
        PresentParams.BackBufferHeight = static_cast<UINT>(Height);
        PresentParams.BackBufferFormat = Bits == 16 ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8;
        PresentParams.BackBufferCount = 1;
        PresentParams.EnableAutoDepthStencil = TRUE;
        PresentParams.AutoDepthStencilFormat = D3DFMT_D16;
        PresentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
      }
    }
    Device.reset();
    LastResult = Direct3D->CreateDevice(0, DeviceType, Window, BehaviorFlags, &PresentParams, Device);
  }
  if (FAILED(LastResult)) {
    Device.reset();
    SetError("D3D device create error.");
    return;
  }

  CreateFont(20);

  if (FAILED(Direct3D->GetDeviceCaps(0, DeviceType, &Caps))) {
    SetError("D3D get device caps error.");
    return;
  }
  if (MultiSample != D3DMULTISAMPLE_NONE) Device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
  Ok = true;
}

TvokD3D::~TvokD3D() {
  Font.reset();
  Device.reset();
  Direct3D.reset();
}

void TvokD3D::CreateFont(int Height) {
  Font.reset();
  if (!Device) return;
  D3DXFONT_DESCA Desc{};
  Desc.Height = Height;
  Desc.Width = 0;
  Desc.Weight = 0;
  Desc.MipLevels = 0;
  Desc.Italic = FALSE;
  Desc.CharSet = 1;          // DEFAULT_CHARSET
  Desc.OutputPrecision = 8;  // OUT_OUTLINE_PRECIS
  Desc.Quality = 0;          // DEFAULT_QUALITY
  Desc.PitchAndFamily = 2;   // VARIABLE_PITCH
  std::strncpy(Desc.FaceName, "MS Sans Seriff", sizeof(Desc.FaceName) - 1);
  if (FAILED(D3DXCreateFontIndirectA(Device, &Desc, Font))) Font.reset();
}

void TvokD3D::TextOut(int X, int Y, const std::string& Text, D3DCOLOR Color) {
  if (!Font) return;
  RECT Rect{X, Y, Width, Height};
  Font->DrawTextA(nullptr, Text.c_str(), -1, &Rect, 0, Color);
}

void TvokD3D::ClearTarget(D3DCOLOR Color) {
  if (Device) Device->Clear(0, nullptr, D3DCLEAR_TARGET, Color, 1.0f, 0);
}

void TvokD3D::GetBackBufferDesc(D3DSURFACE_DESC& Desc) {
  if (!Device) return;
  LPDIRECT3DSURFACE9 Surface;
  if (SUCCEEDED(Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, Surface)) && Surface) {
    Surface->GetDesc(&Desc);
    Surface.reset();
  }
}

void TvokD3D::SetProjection(float Aspect, float Near, float Far, float Fov) {
  D3DXMATRIX M;
  D3DXMatrixPerspectiveFovLH(&M, Fov, Aspect, Near, Far);
  Projection = M;
  if (Device) Device->SetTransform(D3DTS_PROJECTION, &Projection);
}

void TvokD3D::SetCamera(bool Reset, float X, float Y, float Z) {
  if (Reset) {
    CameraTarget = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    CameraTargetBase = CameraTarget;
    CameraRotation = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
  }
  CameraPosition = D3DXVECTOR3(X, Y, Z);
}

void TvokD3D::UpdateView() {
  const D3DXVECTOR3 Up(0.0f, 1.0f, 0.0f);
  D3DXMATRIX M;
  D3DXMatrixLookAtLH(&M, &CameraPosition, &CameraTarget, &Up);
  // Exact comparison: -0.0 counts as no rotation.
  if (CameraRotation.y != 0.0f || CameraRotation.x != 0.0f || CameraRotation.z != 0.0f) {
    D3DXMATRIX R;
    D3DXMatrixRotationYawPitchRoll(&R, CameraRotation.y, CameraRotation.x, CameraRotation.z);
    D3DXMatrixMultiply(&M, &R, &M);
  }
  View = M;
  if (Device) Device->SetTransform(D3DTS_VIEW, &View);
}

DWORD TvokD3D::FloatAsDWord(float Value) { return ::FloatAsDWord(Value); }

float DegToRad(float Degrees) {
  return static_cast<float>(static_cast<double>(Degrees) * (static_cast<double>(SinglePi) / 180.0));
}

D3DXVECTOR2 Vector2(float X, float Y) { return D3DXVECTOR2(X, Y); }
D3DXVECTOR3 Vector3(float X, float Y, float Z) { return D3DXVECTOR3(X, Y, Z); }
D3DXVECTOR4 Vector4(float X, float Y, float Z, float W) { return D3DXVECTOR4(X, Y, Z, W); }
D3DCOLORVALUE ColorValue(float R, float G, float B, float A) { return D3DCOLORVALUE{R, G, B, A}; }

float Vec3Dot(const D3DXVECTOR3& A, const D3DXVECTOR3& B) { return A.x * B.x + A.y * B.y + A.z * B.z; }

void Vec3Add(D3DXVECTOR3& Out, const D3DXVECTOR3& A, const D3DXVECTOR3& B) {
  Out.x = A.x + B.x;
  Out.y = A.y + B.y;
  Out.z = A.z + B.z;
}

void Vec3Subtract(D3DXVECTOR3& Out, const D3DXVECTOR3& A, const D3DXVECTOR3& B) {
  Out.x = A.x - B.x;
  Out.y = A.y - B.y;
  Out.z = A.z - B.z;
}

void Vec3Scale(D3DXVECTOR3& Out, const D3DXVECTOR3& A, float S) {
  Out.x = A.x * S;
  Out.y = A.y * S;
  Out.z = A.z * S;
}

void MatrixIdentity(D3DMATRIX& M) {
  for (auto& Row : M.m)
    for (float& V : Row) V = 0.0f;
  M._11 = M._22 = M._33 = M._44 = 1.0f;
}

D3DCOLOR ColorARGB(int A, int R, int G, int B) {
  return (static_cast<uint32_t>(A) << 24) | (static_cast<uint32_t>(R) << 16) | (static_cast<uint32_t>(G) << 8) |
         static_cast<uint32_t>(B);
}

DWORD FloatAsDWord(float Value) {
  DWORD Bits;
  std::memcpy(&Bits, &Value, sizeof Bits);
  return Bits;
}
