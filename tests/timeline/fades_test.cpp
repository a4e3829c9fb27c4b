// Fade forms, beat grid and step advance: the arithmetic every scene shares.
#include <gtest/gtest.h>

#include <array>

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

TEST(StepAdvance, OneStepPerFrameMeasuredFromSceneStart) {
  const std::array<std::uint32_t, 4> StepEnd{7384, 14769, 22153, 29538};
  int Step = 1;
  std::uint32_t SceneStart = 1000, StepStart = 1000;
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7383, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 7384, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 2);
  EXPECT_EQ(StepStart, 1000u + 7384);
  // A long frame passes the ends of steps 2 and 3: one ends now, the other on the next frame.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23000, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 23040, StepEnd), TStepAdvance::NextStep);
  EXPECT_EQ(Step, 4);
  EXPECT_EQ(StepStart, 24040u);
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 29538, StepEnd), TStepAdvance::HandOver);
  EXPECT_EQ(Step, 0);
  // Step 0 (the next scene's first frame not done yet) never advances.
  EXPECT_EQ(AdvanceStep(Step, StepStart, SceneStart, 1000 + 99999, StepEnd), TStepAdvance::None);
  // The scene clock is an unsigned difference: it survives the wrap of the engine clock.
  Step = 1;
  EXPECT_EQ(AdvanceStep(Step, StepStart, 0xFFFFFFC0u, 0x24u, StepEnd), TStepAdvance::None);
  EXPECT_EQ(AdvanceStep(Step, StepStart, 0xFFFFFFC0u, 7384 - 0x40, StepEnd), TStepAdvance::NextStep);
}
