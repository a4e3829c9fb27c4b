// The output through SDL: the dummy driver (real time) and the disk driver
// (writes what was mixed into a file, faster than real time).

#include "audio_fixtures.h"
#include "platform/audio/audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace audiotest;
using namespace std::chrono_literals;

namespace {

class AudioOutput : public ::testing::Test {
 protected:
  void TearDown() override {
    if (audio::IsInitialised()) audio::Free();
  }

  // What the disk driver wrote, as stereo samples.
  std::vector<std::int16_t> DiskSamples() {
    auto bytes = ReadBytes(disk_);
    std::vector<std::int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
  }

  TempDir dir_;
  std::string disk_ = dir_.File("out.raw");
};

}  // namespace

TEST_F(AudioOutput, NoDeviceIsACleanFailure) {
  UseDriver("no-such-driver");
  EXPECT_FALSE(audio::Init(1, 44100));
  EXPECT_FALSE(audio::IsInitialised());
  EXPECT_FALSE(audio::LastError().empty());
  WriteWav(dir_.File("a.wav"), MarkedStereo(100), 2, 44100);
  EXPECT_EQ(audio::StreamCreateFile(dir_.File("a.wav"), 0), 0u);
  EXPECT_FALSE(audio::ChannelPlay(1, false));
  EXPECT_FALSE(audio::SetVolume(50));
  EXPECT_FALSE(audio::Free());
  // Nothing is left behind: a working driver opens afterwards.
  UseDriver("dummy");
  EXPECT_TRUE(audio::Init(1, 44100));
  EXPECT_FALSE(audio::Init(1, 44100));  // only once
}

TEST_F(AudioOutput, HandleZeroAndUnknownHandlesFailHarmlessly) {
  UseDriver("dummy");
  ASSERT_TRUE(audio::Init(1, 44100));
  EXPECT_FALSE(audio::ChannelPlay(0, false));
  EXPECT_FALSE(audio::ChannelPlay(0, true));
  EXPECT_FALSE(audio::ChannelStop(0));
  EXPECT_EQ(audio::ChannelGetPosition(0), UINT64_MAX);
  EXPECT_FALSE(audio::StreamFree(0));
  EXPECT_FALSE(audio::ModuleFree(0));
  EXPECT_FALSE(audio::ChannelPlay(99, false));
  EXPECT_FALSE(audio::SetVolume(101));
  EXPECT_FALSE(audio::SetVolume(-1));
  EXPECT_EQ(audio::GetVolume(), 100);
  EXPECT_EQ(audio::StreamCreateFile(dir_.File("missing.ogg"), 0), 0u);
  EXPECT_EQ(audio::StreamCreateFile(dir_.Path().string(), 0), 0u);  // a folder is no file
}

TEST_F(AudioOutput, PositionFollowsPlaybackAndStops) {
  UseDriver("dummy");
  ASSERT_TRUE(audio::Init(1, 44100));
  WriteWav(dir_.File("long.wav"), SquareStereo(44100 * 3, 1000, 200), 2, 44100);
  auto h = audio::StreamCreateFile(dir_.File("long.wav"), audio::kFlagLoop);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(audio::ChannelGetPosition(h), 0u);
  ASSERT_TRUE(audio::ChannelPlay(h, false));
  std::uint64_t p1 = 0;
  for (int i = 0; i < 200 && p1 == 0; ++i) {  // allow a busy machine its time
    std::this_thread::sleep_for(10ms);
    p1 = audio::ChannelGetPosition(h);
  }
  std::this_thread::sleep_for(200ms);
  auto p2 = audio::ChannelGetPosition(h);
  EXPECT_GT(p1, 0u);
  EXPECT_GT(p2, p1);
  EXPECT_EQ(p2 % 4, 0u);
  // Real time, within a generous margin for a busy machine.
  EXPECT_LT(p2, 44100u * 4 * 2);

  ASSERT_TRUE(audio::ChannelStop(h));
  EXPECT_FALSE(audio::ChannelIsPlaying(h));
  auto p3 = audio::ChannelGetPosition(h);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(audio::ChannelGetPosition(h), p3);

  ASSERT_TRUE(audio::ChannelPlay(h, true));
  EXPECT_LT(audio::ChannelGetPosition(h), p3);
  EXPECT_TRUE(audio::StreamFree(h));
  EXPECT_FALSE(audio::ChannelPlay(h, false));
}

