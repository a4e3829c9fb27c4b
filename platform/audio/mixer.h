#pragma once
// Channels and their mixing, without any output device. The output (audio.h)
// drives Mix() from the sound card's callback; a worker thread calls Fill() to
// decode ahead. Tests and benchmarks may call both directly.
//
// Threads: control calls (Add, Play, Stop, Remove, SetVolume) come from one
// thread; Fill() from the worker; Mix() from the device callback. Mix() does no
// allocation and no file I/O: it only copies from each channel's ring.

#include "platform/audio/decoder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace audio {

using Handle = std::uint32_t;

enum class ChannelKind { Stream, Module };

class Mixer {
 public:
  // `rate` in frames per second; `bufferMs` is the decode-ahead of each channel
  // created from now on.
  explicit Mixer(int rate, int bufferMs = 500);
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  int Rate() const { return rate_; }
  void SetBufferMs(int ms);
  int BufferMs() const { return bufferMs_; }

  // Takes the decoder; returns the new channel's handle (never 0).
  Handle Add(std::unique_ptr<Decoder> decoder, ChannelKind kind, bool loop);
  // False for handle 0, an unknown handle or one of the other kind.
  bool Remove(Handle h, ChannelKind kind);
  void RemoveAll();
  bool Play(Handle h, bool restart);
  bool Stop(Handle h);
  bool IsPlaying(Handle h) const;
  // Goes on from frame `frame` (modulo the length for a looping channel); the
  // channel keeps playing or not as it did. Decoders cannot jump, so this
  // decodes from the start up to the frame.
  bool Seek(Handle h, std::uint64_t frame);
  // Frames played since the start; wraps at the length for a looping channel.
  // UINT64_MAX for an unknown handle.
  std::uint64_t PositionFrames(Handle h) const;
  std::size_t ChannelCount() const;

  // Frames mixed for the output since the mixer was made: the output's own frame count, which
  // HeardFrame() maps back to a channel's frames.
  std::uint64_t OutputFrames() const;
  // The frame of channel h that was mixed at output frame `outputFrame` (a fraction of a frame is
  // kept), counted since the channel's start (not wrapped for a looping channel). Only what was
  // mixed since the channel last started over or jumped counts: `started` is false while
  // `outputFrame` lies before that (the frame is then where the channel goes on from). Past the
  // channel's last mixed frame (stopped, or not yet mixed) it stays there. False for an unknown
  // handle.
  bool HeardFrame(Handle h, double outputFrame, double& frame, bool& started) const;

  void SetVolume(int percent);  // clamped to 0..100
  int Volume() const { return volume_.load(std::memory_order_relaxed); }

  // Decodes into every channel's ring until full. True when anything was decoded.
  bool Fill();
  // Mixes `frames` stereo frames into `out` (overwrites it).
  void Mix(std::int16_t* out, std::size_t frames);

 private:
  struct Channel;
  std::shared_ptr<Channel> Find(Handle h) const;
  void FillChannel(Channel& c, std::size_t limit);

  const int rate_;
  std::atomic<int> bufferMs_;
  std::atomic<int> volume_{100};
  Handle next_ = 1;

  mutable std::mutex listMutex_;  // the channel list (control thread and worker)
  std::vector<std::shared_ptr<Channel>> channels_;

  // What the callback walks. Changed only while holding mixMutex_, which the
  // callback holds for its whole run: control calls never wait for decoding.
  mutable std::mutex mixMutex_;
  std::vector<Channel*> mixing_;
  std::uint64_t outputFrames_ = 0;  // under mixMutex_
};

}  // namespace audio
