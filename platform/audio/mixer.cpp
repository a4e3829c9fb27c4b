#include "platform/audio/mixer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace audio {

namespace {
constexpr std::size_t kDecodeChunk = 4096;  // frames decoded per step
constexpr std::size_t kMixBlock = 512;      // frames mixed per step
constexpr int kRestartPrefillMs = 200;
}  // namespace

// One channel: its decoder, and a single-producer single-consumer ring of
// decoded stereo frames. The producer is whoever holds `decodeMutex` (the
// worker, or the control thread while it restarts the channel); the consumer is
// Mix(). Read and write counters only grow, so their difference is the fill.
struct Mixer::Channel {
  Handle handle = 0;
  ChannelKind kind = ChannelKind::Stream;
  bool loop = false;

  std::mutex decodeMutex;
  std::unique_ptr<Decoder> decoder;
  std::uint64_t sinceRewind = 0;  // frames decoded since the decoder last started over

  std::vector<std::int16_t> ring;  // 2 * capacity samples
  std::size_t capacity = 0;        // frames
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::uint64_t> read{0};

  std::atomic<bool> playing{false};
  std::atomic<bool> decodeEnded{false};  // the decoder has no more frames
  std::atomic<bool> ended{false};        // ... and the ring has run dry while playing
  std::atomic<std::uint64_t> consumed{0};
  std::atomic<std::uint64_t> length{0};  // frames, 0 until known

  // Where the channel's frames went in the output, newest last: runs of output frames that
  // carried consecutive frames of the channel. A restart or a jump begins a new epoch; the runs of
  // older epochs are still being heard for a moment but say nothing of where the channel is now.
  // Written by Mix() and the control calls, read by HeardFrame(), all under mixMutex_.
  struct Run {
    std::uint64_t output = 0;
    std::uint64_t frame = 0;
    std::uint64_t count = 0;
  };
  static constexpr std::size_t kRuns = 16;
  std::array<Run, kRuns> runs{};
  std::size_t runCount = 0;  // runs of the current epoch, at most kRuns (the oldest are dropped)
  bool runsDropped = false;

  void NoteRun(std::uint64_t output, std::uint64_t frame, std::uint64_t count) {
    if (runCount > 0) {
      Run& last = runs[(runCount - 1) % kRuns];
      if (last.output + last.count == output && last.frame + last.count == frame) {
        last.count += count;
        return;
      }
    }
    if (runCount == kRuns) {  // drop the oldest, keep the order
      std::rotate(runs.begin(), runs.begin() + 1, runs.end());
      --runCount;
      runsDropped = true;
    }
    runs[runCount++] = Run{output, frame, count};
  }
  void NewEpoch() {
    runCount = 0;
    runsDropped = false;
  }
};

Mixer::Mixer(int rate, int bufferMs) : rate_(rate > 0 ? rate : 44100), bufferMs_(bufferMs) { mixing_.reserve(16); }

Mixer::~Mixer() { RemoveAll(); }

void Mixer::SetBufferMs(int ms) { bufferMs_.store(std::clamp(ms, 10, 5000)); }

Handle Mixer::Add(std::unique_ptr<Decoder> decoder, ChannelKind kind, bool loop) {
  if (!decoder) return 0;
  auto c = std::make_shared<Channel>();
  c->kind = kind;
  c->loop = loop;
  c->length.store(decoder->LengthFrames());
  c->decoder = std::move(decoder);
  // A little more than the configured buffer, so that a full buffer's worth is
  // always ready even right after the callback took a block.
  c->capacity = static_cast<std::size_t>(static_cast<std::int64_t>(rate_) * bufferMs_.load() / 1000) + kMixBlock * 4;
  c->ring.assign(2 * c->capacity, 0);
  {
    std::lock_guard<std::mutex> d(c->decodeMutex);
    FillChannel(*c, c->capacity);
  }
  std::lock_guard<std::mutex> l(listMutex_);
  c->handle = next_++;
  if (next_ == 0) next_ = 1;
  channels_.push_back(c);
  {
    std::lock_guard<std::mutex> m(mixMutex_);
    mixing_.push_back(c.get());
  }
  return c->handle;
}

std::shared_ptr<Mixer::Channel> Mixer::Find(Handle h) const {
  if (h == 0) return nullptr;
  std::lock_guard<std::mutex> l(listMutex_);
  for (const auto& c : channels_)
    if (c->handle == h) return c;
  return nullptr;
}

