// The whole show driven frame by frame on the recording backend: the scene order, the step
// schedule, the hand-overs, the fades and the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "show/SceneTable.h"
#include "tests/support/show_harness.h"

namespace vktest {
namespace {

// The scene of today's show at a position in the table (from 1), for what only that scene does.
const TScene& Nth(size_t Position) { return *Scenes()[Position - 1]; }

// One run of the show serves every test of this suite.
class ShowRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Show = new WholeShow();
    Show->Run();
    ASSERT_TRUE(Show->Error.empty()) << Show->Error;
  }
  static void TearDownTestSuite() {
    delete Show;
    Show = nullptr;
  }
  static inline WholeShow* Show = nullptr;
  const std::vector<FrameRecord>& Frames = Show->Frames;

  // The frames during which a scene was current with its first frame done.
  std::vector<FrameRecord> SceneFrames(int Scene) const {
    std::vector<FrameRecord> Out;
    for (const auto& F : Frames)
      if (F.Scene == Scene && F.Step > 0) Out.push_back(F);
    return Out;
  }

  // Checks that each step of a scene ended in the first frame at or after its end time.
  void ExpectStepSchedule(int Scene, std::span<const uint32_t> StepEnd) const {
    const auto List = SceneFrames(Scene);
    ASSERT_FALSE(List.empty());
    const uint32_t Start = List.front().SceneStart;
    for (const auto& F : List) {
      const uint32_t T = F.Time - Start;
      ASSERT_GE(F.Step, 1);
      ASSERT_LE(F.Step, static_cast<int>(StepEnd.size()));
      // After a frame the scene time lies within the step the frame left the scene in.
      if (F.Step > 1) {
        EXPECT_GE(T, StepEnd[F.Step - 2]) << "scene " << Scene << " step " << F.Step;
      }
      EXPECT_LT(T, StepEnd[F.Step - 1]) << "scene " << Scene << " step " << F.Step;
    }
  }
};

TEST_F(ShowRun, ScenesFollowEachOtherAndTheShowEndsByItself) {
  ASSERT_TRUE(Show->Terminated);
  std::vector<int> Order;
  for (const auto& F : Frames)
    if (Order.empty() || Order.back() != F.Scene) Order.push_back(F.Scene);
  std::vector<int> Table;
  for (const TScene* Row : Scenes()) Table.push_back(Row->Number);
  EXPECT_EQ(Order, Table);

  // Nominal length (the last scene's end passes full black a millisecond before it), plus a
  // frame or so per hand-over.
  const uint32_t End = Frames.back().Time;
  EXPECT_GE(End, ShowEndTime - 1);
  EXPECT_LE(End, ShowEndTime - 1 + 10 * 40u);
}

TEST_F(ShowRun, EachSceneStartsWhenThePreviousEndedOnTheFrameThatNoticedIt) {
  const auto Rows = Scenes();
  for (size_t I = 1; I < Rows.size(); ++I) {
    const int Scene = Rows[I]->Number;
    const auto Previous = SceneFrames(Rows[I - 1]->Number);
    const auto Next = SceneFrames(Scene);
    ASSERT_FALSE(Previous.empty());
    ASSERT_FALSE(Next.empty());
    // The scene's clock starts when the previous scene's last step ended, and the frame that
    // noticed it is already the new scene's first.
    EXPECT_EQ(Next.front().SceneStart, Previous.front().SceneStart + SceneLength(*Rows[I - 1])) << "scene " << Scene;
    EXPECT_GE(Next.front().Time, Next.front().SceneStart);
    EXPECT_LT(Next.front().Time, Next.front().SceneStart + 40) << "scene " << Scene;
    EXPECT_EQ(Next.front().Time, Previous.back().Time + 40) << "scene " << Scene;
  }
}

TEST_F(ShowRun, StepsEndOnTheirSchedule) {
  for (const TScene* Row : Scenes())
    if (!Row->StepEnd.empty()) ExpectStepSchedule(Row->Number, Row->StepEnd);
}

TEST_F(ShowRun, FlashesAndFadesFollowTheScenes) {
  const auto One = SceneFrames(1);
  EXPECT_EQ(One.front().Flash, 255);  // the show opens in white
  const auto Two = SceneFrames(2);
  // Beat flashes from the third step of scene two on, one every 923 ms: with 40 ms frames the
  // first frame of each flash shows it at 255 - (less than 40).
  std::map<int, int> Flashes;
  for (const auto& F : Two)
    if (F.Flash > 215) ++Flashes[F.Step];
  // Step two opens with a 255 ms flash timed from the step's end on the grid, seen in the frame
  // that notices the step: 255 less the time since then, less than one frame.
  uint8_t StepTwoFlash = 0;
  uint32_t StepTwoSeen = 0;
  for (const auto& F : Two)
    if (F.Step == 2 && F.Flash > StepTwoFlash) StepTwoFlash = F.Flash, StepTwoSeen = F.Time;
  EXPECT_EQ(StepTwoFlash, 255 - (StepTwoSeen - (Two.front().SceneStart + Nth(2).StepEnd[0])));
  EXPECT_GT(StepTwoFlash, 255 - 40);
  EXPECT_GE(Flashes[3], 7);  // 7384 ms, the first beat 231 ms in
  EXPECT_LE(Flashes[3], 8);
  EXPECT_GE(Flashes[4], 7);
  EXPECT_LE(Flashes[4], 8);
  for (const auto& F : SceneFrames(3)) EXPECT_EQ(F.Flash, 0);
  const auto Five = SceneFrames(5);
  EXPECT_EQ(Five.back().Fade, 255);  // ends in black
  EXPECT_EQ(Five.front().PostEffect, 0);
  for (const auto& F : Two) EXPECT_EQ(F.PostEffect, 1);
  // Each scene runs with the post effect of its row from its first frame on.
  for (const TScene* Row : Scenes())
    for (const auto& F : SceneFrames(Row->Number)) EXPECT_EQ(F.PostEffect, static_cast<uint8_t>(Row->Effect)) << Row->Name;
}

