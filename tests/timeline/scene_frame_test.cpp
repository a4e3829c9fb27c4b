// The frame prologue and epilogue, the step advance and the hand-over, driven through the real
// engine loop (fixed step) on the recording backend with two small test scenes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "demo/Trace.h"
#include "tests/layers/show_fixture.h"

using namespace vktest;

namespace {

constexpr uint32_t EndsA[] = {100, 200, 300};
TvokScreenPlane* Picture = nullptr;  // something for a scene to draw
int MovesA = 0, MovesB = 0;

void MoveB(int);
void RenderB(int);

void MoveA(int) {
  ++MovesA;
  if (BeginFirstFrame(1)) StartSceneClock();
  AdvanceSceneStep(EndsA, MoveB, RenderB);
}

void DrawScene(int Scene) {
  if (!SceneIsCurrent(Scene)) return;
  BeginSceneFrame();
  Engine->D3D->Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  if (Picture) Picture->Draw();
  EndSceneFrame();
}

void RenderA(int) { DrawScene(1); }

void MoveB(int) {
  ++MovesB;
  if (BeginFirstFrame(2)) StartSceneClock();
}

void RenderB(int) { DrawScene(2); }

// The log of one frame, between BeginScene and EndScene.
struct Frame {
  std::vector<std::string> Calls;
  std::vector<vkgfx::DrawRecord> Draws;
  int Clears(const std::string& Prefix = "Clear") const {
    int N = 0;
    for (const auto& C : Calls) N += C.rfind(Prefix, 0) == 0;
    return N;
  }
};

class SceneFrameTest : public ShowTest {
 protected:
  void SetUp() override {
    ShowTest::SetUp();
    if (HasFatalFailure()) return;
    MovesA = MovesB = 0;
    Engine->SetScene(MoveA, RenderA);
    ASSERT_EQ(Device()->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, PictureTexture, nullptr),
              D3D_OK);
    Picture = new TvokScreenPlane(D3D(), PictureTexture);
  }
  void TearDown() override {
    delete Picture;
    Picture = nullptr;
    PictureTexture.reset();
    ShowTest::TearDown();
  }

  Frame RunFrame(uint32_t Step = 40) {
    Engine->FixedStepLength = Step;
    vkgfx::VkClearRecording(Device());
    Engine->RenderFrame();
    return Frame{vkgfx::VkRecordedCalls(Device()), vkgfx::VkRecordedDraws(Device())};
  }

  LPDIRECT3DSURFACE9 Screen() {
    LPDIRECT3DSURFACE9 S;
    Device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, S);
    return S;
  }

  LPDIRECT3DTEXTURE9 PictureTexture;
};

}  // namespace

TEST_F(SceneFrameTest, PrologueClearsDepthWithStencilOnlyWhenTheShadowVolumeAsks) {
  ASSERT_NE(ShadowVolume, nullptr);
  ShadowVolume->ClearStencil = false;
  Frame F = RunFrame();
  EXPECT_EQ(F.Clears("Clear 2 00000000"), 1);
  EXPECT_EQ(F.Clears("Clear 6"), 0);
  ShadowVolume->ClearStencil = true;
  F = RunFrame();
  EXPECT_EQ(F.Clears("Clear 6 00000000"), 1);
  EXPECT_EQ(F.Clears("Clear 2"), 0);
  // The depth clear comes before the scene's own colour clear.
  std::vector<std::string> Clears;
  for (const auto& C : F.Calls)
    if (C.rfind("Clear", 0) == 0) Clears.push_back(C);
  EXPECT_EQ(Clears, (std::vector<std::string>{"Clear 6 00000000", "Clear 1 ff000000"}));
}

TEST_F(SceneFrameTest, PrologueSetsTheViewFromTheCamera) {
  RunFrame();
  D3D()->SetCamera(true, 1.0f, 2.0f, -30.0f);
  D3D()->CameraRotation.y = 0.25f;
  Frame F = RunFrame();
  ASSERT_FALSE(F.Draws.empty());
  EXPECT_EQ(0, std::memcmp(&F.Draws[0].state.view, &D3D()->View, sizeof(D3DMATRIX)));
  EXPECT_NE(D3D()->View._11, 1.0f);  // the rotation went in
}