bool Mixer::Remove(Handle h, ChannelKind kind) {
  auto c = Find(h);
  if (!c || c->kind != kind) return false;
  c->playing.store(false);
  {
    std::lock_guard<std::mutex> m(mixMutex_);
    mixing_.erase(std::remove(mixing_.begin(), mixing_.end(), c.get()), mixing_.end());
  }
  std::lock_guard<std::mutex> l(listMutex_);
  channels_.erase(std::remove(channels_.begin(), channels_.end(), c), channels_.end());
  return true;
}

void Mixer::RemoveAll() {
  {
    std::lock_guard<std::mutex> m(mixMutex_);
    mixing_.clear();
  }
  std::lock_guard<std::mutex> l(listMutex_);
  channels_.clear();
}

bool Mixer::Play(Handle h, bool restart) {
  auto c = Find(h);
  if (!c) return false;
  if (restart || c->ended.load()) {
    std::lock_guard<std::mutex> d(c->decodeMutex);
    {
      std::lock_guard<std::mutex> m(mixMutex_);
      c->playing.store(false);
      c->written.store(0);
      c->read.store(0);
      c->consumed.store(0);
      c->ended.store(false);
      c->NewEpoch();
    }
    c->decodeEnded.store(!c->decoder->Rewind());
    c->sinceRewind = 0;
    FillChannel(*c, std::min(c->capacity, static_cast<std::size_t>(rate_) * kRestartPrefillMs / 1000));
  }
  c->playing.store(true);
  return true;
}

bool Mixer::Seek(Handle h, std::uint64_t frame) {
  auto c = Find(h);
  if (!c) return false;
  std::lock_guard<std::mutex> d(c->decodeMutex);
  const bool wasPlaying = c->playing.load();
  {
    std::lock_guard<std::mutex> m(mixMutex_);
    c->playing.store(false);
    c->written.store(0);
    c->read.store(0);
    c->ended.store(false);
    c->NewEpoch();
  }
  bool ok = c->decoder->Rewind();
  c->sinceRewind = 0;
  std::uint64_t len = c->length.load();
  if (c->loop && len > 0) frame %= len;
  std::vector<std::int16_t> scratch(2 * kDecodeChunk);
  std::uint64_t skipped = 0;
  while (ok && skipped < frame) {
    std::size_t got = c->decoder->Read(scratch.data(), static_cast<std::size_t>(std::min<std::uint64_t>(frame - skipped, kDecodeChunk)));
    if (got == 0) break;
    skipped += got;
  }
  c->sinceRewind = skipped;
  c->consumed.store(skipped);
  c->decodeEnded.store(!ok || skipped < frame);
  if (c->decodeEnded.load()) c->ended.store(true);
  FillChannel(*c, std::min(c->capacity, static_cast<std::size_t>(rate_) * kRestartPrefillMs / 1000));
  c->playing.store(wasPlaying && !c->ended.load());
  return true;
}

bool Mixer::Stop(Handle h) {
  auto c = Find(h);
  if (!c) return false;
  c->playing.store(false);
  return true;
}

bool Mixer::IsPlaying(Handle h) const {
  auto c = Find(h);
  return c && c->playing.load();
}

std::uint64_t Mixer::PositionFrames(Handle h) const {
  auto c = Find(h);
  if (!c) return UINT64_MAX;
  std::uint64_t pos = c->consumed.load();
  std::uint64_t len = c->length.load();
  if (c->loop && len > 0) pos %= len;
  return pos;
}

std::size_t Mixer::ChannelCount() const {
  std::lock_guard<std::mutex> l(listMutex_);
  return channels_.size();
}

void Mixer::SetVolume(int percent) { volume_.store(std::clamp(percent, 0, 100)); }

// Caller holds c.decodeMutex. Decodes until `limit` frames are buffered.
void Mixer::FillChannel(Channel& c, std::size_t limit) {
  limit = std::min(limit, c.capacity);
  int emptyLoops = 0;
  while (!c.decodeEnded.load(std::memory_order_relaxed)) {
    std::uint64_t w = c.written.load(std::memory_order_relaxed);
    std::uint64_t r = c.read.load(std::memory_order_acquire);
    std::size_t fill = static_cast<std::size_t>(w - r);
    if (fill >= limit) break;
    std::size_t at = static_cast<std::size_t>(w % c.capacity);
    std::size_t n = std::min({limit - fill, c.capacity - at, kDecodeChunk});
    std::size_t got = c.decoder->Read(&c.ring[2 * at], n);
    if (got > 0) {
      c.sinceRewind += got;
      c.written.store(w + got, std::memory_order_release);
      emptyLoops = 0;
      continue;
    }
    // End of the data. What was actually decoded beats what the header
    // promised (a damaged file, rounding in rate conversion), and a loop
    // position must wrap where the data really does.
    if (c.sinceRewind > 0) c.length.store(c.sinceRewind, std::memory_order_relaxed);
    // A looping channel starts over, unless it is empty or cannot seek: that
    // would spin forever producing nothing.
    if (c.loop && c.sinceRewind > 0 && ++emptyLoops < 2 && c.decoder->Rewind()) {
      c.sinceRewind = 0;
      continue;
    }
    c.decodeEnded.store(true, std::memory_order_release);
  }
}