TEST_F(ShowRun, TheSlideShowChangesPictureEveryHalfBeat) {
  const auto Three = SceneFrames(3);
  ASSERT_FALSE(Three.empty());
  // The first frame: picture 1 sliding in from the left, as far in as the time since the scene
  // began; nothing leaving yet.
  EXPECT_EQ(Three.front().Slides.BeatCount, 1);
  EXPECT_EQ(Three.front().Slides.TicketIndex, 1);
  EXPECT_EQ(Three.front().Slides.BeatStart, Three.front().SceneStart);
  EXPECT_FLOAT_EQ(Three.front().Slides.SlideA, (Three.front().Time - Three.front().SceneStart) / 6.0f - 30.0f);
  int Wraps = 0;
  for (size_t i = 1; i < Three.size(); ++i) {
    const TSlideShowState& Before = Three[i - 1].Slides;
    const TSlideShowState& Now = Three[i].Slides;
    ASSERT_LE(Now.BeatCount - Before.BeatCount, 1) << "one half-beat per frame at most";
    if (Now.BeatCount != Before.BeatCount) {
      EXPECT_EQ(Now.BeatStart - Before.BeatStart, 461u);
      EXPECT_EQ(Now.TicketIndex, Before.TicketIndex == 11 ? 1 : Before.TicketIndex + 1);
      Wraps += Now.TicketIndex == 1 ? 1 : 0;
    }
    // The new picture stops in the middle 180 ms into its half-beat; the old one drifts right.
    const uint32_t B = Three[i].Time - Now.BeatStart;
    const float SlidingIn = Now.BeatCount % 2 ? Now.SlideA : Now.SlideB;
    const float Leaving = Now.BeatCount % 2 ? Now.SlideB : Now.SlideA;
    if (B >= 180) {
      EXPECT_EQ(SlidingIn, 0.0f);
    } else {
      EXPECT_LT(SlidingIn, 0.0f);
    }
    EXPECT_FLOAT_EQ(Leaving, B / 30.0f);
  }
  EXPECT_EQ(Wraps, 2);  // about 32 half-beats: from 11 back to 1 twice
}

TEST_F(ShowRun, TheEndQuitsOnceTheFadeRoundsAbove255) {
  const auto Five = SceneFrames(5);
  ASSERT_GE(Five.size(), 2u);
  const FrameRecord& Last = Five.back();
  const FrameRecord& BeforeLast = Five[Five.size() - 2];
  ASSERT_NE(Last.FadeOutStart, 0u);
  // The fade is timed from 10000 ms into the scene, whichever frame first sees it is due; 255.5
  // rounds to 256 at 2555 ms.
  EXPECT_EQ(Last.FadeOutStart - Last.SceneStart, 10000u);
  EXPECT_GE(Last.Time - Last.FadeOutStart, 2555u);
  EXPECT_LT(BeforeLast.Time - BeforeLast.FadeOutStart, 2555u);
  EXPECT_EQ(BeforeLast.Fade, timeline::RoundDiv(BeforeLast.Time - BeforeLast.FadeOutStart, 10.0));
  EXPECT_GT(BeforeLast.Fade, 250);
  EXPECT_EQ(Last.Fade, 255);
}

TEST_F(ShowRun, TicketStreamsFillUpAndFreezeInSceneFour) {
  int Most = 0;
  for (const auto& F : SceneFrames(2)) Most = std::max(Most, F.LiveTickets2);
  // 3600 ms of life with a ticket every 210 ms.
  EXPECT_GE(Most, 16);
  EXPECT_LE(Most, 20);
  const auto Four = SceneFrames(4);
  int Frozen = -1;
  for (const auto& F : Four) {
    if (F.Time - F.SceneStart >= 27692) {
      if (Frozen < 0) Frozen = F.LiveTickets4;
      EXPECT_EQ(F.LiveTickets4, Frozen);  // nothing spawns or retires after the freeze
    }
  }
  EXPECT_GT(Frozen, 0);
}

}  // namespace
}  // namespace vktest
