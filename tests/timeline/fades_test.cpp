// Fade forms, beat grid and step advance: the arithmetic every scene shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "show/Timeline.h"

using namespace timeline;

TEST(FadeForms, EdgesRoundTiesToEvenAndClamp) {
  EXPECT_EQ(RoundDiv(2555, 10), 256);  // 255.5 rounds up to even
  EXPECT_EQ(RoundDiv(2545, 10), 254);  // 254.5 rounds down to even
  EXPECT_EQ(FadeOutAlpha(5, 2), 253);  // 2.5 -> 2
  EXPECT_EQ(FadeOutAlpha(7, 2), 251);  // 3.5 -> 4
  // A difference of 0: full for the fade-outs, nothing for the fade-in.
  EXPECT_EQ(FadeOutAlpha(0, 10), 255);
  EXPECT_EQ(ShortFlashAlpha(0), 200);
  EXPECT_EQ(FadeInAlpha(0, 10), 0);
  // Negative results clamp to 0, large fade-ins to 255, also for a wrapped difference.
  EXPECT_EQ(FadeOutAlpha(2550, 10), 0);
  EXPECT_EQ(FadeOutAlpha(0xFFFFFFFFu, 1), 0);
  EXPECT_EQ(ShortFlashAlpha(200), 0);
  EXPECT_EQ(FadeInAlpha(2554, 10), 255);
  EXPECT_EQ(FadeInAlpha(0xFFFFFFFFu, 1), 255);
}

TEST(BeatFlash, Holds231MsThenFlashesEvery923AndCatchesUpOnePeriodPerFrame) {
  TBeatFlash Beat;  // holding, as the show starts
  std::uint8_t A = 77;
  EXPECT_FALSE(Beat.Update(1000 + 230, 1000, A));
  EXPECT_EQ(A, 77);  // untouched while waiting
  ASSERT_TRUE(Beat.Update(1000 + 231, 1000, A));
  EXPECT_EQ(A, 255);  // the flash starts in the frame that ends the hold
  EXPECT_EQ(Beat.BeatTime, 1231u);
  Beat.Update(1231 + 255, 1000, A);
  EXPECT_EQ(A, 0);  // faded out in 255 ms
  Beat.Update(1231 + 923, 1000, A);
  EXPECT_EQ(A, 255);
  // Three periods late: one period per frame, dark until the grid is reached again.
  const std::uint32_t Late = 1231 + 4 * 923 + 10;
  Beat.Update(Late, 1000, A);
  EXPECT_EQ(Beat.BeatTime, 1231u + 2 * 923);
  EXPECT_EQ(A, 0);
  Beat.Update(Late + 1, 1000, A);
  Beat.Update(Late + 2, 1000, A);
  EXPECT_EQ(Beat.BeatTime, 1231u + 4 * 923);
  EXPECT_EQ(A, 255 - 12);
}

// The grid is laid from the step's start, not from the frame that sees the hold is over: a frame
// 19 ms late shows the flash 19 ms into its fade, and the later flashes stay on the same grid.
TEST(BeatFlash, AFrameLateAfterTheHoldKeepsTheGrid) {
  TBeatFlash Beat;
  std::uint8_t A = 0;
  ASSERT_TRUE(Beat.Update(1000 + 250, 1000, A));
  EXPECT_EQ(Beat.BeatTime, 1231u);
  EXPECT_EQ(A, 255 - 19);
  Beat.Update(1231 + 923 + 7, 1000, A);
  EXPECT_EQ(Beat.BeatTime, 1231u + 923);
  EXPECT_EQ(A, 255 - 7);
}

TEST(StepAdvance, OneStepPerFrameMeasuredFromSceneStart) {
  const std::array<std::uint32_t, 4> StepEnd{7384, 14769, 22153, 29538};
  int Step = 1;
  std::uint32_t SceneStart = 1000, StepStart = 1000;
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7383, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7384, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 2);
  EXPECT_EQ(StepStart, 1000u + 7384);
  // A long frame passes the ends of steps 2 and 3: one ends now, the other on the next frame;
  // each step starts when it was due, not when a frame noticed.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23000, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(StepStart, 1000u + 14769);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23040, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 4);
  EXPECT_EQ(StepStart, 1000u + 22153);
  // The hand-over leaves in StepStart the moment the next scene is due.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 29550, StepEnd), TStepAdvance::HandOver);
  EXPECT_EQ(Step, 0);
  EXPECT_EQ(StepStart, 1000u + 29538);
  // Step 0 (the next scene's first frame not done yet) never advances.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 99999, StepEnd), TStepAdvance::None);
  // The scene clock is an unsigned difference: it survives the wrap of the engine clock.
  Step = 1;
  EXPECT_EQ(AdvanceStep(Step, StepStart, 0xFFFFFFC0u, 0x24u, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, 0xFFFFFFC0u, 7384 - 0x40, StepEnd), TStepAdvance::NextStep);
}

// The gentle light at 60 frames a second: a beat flash climbs in fifths at most and meets its
// fade; falls are shown at once.
TEST(GentleLight, RisesAtMostAFifthPerFrameAndFallsAtOnce) {
  TGentleLight Gentle;
  std::uint32_t T = 1000;
  EXPECT_EQ(Gentle.Next(0, T), 0);
  int Peak = 0, Previous = 0;
  for (int Frame = 1; Frame < 40; ++Frame) {
    T += 17;
    const std::uint32_t Since = 17u * Frame - 17;  // a beat flash started on the first of these frames
    const int Shown = Gentle.Next(FadeOutAlpha(Since), T);
    EXPECT_LE(Shown - Previous, 51) << "frame " << Frame;
    Peak = std::max(Peak, Shown);
    Previous = Shown;
  }
  EXPECT_GT(Peak, 110);  // still a flash
  EXPECT_LT(Peak, 200);
  EXPECT_EQ(Previous, 0);  // and gone with its fade
  // A long frame still rises by a fifth at most; a fall is not held back.
  EXPECT_EQ(Gentle.Next(255, T + 500), 51);
  EXPECT_EQ(Gentle.Next(0, T + 517), 0);
}

// Five flashes in 0.9 s as scene one's last steps ask for them: the first three are shown, the
// rest only once a second has passed since the first (what is left of a flash by then is shown).
TEST(GentleLight, AtMostThreeFlashesBeginInAnySecond) {
  TGentleLight Gentle;
  const std::uint32_t Starts[] = {16864, 17192, 17308, 17538, 17769, 18461};
  std::vector<std::uint32_t> Rises;
  int Previous = 0;
  bool WasRising = false;
  for (std::uint32_t T = 16000; T < 19500; T += 17) {
    std::uint32_t Since = 0xFFFFFFFFu;
    for (std::uint32_t S : Starts)
      if (T >= S) Since = T - S;
    const int Shown = Gentle.Next(ShortFlashAlpha(Since), T);
    if (Shown > Previous && !WasRising) Rises.push_back(T);
    WasRising = Shown > Previous;
    Previous = Shown;
  }
  ASSERT_GE(Rises.size(), 3u);
  for (std::size_t i = 3; i < Rises.size(); ++i) EXPECT_GE(Rises[i] - Rises[i - 3], 1000u) << "rise " << i;
  EXPECT_LT(Rises[0] - 16864u, 17u);  // the first frame at or after each start
  EXPECT_LT(Rises[1] - 17192u, 17u);
  EXPECT_LT(Rises[2] - 17308u, 17u);
  EXPECT_LT(Rises.back() - 18461u, 17u);
}
