#pragma once
// The program's start: capability check, display settings, the engine, loading, the run and the
// release of everything in a fixed order.

#include <string>

#include "platform/gfx/d3d9types.h"

struct TOptions;
class TRunTools;
class TPlayback;
class TvokD3D;

// Start-up settings, written by the "DEBUG" settings or the setup dialog, read when the engine is made.
extern int ScreenWidth;
extern int ScreenHeight;
extern int ScreenRefresh;  // Hz; 0 = adapter default
extern bool FullScreenMode;
extern bool VSyncMode;
extern D3DMULTISAMPLE_TYPE MultiSampleMode;
extern std::string StartupMessage;

// The caption of the show's window and message boxes.
extern const char* const ShowTitle;
// File names of the archive and the music, resolved against the working directory.
extern const char* const ArchiveFileName;
extern const char* const MusicFileName;

// True when a parameter of the command line (long options and their values excluded) begins with
// Name, in any letter case.
bool HasSwitch(const std::string& Name);
void CheckPixelShader();
void ShowStartupWarning(const std::string& Text);
// Fills the start-up settings; false when the user left the setup dialog without starting.
bool ChooseDisplayMode();
// Everything the show loads from the archive (in its fixed order), and the projection.
void LoadShowContent(TvokD3D& D3D);
// What LoadShowContent made, in the show's fixed order.
void FreeShowContent();
void LoadDemo();
void HideCursorInFullScreen();

// The whole run from the display choice to the last release; the process exit status.
int RunDemo(const TOptions& Options);

// RunDemo in its parts, for a host that drives the frames itself (the browser build calls
// Engine->RenderFrame from the page's animation frames instead of Engine->Run):
// the system, the outputs, the display choice and the capture; -1 to go on, else the exit status
// (done). Options gets what the run decided (a seed, headless for a capture).
int PrepareDemo(TOptions& Options, TRunTools& Tools, TPlayback& Playback);
// The engine and everything the show loads; false (ExitCode set, reported) when it cannot run.
bool CreateAndLoadDemo(const TOptions& Options, TRunTools& Tools, TPlayback& Playback, int& ExitCode);
// Releases everything in the fixed order and closes the outputs; the exit status.
int FinishDemo(TRunTools& Tools, int ExitCode);
// Tells the user that the show stopped on an error (an empty text: an unexpected one).
void ReportFatal(const std::string& Text);
