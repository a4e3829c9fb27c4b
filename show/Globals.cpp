#include "show/Globals.h"

#include "show/AssetWarnings.h"

#include <algorithm>
#include <cmath>

#include "engine/vokResource.h"
#include "platform/os/clock.h"
#include "show/SceneTable.h"
#include "show/Trace.h"

// ---- Shared scene state (values as the show starts) ------------------------------------------

uint32_t StepStart = 0;
uint32_t SceneStart = 0;
int CurrentScene = 1;
int Step = 0;
int FrameCount = 0;

bool GentleLight = false;
bool MusicCoda = false;
float PostScale = 1.0f;

namespace {
// The white layer's alpha as the scenes last asked for it, and the limiter that turns it into
// the alpha shown, while GentleLight is on.
uint8_t FlashWanted = 0;
timeline::TGentleLight GentleFlash;
// Set by a hand-over: the moment the next scene was due, which its first frame takes as its start.
bool NextSceneDue = false;
uint32_t NextSceneStart = 0;
}  // namespace

TvokSprite* FlashSprite = nullptr;
TvokSprite* FadeSprite = nullptr;
D3DLIGHT9 SceneLight{};
D3DXVECTOR3 LightSource{0.0f, 0.0f, 0.0f};

TzanObjectSet* TicketSet = nullptr;
TzanObject* TicketPlane = nullptr;
TzanObject* FogPlane = nullptr;
TWaterEffect* WaterEffect = nullptr;
std::vector<uint8_t> WaterCubeData;
TzanObjectSet* PoolSet = nullptr;

// ---- Post-processing ----------------------------------------------------------------------

bool PostEffectsAvailable = false;
TPostEffect PostEffect = TPostEffect::None;
float BlurLevel = 4.0f;
float DreamLevel = 3.0f;
int DreamCount = 12;
float GhostLevel = 0.0f;

namespace {

TPostShader PostShaderTable[] = {
    {TPostEffect::Blur, "pshBlur", "BlurShader", {{"fBlurLevel", &BlurLevel, nullptr, true}}, {}, {}},
    {TPostEffect::Dream, "pshDream", "DreamShader", {{"fDreamLevel", &DreamLevel}}, {}, {}},
    {TPostEffect::Dream2, "pshDream2", "Dream2Shader", {{"fDreamLevel", &DreamLevel}, {"iDreamCount", nullptr, &DreamCount}}, {}, {}},
    {TPostEffect::GhostDream, "pshGhostDream", "GhostDreamShader", {{"fDreamLevel", &DreamLevel}, {"fGhostLevel", &GhostLevel}}, {}, {}},
    {TPostEffect::ContrastDream, "pshContrastDream", "ContrastDreamShader", {{"fDreamLevel", &DreamLevel}}, {}, {}},
};

}  // namespace

std::span<TPostShader> PostShaders() { return PostShaderTable; }

TPostShader* PostShaderOf(TPostEffect Effect) {
  for (TPostShader& Row : PostShaderTable)
    if (Row.Effect == Effect) return &Row;
  return nullptr;
}

LPDIRECT3DPIXELSHADER9& BlurPS = PostShaderTable[0].Shader;
LPDIRECT3DPIXELSHADER9& DreamPS = PostShaderTable[1].Shader;
LPDIRECT3DPIXELSHADER9& Dream2PS = PostShaderTable[2].Shader;
LPDIRECT3DPIXELSHADER9& GhostDreamPS = PostShaderTable[3].Shader;
LPDIRECT3DPIXELSHADER9& ContrastDreamPS = PostShaderTable[4].Shader;
LPD3DXCONSTANTTABLE& BlurConstants = PostShaderTable[0].ConstantTable;
LPD3DXCONSTANTTABLE& DreamConstants = PostShaderTable[1].ConstantTable;
LPD3DXCONSTANTTABLE& Dream2Constants = PostShaderTable[2].ConstantTable;
LPD3DXCONSTANTTABLE& GhostDreamConstants = PostShaderTable[3].ConstantTable;
LPD3DXCONSTANTTABLE& ContrastDreamConstants = PostShaderTable[4].ConstantTable;
LPD3DXEFFECT RadialBlurEffect;
D3DXHANDLE RadialBlurTechnique = nullptr;
D3DXMATRIX RadialBlurMatrix;
TvokRenderTarget* PostTarget = nullptr;
bool PostCapturing = false;

