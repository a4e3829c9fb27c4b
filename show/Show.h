#pragma once
// The show as the programs around it (app/) see it, and all they see of it: the table of what
// the start-up sequence calls, the show's length, the music controls a run needs, the count of
// assets the show had to do without and the frame trace's record.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/vokEngine.h"
#include "show/Trace.h"

// The show's nominal length in ms: the scenes' lengths added up (each hand-over adds a frame or
// so). --start, --until, the capture length, the jumps and the music-length warning end there.
extern const uint32_t ShowEndTime;
// Where scene Number (from 1) starts by the same count; 0 for a number past the last scene.
uint32_t SceneStartTime(int Number);

// The pixel-shader post effects may run (pixel shader 2.0 present); set at start-up.
extern bool PostEffectsAvailable;

// What the start-up sequence calls while loading, running and releasing. An empty entry is
// skipped, and an empty FirstRender clears the frame to black. InstallShow fills it.
struct TShowFace {
  // The first scene's routines: the engine's first callbacks, and again after a restart.
  TvokFrameProc FirstMove = nullptr;
  TvokFrameProc FirstRender = nullptr;
  // Back to a new process's values: the shared scene state, and the random generator seeded.
  void (*Reset)(uint32_t Seed) = nullptr;
  // Opens the archive, loads everything from it in the show's fixed order (the scenes' objects,
  // textures, shaders, then the warm-up pass) and closes it. Throws when the file cannot be read;
  // the archive reader is gone afterwards on every path.
  void (*Load)(const std::string& ArchiveFileName) = nullptr;
  // Releases what Load made, in the fixed order; also after a failed Load or none.
  void (*Free)() = nullptr;
  // The music: a player for the window with the file loaded at volume 100; start it; free the
  // player at the very end.
  void (*LoadMusic)(HWND Window, const std::string& FileName) = nullptr;
  void (*PlayMusic)() = nullptr;
  void (*FreeMusic)() = nullptr;
};
extern TShowFace ShowFace;

// Puts the show's routines into ShowFace and its fields into the frame trace.
void InstallShow();

// ---- The music during a run ------------------------------------------------------------------

// The music's sample rate (frames per second of decoded stereo).
constexpr uint32_t MusicRate = 44100;
// Moves the music to a frame of decoded stereo (frame = ms * MusicRate / 1000 for show time ms);
// a stopped channel stays stopped.
void SeekMusic(uint64_t Frame);
// Pauses or resumes the whole output (picture and music pause together under --controls).
void PauseMusic(bool Paused);
// Capture: the player made after this opens no audio device; the music is then produced only by
// RenderMusic, mixed exactly as the device would mix it, against the show's own clock.
void UseOfflineMusic();
// The next Frames frames of the mixed music (interleaved 16-bit stereo at MusicRate); silence
// without an offline player.
void RenderMusic(int16_t* Stereo, size_t Frames);
// Why the loaded music cannot be heard (the player's words); empty when it can or none is loaded.
std::string MusicError();
// True while there is music to hear: a player with a sound output and the music file loaded.
bool MusicAudible();
// The show's moment that is being heard now, in ms (the music's frame leaving the speakers, at
// MusicRate, the music having started at show time 0), and whether the music's sound has reached
// the speakers since it last started or jumped. False while no music plays on a sound device: then
// there is nothing to follow. The engine's HeardTime in live runs.
bool HeardMusicTime(double& Ms, bool& Started);
// For a sound output with a clock of its own (the page's audio context): the block of music the
// output asks for next begins to be heard at Ms on the engine's monotonic clock.
void NoteMusicHeardAt(double Ms);
// Bytes of decoded 16-bit stereo music played so far; 0 without a player or a channel.
uint32_t MusicPosition();
// The output's volume, 0 to 100 (the page's volume control; the show starts at 100).
void SetMusicVolume(int Percent);

// ---- Assets the show did without -------------------------------------------------------------

// Each one was reported on standard error as it happened; --strict fails the run on any.
int AssetWarningCount();
void ResetAssetWarnings();

// The GENTLE switch: the white layer's flashes go through timeline::TGentleLight (at most three
// in any second, no sudden rise of more than a fifth of full scale). Off by default.
extern bool GentleLight;

// The CODA switch: the music plays on under the end picture, its closing phrase fading with the
// picture to the show's last frame. Off by default: the music stops 7.3 s into the last scene.
extern bool MusicCoda;

// --post-scale: the scenes with a post effect are drawn into a picture this fraction of the
// screen's size (from 0.25 to 1), which the effect then stretches over the screen. 1 by default:
// every pixel as the show has always drawn it. Takes effect when the show loads.
extern float PostScale;
