#include "show/Timeline.h"

#include <cmath>

namespace timeline {

std::int64_t RoundEven(double Value) {
  // nearbyint follows the current rounding mode, which is round-to-nearest-even
  // unless somebody changed it; do it by hand so the result never depends on that.
  double Floor = std::floor(Value);
  double Frac = Value - Floor;
  std::int64_t Base = static_cast<std::int64_t>(Floor);
  if (Frac > 0.5) return Base + 1;
  if (Frac < 0.5) return Base;
  return (Base % 2 == 0) ? Base : Base + 1;
}

std::int64_t RoundDiv(std::uint32_t D, double K) {
  return RoundEven(static_cast<double>(D) / K);
}

std::uint8_t FadeOutAlpha(std::uint32_t D, double K) {
  std::int64_t A = 255 - RoundDiv(D, K);
  return A < 0 ? 0 : static_cast<std::uint8_t>(A);
}

std::uint8_t ShortFlashAlpha(std::uint32_t D) {
  std::int64_t A = 200 - RoundDiv(D, 1.0);
  return A < 0 ? 0 : static_cast<std::uint8_t>(A);
}

std::uint8_t FadeInAlpha(std::uint32_t D, double K) {
  std::int64_t A = RoundDiv(D, K);
  return A > 255 ? 255 : static_cast<std::uint8_t>(A);
}

bool TBeatFlash::Update(std::uint32_t Time, std::uint32_t StepStart, std::uint8_t& Alpha) {
  if (BeatHold) {
    if (static_cast<std::uint32_t>(Time - StepStart) < HoldTime) return false;
    BeatHold = false;
    BeatTime = Time;
  }
  if (static_cast<std::uint32_t>(Time - BeatTime) >= Period) BeatTime += Period;
  std::int64_t A = 255 - static_cast<std::int64_t>(static_cast<std::uint32_t>(Time - BeatTime));
  Alpha = A < 0 ? 0 : static_cast<std::uint8_t>(A);
  return true;
}

TStepAdvance AdvanceStep(int& Step, std::uint32_t& StepStart, std::uint32_t SceneStart,
                         std::uint32_t Time, std::span<const std::uint32_t> StepEnd) {
  const int LastStep = static_cast<int>(StepEnd.size());
  // A step outside the table (the first frame not done yet) has no end to reach.
  if (Step < 1 || Step > LastStep) return TStepAdvance::None;
  if (static_cast<std::uint32_t>(Time - SceneStart) < StepEnd[Step - 1]) return TStepAdvance::None;
  StepStart = Time;
  if (++Step > LastStep) {
    Step = 0;
    return TStepAdvance::HandOver;
  }
  return TStepAdvance::NextStep;
}

}  // namespace timeline
