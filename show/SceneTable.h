#pragma once
// The show's scenes, one row each, in the order they play. A scene is a unit of its own
// (show/PartN.cpp) that ends with its row: its load, move, render and release routines, its
// step table, its light, its fog and its post effect. SceneTable.cpp lists the rows in show
// order; the start-up and release order, the hand-overs, the warm-up pass, the light and fog
// set-ups and the show's length all come from that list.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "show/Globals.h"

// The scene's light: its diffuse level and the direction before normalising, either (X, Y, Z)
// as given or, around the vertical, (cos X, Y, sin X) with the angle X in degrees.
struct TSceneLight {
  float Diffuse;
  bool AroundY;
  float X, Y, Z;
};
constexpr TSceneLight LightAround(float Diffuse, float Degrees, float Y) { return {Diffuse, true, Degrees, Y, 0.0f}; }
constexpr TSceneLight LightAlong(float Diffuse, float X, float Y, float Z) { return {Diffuse, false, X, Y, Z}; }
D3DXVECTOR3 LightDirection(const TSceneLight& Light);

// Linear range fog in black from Start to End (eye distance); a scene without fog sets none up.
struct TSceneFog {
  bool Enabled;
  float Start, End;
};
constexpr TSceneFog FogFrom(float Start, float End) { return {true, Start, End}; }
constexpr TSceneFog NoFog{false, 0.0f, 0.0f};

// What a scene's warm-up routine is asked to do: before the pass, keep a copy of the scene's own
// state and ready it to draw all it can draw; after it, put the copy back.
enum class TWarmUpPhase { Before, After };

struct TScene {
  int Number;        // CurrentScene while it plays (its render guard) and the trace's "scene";
                     // unique, but free: the rows play in the order of the table, not of these
  const char* Name;  // the unit: "Part1" has LoadPart1, MovePart1, RenderPart1 and FreePart1
  void (*Load)();    // once at start-up, with the archive open
  TvokFrameProc Move;
  TvokFrameProc Render;
  void (*Free)();  // once at the end
  // Entry k - 1 is the end of step k in ms after the scene's first frame; the last one ends the
  // scene and hands over to the next row. Empty: one step, and the scene ends the show itself
  // at EndTime.
  std::span<const uint32_t> StepEnd;
  uint32_t EndTime;
  TSceneLight Light;
  TSceneFog Fog;
  TPostEffect Effect;  // selected on its first frame
  // What the warm-up pass must put back of the scene's own state besides what every scene shares
  // (show/WarmUp.cpp): none for a scene whose render routine changes nothing of its own.
  void (*WarmUp)(TWarmUpPhase Phase) = nullptr;
};

// The rows in show order.
std::span<const TScene* const> Scenes();
// The row of a scene number; the first row for a number no row has.
const TScene& SceneRow(int Number);
// The row after Row; nullptr after the last.
const TScene* NextScene(const TScene& Row);

// The scenes' forms of the timeline routines (Globals.h): the first frame also selects the row's
// post effect; the step advance runs on the row's step table and hands over to the next row.
bool BeginFirstFrame(const TScene& Row);
timeline::TStepAdvance AdvanceSceneStep(const TScene& Row);
// Render guard: a render routine draws only while its row's scene is the current one.
inline bool SceneIsCurrent(const TScene& Row) { return SceneIsCurrent(Row.Number); }

// The row's light and fog on the device; a row without fog sets none up.
void SetupLight(const TScene& Row);
void SetupFog(const TScene& Row);

// A scene's nominal length: the end of its last step, or its EndTime.
uint32_t SceneLength(const TScene& Row);
// The sum of the rows' lengths: where the show ends when each hand-over takes no time.
uint32_t ShowLength(std::span<const TScene* const> Rows);

// ---- Start-up and release ----------------------------------------------------------------------

// One step of loading or releasing the show, named after its routine.
struct TShowStage {
  std::string Name;
  void (*Run)();
};
// With the archive open: the post target, the textures, every scene but the first in show order,
// the post shaders, the first scene last (once it is there every object of the show exists), then
// the warm-up pass.
std::vector<TShowStage> LoadStages();
// Every scene in show order, the textures, the post shaders.
std::vector<TShowStage> FreeStages();

// Builds every program the show draws with before the clock starts: one pass through the rows'
// render routines that reaches no screen and leaves the show's state as it found it.
void WarmUpShow();
