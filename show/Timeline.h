#pragma once
// The arithmetic of the show's timeline: fade forms, the beat flash and the step
// advance. Written once here so that every scene unit fades, flashes and steps
// the same way; no device, no engine, only clock values in and numbers out.

#include <cstdint>
#include <span>

namespace timeline {

// Rounding to the nearest integer with ties to even, as the show rounds everywhere
// (255.5 -> 256, 254.5 -> 254).
std::int64_t RoundEven(double Value);

// Round(D / K) of an unsigned millisecond difference; the difference becomes
// floating point before the division.
std::int64_t RoundDiv(std::uint32_t D, double K);

// Flash or fade-out: 255 - Round(D / K), 0 when negative.
std::uint8_t FadeOutAlpha(std::uint32_t D, double K = 1.0);

// Shorter flash: 200 - Round(D), 0 when negative.
std::uint8_t ShortFlashAlpha(std::uint32_t D);

// Fade-in: Round(D / K), 255 when larger.
std::uint8_t FadeInAlpha(std::uint32_t D, double K = 1.0);

// The beat grid of the flashes: a flash every 923 ms, each fading out in 255 ms,
// the first one 231 ms after the step in which Hold was last set began.
struct TBeatFlash {
  static constexpr std::uint32_t HoldTime = 231;
  static constexpr std::uint32_t Period = 923;

  bool BeatHold = true;
  std::uint32_t BeatTime = 0;

  // One frame of the beat. Returns false while the grid is still waiting for its
  // start (the flash alpha is then left alone); otherwise Alpha receives the flash
  // value of this frame. A late frame catches up at most one period per frame.
  bool Update(std::uint32_t Time, std::uint32_t StepStart, std::uint8_t& Alpha);
};

// What the step test of one frame did.
enum class TStepAdvance {
  None,      // the current step goes on
  NextStep,  // Step was advanced; it holds the new step
  HandOver,  // the last step ended; Step is 0 and the next scene takes over
};

// The step advance of scenes one to four, run as the last thing of the move
// routine. StepEnd holds the end of step k (ms after SceneStart) at index k - 1.
// At most one step ends per frame; the end times are measured from SceneStart, so
// late frames do not accumulate. StepStart becomes Time on every advance.
TStepAdvance AdvanceStep(int& Step, std::uint32_t& StepStart, std::uint32_t SceneStart,
                         std::uint32_t Time, std::span<const std::uint32_t> StepEnd);

}  // namespace timeline