TEST_F(SceneFrameTest, NoCaptureDuringTheFirstThreeFramesThenCaptureAndShader) {
  PostEffectsAvailable = true;
  CreatePostTarget();
  OpenShaderArchive();
  LoadPostShaders();
  ASSERT_TRUE(BlurPS);
  PostEffect = 1;
  for (int i = 0; i < 3; ++i) {
    Frame F = RunFrame();
    ASSERT_EQ(F.Draws.size(), 1u) << "frame " << i;  // the scene only, no post quad
    EXPECT_EQ(F.Draws[0].state.renderTarget, Screen()) << "frame " << i;
    EXPECT_FALSE(F.Draws[0].state.pixelShader);
    EXPECT_EQ(FrameCount, i + 1);
  }
  for (int i = 3; i < 5; ++i) {
    Frame F = RunFrame();
    ASSERT_EQ(F.Draws.size(), 2u) << "frame " << i;
    // The scene went into the capture ...
    EXPECT_EQ(F.Draws[0].state.renderTarget, PostTarget->Surface);
    // ... and came back to the screen through the blur shader.
    const auto& Post = F.Draws[1];
    EXPECT_EQ(Post.state.renderTarget, Screen());
    EXPECT_EQ(Post.state.pixelShader, BlurPS);
    EXPECT_EQ(Post.state.textures[0], PostTarget->Texture);
    EXPECT_EQ(Post.state.fvf, 0x104u);
    // The shader is deselected at the end of the frame.
    LPDIRECT3DPIXELSHADER9 Bound;
    Device()->GetPixelShader(Bound);
    EXPECT_FALSE(Bound);
    EXPECT_EQ(FrameCount, i + 1);
  }
}

TEST_F(SceneFrameTest, EachEffectNumberSelectsItsShaderAndUnknownNumbersNone) {
  PostEffectsAvailable = true;
  CreatePostTarget();
  OpenShaderArchive();
  LoadPostShaders();
  FrameCount = 3;
  const LPDIRECT3DPIXELSHADER9* Expected[] = {&BlurPS, &DreamPS, &Dream2PS, &GhostDreamPS, &ContrastDreamPS};
  for (int Effect = 1; Effect <= 6; ++Effect) {
    PostEffect = static_cast<uint8_t>(Effect);
    Frame F = RunFrame();
    ASSERT_EQ(F.Draws.size(), 2u) << Effect;
    if (Effect <= 5) {
      ASSERT_TRUE(*Expected[Effect - 1]);
      EXPECT_EQ(F.Draws[1].state.pixelShader, *Expected[Effect - 1]) << Effect;
    } else {
      EXPECT_FALSE(F.Draws[1].state.pixelShader);
    }
  }
}

TEST_F(SceneFrameTest, WithoutPixelShadersNothingIsCapturedAndFramesStillCount) {
  PostEffectsAvailable = false;
  CreatePostTarget();
  PostEffect = 1;
  FrameCount = 10;
  Frame F = RunFrame();
  ASSERT_EQ(F.Draws.size(), 1u);
  EXPECT_EQ(F.Draws[0].state.renderTarget, Screen());
  EXPECT_EQ(FrameCount, 11);
}

TEST_F(SceneFrameTest, CaptureThatCannotStartLeavesTheFrameOnTheScreen) {
  // The capture texture was refused: the frame is drawn straight to the screen, nothing is
  // drawn back over it, and the frame still counts.
  PostEffectsAvailable = true;
  vkgfx::InjectedFaults().failCreateResource = 1;
  CreatePostTarget();
  ASSERT_FALSE(PostTarget->Texture);
  OpenShaderArchive();
  LoadPostShaders();
  PostEffect = 1;
  FrameCount = 5;
  Frame F = RunFrame();
  ASSERT_EQ(F.Draws.size(), 1u);
  EXPECT_EQ(F.Draws[0].state.renderTarget, Screen());
  EXPECT_EQ(FrameCount, 6);
}

TEST_F(SceneFrameTest, StepEndingInALongFrameIsFollowedByTheNextOnTheNextFrame) {
  RunFrame();  // T = 40: first frame of scene A
  EXPECT_EQ(SceneStart, 40u);
  EXPECT_EQ(Step, 1);
  RunFrame();  // T = 80
  EXPECT_EQ(Step, 1);
  RunFrame(250);  // T = 330: the ends of steps 1 and 2 both passed
  EXPECT_EQ(Step, 2);
  EXPECT_EQ(StepStart, 330u);
  RunFrame();  // T = 370: step 2 ends now, measured from SceneStart (t = 330 >= 200)
  EXPECT_EQ(Step, 3);
  EXPECT_EQ(StepStart, 370u);
  EXPECT_EQ(SceneStart, 40u);
}

