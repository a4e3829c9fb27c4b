#pragma once
// What the scenes share: the scene clock and step state, the two full-screen colour
// layers, the light, the post-processing shaders and their selection, and the routines every
// scene runs the same way (first frame, step advance and hand-over, fades, beat flash, the
// frame prologue and epilogue, light and fog set-up).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/vokD3D.h"
#include "engine/vokEngine.h"
#include "engine/vokRenderTarget.h"
#include "engine/vokSprite.h"
#include "platform/gfx/d3d9.h"
#include "platform/gfx/d3dx/d3dx9.h"
#include "show/Show.h"
#include "show/Timeline.h"

#if __has_include("show/Textures.h")
#include "show/Textures.h"
#endif

class TzanObject;
class TzanObjectSet;
class TWaterEffect;

// ---- Shared scene state -------------------------------------------------------------------

extern uint32_t StepStart;   // engine time at which the current step began
extern uint32_t SceneStart;  // engine time of the running scene's first frame
extern int CurrentScene;     // number of the scene whose first frame was done last; render guard
extern int Step;             // step of the running scene; 0 = first frame not done yet
extern int FrameCount;       // frames whose render routine reached the epilogue; never reset

// Puts the shared scene state and the post-effect selection back as a fresh process starts
// with them, so the show can run again in the same process (seeking, restarts, tests).
void ResetSceneState();

// ---- Shared objects ------------------------------------------------------------------------

extern TvokSprite* FlashSprite;  // white layer: flashes
extern TvokSprite* FadeSprite;   // black layer: fades from and to black
extern D3DLIGHT9 SceneLight;
extern D3DXVECTOR3 LightSource;

// Created by scene two, used by scenes two to four.
extern TzanObjectSet* TicketSet;
extern TzanObject* TicketPlane;
extern TzanObject* FogPlane;
// Scene one's water and pool.
extern TWaterEffect* WaterEffect;
extern std::vector<uint8_t> WaterCubeData;  // a copy of "WaterCube": the read buffer is reused
extern TzanObjectSet* PoolSet;

// ---- Post-processing ----------------------------------------------------------------------

// PostEffectsAvailable (pixel shader 2.0 present) is set at start-up: show/Show.h.

// The effect at the end of each frame: the value is the effect's number in the show's table.
enum class TPostEffect : uint8_t { None, Blur, Dream, Dream2, GhostDream, ContrastDream };

extern TPostEffect PostEffect;
extern float BlurLevel;   // "fBlurLevel" of the blur
extern float DreamLevel;  // "fDreamLevel" of the four dreams
extern int DreamCount;    // "iDreamCount" of the second dream
extern float GhostLevel;  // "fGhostLevel" of the ghost dream

// One post effect: its shader's archive entry and entry point, the constants set from the
// selection before each use (float or int, in this order), and what loading made of it.
struct TShaderConstant {
  const char* Name = nullptr;
  const float* Float = nullptr;
  const int* Int = nullptr;
  // A distance in pixels of the captured picture: it shrinks with the picture (PostScale).
  bool InPixels = false;
};
struct TPostShader {
  TPostEffect Effect;
  const char* EntryName;
  const char* Function;
  TShaderConstant Constants[2];
  LPDIRECT3DPIXELSHADER9 Shader;      // nil until loaded, or when loading failed
  LPD3DXCONSTANTTABLE ConstantTable;  // as the compiler returned it
};
// The table of post effects, in the order of their numbers (Blur first). Adding an effect is one
// row here and its shader source in the archive.
std::span<TPostShader> PostShaders();
// The row of an effect; nullptr for None or a number without a row.
TPostShader* PostShaderOf(TPostEffect Effect);

// The rows' shaders and constant tables under the names the show has always used.
extern LPDIRECT3DPIXELSHADER9 &BlurPS, &DreamPS, &Dream2PS, &GhostDreamPS, &ContrastDreamPS;
extern LPD3DXCONSTANTTABLE &BlurConstants, &DreamConstants, &Dream2Constants, &GhostDreamConstants,
    &ContrastDreamConstants;
