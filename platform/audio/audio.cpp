#include "platform/audio/audio.h"

#include "platform/audio/mixer.h"
#include "platform/audio/output_clock.h"

#include <SDL.h>
#if !defined(__EMSCRIPTEN__) && !defined(_WIN32)
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

namespace audio {

namespace {

constexpr int kDeviceFrames = 1024;  // SDL's own buffer, about 23 ms at 44.1 kHz

struct Output {
  bool offline = false;
  bool paused = false;  // offline only: Stop was called
  SDL_AudioDeviceID device = 0;
  std::unique_ptr<Mixer> mixer;
  std::thread worker;
  std::atomic<bool> quit{false};
  std::atomic<bool> wakePending{false};
  std::counting_semaphore<> wake{0};
  int rate = kDefaultRate;
  double latencyMs = 0;              // from a block's request to its first frame being heard
  std::atomic<double> nextHeardAt{-1};  // set by an output with a clock of its own
  OutputClock heard;
};

Output* g_out = nullptr;
int g_bufferMs = 500;
bool g_offline = false;
std::string g_error;

bool Fail(const std::string& what) {
  g_error = what;
  return false;
}

bool Ready() {
  if (g_out) return true;
  return Fail("audio output not initialised");
}

// One pending signal is enough; this keeps the semaphore's count bounded.
void Wake(Output* out) {
  if (!out->wakePending.exchange(true, std::memory_order_acq_rel)) out->wake.release();
}

double SteadyMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SDLCALL Callback(void* user, Uint8* stream, int len) {
  auto* out = static_cast<Output*>(user);
  const double now = SteadyMs();
  const double given = out->nextHeardAt.exchange(-1);
  const std::uint64_t output = out->mixer->OutputFrames();
#ifdef __EMSCRIPTEN__
  // The browser build has no threads: Web Audio asks on the page's thread, and the rings are
  // topped up right here, by the same decoder and mixer, before mixing.
  while (out->mixer->Fill()) {
  }
#endif
  const std::size_t frames = static_cast<std::size_t>(len) / 4;
  out->mixer->Mix(reinterpret_cast<std::int16_t*>(stream), frames);
  out->heard.Note(output, frames, given >= 0 ? given : now + out->latencyMs, out->rate);
  Wake(out);  // there is room in the rings again
}

void WorkerLoop(Output* out) {
  while (!out->quit.load(std::memory_order_acquire)) {
    // From here on a callback's signal means "more room since this pass began".
    out->wakePending.store(false, std::memory_order_release);
    if (out->mixer->Fill()) continue;
    // Rings are full: sleep until the callback has taken a block, or a short
    // while so that channels added or restarted in between get filled too.
    if (out->wake.try_acquire_for(std::chrono::milliseconds(10)))
      while (out->wake.try_acquire()) {
      }
  }
}

// From a block's request to its first frame leaving the speakers, in ms, for SDL's driver with a
// device buffer of `samples` frames. A PulseAudio stream is asked for more once half its one-block
// target has played, so about half a block is still queued (measured against a null sink's
// recording, tests/live: the server raises its latency by a few ms after the client runs dry).
// Other drivers ask when a whole period has room while one more still plays.
double DeviceLatencyMs(const char* driver, int samples, int rate) {
  const double block = samples * 1000.0 / rate;
  const std::string name = driver ? driver : "";
  if (name == "pulseaudio") return 0.5 * block;
  if (name == "dummy" || name == "disk") return 0;
  return block;
}

// ALSA reports every probe of a missing sound card on stderr from inside SDL's driver search,
// although a machine without sound is a normal case for us (the show then runs silently and says
// nothing). The failure still reaches the caller through SDL.
#if !defined(__EMSCRIPTEN__) && !defined(_WIN32)
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

}  // namespace

bool Init(int device, int frequency, void* /*window*/) {
  if (g_out) return Fail("audio output already initialised");
  if (frequency <= 0) frequency = kDefaultRate;
  if (device == 0 || device < -1) return Fail("no such output device");

  if (g_offline) {
    // No device, no worker: RenderOffline decodes and mixes on the caller's thread.
    auto out = std::make_unique<Output>();
    out->offline = true;
    out->mixer = std::make_unique<Mixer>(frequency, g_bufferMs);
    g_out = out.release();
    return true;
  }

#if !defined(__EMSCRIPTEN__) && !defined(_WIN32)
  snd_lib_error_set_handler(QuietAlsa);
#endif
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return Fail(std::string("audio init: ") + SDL_GetError());

  const char* name = nullptr;
  if (device >= 2) {
    name = SDL_GetAudioDeviceName(device - 2, 0);
    if (!name) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return Fail("no such output device");
    }
  }

  auto out = std::make_unique<Output>();
  out->mixer = std::make_unique<Mixer>(frequency, g_bufferMs);

  SDL_AudioSpec want{};
  want.freq = frequency;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = kDeviceFrames;
  want.callback = Callback;
  want.userdata = out.get();
  SDL_AudioSpec have{};
  out->device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
  if (out->device == 0) {
    std::string why = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return Fail("audio device: " + why);
  }
  out->rate = have.freq > 0 ? have.freq : frequency;
  out->latencyMs = DeviceLatencyMs(SDL_GetCurrentAudioDriver(), have.samples, out->rate);

#ifdef __EMSCRIPTEN__
  (void)WorkerLoop;
#else
  out->worker = std::thread(WorkerLoop, out.get());
#endif
  g_out = out.release();
  SDL_PauseAudioDevice(g_out->device, 0);
  return true;
}

