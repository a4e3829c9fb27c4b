// Fade forms, beat grid and step advance: the arithmetic every scene shares.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "demo/Timeline.h"

using namespace timeline;

TEST(FadeForms, RoundingIsTiesToEven) {
  EXPECT_EQ(RoundEven(255.5), 256);
  EXPECT_EQ(RoundEven(254.5), 254);
  EXPECT_EQ(RoundEven(0.5), 0);
  EXPECT_EQ(RoundEven(1.5), 2);
  EXPECT_EQ(RoundEven(2.4999), 2);
  EXPECT_EQ(RoundEven(2.5001), 3);
  EXPECT_EQ(RoundEven(-0.5), 0);
  EXPECT_EQ(RoundEven(-1.5), -2);
  // 2555 ms over ten is exactly 255.5 in binary floating point and rounds up.
  EXPECT_EQ(RoundDiv(2555, 10), 256);
  EXPECT_EQ(RoundDiv(2554, 10), 255);
  EXPECT_EQ(RoundDiv(2545, 10), 254);
}

TEST(FadeForms, DifferenceZeroGivesTheEdgeValues) {
  EXPECT_EQ(FadeOutAlpha(0, 1), 255);
  EXPECT_EQ(FadeOutAlpha(0, 10), 255);
  EXPECT_EQ(ShortFlashAlpha(0), 200);
  EXPECT_EQ(FadeInAlpha(0, 1), 0);
  EXPECT_EQ(FadeInAlpha(0, 10), 0);
}

TEST(FadeForms, FadeOutLengthsFollowTheDivisor) {
  // k = 1, 2, 4, 10 give 255, 510, 1020 and 2550 ms fades.
  const std::array<std::pair<double, std::uint32_t>, 4> Cases{{{1, 255}, {2, 510}, {4, 1020}, {10, 2550}}};
  for (auto [K, Length] : Cases) {
    EXPECT_EQ(FadeOutAlpha(Length, K), 0) << K;
    EXPECT_GT(FadeOutAlpha(Length - static_cast<std::uint32_t>(K), K), 0) << K;
  }
  EXPECT_EQ(FadeOutAlpha(100, 2), 205);
  EXPECT_EQ(FadeOutAlpha(5, 2), 253);  // 2.5 rounds to 2
  EXPECT_EQ(FadeOutAlpha(7, 2), 251);  // 3.5 rounds to 4
}

TEST(FadeForms, NegativeResultsClampAndLargeOnesSaturate) {
  EXPECT_EQ(FadeOutAlpha(256, 1), 0);
  EXPECT_EQ(FadeOutAlpha(100000, 1), 0);
  EXPECT_EQ(FadeOutAlpha(0xFFFFFFFFu, 1), 0);  // a wrapped difference must not come back positive
  EXPECT_EQ(ShortFlashAlpha(199), 1);
  EXPECT_EQ(ShortFlashAlpha(200), 0);
  EXPECT_EQ(ShortFlashAlpha(5000), 0);
  EXPECT_EQ(FadeInAlpha(255, 1), 255);
  EXPECT_EQ(FadeInAlpha(300, 1), 255);
  EXPECT_EQ(FadeInAlpha(0xFFFFFFFFu, 1), 255);
  // The final fade to black: 2550..2554 ms stay at 255, 2555 is the first past it.
  EXPECT_EQ(FadeInAlpha(2550, 10), 255);
  EXPECT_EQ(RoundDiv(2554, 10), 255);
  EXPECT_EQ(RoundDiv(2555, 10), 256);
}

namespace {
// Runs the beat at a fixed frame step and returns the alpha of every frame
// (-1 while the grid waits for its start).
std::vector<int> RunBeat(TBeatFlash& Beat, std::uint32_t StepStart, std::uint32_t From,
                         std::uint32_t To, std::uint32_t FrameStep) {
  std::vector<int> Out;
  for (std::uint32_t T = From; T <= To; T += FrameStep) {
    std::uint8_t A = 77;
    Out.push_back(Beat.Update(T, StepStart, A) ? A : -1);
  }
  return Out;
}
}  // namespace

TEST(BeatFlash, HoldsFor231MsThenFlashesEvery923) {
  TBeatFlash Beat;
  Beat.BeatHold = true;
  std::uint8_t A = 77;
  EXPECT_FALSE(Beat.Update(1000 + 230, 1000, A));
  EXPECT_EQ(A, 77);  // untouched while waiting
  EXPECT_TRUE(Beat.BeatHold);
  ASSERT_TRUE(Beat.Update(1000 + 231, 1000, A));
  EXPECT_FALSE(Beat.BeatHold);
  EXPECT_EQ(Beat.BeatTime, 1231u);
  EXPECT_EQ(A, 255);  // the flash starts in the frame that ends the hold
  ASSERT_TRUE(Beat.Update(1231 + 254, 1000, A));
  EXPECT_EQ(A, 1);
  ASSERT_TRUE(Beat.Update(1231 + 255, 1000, A));
  EXPECT_EQ(A, 0);
  ASSERT_TRUE(Beat.Update(1231 + 922, 1000, A));
  EXPECT_EQ(A, 0);
  EXPECT_EQ(Beat.BeatTime, 1231u);
  ASSERT_TRUE(Beat.Update(1231 + 923, 1000, A));
  EXPECT_EQ(Beat.BeatTime, 1231u + 923);
  EXPECT_EQ(A, 255);
}

