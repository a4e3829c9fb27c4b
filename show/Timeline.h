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
// the first one 231 ms after the step in which Hold was last set began. The grid is
// laid from the step's start, not from the frame that first sees the hold is over, so
// every flash falls on the same moments whatever the frame rate.
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

// The gentle light: the white layer's alpha as the scenes ask for it in, the alpha to show out,
// once per frame. It keeps every flash but takes the edge off: a rise never gains more than
// MaxRisePerFrame in one frame nor more than MaxRisePerFrame per FrameMs at slower frame rates
// (a flash then climbs over about a hundred ms to where its fade meets it), and no more than
// MaxFlashes rises may begin within any Window ms (a rise asked for beyond that is left out).
// Falls follow at once.
class TGentleLight {
 public:
  static constexpr double MaxRisePerFrame = 51.0;  // a fifth of full scale
  static constexpr double FrameMs = 40.0;          // the rise rate: MaxRisePerFrame per 40 ms
  static constexpr int MaxFlashes = 3;
  static constexpr std::uint32_t Window = 1000;

  std::uint8_t Next(std::uint8_t Wanted, std::uint32_t Time);
  void Reset() { *this = TGentleLight{}; }

 private:
  double Shown = 0.0;
  bool Started = false;  // a frame has been seen (PreviousTime is valid)
  bool Rising = false;   // the rise of one flash is under way
  std::uint32_t PreviousTime = 0;
  std::uint32_t RiseStarts[MaxFlashes] = {};
  int RiseCount = 0;  // rises begun so far, up to MaxFlashes (the ring is full from then on)
  int NextSlot = 0;
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
// late frames do not accumulate. StepStart becomes the moment the step was due,
// SceneStart + StepEnd[k - 1], not the time of the frame that noticed it: what a step
// times from its start keeps the show's grid at any frame rate. On the hand-over
// StepStart holds the moment the next scene is due.
TStepAdvance AdvanceStep(int& Step, std::uint32_t& StepStart, std::uint32_t SceneStart,
                         std::uint32_t Time, std::span<const std::uint32_t> StepEnd);

}  // namespace timeline