namespace {

const LPDIRECT3DDEVICE9 NoDevice;

const LPDIRECT3DDEVICE9& DeviceRef() { return (Engine && Engine->D3D) ? Engine->D3D->Device : NoDevice; }
IDirect3DDevice9* Device() { return DeviceRef().get(); }

// The text of a D3DX error buffer, on one line.
std::string ErrorsText(const LPD3DXBUFFER& Errors) {
  if (!Errors) return "";
  std::string Text(static_cast<const char*>(Errors->GetBufferPointer()), Errors->GetBufferSize());
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\0' || Text.back() == ' ')) Text.pop_back();
  for (char& C : Text)
    if (C == '\n') C = ' ';
  return Text;
}

// One row of the shader table: compile the entry, keep its constant table, make the shader.
void LoadPixelShader(TPostShader& Row) {
  const char* const EntryName = Row.EntryName;
  LPDIRECT3DPIXELSHADER9& Shader = Row.Shader;
  IDirect3DDevice9* Dev = Device();
  if (!Dev || !Resource) return;
  if (!Resource->ReadByName(EntryName, ResourceData) || !ResourceData.Data) {
    WarnMissingEntry(EntryName);
    return;
  }
  LPD3DXBUFFER Code;
  LPD3DXBUFFER Errors;
  if (FAILED(D3DXCompileShader(static_cast<const char*>(ResourceData.Data), ResourceData.Size, nullptr, nullptr,
                               Row.Function, "ps_2_0", 0, &Code, &Errors, &Row.ConstantTable)) ||
      !Code) {
    const std::string Why = ErrorsText(Errors);
    EntryWarning(EntryName, "the shader does not compile" + (Why.empty() ? std::string() : ": " + Why));
    Code.reset();
    return;
  }
  Shader.reset();
  if (FAILED(Dev->CreatePixelShader(static_cast<const DWORD*>(Code->GetBufferPointer()), Shader))) {
    Shader.reset();
    EntryWarning(EntryName, "the device refused the shader (the graphics message above says why); the show goes on without it");
    os::Sleep(1);
  }
  Code.reset();
}

// Sets a float constant by name when the shader's table exists.
void SetFloatConstant(const LPD3DXCONSTANTTABLE& Table, const char* Name, float Value) {
  if (Table) Table->SetFloat(DeviceRef(), Name, Value);
}

void SetIntConstant(const LPD3DXCONSTANTTABLE& Table, const char* Name, int Value) {
  if (Table) Table->SetInt(DeviceRef(), Name, Value);
}

void SelectPixelShader(const LPDIRECT3DPIXELSHADER9& Shader) {
  if (IDirect3DDevice9* Dev = Device()) Dev->SetPixelShader(Shader);
}

}  // namespace

void CreatePostTarget() {
  TvokD3D* D3D = Engine->D3D;
  delete PostTarget;
  // Smaller with --post-scale: the scene is drawn into fewer pixels and stretched over the screen.
  const auto Scaled = [](int Size) { return std::max(1, static_cast<int>(std::lround(Size * double(PostScale)))); };
  PostTarget = new TvokRenderTarget(D3D, Scaled(D3D->Width), Scaled(D3D->Height));
  // The upper 8 % of the captured picture is cut off and the rest stretched over the screen.
  PostTarget->SetTexCoords(0, 0.08f, 1, 1);
  // SetRect puts the far edges on Width - 1 and Height - 1, and pixel centres of
  // pre-transformed vertices lie on whole coordinates, so a rectangle of the screen's size leaves
  // the last column and row undrawn. While a post effect runs nothing else draws there, and they
  // would keep whatever the back buffer last held (scene one's last picture, through scenes two
  // to four). One pixel more each way sets the picture's scale (stretched by 1/Width more);
  // stretched over the whole pixel area, the quad also covers every sample of the edge pixels
  // when multisampling, and the clamped texture keeps their blur from wrapping round.
  PostTarget->SetRect(0, 0, D3D->Width + 1, D3D->Height + 1);
  PostTarget->CoverScreen();
}

