#pragma once
// The sound output: one device, streams and modules played on it, a master
// volume. Output goes through SDL2 audio (only SDL's audio subsystem is
// initialised here); decoding runs ahead on a worker thread, so no call made by
// the frame loop waits for a decoder and the device callback never touches a
// file.
//
// Handles are non-zero integers; 0 is never a valid handle and every call given
// it fails without effect. Calls made before Init (or after a failed Init) fail.
// All calls are meant for one thread (the program's main thread).

#include <cstddef>
#include <cstdint>
#include <string>

namespace audio {

using Handle = std::uint32_t;

// Channel flags. The values are those the engine's music player passes on.
constexpr std::uint32_t kFlagLoop = 0x4;      // a stream starts over at its end
constexpr std::uint32_t kFlagEffects = 0x80;  // accepted; no effects are offered
constexpr std::uint32_t kFlagRamp = 0x200;    // accepted; modules always ramp

constexpr int kDefaultRate = 44100;

// device: 1 (or -1) is the default output device, n >= 2 the (n-1)th device SDL
// lists. `window` is accepted for the caller's sake; output is not tied to it.
// 44.1 kHz, 16-bit stereo. False with LastError() set when no device opens.
bool Init(int device, int frequency, void* window = nullptr);
bool IsInitialised();
// Closes the device, stops the worker and frees every channel.
bool Free();
// Resumes / pauses the whole output.
bool Start();
bool Stop();

// Decode-ahead per channel, applied to channels created afterwards.
bool SetBufferLength(int milliseconds);
int BufferLength();

// A channel from a sampled file (Ogg Vorbis, WAV, FLAC ...); 0 when the file
// cannot be read as one.
Handle StreamCreateFile(const std::string& path, std::uint32_t flags);
// A channel from a tracker module; 0 when the file is not one.
Handle ModuleLoad(const std::string& path, std::uint32_t flags);
// Each frees only a channel of its own kind.
bool StreamFree(Handle h);
bool ModuleFree(Handle h);

// Starts (or resumes) a channel; with `restart` from its beginning. A channel
// that played to its end starts over either way.
bool ChannelPlay(Handle h, bool restart);
bool ChannelStop(Handle h);
bool ChannelIsPlaying(Handle h);
// Bytes of 16-bit stereo data played so far (wrapping for a looping stream);
// UINT64_MAX on failure.
std::uint64_t ChannelGetPosition(Handle h);

// What is heard: the frame of channel h leaving the speakers now (a fraction of a frame kept),
// counted since the channel's start and not wrapped for a looping stream. It is estimated from when
// the output took each block and how much sound the output holds ahead of the speakers, so it
// stands still while the output starves or is paused, and a jump or restart counts only once its
// sound is heard: `started` is false until then (the frame is where the channel goes on from).
// False without a sound device (offline output included) or for a bad handle.
bool ChannelHeardPosition(Handle h, double& frame, bool& started);
// For an output that knows when its sound is heard (the browser's audio clock): the block mixed
// next begins to be heard at `heardAtMs` on the monotonic clock (ms; performance.now() in the
// browser), in place of the estimate.
void SetNextBlockHeardAt(double heardAtMs);

// Master volume 0..100, linear gain.
bool SetVolume(int volume);
int GetVolume();

// Jumps to a byte position of 16-bit stereo data (wrapping for a looping stream);
// a playing channel goes on from there.
bool ChannelSetPosition(Handle h, std::uint64_t bytes);

// Offline output (video capture): with it chosen before Init, Init opens no
// device and starts no thread; the sound is produced only when RenderOffline
// asks for it, decoded and mixed exactly as the device callback would, so a
// caller driven by a clock of its own gets the same sound. Pausing (Stop)
// makes RenderOffline produce silence.
void SetOfflineOutput(bool offline);
bool IsOffline();
// Mixes the next `frames` stereo frames into `out` (interleaved, at the rate
// given to Init). False when the output is not initialised offline.
bool RenderOffline(std::int16_t* out, std::size_t frames);

// What the last failing call ran into, for diagnostics.
std::string LastError();

}  // namespace audio