TEST_F(SceneFrameTest, HandOverFrameDrawsNothingAndTheNextSceneStartsAFrameLater) {
  int Frames = 0;
  while (Step != 0 || Frames == 0) {
    Frame F = RunFrame();
    ++Frames;
    ASSERT_LT(Frames, 100);
    if (Step == 0) {
      // The hand-over frame: the old scene is no longer installed and the new one is guarded.
      EXPECT_EQ(F.Clears(), 0);
      EXPECT_TRUE(F.Draws.empty());
      EXPECT_EQ(CurrentScene, 1);
      EXPECT_EQ(Engine->OnRender, &RenderB);
      EXPECT_EQ(MovesB, 0);
    } else {
      EXPECT_EQ(F.Draws.size(), 1u);
    }
  }
  const int CountAtHandOver = FrameCount;
  EXPECT_EQ(CountAtHandOver, Frames - 1);
  EXPECT_EQ(StepStart, Engine->Time);

  Frame F = RunFrame();
  EXPECT_EQ(MovesB, 1);
  EXPECT_EQ(CurrentScene, 2);
  EXPECT_EQ(Step, 1);
  EXPECT_EQ(SceneStart, Engine->Time);  // one frame after the previous scene ended
  EXPECT_EQ(F.Draws.size(), 1u);
  EXPECT_EQ(FrameCount, CountAtHandOver + 1);
}