void LoadRadialBlur() {
  RadialBlurEffect.reset();
  D3DXMatrixIdentity(&RadialBlurMatrix);
  if (!Device() || !Resource) return;
  if (!Resource->ReadByName("fxRadialBlur", ResourceData) || !ResourceData.Data) {
    WarnMissingEntry("fxRadialBlur");
    return;
  }
  LPD3DXBUFFER Errors;
  GxD3DXTakeLastError();
  if (FAILED(D3DXCreateEffect(DeviceRef(), ResourceData.Data, ResourceData.Size, nullptr, nullptr, 0, nullptr,
                              &RadialBlurEffect, &Errors)) ||
      !RadialBlurEffect) {
    const std::string Why = ErrorsText(Errors);
    EntryWarning("fxRadialBlur", "the effect cannot be used: " +
                                     (Why.empty() ? D3DXFailureReason(D3DXERR_INVALIDDATA, ResourceData.Size) : Why));
    RadialBlurEffect.reset();
    return;
  }
  // Made, but a pass whose shader the device refused is left out of its technique.
  const std::string Refused = GxD3DXTakeLastError();
  RadialBlurEffect->FindNextValidTechnique(nullptr, &RadialBlurTechnique);
  if (!RadialBlurTechnique)
    EntryWarning("fxRadialBlur", "the effect has no technique the device can run" + (Refused.empty() ? "" : " (" + Refused + ")"));
  else if (!Refused.empty())
    EntryWarning("fxRadialBlur", "the effect cannot be used as written: " + Refused);
  RadialBlurEffect->SetTechnique(RadialBlurTechnique);
  RadialBlurEffect->SetMatrix("tTex", &RadialBlurMatrix);
}

void LoadPostShaders() {
  for (TPostShader& Row : PostShaderTable) LoadPixelShader(Row);
  LoadRadialBlur();
}

void FreePostShaders() {
  for (TPostShader& Row : PostShaderTable) {
    Row.Shader.reset();
    Row.ConstantTable.reset();
  }
  RadialBlurEffect.reset();
  RadialBlurTechnique = nullptr;
}

void ApplyPostEffect(TPostEffect Effect) {
  const TPostShader* Row = PostShaderOf(Effect);
  if (!Row) return;
  for (const TShaderConstant& Constant : Row->Constants) {
    if (Constant.Float)
      SetFloatConstant(Row->ConstantTable, Constant.Name, Constant.InPixels ? *Constant.Float * PostScale : *Constant.Float);
    else if (Constant.Int)
      SetIntConstant(Row->ConstantTable, Constant.Name, *Constant.Int);
  }
  SelectPixelShader(Row->Shader);
}

void ApplyBlurShader(float Level) {
  SetFloatConstant(BlurConstants, "fBlurLevel", Level);
  SelectPixelShader(BlurPS);
}

void ApplyDreamShader() { ApplyPostEffect(TPostEffect::Dream); }
void ApplyDream2Shader() { ApplyPostEffect(TPostEffect::Dream2); }
void ApplyGhostDreamShader() { ApplyPostEffect(TPostEffect::GhostDream); }
void ApplyContrastDreamShader() { ApplyPostEffect(TPostEffect::ContrastDream); }

// ---- Frame prologue and epilogue ------------------------------------------------------------

