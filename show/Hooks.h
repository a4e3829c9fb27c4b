#pragma once
// The routines of the show that the start-up sequence calls while loading, running and releasing.
// Every entry may stay empty (nullptr): it is then skipped, and an empty RenderPart1 clears the
// frame to black. The show's units fill the table before RunDemo.

#include <string>

#include "engine/vokEngine.h"

struct TDemoHooks {
  // Scene one's routines, the engine's first callbacks.
  TvokFrameProc MovePart1 = nullptr;
  TvokFrameProc RenderPart1 = nullptr;

  // The archive: create the reader and open the file (may throw: missing or unreadable file),
  // close it and free the shared entry record, free the reader (also after a failed open).
  void (*OpenResource)(const std::string& FileName) = nullptr;
  void (*CloseResource)() = nullptr;
  void (*FreeResource)() = nullptr;

  // Loaders, in the order LoadDemo calls them.
  void (*CreatePostTarget)() = nullptr;
  void (*LoadTextures)() = nullptr;
  void (*LoadPart2)() = nullptr;
  void (*LoadPart3)() = nullptr;
  void (*LoadPart4)() = nullptr;
  void (*LoadPart5)() = nullptr;
  void (*LoadPostShaders)() = nullptr;
  void (*LoadPart1)() = nullptr;

  // The music: create the player for the window, load the file and set the volume to 100;
  // start it; free the player at the very end.
  void (*LoadMusic)(HWND Window, const std::string& FileName) = nullptr;
  void (*PlayMusic)() = nullptr;
  void (*FreeMusic)() = nullptr;

  // Releases, in the order the cleanup calls them (all before the engine is freed).
  void (*FreePart1)() = nullptr;
  void (*FreePart2)() = nullptr;
  void (*FreePart3)() = nullptr;
  void (*FreePart4)() = nullptr;
  void (*FreePart5)() = nullptr;
  void (*FreeTextures)() = nullptr;
  void (*FreePostShaders)() = nullptr;
};

extern TDemoHooks DemoHooks;
