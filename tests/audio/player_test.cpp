// The engine's music player on top of the audio layer.

#include "audio_fixtures.h"
#include "engine/vokBassPlayer.h"
#include "platform/audio/audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace audiotest;
using namespace std::chrono_literals;

namespace {

class BassPlayer : public ::testing::Test {
 protected:
  void SetUp() override { UseDriver("dummy"); }
  void TearDown() override {
    if (audio::IsInitialised()) audio::Free();
  }

  // Loads `file` in a fresh player; returns the player's error text ("" when it loaded).
  std::string LoadError(const std::string& file) {
    TvokBassPlayer p(nullptr);
    EXPECT_TRUE(p.Ok);
    std::uint32_t ch = 777;
    bool ok = p.Load(ch, file);
    EXPECT_EQ(ok, p.Ok);
    if (!ok && p.ErrorText == "File not exists.") {
      EXPECT_EQ(ch, 777u);  // untouched
    }
    if (!ok && p.ErrorText == "Not supported music file.") {
      EXPECT_EQ(ch, 0u);
    }
    return p.ErrorText;
  }

  TempDir dir_;
};

// Polls `pred` until it holds or two seconds have passed (a busy machine may
// starve the audio thread for a while).
template <class Pred>
bool Eventually(Pred pred) {
  for (int i = 0; i < 200; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return pred();
}

std::vector<float> Tone(std::size_t frames) {
  std::vector<float> s(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) s[2 * i] = s[2 * i + 1] = 0.4f * std::sin(static_cast<float>(i) * 0.06f);
  return s;
}

}  // namespace

TEST_F(BassPlayer, BadFilesGiveTheDocumentedErrors) {
  const std::string text = "[Settings]\nNot music.\n";
  WriteBytes(dir_.File("text.ogg"), std::vector<std::uint8_t>(text.begin(), text.end()));
  WriteBytes(dir_.File("empty.ogg"), {});
  WriteOgg(dir_.File("good.ogg"), Tone(44100), 44100);
  auto good = ReadBytes(dir_.File("good.ogg"));
  WriteBytes(dir_.File("cut.ogg"), std::vector<std::uint8_t>(good.begin(), good.begin() + 1000));

  EXPECT_EQ(LoadError(dir_.File("missing.ogg")), "File not exists.");
  EXPECT_EQ(LoadError(dir_.File("text.ogg")), "Not supported music file.");
  EXPECT_EQ(LoadError(dir_.File("empty.ogg")), "Not supported music file.");
  EXPECT_EQ(LoadError(dir_.File("cut.ogg")), "Not supported music file.");
  EXPECT_EQ(LoadError(dir_.File("good.ogg")), "");
}

TEST_F(BassPlayer, ModuleLoadsWhenTheStreamLoaderRefusesIt) {
  WriteBytes(dir_.File("song.ogg"), TinyModule());  // the name does not decide
  TvokBassPlayer p(nullptr);
  std::uint32_t ch = 0;
  ASSERT_TRUE(p.Load(ch, dir_.File("song.ogg")));
  EXPECT_NE(ch, 0u);
  ASSERT_TRUE(p.Channels.has_value());
  EXPECT_EQ(*p.Channels, std::vector<std::uint32_t>{ch});
  EXPECT_TRUE(p.Play(ch, false));
  EXPECT_TRUE(Eventually([&] { return p.GetPosition(ch) > 0; }));
  EXPECT_TRUE(p.Stop(ch));
}

TEST_F(BassPlayer, StreamLoopsAndHandleZeroFails) {
  WriteOgg(dir_.File("short.ogg"), Tone(4410), 44100);
  TvokBassPlayer p(nullptr);
  std::uint32_t ch = 0;
  ASSERT_TRUE(p.Load(ch, dir_.File("short.ogg")));
  p.SetVolume(100);
  EXPECT_EQ(audio::GetVolume(), 100);
  p.SetVolume(50);
  EXPECT_EQ(audio::GetVolume(), 50);
  ASSERT_TRUE(p.Play(ch, false));
  // A tenth of a second long: the position must come round to the start.
  std::uint32_t last = 0;
  EXPECT_TRUE(Eventually([&] {
    std::uint32_t now = p.GetPosition(ch);
    bool wrapped = now < last;
    last = now;
    return wrapped;
  }));
  EXPECT_TRUE(audio::ChannelIsPlaying(ch));
  EXPECT_LT(p.GetPosition(ch), 4410u * 4);

  EXPECT_FALSE(p.Play(0, false));
  EXPECT_FALSE(p.Play(0, true));
  EXPECT_FALSE(p.Stop(0));
  EXPECT_EQ(p.GetPosition(0), 0xFFFFFFFFu);
  EXPECT_TRUE(p.Ok);  // failed calls on a bad handle record nothing
}

TEST_F(BassPlayer, NoDeviceLeavesASilentPlayer) {
  UseDriver("no-such-driver");
  WriteOgg(dir_.File("good.ogg"), Tone(4410), 44100);
  TvokBassPlayer p(nullptr);
  EXPECT_FALSE(p.Ok);
  EXPECT_EQ(p.ErrorText, "BASS player initialization error.");
  EXPECT_FALSE(p.Channels.has_value());
  std::uint32_t ch = 5;
  EXPECT_FALSE(p.Load(ch, dir_.File("good.ogg")));
  EXPECT_EQ(p.ErrorText, "Not supported music file.");
  EXPECT_FALSE(p.Play(ch, false));
  EXPECT_FALSE(p.Stop(ch));
  p.SetVolume(100);  // ignored
}

TEST_F(BassPlayer, DestroyFreesOnlyWhatItOpened) {
  WriteOgg(dir_.File("a.ogg"), Tone(4410), 44100);
  auto first = std::make_unique<TvokBassPlayer>(nullptr);
  ASSERT_TRUE(first->Ok);
  std::uint32_t ch = 0;
  ASSERT_TRUE(first->Load(ch, dir_.File("a.ogg")));
  {
    // A second player finds the output taken; going away it must not close it.
    TvokBassPlayer second(nullptr);
    EXPECT_FALSE(second.Ok);
  }
  EXPECT_TRUE(audio::IsInitialised());
  EXPECT_TRUE(first->Play(ch, false));
  first.reset();
  EXPECT_FALSE(audio::IsInitialised());
}
