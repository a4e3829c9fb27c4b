// The frame prologue and epilogue, the step advance and the hand-over, driven through the real
// engine loop (fixed step) on the recording backend with two small test scenes.
#include <gtest/gtest.h>

#include <set>

#include <string>
#include <vector>

#include "tests/support/show_fixture.h"

using namespace vktest;

namespace {

constexpr uint32_t EndsA[] = {100, 200, 300};
TvokScreenPlane* Picture = nullptr;  // something for a scene to draw
int MovesB = 0;

void MoveB(int) {
  ++MovesB;
  if (BeginFirstFrame(2)) StartSceneClock();
}

void DrawScene(int Scene) {
  if (!SceneIsCurrent(Scene)) return;
  BeginSceneFrame();
  Engine->D3D->Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  Picture->Draw();
  EndSceneFrame();
}

void RenderB(int) { DrawScene(2); }
void RenderA(int) { DrawScene(1); }
void MoveA(int) {
  if (BeginFirstFrame(1)) StartSceneClock();
  AdvanceSceneStep(EndsA, MoveB, RenderB);
}

struct Frame {
  std::vector<std::string> Calls;
  std::vector<gx::DrawRecord> Draws;
  std::vector<std::string> Clears() const {
    std::vector<std::string> Out;
    for (const auto& C : Calls)
      if (C.rfind("Clear", 0) == 0) Out.push_back(C);
    return Out;
  }
};

class SceneFrameTest : public ShowTest {
 protected:
  void SetUp() override {
    ShowTest::SetUp();
    if (HasFatalFailure()) return;
    MovesB = 0;
    Engine->SetScene(MoveA, RenderA);
    ASSERT_EQ(Device()->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, PictureTexture, nullptr), D3D_OK);
    Picture = new TvokScreenPlane(D3D(), PictureTexture);
  }
  void TearDown() override {
    delete Picture;
    Picture = nullptr;
    PictureTexture.reset();
    ShowTest::TearDown();
  }

  Frame RunFrame(uint32_t Length = 40) {
    Engine->FixedStepLength = Length;
    gx::GxClearRecording(Device());
    Engine->RenderFrame();
    return Frame{gx::GxRecordedCalls(Device()), gx::GxRecordedDraws(Device())};
  }

  LPDIRECT3DSURFACE9 Screen() {
    LPDIRECT3DSURFACE9 S;
    Device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, S);
    return S;
  }

  void LoadPost() {
    PostEffectsAvailable = true;
    CreatePostTarget();
    OpenShaderArchive();
    LoadPostShaders();
  }

  LPDIRECT3DTEXTURE9 PictureTexture;
};

}  // namespace

TEST_F(SceneFrameTest, PrologueClearsDepthWithStencilOnlyWhenTheShadowVolumeAsks) {
  ASSERT_NE(ShadowVolume, nullptr);
  ShadowVolume->ClearStencil = false;
  EXPECT_EQ(RunFrame().Clears(), (std::vector<std::string>{"Clear 2 00000000", "Clear 1 ff000000"}));
  ShadowVolume->ClearStencil = true;
  EXPECT_EQ(RunFrame().Clears(), (std::vector<std::string>{"Clear 6 00000000", "Clear 1 ff000000"}));
}

TEST_F(SceneFrameTest, NoCaptureDuringTheFirstThreeFramesThenCaptureThroughTheShader) {
  LoadPost();
  ASSERT_TRUE(BlurPS);
  PostEffect = TPostEffect::Blur;
  for (int i = 0; i < 5; ++i) {
    Frame F = RunFrame();
    EXPECT_EQ(FrameCount, i + 1);
    if (i < 3) {
      // Only the scene, straight to the screen: nothing stale is drawn over it.
      ASSERT_EQ(F.Draws.size(), 1u) << "frame " << i;
      EXPECT_EQ(F.Draws[0].state.renderTarget, Screen());
      continue;
    }
    ASSERT_EQ(F.Draws.size(), 2u) << "frame " << i;
    EXPECT_EQ(F.Draws[0].state.renderTarget, PostTarget->Surface);
    const auto& Post = F.Draws[1];
    EXPECT_EQ(Post.state.renderTarget, Screen());
    EXPECT_EQ(Post.state.pixelShader, BlurPS);
    EXPECT_EQ(Post.state.textures[0], PostTarget->Texture);
    LPDIRECT3DPIXELSHADER9 Bound;
    Device()->GetPixelShader(Bound);
    EXPECT_FALSE(Bound);  // deselected at the end of the frame
  }
  // Without pixel shader support nothing is captured; frames still count.
  PostEffectsAvailable = false;
  Frame F = RunFrame();
  ASSERT_EQ(F.Draws.size(), 1u);
  EXPECT_EQ(F.Draws[0].state.renderTarget, Screen());
  EXPECT_EQ(FrameCount, 6);
}