void BeginSceneFrame(bool ClearDepth) {
  IDirect3DDevice9* Dev = Device();
  PostCapturing = false;
  if (!Dev) return;
  if (GentleLight && FlashSprite) FlashSprite->SetAlpha(GentleFlash.Next(FlashWanted, Engine->Time));
  const DWORD Flags = (ShadowVolume && ShadowVolume->ClearStencil) ? (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)
                                                                    : D3DCLEAR_ZBUFFER;
  if (ClearDepth || Flags != D3DCLEAR_ZBUFFER) Dev->Clear(0, nullptr, Flags, 0, 1.0f, 0);
  Engine->D3D->UpdateView();
  if (PostEffectsAvailable && PostEffect != TPostEffect::None && FrameCount >= 3 && PostTarget)
    PostCapturing = SUCCEEDED(PostTarget->BeginRender());
}

void EndSceneFrame() {
  // Only a capture this frame started is drawn back: without one the post texture holds an
  // old (or the first, transparent black) picture, which would cover the frame just drawn.
  if (PostCapturing && PostEffectsAvailable && PostEffect != TPostEffect::None) {
    PostTarget->EndRender();
    ApplyPostEffect(PostEffect);
    PostTarget->Draw();
    SelectPixelShader(nullptr);
  } else if (PostCapturing) {
    // The selection was switched off inside the frame: just go back to the screen.
    PostTarget->EndRender();
  }
  PostCapturing = false;
  ++FrameCount;
}

void ResetSceneState() {
  StepStart = 0;
  SceneStart = 0;
  CurrentScene = 1;
  Step = 0;
  FrameCount = 0;
  NextSceneDue = false;
  NextSceneStart = 0;
  FlashWanted = 0;
  GentleFlash.Reset();
  PostEffect = TPostEffect::None;
  BlurLevel = 4.0f;
  DreamLevel = 3.0f;
  DreamCount = 12;
  GhostLevel = 0.0f;
  PostCapturing = false;
}

// ---- Scene timeline -------------------------------------------------------------------------

bool BeginFirstFrame(int Scene) {
  if (Step != 0) return false;
  CurrentScene = Scene;
  Step = 1;
  return true;
}

void StartSceneClock() {
  // Scene one starts with the show's first frame; every later scene at the moment the previous
  // one ended, however late the frame that noticed it came.
  const uint32_t Start = NextSceneDue ? NextSceneStart : Engine->Time;
  NextSceneDue = false;
  SceneStart = Start;
  StepStart = Start;
}

uint32_t SceneTime() { return Engine->Time - SceneStart; }
uint32_t StepTime() { return Engine->Time - StepStart; }

timeline::TStepAdvance AdvanceSceneStep(std::span<const uint32_t> StepEnd, TvokFrameProc NextMove,
                                        TvokFrameProc NextRender) {
  auto Result = timeline::AdvanceStep(Step, StepStart, SceneStart, Engine->Time, StepEnd);
  if (Result == timeline::TStepAdvance::HandOver) {
    NextSceneDue = true;
    NextSceneStart = StepStart;
    Engine->SetScene(NextMove, NextRender);
    // The next scene's first frame is this one: the render that follows already draws it, so a
    // cut never shows the previous picture twice.
    if (NextMove) NextMove(Engine->DeltaTime);
  }
  return Result;
}

void SetLayerAlpha(TvokSprite* Layer, uint8_t Alpha) {
  if (GentleLight && Layer != nullptr && Layer == FlashSprite) {
    FlashWanted = Alpha;  // shown through the limiter once per frame, in the prologue
    return;
  }
  if (Layer) Layer->SetAlpha(Alpha);
}

void FadeOutLayer(TvokSprite* Layer, uint32_t D, double K) { SetLayerAlpha(Layer, timeline::FadeOutAlpha(D, K)); }
void ShortFlashLayer(TvokSprite* Layer, uint32_t D) { SetLayerAlpha(Layer, timeline::ShortFlashAlpha(D)); }
void FadeInLayer(TvokSprite* Layer, uint32_t D, double K) { SetLayerAlpha(Layer, timeline::FadeInAlpha(D, K)); }

