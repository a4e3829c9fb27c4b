#include "show/SceneTable.h"

#include "show/Show.h"
#include "show/Textures.h"

// Each unit's row, at the end of its file.
extern const TScene Part1Scene, Part2Scene, Part3Scene, Part4Scene, Part5Scene;

namespace {

// The show, scene by scene. A new scene is a new unit with its row, named here where it plays.
const TScene* const ShowScenes[] = {&Part1Scene, &Part2Scene, &Part3Scene, &Part4Scene, &Part5Scene};

}  // namespace

std::span<const TScene* const> Scenes() { return ShowScenes; }

const TScene& SceneRow(int Number) {
  for (const TScene* Row : ShowScenes)
    if (Row->Number == Number) return *Row;
  return *ShowScenes[0];
}

const TScene* NextScene(const TScene& Row) {
  for (size_t I = 0; I + 1 < std::size(ShowScenes); ++I)
    if (ShowScenes[I] == &Row) return ShowScenes[I + 1];
  return nullptr;
}

bool BeginFirstFrame(const TScene& Row) {
  if (!BeginFirstFrame(Row.Number)) return false;
  PostEffect = Row.Effect;
  return true;
}

timeline::TStepAdvance AdvanceSceneStep(const TScene& Row) {
  const TScene* Next = NextScene(Row);
  return AdvanceSceneStep(Row.StepEnd, Next ? Next->Move : nullptr, Next ? Next->Render : nullptr);
}

uint32_t SceneLength(const TScene& Row) { return Row.StepEnd.empty() ? Row.EndTime : Row.StepEnd.back(); }

uint32_t ShowLength(std::span<const TScene* const> Rows) {
  uint32_t Sum = 0;
  for (const TScene* Row : Rows) Sum += SceneLength(*Row);
  return Sum;
}

// Worked out as the program starts from the rows, which are constants of their units and in
// place before any initialisation runs; nothing reads it before main.
const uint32_t ShowEndTime = ShowLength(ShowScenes);

uint32_t SceneStartTime(int Number) {
  uint32_t Start = 0;
  int At = 1;
  for (const TScene* Row : ShowScenes) {
    if (At++ == Number) return Start;
    Start += SceneLength(*Row);
  }
  return 0;
}

std::vector<TShowStage> LoadStages() {
  const TScene& First = *ShowScenes[0];
  std::vector<TShowStage> Stages{{"CreatePostTarget", CreatePostTarget}, {"LoadTextures", LoadTextures}};
  for (const TScene* Row : Scenes().subspan(1)) Stages.push_back({std::string("Load") + Row->Name, Row->Load});
  Stages.push_back({"LoadPostShaders", LoadPostShaders});
  Stages.push_back({std::string("Load") + First.Name, First.Load});
  Stages.push_back({"WarmUpShow", WarmUpShow});
  return Stages;
}

std::vector<TShowStage> FreeStages() {
  std::vector<TShowStage> Stages;
  for (const TScene* Row : ShowScenes) Stages.push_back({std::string("Free") + Row->Name, Row->Free});
  Stages.push_back({"FreeTextures", FreeTextures});
  Stages.push_back({"FreePostShaders", FreePostShaders});
  return Stages;
}