TEST_F(SceneFrameTest, EachEffectNumberSelectsItsShaderAndUnknownNumbersNone) {
  LoadPost();
  FrameCount = 3;
  // The numbers are the trace's "post_effect"; each names the archive entry of its shader.
  const char* Entry[] = {"pshBlur", "pshDream", "pshDream2", "pshGhostDream", "pshContrastDream", nullptr};
  auto ShaderOfEntry = [](const char* Name) -> LPDIRECT3DPIXELSHADER9 {
    if (!Name) return nullptr;
    for (const TPostShader& Row : PostShaders())
      if (std::string(Row.EntryName) == Name) return Row.Shader;
    ADD_FAILURE() << "no post effect is loaded from " << Name;
    return nullptr;
  };
  std::set<LPDIRECT3DPIXELSHADER9> Seen;
  for (int Effect = 1; Effect <= 6; ++Effect) {
    PostEffect = static_cast<TPostEffect>(Effect);
    Frame F = RunFrame();
    ASSERT_EQ(F.Draws.size(), 2u) << Effect;
    const LPDIRECT3DPIXELSHADER9 Expected = ShaderOfEntry(Entry[Effect - 1]);
    EXPECT_EQ(F.Draws[1].state.pixelShader, Expected) << Effect;
    if (Entry[Effect - 1]) {
      EXPECT_NE(Expected, nullptr) << Entry[Effect - 1] << " did not load";
      EXPECT_TRUE(Seen.insert(Expected).second) << "two effects draw with one shader";
    }
  }
}

TEST_F(SceneFrameTest, CaptureThatCannotStartLeavesTheFrameOnTheScreen) {
  gx::InjectedFaults().failCreateResource = 1;  // the capture texture is refused
  LoadPost();
  ASSERT_FALSE(PostTarget->Texture);
  PostEffect = TPostEffect::Blur;
  FrameCount = 5;
  Frame F = RunFrame();
  ASSERT_EQ(F.Draws.size(), 1u);
  EXPECT_EQ(F.Draws[0].state.renderTarget, Screen());
  EXPECT_EQ(FrameCount, 6);
}

TEST_F(SceneFrameTest, LongFrameEndsOneStepAndTheNextFollowsOnTheNextFrame) {
  RunFrame();  // T = 40: first frame of scene A
  EXPECT_EQ(SceneStart, 40u);
  RunFrame(250);  // T = 290: the ends of steps 1 and 2 both passed
  EXPECT_EQ(Step, 2);
  EXPECT_EQ(StepStart, 140u);  // when step 1 ended, not when the frame came
  RunFrame();  // T = 330: step 2 ends now, measured from SceneStart
  EXPECT_EQ(Step, 3);
  EXPECT_EQ(StepStart, 240u);
}

// The frame that notices the end of a scene is already the next scene's first: it draws that
// scene (no frame shows the old picture twice), whose clock starts when the old scene ended.
TEST_F(SceneFrameTest, HandOverFrameDrawsTheNextSceneTimedFromTheMomentItWasDue) {
  int Frames = 0;
  Frame F;
  do {
    F = RunFrame(Frames == 3 ? 37 : 40);  // one odd frame, so the hand-over frame comes late
    ASSERT_LT(++Frames, 100);
    EXPECT_EQ(F.Draws.size(), 1u) << "frame " << Frames;
    EXPECT_EQ(FrameCount, Frames);
  } while (CurrentScene == 1);
  EXPECT_EQ(MovesB, 1);
  EXPECT_EQ(Step, 1);
  EXPECT_EQ(SceneStart, 40u + 300);
  EXPECT_EQ(StepStart, 40u + 300);
  EXPECT_GT(Engine->Time, SceneStart);
  F = RunFrame();
  EXPECT_EQ(MovesB, 2);
  EXPECT_EQ(SceneStart, 340u);
}

TEST_F(SceneFrameTest, TraceCarriesTheShowState) {
  RunFrame();
  FadeSprite = new TvokSprite(D3D());
  FadeSprite->SetAlpha(7);
  PostEffect = TPostEffect::Blur;
  D3D()->CameraPosition = D3DXVECTOR3(1.5f, -2.0f, 3.0f);
  std::string Json;
  AppendShowTrace(Json);
  EXPECT_EQ(Json,
            ",\"scene\":1,\"step\":1,\"flash\":0,\"fade\":7,\"post_effect\":1,\"blur_level\":4,"
            "\"cam_pos\":[1.5,-2,3],\"cam_target\":[0,0,0],\"cam_rot\":[0,0,0],\"frame_count\":1");
}
