#pragma once
// When the output's sound is heard. The device takes the mix in blocks; each block is noted with
// the output frame it starts at and when its first frame leaves the speakers (the moment of the
// request plus the output's latency, or what an output with a clock of its own reports). From the
// recent blocks the frame being heard at any moment is read back: the position a player's clock
// follows. Thread-safe: the device's callback notes, the main thread reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace audio {

class OutputClock {
 public:
  // A block of `frames` frames starting at output frame `output`, to be heard from `heardAt` (ms)
  // at `rate` frames a second. It cannot be heard before the blocks ahead of it have played,
  // however many the device takes at once (it catches up after a stall); and when it would be
  // heard more than its own length after they ran out, the device ran dry in between (a pause, a
  // stall) and what came before says nothing of the clock now.
  void Note(std::uint64_t output, std::uint64_t frames, double heardAt, double rate);
  // The output frame leaving the speakers at `now` (ms); false before the first block. A device
  // request comes late under load but never early, so each block's time, carried forward at the
  // nominal rate, can only lag the true one: the latest of the recent blocks' readings is the
  // best, and nothing is heard that the device has not been given.
  bool HeardOutputFrame(double now, double rate, double& frame) const;

 private:
  struct Block {
    std::uint64_t output = 0;
    std::uint64_t frames = 0;
    double heardAt = 0;
  };
  static constexpr std::size_t kBlocks = 8;  // a fifth of a second of device requests

  mutable std::mutex mutex_;
  std::array<Block, kBlocks> blocks_{};  // newest last
  std::size_t count_ = 0;
  std::uint64_t floor_ = 0;  // the output frame heard at least: the end of what came before a gap
};

}  // namespace audio
