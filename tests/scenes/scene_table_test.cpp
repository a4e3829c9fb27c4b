// The table of scenes and the table of post effects: what the show derives from them (its
// length, the start-up and release order, the hand-overs, the light and fog of each scene) and
// what the rows must hold for that to work.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "show/Parts.h"
#include "show/SceneTable.h"
#include "tests/support/show_fixture.h"

namespace vktest {
namespace {

std::vector<std::string> Names(const std::vector<TShowStage>& Stages) {
  std::vector<std::string> Out;
  for (const TShowStage& Stage : Stages) Out.push_back(Stage.Name);
  return Out;
}

TEST(SceneTable, TheShowsLengthIsTheScenesLengthsAddedUp) {
  // Scene one to four end with their last step; scene five after ten seconds and the final fade,
  // which passes full black 2555 ms after the first millisecond beyond them.
  EXPECT_EQ(ShowEndTime, 18461u + 29538u + 14769u + 29539u + 10000u + 2556u);
  EXPECT_EQ(ShowEndTime, 104863u);
  EXPECT_EQ(ShowLength(Scenes()), ShowEndTime);
}

TEST(SceneTable, LoadAndReleaseFollowTheFixedOrder) {
  EXPECT_EQ(Names(LoadStages()),
            (std::vector<std::string>{"CreatePostTarget", "LoadTextures", "LoadPart2", "LoadPart3", "LoadPart4",
                                      "LoadPart5", "LoadPostShaders", "LoadPart1", "WarmUpShow"}));
  EXPECT_EQ(Names(FreeStages()), (std::vector<std::string>{"FreePart1", "FreePart2", "FreePart3", "FreePart4",
                                                           "FreePart5", "FreeTextures", "FreePostShaders"}));
  // The names are those of the routines that run.
  const std::vector<TShowStage> Load = LoadStages();
  EXPECT_EQ(Load[2].Run, LoadPart2);
  EXPECT_EQ(Load[7].Run, LoadPart1);
  EXPECT_EQ(FreeStages()[4].Run, FreePart5);
}

TEST(SceneTable, EveryRowCanPlayAndHandsOverToTheNext) {
  const auto Rows = Scenes();
  ASSERT_EQ(Rows.size(), 5u);
  std::set<int> Numbers;
  for (size_t I = 0; I < Rows.size(); ++I) {
    const TScene& Row = *Rows[I];
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(Row.Number, static_cast<int>(I) + 1);
    EXPECT_TRUE(Numbers.insert(Row.Number).second) << "two rows share a number";
    EXPECT_EQ(&SceneRow(Row.Number), &Row);
    EXPECT_TRUE(Row.Load && Row.Move && Row.Render && Row.Free);
    // Steps end one after the other; a scene without steps never hands over, so it must be the last.
    for (size_t K = 1; K < Row.StepEnd.size(); ++K) EXPECT_LT(Row.StepEnd[K - 1], Row.StepEnd[K]);
    if (I + 1 < Rows.size()) {
      EXPECT_FALSE(Row.StepEnd.empty());
      ASSERT_EQ(NextScene(Row), Rows[I + 1]);
    } else {
      // The last scene has no one to hand over to: it ends the show itself.
      EXPECT_EQ(NextScene(Row), nullptr);
      EXPECT_TRUE(Row.StepEnd.empty());
      EXPECT_GT(Row.EndTime, 0u);
    }
  }
  EXPECT_EQ(Rows.front()->Move, MovePart1);  // the engine starts with scene one
  EXPECT_EQ(Rows[2]->StepEnd.size(), 4u);
  EXPECT_EQ(Rows[0]->StepEnd.size(), 11u);
}

// Light and fog as each scene's first frame sets them up, on a recording device.
class SceneSetUp : public ShowTest {};

TEST_F(SceneSetUp, LightAndFogComeFromTheRows) {
  const float C30 = static_cast<float>(std::cos(static_cast<double>(DegToRad(30.0f))));
  const float S30 = static_cast<float>(std::sin(static_cast<double>(DegToRad(30.0f))));
  struct Expected {
    float Diffuse;
    D3DXVECTOR3 Source;
    float FogStart, FogEnd;  // 0, 0: no fog set-up
  } Scene[] = {{1.0f, {1.0f, -3.0f, 0.0f}, 50.0f, 75.0f},
               {0.5f, {C30, -0.7f, S30}, 40.0f, 60.0f},
               {1.0f, {1.5f, 0.5f, 1.5f}, 20.0f, 30.0f},
               {0.5f, {C30, -0.7f, S30}, 40.0f, 60.0f},
               {1.0f, {C30, -0.7f, S30}, 0.0f, 0.0f}};
  for (int Number = 1; Number <= 5; ++Number) {
    SCOPED_TRACE(Number);
    const Expected& E = Scene[Number - 1];
    Device()->SetRenderState(D3DRS_FOGSTART, 0);
    Device()->SetRenderState(D3DRS_FOGEND, 0);
    SetupLight(Number);
    SetupFog(Number);
    EXPECT_EQ(LightSource.x, E.Source.x);
    EXPECT_EQ(LightSource.y, E.Source.y);
    EXPECT_EQ(LightSource.z, E.Source.z);
    D3DLIGHT9 Light{};
    Device()->GetLight(0, &Light);
    EXPECT_EQ(Light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(Light.Diffuse.r, E.Diffuse);
    const float Length = std::sqrt(E.Source.x * E.Source.x + E.Source.y * E.Source.y + E.Source.z * E.Source.z);
    EXPECT_NEAR(Light.Direction.y, E.Source.y / Length, 1e-6f);
    DWORD Start = 0, End = 0;
    Device()->GetRenderState(D3DRS_FOGSTART, &Start);
    Device()->GetRenderState(D3DRS_FOGEND, &End);
    EXPECT_EQ(Start, E.FogStart == 0.0f ? 0u : FloatAsDWord(E.FogStart));
    EXPECT_EQ(End, E.FogEnd == 0.0f ? 0u : FloatAsDWord(E.FogEnd));
  }
}

TEST(PostEffectTable, RowsFollowTheEffectNumbersWithTheirEntriesAndConstants) {
  const auto Rows = PostShaders();
  ASSERT_EQ(Rows.size(), 5u);
  // The rows' order is the effects' numbers: the show's old names for the shaders point into it.
  for (size_t I = 0; I < Rows.size(); ++I) {
    EXPECT_EQ(static_cast<size_t>(Rows[I].Effect), I + 1);
    EXPECT_EQ(PostShaderOf(Rows[I].Effect), &Rows[I]);
  }
  EXPECT_EQ(PostShaderOf(TPostEffect::None), nullptr);
  EXPECT_EQ(PostShaderOf(static_cast<TPostEffect>(6)), nullptr);
  EXPECT_EQ(&BlurPS, &Rows[0].Shader);
  EXPECT_EQ(&ContrastDreamConstants, &Rows[4].ConstantTable);
  const TPostShader& Dream2 = *PostShaderOf(TPostEffect::Dream2);
  EXPECT_STREQ(Dream2.EntryName, "pshDream2");
  EXPECT_STREQ(Dream2.Function, "Dream2Shader");
  EXPECT_STREQ(Dream2.Constants[1].Name, "iDreamCount");
  EXPECT_EQ(Dream2.Constants[1].Int, &DreamCount);
}

}  // namespace
}  // namespace vktest