TEST_F(AudioOutput, VolumeFiftyHalvesTheSamples) {
  UseDriver("disk", disk_, 2);
  ASSERT_TRUE(audio::Init(1, 44100));
  WriteWav(dir_.File("sq.wav"), SquareStereo(44100, 8000, 100), 2, 44100);
  auto h = audio::StreamCreateFile(dir_.File("sq.wav"), audio::kFlagLoop);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(audio::SetVolume(50));
  ASSERT_TRUE(audio::ChannelPlay(h, false));
  std::this_thread::sleep_for(250ms);
  ASSERT_TRUE(audio::Free());

  auto s = DiskSamples();
  std::size_t loud = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == 0) continue;  // before the start
    ASSERT_EQ(std::abs(s[i]), 4000) << "sample " << i;
    ++loud;
  }
  EXPECT_GT(loud, 2u * 4410);
}

TEST_F(AudioOutput, StreamLoopsAtItsEnd) {
  UseDriver("disk", disk_, 2);
  ASSERT_TRUE(audio::Init(1, 44100));
  const std::size_t len = 2000;
  WriteWav(dir_.File("loop.wav"), MarkedStereo(len), 2, 44100);
  auto h = audio::StreamCreateFile(dir_.File("loop.wav"), audio::kFlagLoop);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(audio::ChannelPlay(h, false));
  std::this_thread::sleep_for(250ms);
  EXPECT_TRUE(audio::ChannelIsPlaying(h));
  EXPECT_LT(audio::ChannelGetPosition(h), len * 4);  // the position wraps with the data
  ASSERT_TRUE(audio::Free());

  auto s = DiskSamples();
  int wraps = 0, starts = 0;
  for (std::size_t i = 2; i + 1 < s.size(); i += 2) {
    if (s[i] == Marker(0) && s[i + 1] == -Marker(0)) {
      ++starts;
      if (s[i - 2] == Marker(len - 1)) ++wraps;
    }
  }
  EXPECT_GE(starts, 3);
  EXPECT_GE(wraps, 2);  // the end runs straight into the start
}

TEST_F(AudioOutput, OneShotModuleAndStreamPlayTogether) {
  UseDriver("disk", disk_, 2);
  ASSERT_TRUE(audio::Init(1, 44100));
  WriteBytes(dir_.File("tiny.mod"), TinyModule());
  WriteWav(dir_.File("short.wav"), SquareStereo(441, 3000, 40), 2, 44100);
  EXPECT_EQ(audio::StreamCreateFile(dir_.File("tiny.mod"), 0), 0u);
  auto mod = audio::ModuleLoad(dir_.File("tiny.mod"), audio::kFlagRamp);
  auto st = audio::StreamCreateFile(dir_.File("short.wav"), 0);
  ASSERT_NE(mod, 0u);
  ASSERT_NE(st, 0u);
  EXPECT_NE(mod, st);
  EXPECT_FALSE(audio::StreamFree(mod));  // each kind frees only its own
  EXPECT_FALSE(audio::ModuleFree(st));
  ASSERT_TRUE(audio::ChannelPlay(mod, false));
  ASSERT_TRUE(audio::ChannelPlay(st, false));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(audio::ChannelIsPlaying(st));  // ten milliseconds, long over
  EXPECT_EQ(audio::ChannelGetPosition(st), 441u * 4);
  EXPECT_GT(audio::ChannelGetPosition(mod), 441u * 4);
  EXPECT_TRUE(audio::ModuleFree(mod));
  EXPECT_TRUE(audio::StreamFree(st));
}
