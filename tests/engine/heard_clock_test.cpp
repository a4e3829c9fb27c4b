// The engine's clock in a live run with music: it follows what is heard, never what the wall
// clock alone says, and never runs backwards.

#include "tests/engine/engine_fixture.h"

namespace {

using enginetest::EngineTest;
using enginetest::FakeNow;

void Nothing(int) {}

// What the fake sound output says is heard now.
struct {
  bool Playing = true;
  bool Started = true;
  double Ms = 0;
} Heard;

bool HeardNow(double& Ms, bool& Started) {
  Ms = Heard.Ms;
  Started = Heard.Started;
  return Heard.Playing;
}

class HeardClock : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Heard = {};
    MakeEngine(Nothing, Nothing);
    Engine->HeardTime = HeardNow;
  }
  // One frame at wall time Now (ms since the engine's start) while Ms is heard.
  uint32_t FrameHearing(uint32_t Now, double Ms) {
    Heard.Ms = Ms;
    FrameAt(10000 + Now);
    return Engine->Time;
  }
};

TEST_F(HeardClock, FollowsWhatIsHeardThroughAStallAndCatchesUpAfterAStarvedPicture) {
  EXPECT_EQ(FrameHearing(40, 40), 40u);
  EXPECT_EQ(FrameHearing(80, 80), 80u);
  // Stopped for a second, the sound with it: the picture goes on where the sound does.
  EXPECT_EQ(FrameHearing(1080, 100), 100u);
  EXPECT_EQ(FrameHearing(1120, 140), 140u);
  // The picture held up while the sound played on: it skips to what is heard.
  EXPECT_EQ(FrameHearing(1820, 840), 840u);
}

TEST_F(HeardClock, APictureAheadOfTheSoundWaitsForItNeverGoesBack) {
  FrameHearing(40, 40);
  EXPECT_EQ(FrameHearing(80, 20), 40u) << "the clock never runs backwards";
  EXPECT_EQ(Engine->DeltaTime, 0);
  EXPECT_EQ(FrameHearing(120, 40), 40u);
  EXPECT_EQ(FrameHearing(160, 80), 80u);
}

TEST_F(HeardClock, SmallDistancesAreTakenUpGraduallySoFramesStayEven) {
  FrameHearing(40, 40);
  // Heard 3 ms later than the wall clock would put it: a quarter of that, then the rest.
  const uint32_t A = FrameHearing(80, 83);
  EXPECT_GT(A, 80u);
  EXPECT_LT(A, 83u);
  uint32_t Last = A;
  for (uint32_t T = 120; T <= 400; T += 40) Last = FrameHearing(T, T + 3.0);
  EXPECT_NEAR(Last, 403.0, 1.0);
}

TEST_F(HeardClock, WaitsForMusicNotYetHeardThenGivesUpOnASilentDevice) {
  Heard.Started = false;
  EXPECT_EQ(FrameHearing(40, 0), 0u);
  EXPECT_EQ(FrameHearing(650, 0), 0u) << "a sound output waking up: the picture waits";
  Heard.Started = true;
  EXPECT_EQ(FrameHearing(690, 10), 10u) << "and starts with the sound";
  // A device that never plays: after three seconds the wall clock takes over.
  Heard.Started = false;
  FrameHearing(700, 10);
  EXPECT_EQ(FrameHearing(3600, 10), 10u);
  EXPECT_GT(FrameHearing(3800, 10), 10u);
}

TEST_F(HeardClock, WithoutMusicOrWithAFixedStepTheClockIsAsBefore) {
  Heard.Playing = false;
  EXPECT_EQ(FrameHearing(40, 5000), 40u);
  EXPECT_EQ(FrameHearing(1040, 5000), 1040u) << "a stall counts as show time on the wall clock";
  Heard.Playing = true;
  Engine->FixedStep = true;
  EXPECT_EQ(FrameHearing(2000, 9000), 1080u);
}

}  // namespace