TEST_F(SceneFrameTest, LightAndFogSetUpsUseEachScenesValues) {
  struct Expect {
    int Scene;
    float Diffuse;
    float X, Y, Z;  // before normalising
  };
  const float C30 = std::cos(DegToRad(30)), S30 = std::sin(DegToRad(30));
  for (const Expect& E : {Expect{1, 1.0f, 1, -3, 0}, Expect{2, 0.5f, C30, -0.7f, S30}, Expect{3, 1.0f, 1.5f, 0.5f, 1.5f},
                          Expect{4, 0.5f, C30, -0.7f, S30}, Expect{5, 1.0f, C30, -0.7f, S30}}) {
    SetupLight(E.Scene);
    D3DLIGHT9 L{};
    ASSERT_EQ(Device()->GetLight(0, &L), D3D_OK);
    BOOL On = FALSE;
    Device()->GetLightEnable(0, &On);
    EXPECT_TRUE(On);
    EXPECT_EQ(L.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(L.Diffuse.r, E.Diffuse);
    EXPECT_FLOAT_EQ(L.Diffuse.b, E.Diffuse);
    EXPECT_EQ(L.Diffuse.a, 0.0f);
    EXPECT_EQ(L.Specular.r, 0.0f);
    EXPECT_EQ(L.Ambient.g, 1.0f);
    EXPECT_EQ(L.Ambient.a, 0.0f);
    EXPECT_EQ(L.Range, 100.0f);
    const float Len = std::sqrt(E.X * E.X + E.Y * E.Y + E.Z * E.Z);
    EXPECT_NEAR(L.Direction.x, E.X / Len, 1e-6);
    EXPECT_NEAR(L.Direction.y, E.Y / Len, 1e-6);
    EXPECT_NEAR(L.Direction.z, E.Z / Len, 1e-6);
    EXPECT_FLOAT_EQ(LightSource.x, E.X);
    DWORD Lighting = 0, Ambient = 0;
    Device()->GetRenderState(D3DRS_LIGHTING, &Lighting);
    Device()->GetRenderState(D3DRS_AMBIENT, &Ambient);
    EXPECT_EQ(Lighting, DWORD(TRUE));
    EXPECT_EQ(Ambient, 0x00FFFFFFu);
  }
  const float Fog[4][2] = {{50, 75}, {40, 60}, {20, 30}, {40, 60}};
  for (int Scene = 1; Scene <= 4; ++Scene) {
    SetupFog(Scene);
    DWORD Start = 0, End = 0, Range = 0, Colour = 0, Mode = 0;
    Device()->GetRenderState(D3DRS_FOGSTART, &Start);
    Device()->GetRenderState(D3DRS_FOGEND, &End);
    Device()->GetRenderState(D3DRS_RANGEFOGENABLE, &Range);
    Device()->GetRenderState(D3DRS_FOGCOLOR, &Colour);
    Device()->GetRenderState(D3DRS_FOGVERTEXMODE, &Mode);
    EXPECT_EQ(vkgfx::DwordAsFloat(Start), Fog[Scene - 1][0]);
    EXPECT_EQ(vkgfx::DwordAsFloat(End), Fog[Scene - 1][1]);
    EXPECT_EQ(Range, DWORD(TRUE));
    EXPECT_EQ(Colour, 0xFF000000u);
    EXPECT_EQ(Mode, DWORD(D3DFOG_LINEAR));
  }
  // Scene five has no fog set-up: the states stay as scene four left them.
  SetupFog(5);
  DWORD End = 0;
  Device()->GetRenderState(D3DRS_FOGEND, &End);
  EXPECT_EQ(vkgfx::DwordAsFloat(End), 60.0f);
}

TEST_F(SceneFrameTest, LayersAreFadedThroughSetAlphaAndDrawnOnlyWhenVisible) {
  FlashSprite = new TvokSprite(D3D());
  LPDIRECT3DTEXTURE9 T;
  FlashSprite->CreateTexture(64, 48, D3DFMT_A8R8G8B8, T);
  FlashSprite->FillTexture(255, 255, 255);
  FadeOutLayer(FlashSprite, 0, 10);
  EXPECT_EQ(FlashSprite->Alpha, 255);
  FadeOutLayer(FlashSprite, 2550, 10);
  EXPECT_EQ(FlashSprite->Alpha, 0);
  EXPECT_EQ(FlashSprite->Color, 0x00FFFFFFu);
  vkgfx::VkClearRecording(Device());
  Device()->BeginScene();
  DrawLayer(FlashSprite);
  EXPECT_TRUE(vkgfx::VkRecordedDraws(Device()).empty());
  ShortFlashLayer(FlashSprite, 1);
  EXPECT_EQ(FlashSprite->Alpha, 199);
  DrawLayer(FlashSprite);
  Device()->EndScene();
  EXPECT_EQ(vkgfx::VkRecordedDraws(Device()).size(), 1u);
  FadeInLayer(FlashSprite, 2000, 1);
  EXPECT_EQ(FlashSprite->Alpha, 255);
  // A missing layer is ignored.
  FadeOutLayer(nullptr, 0);
  DrawLayer(nullptr);
}

TEST_F(SceneFrameTest, BeatFlashDrivesTheWhiteLayerFromTheStepStart) {
  FlashSprite = new TvokSprite(D3D());
  FlashSprite->SetAlpha(0);
  timeline::TBeatFlash Beat;
  StepStart = 1000;
  Engine->Time = 1200;
  BeatFlash(Beat);
  EXPECT_EQ(FlashSprite->Alpha, 0);
  Engine->Time = 1240;
  BeatFlash(Beat);
  EXPECT_EQ(FlashSprite->Alpha, 255);
  Engine->Time = 1340;
  BeatFlash(Beat);
  EXPECT_EQ(FlashSprite->Alpha, 155);
}

TEST_F(SceneFrameTest, TraceCarriesTheShowState) {
  RunFrame();
  FadeSprite = new TvokSprite(D3D());
  FadeSprite->SetAlpha(7);
  PostEffect = 1;
  D3D()->CameraPosition = D3DXVECTOR3(1.5f, -2.0f, 3.0f);
  std::string Json;
  AppendShowTrace(Json);
  EXPECT_NE(Json.find(",\"scene\":1"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"step\":1"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"flash\":0"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"fade\":7"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"post_effect\":1"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"blur_level\":4"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"cam_pos\":[1.5,-2,3]"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"cam_target\":[0,0,0]"), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"cam_rot\":["), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"frame_count\":1"), std::string::npos) << Json;
  // The engine's trace line picks the fields up by itself.
  SetTraceActive(true);
  const std::string Line = TraceFrameFields(1, 40, 40, 0);
  SetTraceActive(false);
  EXPECT_NE(Line.find("\"frame_count\":1"), std::string::npos) << Line;
}
