// The controls' clock (app/Playback): a pause counts the moments between the last frame and the
// key (the music played them), and a program with a music-resume hook (the page) gets the music and
// the clock after every seek and resume, never after a pause.

#include <vector>

#include "app/Playback.h"
#include "show/Show.h"
#include "tests/engine/engine_fixture.h"

namespace {

using enginetest::EngineTest;
using enginetest::FakeNow;

void Move(int) {}
void Render(int) {}

std::vector<bool> Resumed;  // the paused state each hook call was given
void Hook(TvokEngine&, bool Paused) { Resumed.push_back(Paused); }

TEST_F(EngineTest, PauseCountsTheTimeAfterTheLastFrameButNotThePause) {
  MakeEngine(Move, Render);
  FakeNow() = 20000;
  Engine->ResetClock();
  FrameAt(20040);
  ASSERT_EQ(Engine->Time, 40u);

  FakeNow() = 20065;  // the key comes 25 ms after the last frame began
  SetShowPaused(*Engine, true);
  FrameAt(23000);
  EXPECT_EQ(Engine->Time, 40u) << "no frame runs while paused";

  FakeNow() = 25000;
  SetShowPaused(*Engine, false);
  FrameAt(25010);
  EXPECT_EQ(Engine->Time, 40u + 25u + 10u);
  EXPECT_EQ(Engine->DeltaTime, 35);

  // A plain resume after a seek starts the clock afresh: nothing of the pause is left over.
  SetShowPaused(*Engine, true);
  SeekShowTo(*Engine, Engine->Time + 100);
  const uint32_t Landed = Engine->Time;
  SetShowPaused(*Engine, false);
  FrameAt(FakeNow() + 16);
  EXPECT_EQ(Engine->Time, Landed + 16u);
}

TEST_F(EngineTest, ResumeHookTakesTheMusicAndClockAfterSeeksAndResumes) {
  MakeEngine(Move, Render);
  Resumed.clear();
  SetMusicResumeHook(Hook);
  FakeNow() = 30000;
  Engine->ResetClock();
  FrameAt(30040);

  SeekShowTo(*Engine, 1000);
  EXPECT_GE(Engine->Time, 900u);
  EXPECT_LT(Engine->Time, 1000u);
  SetShowPaused(*Engine, true);
  SeekShowTo(*Engine, 2000);
  SetShowPaused(*Engine, false);
  EXPECT_EQ(Resumed, (std::vector<bool>{false, true, false}));

  // The end of the show is as far as a seek goes.
  SeekShowTo(*Engine, ShowEndTime + 5000);
  EXPECT_LT(Engine->Time, ShowEndTime);
  SetMusicResumeHook(nullptr);
}

}  // namespace