bool IsInitialised() { return g_out != nullptr; }

bool Free() {
  if (!Ready()) return false;
  if (g_out->offline) {
    delete g_out;
    g_out = nullptr;
    return true;
  }
  // Closing the device waits for a running callback, so nothing mixes after it.
  SDL_CloseAudioDevice(g_out->device);
  g_out->quit.store(true);
  g_out->wake.release();
  if (g_out->worker.joinable()) g_out->worker.join();
  delete g_out;
  g_out = nullptr;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return true;
}

namespace {

bool SetPaused(bool paused) {
  if (!Ready()) return false;
  g_out->paused = paused;
  if (!g_out->offline) SDL_PauseAudioDevice(g_out->device, paused ? 1 : 0);
  return true;
}

}  // namespace

bool Start() { return SetPaused(false); }

bool Stop() { return SetPaused(true); }

bool SetBufferLength(int milliseconds) {
  if (milliseconds < 10 || milliseconds > 5000) return Fail("buffer length out of range");
  g_bufferMs = milliseconds;
  if (g_out) g_out->mixer->SetBufferMs(milliseconds);
  return true;
}

int BufferLength() { return g_bufferMs; }

namespace {
bool Readable(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return Fail("file not found: " + path);
  return true;
}
}  // namespace

Handle StreamCreateFile(const std::string& path, std::uint32_t flags) {
  if (!Ready() || !Readable(path)) return 0;
  auto decoder = OpenStreamDecoder(path, g_out->mixer->Rate());
  if (!decoder) {
    Fail("not a stream: " + path);
    return 0;
  }
  return g_out->mixer->Add(std::move(decoder), ChannelKind::Stream, (flags & kFlagLoop) != 0);
}

Handle ModuleLoad(const std::string& path, std::uint32_t flags) {
  if (!Ready() || !Readable(path)) return 0;
  bool loop = (flags & kFlagLoop) != 0;
  auto decoder = OpenModuleDecoder(path, g_out->mixer->Rate(), loop);
  if (!decoder) {
    Fail("not a module: " + path);
    return 0;
  }
  return g_out->mixer->Add(std::move(decoder), ChannelKind::Module, loop);
}

bool StreamFree(Handle h) {
  if (!Ready()) return false;
  return g_out->mixer->Remove(h, ChannelKind::Stream) || Fail("not a stream handle");
}

bool ModuleFree(Handle h) {
  if (!Ready()) return false;
  return g_out->mixer->Remove(h, ChannelKind::Module) || Fail("not a module handle");
}

bool ChannelPlay(Handle h, bool restart) {
  if (!Ready()) return false;
  if (!g_out->mixer->Play(h, restart)) return Fail("invalid handle");
  if (!g_out->offline) Wake(g_out);  // a restarted channel wants its ring refilled now
  return true;
}

bool ChannelStop(Handle h) {
  if (!Ready()) return false;
  return g_out->mixer->Stop(h) || Fail("invalid handle");
}

bool ChannelIsPlaying(Handle h) { return g_out && g_out->mixer->IsPlaying(h); }

std::uint64_t ChannelGetPosition(Handle h) {
  if (!Ready()) return UINT64_MAX;
  std::uint64_t frames = g_out->mixer->PositionFrames(h);
  if (frames == UINT64_MAX) {
    Fail("invalid handle");
    return UINT64_MAX;
  }
  return frames * 4;
}

bool ChannelHeardPosition(Handle h, double& frame, bool& started) {
  if (!Ready()) return false;
  if (g_out->offline) return Fail("no sound device");
  double output = 0;
  bool known = g_out->heard.HeardOutputFrame(SteadyMs(), g_out->rate, output);
  if (!known) output = -1;  // nothing was taken yet: nothing heard
  if (!g_out->mixer->HeardFrame(h, output, frame, started)) return Fail("invalid handle");
  return true;
}

void SetNextBlockHeardAt(double heardAtMs) {
  if (g_out) g_out->nextHeardAt.store(heardAtMs);
}


bool SetVolume(int volume) {
  if (!Ready()) return false;
  if (volume < 0 || volume > 100) return Fail("volume out of range");
  g_out->mixer->SetVolume(volume);
  return true;
}

int GetVolume() { return g_out ? g_out->mixer->Volume() : -1; }

bool ChannelSetPosition(Handle h, std::uint64_t bytes) {
  if (!Ready()) return false;
  if (!g_out->mixer->Seek(h, bytes / 4)) return Fail("invalid handle");
  if (!g_out->offline) Wake(g_out);
  return true;
}

void SetOfflineOutput(bool offline) { g_offline = offline; }

bool IsOffline() { return g_out ? g_out->offline : g_offline; }

bool RenderOffline(std::int16_t* out, std::size_t frames) {
  if (!g_out || !g_out->offline) return Fail("no offline output");
  // The rings hold a little more than the buffer length; mixing in steps no longer than what a
  // fill guarantees means a channel never runs dry the way a late device callback could.
  constexpr std::size_t kStep = 2048;
  while (frames > 0) {
    const std::size_t n = std::min(frames, kStep);
    g_out->mixer->Fill();
    if (g_out->paused)
      std::fill(out, out + 2 * n, std::int16_t{0});
    else
      g_out->mixer->Mix(out, n);
    out += 2 * n;
    frames -= n;
  }
  return true;
}

std::string LastError() { return g_error; }

}  // namespace audio
