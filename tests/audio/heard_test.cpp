// What is heard: which output frame leaves the speakers when (the output clock) and which frame
// of a channel an output frame carried (the mixer), the two halves of a player's heard position.

#include "audio_fixtures.h"
#include "platform/audio/decoder.h"
#include "platform/audio/mixer.h"
#include "platform/audio/output_clock.h"

#include <gtest/gtest.h>

using namespace audiotest;

namespace {

constexpr double Rate = 1000;  // a frame a millisecond keeps the arithmetic plain

double HeardAt(const audio::OutputClock& Clock, double Now) {
  double Frame = -1;
  EXPECT_TRUE(Clock.HeardOutputFrame(Now, Rate, Frame));
  return Frame;
}

}  // namespace

TEST(OutputClock, BlocksPlayAtTheRateFromWhenTheyAreHeardAndNoFurtherThanGiven) {
  audio::OutputClock Clock;
  double Frame = 0;
  EXPECT_FALSE(Clock.HeardOutputFrame(0, Rate, Frame)) << "nothing given, nothing heard";
  Clock.Note(0, 100, 50, Rate);  // asked for at 30, heard from 50
  EXPECT_EQ(HeardAt(Clock, 40), 0);
  EXPECT_EQ(HeardAt(Clock, 90), 40);
  EXPECT_EQ(HeardAt(Clock, 400), 100) << "a device that was given 100 frames plays no more";
  // A request that came 20 ms late does not hold the clock back: the block before it says better.
  Clock.Note(100, 100, 170, Rate);
  EXPECT_EQ(HeardAt(Clock, 160), 110);
}

TEST(OutputClock, ABurstOfRequestsQueuesBehindTheBlocksAhead) {
  audio::OutputClock Clock;
  // A device catching up takes four blocks at once, all asked for at the same moment.
  for (int I = 0; I < 4; ++I) Clock.Note(100 * I, 100, 50, Rate);
  EXPECT_EQ(HeardAt(Clock, 50), 0);
  EXPECT_EQ(HeardAt(Clock, 200), 150);
  EXPECT_EQ(HeardAt(Clock, 390), 340);
}

TEST(OutputClock, AfterTheDeviceRanDryOnlyTheNewBlocksCount) {
  audio::OutputClock Clock;
  Clock.Note(0, 100, 0, Rate);
  Clock.Note(100, 100, 100, Rate);
  // Paused or stalled for a second: the next block is heard long after the last one ended.
  Clock.Note(200, 100, 1200, Rate);
  EXPECT_EQ(HeardAt(Clock, 1100), 200) << "the sound stood at the end of what it had";
  EXPECT_EQ(HeardAt(Clock, 1250), 250);
}

TEST(AudioMixer, TheHeardFrameIsTheChannelFrameThatOutputFrameCarried) {
  TempDir dir;
  WriteWav(dir.File("s.wav"), MarkedStereo(20000), 2, 44100);
  audio::Mixer m(44100, 100);
  auto h = m.Add(audio::OpenStreamDecoder(dir.File("s.wav"), 44100), audio::ChannelKind::Stream, false);
  std::vector<std::int16_t> out(2 * 1000);
  m.Fill();
  m.Mix(out.data(), 1000);  // output frames 0..999: the channel is not playing yet
  double Frame = -1;
  bool Started = true;
  ASSERT_TRUE(m.HeardFrame(h, 500, Frame, Started));
  EXPECT_FALSE(Started);
  EXPECT_EQ(Frame, 0);

  m.Play(h, false);
  m.Fill();
  m.Mix(out.data(), 1000);  // output 1000..1999 carry channel frames 0..999
  ASSERT_TRUE(m.HeardFrame(h, 1500.5, Frame, Started));
  EXPECT_TRUE(Started);
  EXPECT_DOUBLE_EQ(Frame, 500.5);
  ASSERT_TRUE(m.HeardFrame(h, 999, Frame, Started));
  EXPECT_FALSE(Started) << "its sound has not reached the speakers yet";

  // A jump: what the output still holds of the old place is heard, but the channel's position
  // counts only once the new place is.
  ASSERT_TRUE(m.Seek(h, 10000));
  ASSERT_TRUE(m.HeardFrame(h, 1900, Frame, Started));
  EXPECT_FALSE(Started);
  EXPECT_EQ(Frame, 10000);
  m.Fill();
  m.Mix(out.data(), 1000);  // output 2000..2999 carry 10000..10999
  ASSERT_TRUE(m.HeardFrame(h, 2100, Frame, Started));
  EXPECT_TRUE(Started);
  EXPECT_EQ(Frame, 10100);

  // Stopped: the output plays on in silence and the channel stays where it stopped.
  m.Stop(h);
  m.Mix(out.data(), 1000);
  ASSERT_TRUE(m.HeardFrame(h, 3500, Frame, Started));
  EXPECT_EQ(Frame, 11000);
  EXPECT_FALSE(m.HeardFrame(h + 99, 0, Frame, Started)) << "an unknown handle";
}
