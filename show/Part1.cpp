// Scene one: the platform on the rippling water. The camera flies in from far away and then
// sways in a slow circle while the view tilts; a drop falls every 900 ms; most of the eleven
// steps open with a white flash.

#include <cmath>

#include "engine/vokModells.h"
#include "engine/vokResource.h"
#include "engine/vokWater.h"
#include "show/AssetWarnings.h"
#include "show/Globals.h"
#include "show/SceneTable.h"
#include "show/Scenes.h"

// The scene's routines: the rest of the show reaches them through the row.
static void LoadPart1();
static void MovePart1(int DeltaTime);
static void RenderPart1(int DeltaTime);
static void FreePart1();

namespace {

constexpr uint32_t StepEnd[] = {3692, 11077, 13615, 13864, 14077, 16864, 17192, 17308, 17538, 17769, 18461};
constexpr uint32_t DropInterval = 900;
constexpr int DropCell = 95;  // wraps onto cell (31, 31) of the 64 x 64 grid
constexpr int LoadRounds = 200;

uint32_t DropTime = 0;

TvokSprite* CreateLayer(TvokD3D* D3D, uint8_t Level) {
  auto* Layer = new TvokSprite(D3D);
  LPDIRECT3DTEXTURE9 Texture;
  Layer->CreateTexture(D3D->Width, D3D->Height, D3DFMT_A8R8G8B8, Texture);
  Layer->FillTexture(Level, Level, Level);
  Layer->SetAlpha(0);
  return Layer;
}

TzanObject* BuildWall(TvokD3D* D3D) {
  auto* Wall = new TzanObject(D3D);
  Wall->Param1 = 60;    // segments
  Wall->Param2 = 0.5f;  // ring height
  Wall->Param3 = 15.0f;
  Wall->Param4 = 15.0f;
  Wall->Param5 = 1.0f;  // one ring
  Wall->Anchor = 4;     // bottom centre at the origin
  Wall->BuildCylinder();
  Wall->CullMode = D3DCULL_NONE;
  Wall->SphereMapped = true;
  Wall->EnvTexture = TexEnvMap;
  Wall->TexCoordIndex = D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
  Wall->Textured = true;
  Wall->Texture = TexShowDown;
  return Wall;
}

TzanObject* BuildTop(TvokD3D* D3D) {
  auto* Disc = new TzanObject(D3D);
  Disc->Param1 = 60;
  Disc->Param2 = 15.0f;
  Disc->Param3 = 15.0f;
  Disc->BuildDisc();
  SetWhiteMaterial(*Disc, 0.2f);
  Disc->CullMode = D3DCULL_CCW;
  Disc->EnvTexture = TexFog;
  Disc->SphereMapped = true;
  Disc->TexCoordIndex = D3DTSS_TCI_SPHEREMAP;
  Disc->Textured = true;
  Disc->Texture = TexShowDown;
  Disc->Rotation.x = DegToRad(90.0f);
  Disc->BasePosition.y = 0.49f;
  return Disc;
}

}  // namespace

// This scene's row of the show's table (SceneTable.cpp).
extern const TScene Part1Scene{1, "Part1", LoadPart1, MovePart1, RenderPart1, FreePart1, StepEnd, 0,
                               LightAround(1.0f, 0.0f, -3.0f), FogFrom(50.0f, 75.0f), TPostEffect::None};

