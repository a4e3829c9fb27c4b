#include "platform/audio/output_clock.h"

#include <algorithm>

namespace audio {

void OutputClock::Note(std::uint64_t output, std::uint64_t frames, double heardAt, double rate) {
  std::lock_guard<std::mutex> l(mutex_);
  if (count_ > 0) {
    double queued = 1e300;  // when the blocks ahead, as the clock reads them, reach this one
    for (std::size_t i = 0; i < count_; ++i)
      queued = std::min(queued, blocks_[i].heardAt + static_cast<double>(output - blocks_[i].output) * 1000.0 / rate);
    if (heardAt > queued + static_cast<double>(frames) * 1000.0 / rate) {
      // Everything given before the gap has been heard by now.
      const Block& last = blocks_[count_ - 1];
      floor_ = last.output + last.frames;
      count_ = 0;
    } else {
      heardAt = std::max(heardAt, queued);
    }
  }
  if (count_ == kBlocks) {
    std::rotate(blocks_.begin(), blocks_.begin() + 1, blocks_.end());
    --count_;
  }
  blocks_[count_++] = Block{output, frames, heardAt};
}

bool OutputClock::HeardOutputFrame(double now, double rate, double& frame) const {
  std::lock_guard<std::mutex> l(mutex_);
  if (count_ == 0) return false;
  double best = -1e300;
  for (std::size_t i = 0; i < count_; ++i)
    best = std::max(best, static_cast<double>(blocks_[i].output) + (now - blocks_[i].heardAt) * rate / 1000.0);
  const Block& last = blocks_[count_ - 1];
  frame = std::clamp(best, static_cast<double>(std::min(floor_, last.output)), static_cast<double>(last.output + last.frames));
  return true;
}

}  // namespace audio
