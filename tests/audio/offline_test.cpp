// The offline output (video capture): no device, sound produced on request, exactly as mixed for
// a device; and jumping a channel to a position.

#include <gtest/gtest.h>

#include <vector>

#include "platform/audio/audio.h"
#include "tests/audio/audio_fixtures.h"

namespace {

using namespace audiotest;

class OfflineOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::SetOfflineOutput(true);
    ASSERT_TRUE(audio::Init(1, 44100));
    ASSERT_TRUE(audio::IsOffline());
    WriteWav(Dir.File("marked.wav"), MarkedStereo(50000), 2, 44100);
  }
  void TearDown() override {
    audio::Free();
    audio::SetOfflineOutput(false);
  }
  TempDir Dir;
};

TEST_F(OfflineOutput, RendersTheFramesInOrderWithoutADevice) {
  const audio::Handle H = audio::StreamCreateFile(Dir.File("marked.wav"), 0);
  ASSERT_NE(H, 0u);
  ASSERT_TRUE(audio::ChannelPlay(H, false));
  std::vector<std::int16_t> Out(2 * 10000);
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 3000));
  ASSERT_TRUE(audio::RenderOffline(Out.data() + 6000, 7000));
  for (std::size_t i = 0; i < 10000; i += 997) {
    EXPECT_EQ(Out[2 * i], Marker(i)) << i;
    EXPECT_EQ(Out[2 * i + 1], -Marker(i)) << i;
  }
  EXPECT_EQ(audio::ChannelGetPosition(H), 10000u * 4);
}

TEST_F(OfflineOutput, SetPositionJumpsAndAStoppedChannelStaysSilent) {
  const audio::Handle H = audio::StreamCreateFile(Dir.File("marked.wav"), 0);
  ASSERT_TRUE(audio::ChannelPlay(H, false));
  ASSERT_TRUE(audio::ChannelSetPosition(H, 30000 * 4));
  std::vector<std::int16_t> Out(2 * 100);
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  EXPECT_EQ(Out[0], Marker(30000));
  EXPECT_EQ(Out[2 * 99], Marker(30099));

  ASSERT_TRUE(audio::ChannelStop(H));
  ASSERT_TRUE(audio::ChannelSetPosition(H, 1000 * 4));
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  for (std::int16_t S : Out) EXPECT_EQ(S, 0);
  ASSERT_TRUE(audio::ChannelPlay(H, false));
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  EXPECT_EQ(Out[0], Marker(1000));
}

TEST_F(OfflineOutput, PausedOutputIsSilentAndResumesWhereItWas) {
  const audio::Handle H = audio::StreamCreateFile(Dir.File("marked.wav"), 0);
  ASSERT_TRUE(audio::ChannelPlay(H, false));
  std::vector<std::int16_t> Out(2 * 100);
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  ASSERT_TRUE(audio::Stop());
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  for (std::int16_t S : Out) EXPECT_EQ(S, 0);
  ASSERT_TRUE(audio::Start());
  ASSERT_TRUE(audio::RenderOffline(Out.data(), 100));
  EXPECT_EQ(Out[0], Marker(100));
}

}  // namespace
