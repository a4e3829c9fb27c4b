#include "demo/Show.h"

#include "demo/Globals.h"
#include "demo/Hooks.h"
#include "demo/Music.h"
#include "demo/Parts.h"
#include "demo/Trace.h"
#include "engine/vokResource.h"

namespace {

void OpenArchive(const std::string& FileName) {
  Resource = new TvokResource();
  // A wrong magic is not fatal: it leaves an archive in which no entry is found.
  Resource->Open(FileName);
}

void CloseArchive() {
  if (Resource == nullptr) return;
  Resource->Close();
  Resource->FreeEntry(ResourceData);
}

void FreeArchive() {
  delete Resource;
  Resource = nullptr;
}

// The music's progress in the frame trace, so that a run can show when the music played.
void TraceMusic(std::string& Json) { TraceInt(Json, "music_pos", MusicPosition()); }

}  // namespace

void InstallShowHooks() {
  AddTraceAppender(TraceMusic);
  DemoHooks.MovePart1 = MovePart1;
  DemoHooks.RenderPart1 = RenderPart1;
  DemoHooks.OpenResource = OpenArchive;
  DemoHooks.CloseResource = CloseArchive;
  DemoHooks.FreeResource = FreeArchive;
  DemoHooks.CreatePostTarget = CreatePostTarget;
  DemoHooks.LoadTextures = LoadTextures;
  DemoHooks.LoadPart2 = LoadPart2;
  DemoHooks.LoadPart3 = LoadPart3;
  DemoHooks.LoadPart4 = LoadPart4;
  DemoHooks.LoadPart5 = LoadPart5;
  DemoHooks.LoadPostShaders = LoadPostShaders;
  DemoHooks.LoadPart1 = LoadPart1;
  DemoHooks.LoadMusic = LoadMusic;
  DemoHooks.PlayMusic = PlayMusic;
  DemoHooks.FreeMusic = FreeMusic;
  DemoHooks.FreePart1 = FreePart1;
  DemoHooks.FreePart2 = FreePart2;
  DemoHooks.FreePart3 = FreePart3;
  DemoHooks.FreePart4 = FreePart4;
  DemoHooks.FreePart5 = FreePart5;
  DemoHooks.FreeTextures = FreeTextures;
  DemoHooks.FreePostShaders = FreePostShaders;
}