TEST(BeatFlash, LongFrameCatchesUpOnePeriodPerFrame) {
  TBeatFlash Beat;
  Beat.BeatHold = false;
  Beat.BeatTime = 0;
  std::uint8_t A = 0;
  // 3 periods late: one period per frame, the flash stays dark until the grid is reached.
  ASSERT_TRUE(Beat.Update(3 * 923 + 10, 0, A));
  EXPECT_EQ(Beat.BeatTime, 923u);
  EXPECT_EQ(A, 0);
  ASSERT_TRUE(Beat.Update(3 * 923 + 11, 0, A));
  EXPECT_EQ(Beat.BeatTime, 2u * 923);
  EXPECT_EQ(A, 0);
  ASSERT_TRUE(Beat.Update(3 * 923 + 12, 0, A));
  EXPECT_EQ(Beat.BeatTime, 3u * 923);
  EXPECT_EQ(A, 255 - 12);
  ASSERT_TRUE(Beat.Update(3 * 923 + 13, 0, A));
  EXPECT_EQ(Beat.BeatTime, 3u * 923);
}

TEST(BeatFlash, GridDoesNotDriftAtFixedStep) {
  // At 40 ms per frame the grid starts in the first frame past 231 ms (240 ms) and
  // every later flash starts within one frame of 240 + 923 k: no drift accumulates.
  TBeatFlash Beat;
  const std::uint32_t StepStart = 5000;
  auto Alphas = RunBeat(Beat, StepStart, StepStart, StepStart + 30 * 923, 40);
  EXPECT_EQ(Alphas[0], -1);
  EXPECT_EQ(Alphas[5], -1);   // 200 ms
  EXPECT_EQ(Alphas[6], 255);  // 240 ms: BeatTime := Time
  for (int k = 1; k < 30; ++k) {
    std::uint32_t Grid = 240 + 923 * k;
    std::size_t Frame = (Grid + 39) / 40;  // first frame at or after the grid point
    ASSERT_LT(Frame, Alphas.size());
    EXPECT_EQ(Alphas[Frame], 255 - static_cast<int>(Frame * 40 - Grid)) << "beat " << k;
    EXPECT_EQ(Alphas[Frame - 1], 0) << "beat " << k;
  }
}

TEST(BeatFlash, SettingHoldAgainRestartsTheGrid) {
  TBeatFlash Beat;
  Beat.BeatHold = false;
  Beat.BeatTime = 100;
  std::uint8_t A = 0;
  Beat.BeatHold = true;  // a new step that wants its beat counted from its own start
  EXPECT_FALSE(Beat.Update(2000 + 100, 2000, A));
  ASSERT_TRUE(Beat.Update(2000 + 240, 2000, A));
  EXPECT_EQ(Beat.BeatTime, 2240u);
  EXPECT_EQ(A, 255);
}

TEST(StepAdvance, EndsStepsOnTheSceneClockOnePerFrame) {
  const std::array<std::uint32_t, 4> StepEnd{7384, 14769, 22153, 29538};
  int Step = 1;
  std::uint32_t SceneStart = 1000, StepStart = 1000;
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7383, StepEnd), TStepAdvance::None);
  EXPECT_EQ(Step, 1);
  EXPECT_EQ(StepStart, 1000u);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7384, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 2);
  EXPECT_EQ(StepStart, 1000u + 7384);

  // A frame so long that the ends of steps 2 and 3 both passed: step 2 ends now,
  // step 3 ends on the next frame, measured again from SceneStart.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23000, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 3);
  EXPECT_EQ(StepStart, 24000u);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23040, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 4);
  EXPECT_EQ(StepStart, 24040u);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 29537, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 29538, StepEnd), TStepAdvance::HandOver);
  EXPECT_EQ(Step, 0);
  EXPECT_EQ(StepStart, 1000u + 29538);
  // Step 0 (first frame of the next scene not done yet) never advances.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 99999, StepEnd), TStepAdvance::None);
  EXPECT_EQ(Step, 0);
}

TEST(StepAdvance, SceneClockSurvivesTheWrapOfTheEngineClock) {
  const std::array<std::uint32_t, 2> StepEnd{100, 200};
  int Step = 1;
  std::uint32_t SceneStart = 0xFFFFFFC0u, StepStart = SceneStart;
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 0x00000020u, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 0x00000024u, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 2);
}

TEST(StepAdvance, EveryStepEndsWithinAFrameOfItsEnd) {
  // Scene one's table at 40 ms per frame: each step ends in the first frame at or
  // past its end, and the scene hands over in the first frame at or past 18461 ms.
  const std::array<std::uint32_t, 11> StepEnd{3692, 11077, 13615, 13864, 14077, 16864,
                                              17192, 17308, 17538, 17769, 18461};
  int Step = 1;
  std::uint32_t SceneStart = 40, StepStart = 40, T = 40;
  int Frames = 0;
  std::vector<std::uint32_t> StepStarts;
  for (;; T += 40, ++Frames) {
    auto R = AdvanceStep(Step, StepStart, SceneStart, T, StepEnd);
    if (R != TStepAdvance::None) StepStarts.push_back(StepStart - SceneStart);
    if (R == TStepAdvance::HandOver) break;
  }
  ASSERT_EQ(StepStarts.size(), 11u);
  for (std::size_t i = 0; i < StepStarts.size(); ++i) {
    EXPECT_GE(StepStarts[i], StepEnd[i]);
    EXPECT_LT(StepStarts[i], StepEnd[i] + 40);
  }
  EXPECT_EQ(T - SceneStart, 18480u);
}
