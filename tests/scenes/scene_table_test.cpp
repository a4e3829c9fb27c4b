// The table of scenes and the table of post effects: what the show derives from them (its
// length, the start-up and release order, the hand-overs, the light and fog of each scene) and
// what the rows must hold for that to work.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "assets/tools/musicgen/cuts.h"
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
  // Today's show, the one figure pinned here: scenes one to four end with their last step, scene
  // five after ten seconds and the final fade, which passes full black 2555 ms after the first
  // millisecond beyond them.
  EXPECT_EQ(ShowEndTime, 104863u);
  // Each scene starts where the one before it ended, and the last one ends the show.
  uint32_t Start = 0;
  const auto Rows = Scenes();
  for (size_t I = 0; I < Rows.size(); ++I) {
    SCOPED_TRACE(Rows[I]->Name);
    EXPECT_EQ(SceneStartTime(static_cast<int>(I) + 1), Start);
    const TScene& Row = *Rows[I];
    Start += Row.StepEnd.empty() ? Row.EndTime : Row.StepEnd.back();
  }
  EXPECT_EQ(ShowEndTime, Start);
  EXPECT_EQ(SceneStartTime(static_cast<int>(Rows.size()) + 1), 0u) << "a scene past the last one starts nowhere";
}

TEST(SceneTable, LoadAndReleaseFollowTheFixedOrder) {
  // Every scene but the first in show order, the post shaders, then the first scene, so that once
  // it is there every object of the show exists; release in show order.
  const auto Rows = Scenes();
  std::vector<std::string> Load{"CreatePostTarget", "LoadTextures"}, Free;
  for (const TScene* Row : Rows.subspan(1)) Load.push_back(std::string("Load") + Row->Name);
  Load.insert(Load.end(), {"LoadPostShaders", std::string("Load") + Rows.front()->Name, "WarmUpShow"});
  for (const TScene* Row : Rows) Free.push_back(std::string("Free") + Row->Name);
  Free.insert(Free.end(), {"FreeTextures", "FreePostShaders"});
  EXPECT_EQ(Names(LoadStages()), Load);
  EXPECT_EQ(Names(FreeStages()), Free);
  EXPECT_EQ(Names(LoadStages())[2], "LoadPart2") << "today's show loads scene two first";
  // The names are those of the routines that run.
  const std::vector<TShowStage> Loads = LoadStages(), Frees = FreeStages();
  for (size_t I = 0; I < Rows.size(); ++I) {
    SCOPED_TRACE(Rows[I]->Name);
    EXPECT_EQ(Loads[I == 0 ? Rows.size() + 2 : I + 1].Run, Rows[I]->Load);
    EXPECT_EQ(Frees[I].Run, Rows[I]->Free);
  }
}

TEST(SceneTable, EveryRowCanPlayAndHandsOverToTheNext) {
  const auto Rows = Scenes();
  ASSERT_GE(Rows.size(), 2u);
  std::set<int> Numbers;
  for (size_t I = 0; I < Rows.size(); ++I) {
    const TScene& Row = *Rows[I];
    SCOPED_TRACE(Row.Name);
    // A number names the scene (render guard, trace); the table, not the number, gives the order.
    EXPECT_GE(Row.Number, 1);
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
  EXPECT_EQ(&SceneRow(0), Rows.front()) << "a number no row has falls back on the first row";
}

// The soundtrack is written on fixed cut bars (fills into them, a hit on each): every scene must
// start on its bar, to a rounding of the show's whole milliseconds, and the song must last the show.
// A scene whose length changed is named with what to change.
TEST(SceneTable, EverySceneStartsOnTheSongsCutBar) {
  const double BarMs = musicgen::kBeatsPerBar * musicgen::kBeatSeconds * 1000.0;
  const auto Rows = Scenes();
  const size_t Cuts = std::size(musicgen::kSceneStartBar);
  for (size_t I = 0; I < Rows.size(); ++I) {
    const double Start = SceneStartTime(static_cast<int>(I) + 1);
    if (I >= Cuts) {
      ADD_FAILURE() << Rows[I]->Name << " starts at " << Start << " ms, where the song has no cut"
                    << " (add its bar to assets/tools/musicgen/cuts.h and write the song around it)";
      continue;
    }
    const double Bar = musicgen::kSceneStartBar[I] * BarMs;
    EXPECT_LT(std::abs(Start - Bar), 2.0)
        << Rows[I]->Name << " starts at " << Start << " ms, but the song cuts to it at bar " << musicgen::kSceneStartBar[I]
        << " (" << Bar << " ms): the scene before it no longer fits the music; make its length whole bars or move the"
        << " song's cut bars (assets/tools/musicgen/cuts.h)";
  }
  EXPECT_LE(Rows.size(), Cuts) << "the song cuts to " << Cuts << " scenes, the show has " << Rows.size();
  EXPECT_GE(musicgen::kSongBars * BarMs, double(ShowEndTime))
      << Rows.back()->Name << " ends the show at " << ShowEndTime << " ms, after the song's " << musicgen::kSongBars
      << " bars";
}

// Light and fog as each scene's first frame sets them up, on a recording device.
class SceneSetUp : public ShowTest {};

TEST_F(SceneSetUp, LightAndFogComeFromTheRows) {
  for (const TScene* Row : Scenes()) {
    SCOPED_TRACE(Row->Name);
    // The direction as given, or around the vertical: (cos X, Y, sin X), X in degrees.
    const TSceneLight& L = Row->Light;
    const double Angle = L.X * 3.14159265358979323846 / 180.0;
    const D3DXVECTOR3 Source = L.AroundY ? D3DXVECTOR3(float(std::cos(Angle)), L.Y, float(std::sin(Angle)))
                                         : D3DXVECTOR3(L.X, L.Y, L.Z);
    Device()->SetRenderState(D3DRS_FOGSTART, 0);
    Device()->SetRenderState(D3DRS_FOGEND, 0);
    SetupLight(*Row);
    SetupFog(*Row);
    EXPECT_NEAR(LightSource.x, Source.x, 1e-6f);
    EXPECT_EQ(LightSource.y, Source.y);
    EXPECT_NEAR(LightSource.z, Source.z, 1e-6f);
    D3DLIGHT9 Light{};
    Device()->GetLight(0, &Light);
    EXPECT_EQ(Light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(Light.Diffuse.r, L.Diffuse);
    const float Length = std::sqrt(Source.x * Source.x + Source.y * Source.y + Source.z * Source.z);
    EXPECT_NEAR(Light.Direction.y, Source.y / Length, 1e-6f);
    DWORD Start = 0, End = 0;
    Device()->GetRenderState(D3DRS_FOGSTART, &Start);
    Device()->GetRenderState(D3DRS_FOGEND, &End);
    EXPECT_EQ(Start, Row->Fog.Enabled ? FloatAsDWord(Row->Fog.Start) : 0u);
    EXPECT_EQ(End, Row->Fog.Enabled ? FloatAsDWord(Row->Fog.End) : 0u);
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
