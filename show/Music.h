#pragma once
// The show's music: one player bound to the engine window and the channel of the music file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os/window.h"
#include "show/Show.h"  // the music controls of a run

class TvokBassPlayer;

extern TvokBassPlayer* MusicPlayer;
extern uint32_t MusicChannel;

// Creates the player for the window, loads the file (a missing or unplayable file leaves a
// silent show) and sets the volume to 100.
void LoadMusic(HWND Window, const std::string& FileName);
void PlayMusic();
void StopMusic();
void FreeMusic();
// Bytes of decoded 16-bit stereo music played so far; 0 without a player or a channel.
uint32_t MusicPosition();