void DrawLayer(TvokSprite* Layer) {
  if (Layer && Layer->Alpha > 0) Layer->Draw();
}

void BeatFlash(timeline::TBeatFlash& Beat) {
  uint8_t Alpha = 0;
  if (Beat.Update(Engine->Time, StepStart, Alpha)) SetLayerAlpha(FlashSprite, Alpha);
}

// ---- Light and fog --------------------------------------------------------------------------

void SetupLight(const TScene& Row) {
  IDirect3DDevice9* Dev = Device();
  if (!Dev) return;
  Dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  Dev->SetRenderState(D3DRS_AMBIENT, 0x00FFFFFF);
  const TSceneLight& Light = Row.Light;
  SceneLight = D3DLIGHT9{};
  SceneLight.Type = D3DLIGHT_DIRECTIONAL;
  SceneLight.Diffuse = D3DCOLORVALUE{Light.Diffuse, Light.Diffuse, Light.Diffuse, 0.0f};
  SceneLight.Specular = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
  SceneLight.Ambient = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
  SceneLight.Range = 100.0f;
  LightSource = LightDirection(Light);
  D3DXVECTOR3 Direction;
  D3DXVec3Normalize(&Direction, &LightSource);
  SceneLight.Direction.x = Direction.x;
  SceneLight.Direction.y = Direction.y;
  SceneLight.Direction.z = Direction.z;
  Dev->SetLight(0, &SceneLight);
  Dev->LightEnable(0, TRUE);
}

D3DXVECTOR3 LightDirection(const TSceneLight& Light) {
  if (!Light.AroundY) return {Light.X, Light.Y, Light.Z};
  const double Angle = static_cast<double>(DegToRad(Light.X));
  return {static_cast<float>(std::cos(Angle)), Light.Y, static_cast<float>(std::sin(Angle))};
}

void SetupFog(const TScene& Row) {
  const TSceneFog& Fog = Row.Fog;
  if (!Fog.Enabled) return;
  const float Start = Fog.Start, End = Fog.End;
  IDirect3DDevice9* Dev = Device();
  if (!Dev) return;
  Dev->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
  Dev->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
  Dev->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  Dev->SetRenderState(D3DRS_FOGSTART, FloatAsDWord(Start));
  Dev->SetRenderState(D3DRS_FOGEND, FloatAsDWord(End));
}

// ---- Trace ----------------------------------------------------------------------------------

void AppendShowTrace(std::string& Json) {
  TraceInt(Json, "scene", CurrentScene);
  TraceInt(Json, "step", Step);
  TraceInt(Json, "flash", FlashSprite ? FlashSprite->Alpha : 0);
  TraceInt(Json, "fade", FadeSprite ? FadeSprite->Alpha : 0);
  TraceInt(Json, "post_effect", static_cast<int>(PostEffect));
  TraceNumber(Json, "blur_level", BlurLevel);
  const TvokD3D* D3D = Engine ? Engine->D3D : nullptr;
  const D3DXVECTOR3 Zero{0.0f, 0.0f, 0.0f};
  const D3DXVECTOR3& Pos = D3D ? D3D->CameraPosition : Zero;
  const D3DXVECTOR3& Target = D3D ? D3D->CameraTarget : Zero;
  const D3DXVECTOR3& Rot = D3D ? D3D->CameraRotation : Zero;
  TraceVec3(Json, "cam_pos", Pos.x, Pos.y, Pos.z);
  TraceVec3(Json, "cam_target", Target.x, Target.y, Target.z);
  TraceVec3(Json, "cam_rot", Rot.x, Rot.y, Rot.z);
  TraceInt(Json, "frame_count", FrameCount);
}