extern LPD3DXEFFECT RadialBlurEffect;
extern D3DXHANDLE RadialBlurTechnique;
extern D3DXMATRIX RadialBlurMatrix;  // value of "tTex"
extern TvokRenderTarget* PostTarget;  // the frame capture; lives to the end of the process

void CreatePostTarget();
// Compiles every row's shader, then the radial blur, from the open archive, whether or not
// PostEffectsAvailable is set. A missing entry or a compile error leaves that one nil.
void LoadPostShaders();
void LoadRadialBlur();
void FreePostShaders();

// Sets an effect's constants from the selection and selects its shader (none for None).
void ApplyPostEffect(TPostEffect Effect);
void ApplyBlurShader(float Level);
void ApplyDreamShader();
void ApplyDream2Shader();
void ApplyGhostDreamShader();
void ApplyContrastDreamShader();

// ---- Frame prologue and epilogue ------------------------------------------------------------

// The gentle limiter's frame (when on), depth clear, view matrix, and the start of the capture when a post effect is selected
// (never during the first three frames of the show).
void BeginSceneFrame(bool ClearDepth = true);
// Ends the capture, draws it back through the selected shader, deselects the shader, and
// counts the frame.
void EndSceneFrame();
// True between a prologue that started the capture and its epilogue.
extern bool PostCapturing;

// ---- Scene timeline -------------------------------------------------------------------------

// Render guard: a render routine draws only while its scene is the current one.
inline bool SceneIsCurrent(int Scene) { return CurrentScene == Scene; }

// First frame of a scene: true once (Step = 0), after making the scene current and Step 1.
// The scene then does its own set-up and calls StartSceneClock.
bool BeginFirstFrame(int Scene);
// SceneStart and StepStart := the moment the scene was due: Time on the show's first frame, the
// previous scene's start plus its length after a hand-over.
void StartSceneClock();

// Time - SceneStart and Time - StepStart, unsigned.
uint32_t SceneTime();
uint32_t StepTime();

// The step advance with the scene's StepEnd table (entry k-1 = end of step k); on the
// hand-over it installs the next scene's routines and runs the next scene's move routine at
// once, so the same frame is the new scene's first. NextStep leaves the new step in Step for
// the scene's one-time changes; a caller returns straight after a hand-over. The scenes use the
// form that takes their row (SceneTable.h).
timeline::TStepAdvance AdvanceSceneStep(std::span<const uint32_t> StepEnd, TvokFrameProc NextMove,
                                        TvokFrameProc NextRender);

// Layer alphas: each frame's value through SetAlpha; a nil layer is ignored. With GentleLight
// the white layer's value is what the scene asks for; the prologue shows it through the limiter.
void SetLayerAlpha(TvokSprite* Layer, uint8_t Alpha);
// 255 - Round(D / K), 0 when negative.
void FadeOutLayer(TvokSprite* Layer, uint32_t D, double K = 1.0);
// 200 - Round(D), 0 when negative.
void ShortFlashLayer(TvokSprite* Layer, uint32_t D);
// Round(D / K), 255 when larger.
void FadeInLayer(TvokSprite* Layer, uint32_t D, double K = 1.0);
// Draws a layer only while its alpha is above 0.
void DrawLayer(TvokSprite* Layer);

// The beat flash on FlashSprite: a flash 231 ms after the step start (of the step in which
// Beat.BeatHold was last set), then every 923 ms, each fading out in 255 ms.
void BeatFlash(timeline::TBeatFlash& Beat);

// The show's state after a frame as JSON fields, each preceded by a comma:
// ,"scene":..,"step":..,"flash":..,"fade":..,"post_effect":..,"blur_level":..,
// "cam_pos":[..],"cam_target":[..],"cam_rot":[..],"frame_count":..
void AppendShowTrace(std::string& Json);