void LoadPart1() {
  DropTime = 0;  // as in the program image: a show started over in the same process loads again
  TvokD3D* D3D = Engine->D3D;
  IDirect3DDevice9* Device = D3D->Device.get();

  SetupLight(Part1Scene);
  for (DWORD Stage = 0; Stage <= 1; ++Stage) {
    Device->SetTextureStageState(Stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    Device->SetTextureStageState(Stage, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    Device->SetTextureStageState(Stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
  }

  FadeSprite = CreateLayer(D3D, 0);
  FlashSprite = CreateLayer(D3D, 255);

  // The cube map needs a copy of its own: the next read replaces the shared buffer.
  WaterCubeData.clear();
  if (Resource->ReadByName("WaterCube", ResourceData) && ResourceData.Data != nullptr) {
    const auto* Bytes = static_cast<const uint8_t*>(ResourceData.Data);
    WaterCubeData.assign(Bytes, Bytes + ResourceData.Size);
    if (WaterCubeData.empty()) EntryWarning("WaterCube", "the entry is empty");
  } else {
    WarnMissingEntry("WaterCube");
  }
  const bool HaveEffect = Resource->ReadByName("WaterFX", ResourceData);
  if (!HaveEffect) WarnMissingEntry("WaterFX");
  WaterEffect = new TWaterEffect(D3D, 100.0f, HaveEffect ? ResourceData.Data : nullptr,
                                 HaveEffect ? ResourceData.Size : 0,
                                 WaterCubeData.empty() ? nullptr : WaterCubeData.data(),
                                 static_cast<int>(WaterCubeData.size()), TexWater);
  if (!WaterEffect->CubeError.empty()) EntryWarning("WaterCube", "not usable as a cube map: " + WaterEffect->CubeError);
  if (!WaterEffect->EffectError.empty()) EntryWarning("WaterFX", "the effect cannot be used as written: " + WaterEffect->EffectError);
  WaterEffect->Enabled = true;
  WaterEffect->CausticsEnabled = false;
  WaterEffect->Position = D3DXVECTOR3(0.0f, -1.0f, 0.0f);

  // The clock stands still while loading, so these rounds only settle the effect's state:
  // the water keeps the shape the first drop gave it. Nothing is drawn: loading happens outside
  // any scene, where the device refuses every draw.
  WaterEffect->Water->Drop(DropCell, DropCell);
  const D3DXVECTOR3 Still(0.0f, 0.0f, 0.0f);
  for (int Round = 0; Round < LoadRounds; ++Round) {
    WaterEffect->Update(Still, Still);
    WaterEffect->SetWorld();
  }

  PoolSet = new TzanObjectSet();
  PoolSet->Add(BuildWall(D3D));
  PoolSet->Add(BuildTop(D3D));
  PoolSet->Position = D3DXVECTOR3(1.8f, -1.0f, 0.25f);
}

namespace {

// What each step does to the white layer and the camera, T ms into the scene.
void MoveStep(uint32_t T) {
  TvokD3D* D3D = Engine->D3D;
  const uint32_t S = StepTime();
  switch (Step) {
    case 1:
      FadeOutLayer(FlashSprite, T, 10.0);
      D3D->CameraPosition.z = static_cast<float>(static_cast<double>(T) / 20.0 - 230.0);
      break;
    case 2:
      FadeOutLayer(FlashSprite, S, 1.0);
      break;
    case 3:
    case 6:
    case 11:
      FadeOutLayer(FlashSprite, S, 4.0);
      break;
    default:
      ShortFlashLayer(FlashSprite, S);
      break;
  }
}

}  // namespace

void MovePart1(int) {
  TvokD3D* D3D = Engine->D3D;
  if (BeginFirstFrame(Part1Scene)) {
    SetupFog(Part1Scene);
    D3D->SetCamera(true, 0.0f, 0.0f, -45.0f);
    D3D->CameraRotation.x = DegToRad(340.0f);
    BlurLevel = 4.0f;
    StartSceneClock();
    DropTime = SceneStart;
  }

  const uint32_t T = SceneTime();
  const double Sway = static_cast<double>(T) / 300.0;
  D3D->CameraPosition.x = static_cast<float>(std::cos(Sway) * 1.5);
  D3D->CameraPosition.y = static_cast<float>(std::sin(Sway) * 3.0);
  D3D->CameraRotation.x = DegToRad(static_cast<float>(335.0 - Sway));

  MoveStep(T);
  // A step that ends here shows its successor in this very frame.
  if (AdvanceSceneStep(Part1Scene) == timeline::TStepAdvance::NextStep) MoveStep(T);
}

void RenderPart1(int) {
  if (!SceneIsCurrent(Part1Scene)) return;
  IDirect3DDevice9* Device = Engine->D3D->Device.get();

  BeginSceneFrame();
  Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Device->SetRenderState(D3DRS_FOGENABLE, TRUE);

  if (Engine->Time - DropTime > DropInterval) {
    DropTime += DropInterval;
    WaterEffect->Water->Drop(DropCell, DropCell);
  }
  const D3DXVECTOR3 Still(0.0f, 0.0f, 0.0f);
  WaterEffect->Update(Still, Still);
  WaterEffect->SetWorld();
  WaterEffect->Render(true);

  PoolSet->Position.y = -1.0f;
  PoolSet->DrawAll(false);

  DrawLayer(FlashSprite);
  DrawLayer(FadeSprite);
  Device->SetRenderState(D3DRS_FOGENABLE, FALSE);
  EndSceneFrame();
}

void FreePart1() {
  delete FadeSprite;
  FadeSprite = nullptr;
  delete FlashSprite;
  FlashSprite = nullptr;
  if (PoolSet != nullptr) {
    PoolSet->Clear();
    delete PoolSet;
    PoolSet = nullptr;
  }
  delete WaterEffect;
  WaterEffect = nullptr;
  WaterCubeData.clear();
}