bool Mixer::Fill() {
  std::vector<std::shared_ptr<Channel>> snapshot;
  {
    std::lock_guard<std::mutex> l(listMutex_);
    snapshot = channels_;
  }
  bool any = false;
  for (auto& c : snapshot) {
    // A control call may be restarting the channel: leave it to that call.
    std::unique_lock<std::mutex> d(c->decodeMutex, std::try_to_lock);
    if (!d.owns_lock()) continue;
    std::uint64_t before = c->written.load(std::memory_order_relaxed);
    FillChannel(*c, c->capacity);
    if (c->written.load(std::memory_order_relaxed) != before) any = true;
  }
  return any;
}

void Mixer::Mix(std::int16_t* out, std::size_t frames) {
  std::lock_guard<std::mutex> m(mixMutex_);
  const std::int64_t gain = static_cast<std::int64_t>(volume_.load(std::memory_order_relaxed)) * 65536 / 100;
  std::int32_t acc[2 * kMixBlock];
  while (frames > 0) {
    std::size_t block = std::min(frames, kMixBlock);
    std::memset(acc, 0, sizeof(std::int32_t) * 2 * block);
    for (Channel* c : mixing_) {
      if (!c->playing.load(std::memory_order_acquire)) continue;
      std::uint64_t r = c->read.load(std::memory_order_relaxed);
      std::uint64_t w = c->written.load(std::memory_order_acquire);
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(w - r, block));
      std::size_t done = 0;
      while (done < n) {
        std::size_t at = static_cast<std::size_t>((r + done) % c->capacity);
        std::size_t run = std::min(n - done, c->capacity - at);
        const std::int16_t* src = &c->ring[2 * at];
        std::int32_t* dst = acc + 2 * done;
        for (std::size_t i = 0; i < 2 * run; ++i) dst[i] += src[i];
        done += run;
      }
      c->read.store(r + n, std::memory_order_release);
      if (n > 0) c->NoteRun(outputFrames_, c->consumed.load(std::memory_order_relaxed), n);
      c->consumed.fetch_add(n, std::memory_order_relaxed);
      if (n < block && c->decodeEnded.load(std::memory_order_acquire) &&
          c->written.load(std::memory_order_acquire) == r + n) {
        c->playing.store(false, std::memory_order_relaxed);
        c->ended.store(true, std::memory_order_relaxed);
      }
    }
    for (std::size_t i = 0; i < 2 * block; ++i) {
      std::int64_t v = (static_cast<std::int64_t>(acc[i]) * gain) >> 16;
      out[i] = static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
    }
    out += 2 * block;
    frames -= block;
    outputFrames_ += block;
  }
}

std::uint64_t Mixer::OutputFrames() const {
  std::lock_guard<std::mutex> m(mixMutex_);
  return outputFrames_;
}

bool Mixer::HeardFrame(Handle h, double outputFrame, double& frame, bool& started) const {
  auto c = Find(h);
  if (!c) return false;
  std::lock_guard<std::mutex> m(mixMutex_);
  started = false;
  if (c->runCount == 0) {
    // Nothing of this epoch mixed yet: the channel goes on from where it was put.
    frame = static_cast<double>(c->consumed.load(std::memory_order_relaxed));
    return true;
  }
  const Channel::Run& first = c->runs[0];
  started = true;
  if (outputFrame < static_cast<double>(first.output)) {
    // Before the epoch's first frame was heard (or, long after it, before the oldest run kept).
    started = c->runsDropped;
    frame = static_cast<double>(first.frame);
    return true;
  }
  // The newest run that began at or before the output frame; past its end the channel was
  // silent (stopped, run dry) until the next run, so it stays at that end.
  for (std::size_t i = c->runCount; i-- > 0;) {
    const Channel::Run& run = c->runs[i];
    if (outputFrame < static_cast<double>(run.output)) continue;
    const double into = std::min(outputFrame - static_cast<double>(run.output), static_cast<double>(run.count));
    frame = static_cast<double>(run.frame) + into;
    return true;
  }
  frame = static_cast<double>(first.frame);
  return true;
}

}  // namespace audio
