#pragma once
// The show's music: one player bound to the engine window and the channel of the music file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os/window.h"

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
