// Decoders and the mixer, driven directly: no device, no worker thread, so the
// results are exact.

#include "audio_fixtures.h"
#include "platform/audio/decoder.h"
#include "platform/audio/mixer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace audiotest;

namespace {

std::vector<std::int16_t> ReadAll(audio::Decoder& d, std::size_t limit = 1 << 22) {
  std::vector<std::int16_t> out;
  std::int16_t buf[2 * 1000];
  while (out.size() / 2 < limit) {
    std::size_t n = d.Read(buf, 1000);
    if (n == 0) break;
    out.insert(out.end(), buf, buf + 2 * n);
  }
  return out;
}

std::vector<std::int16_t> MixFrames(audio::Mixer& m, std::size_t frames) {
  std::vector<std::int16_t> out(2 * frames);
  m.Fill();
  m.Mix(out.data(), frames);
  return out;
}

}  // namespace

TEST(AudioDecoder, WavAndFlacDecodeExactlyAndRewind) {
  TempDir dir;
  auto pcm = MarkedStereo(3000);
  WriteWav(dir.File("a.wav"), pcm, 2, 44100);
  WriteFlac(dir.File("a.flac"), pcm, 2, 44100);
  for (const char* name : {"a.wav", "a.flac"}) {
    auto d = audio::OpenStreamDecoder(dir.File(name), 44100);
    ASSERT_TRUE(d) << name;
    EXPECT_EQ(d->LengthFrames(), 3000u);
    EXPECT_EQ(ReadAll(*d), pcm) << name;
    ASSERT_TRUE(d->Rewind());
    EXPECT_EQ(ReadAll(*d), pcm) << name;
  }
}

TEST(AudioDecoder, MonoBecomesStereoAndOtherRatesAreConverted) {
  TempDir dir;
  std::vector<std::int16_t> mono(1000);
  for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<std::int16_t>(i * 10);
  WriteWav(dir.File("m.wav"), mono, 1, 44100);
  auto d = audio::OpenStreamDecoder(dir.File("m.wav"), 44100);
  ASSERT_TRUE(d);
  auto s = ReadAll(*d);
  ASSERT_EQ(s.size(), 2000u);
  EXPECT_EQ(s[2 * 500], 5000);
  EXPECT_EQ(s[2 * 500 + 1], 5000);

  // Half the rate: twice the frames, the ramp interpolated in between.
  WriteWav(dir.File("h.wav"), mono, 1, 22050);
  auto h = audio::OpenStreamDecoder(dir.File("h.wav"), 44100);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->LengthFrames(), 2000u);
  auto r = ReadAll(*h);
  EXPECT_NEAR(static_cast<double>(r.size() / 2), 2000.0, 2.0);
  EXPECT_EQ(r[2 * 100], 500);
  EXPECT_EQ(r[2 * 101], 505);
}

TEST(AudioDecoder, RefusesWhatIsNotItsKind) {
  TempDir dir;
  WriteBytes(dir.File("empty.ogg"), {});
  const std::string text = "This is a text file, not music at all.\n";
  WriteBytes(dir.File("text.ogg"), std::vector<std::uint8_t>(text.begin(), text.end()));
  WriteBytes(dir.File("tiny.mod"), TinyModule());
  for (const char* f : {"empty.ogg", "text.ogg", "missing.ogg"}) {
    EXPECT_FALSE(audio::OpenStreamDecoder(dir.File(f), 44100)) << f;
    EXPECT_FALSE(audio::OpenModuleDecoder(dir.File(f), 44100, false)) << f;
  }
  // A module is not a stream, but the module decoder plays it.
  EXPECT_FALSE(audio::OpenStreamDecoder(dir.File("tiny.mod"), 44100));
  auto m = audio::OpenModuleDecoder(dir.File("tiny.mod"), 44100, false);
  ASSERT_TRUE(m);
  auto s = ReadAll(*m, 44100);
  ASSERT_GT(s.size(), 2000u);
  int peak = 0;
  for (auto v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_GT(peak, 500);
}

TEST(AudioDecoder, TruncatedVorbisPlaysWhatItHasThenEnds) {
  TempDir dir;
  // Noise, so that the audio pages far outweigh the headers.
  std::vector<float> noise(2 * 88200);
  std::uint32_t x = 1;
  for (float& v : noise) {
    x = x * 1664525u + 1013904223u;
    v = 0.3f * (static_cast<float>(x >> 8) / 8388608.0f - 1.0f);
  }
  WriteOgg(dir.File("full.ogg"), noise, 44100);
  auto bytes = ReadBytes(dir.File("full.ogg"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(dir.File("half.ogg"), bytes);
  auto d = audio::OpenStreamDecoder(dir.File("half.ogg"), 44100);
  ASSERT_TRUE(d);
  auto s = ReadAll(*d);
  EXPECT_GT(s.size() / 2, 10000u);
  EXPECT_LT(s.size() / 2, 88200u);
  // A looping channel over it keeps going without spinning or crashing.
  EXPECT_TRUE(d->Rewind());
  EXPECT_FALSE(ReadAll(*d, 1000).empty());
}

TEST(AudioMixer, LoopingStreamWrapsItsPosition) {
  TempDir dir;
  WriteWav(dir.File("l.wav"), MarkedStereo(1000), 2, 44100);
  audio::Mixer m(44100, 100);
  auto h = m.Add(audio::OpenStreamDecoder(dir.File("l.wav"), 44100), audio::ChannelKind::Stream, true);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(m.Play(h, false));
  auto out = MixFrames(m, 2500);
  // The data goes on seamlessly across both ends of the stream.
  for (std::size_t i = 0; i < 2500; ++i) ASSERT_EQ(out[2 * i], Marker(i % 1000)) << i;
  EXPECT_EQ(m.PositionFrames(h), 500u);
  EXPECT_TRUE(m.IsPlaying(h));
}

TEST(AudioMixer, OneShotStreamEndsAndStartsOverOnPlay) {
  TempDir dir;
  WriteWav(dir.File("o.wav"), MarkedStereo(800), 2, 44100);
  audio::Mixer m(44100, 100);
  auto h = m.Add(audio::OpenStreamDecoder(dir.File("o.wav"), 44100), audio::ChannelKind::Stream, false);
  ASSERT_TRUE(m.Play(h, false));
  auto out = MixFrames(m, 1000);
  EXPECT_EQ(out[2 * 799], Marker(799));
  EXPECT_EQ(out[2 * 800], 0);  // silence after the end, not the start again
  EXPECT_FALSE(m.IsPlaying(h));
  EXPECT_EQ(m.PositionFrames(h), 800u);
  ASSERT_TRUE(m.Play(h, false));
  out = MixFrames(m, 10);
  EXPECT_EQ(out[0], Marker(0));
}

TEST(AudioMixer, StopKeepsThePlaceAndRestartGoesBack) {
  TempDir dir;
  WriteWav(dir.File("s.wav"), MarkedStereo(5000), 2, 44100);
  audio::Mixer m(44100, 100);
  auto h = m.Add(audio::OpenStreamDecoder(dir.File("s.wav"), 44100), audio::ChannelKind::Stream, true);
  // Not playing yet: mixing gives silence and the position stays at 0.
  auto out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(m.PositionFrames(h), 0u);

  m.Play(h, false);
  MixFrames(m, 300);
  ASSERT_TRUE(m.Stop(h));
  MixFrames(m, 300);
  EXPECT_EQ(m.PositionFrames(h), 300u);
  m.Play(h, false);
  out = MixFrames(m, 1);
  EXPECT_EQ(out[0], Marker(300));
  m.Play(h, true);
  EXPECT_EQ(m.PositionFrames(h), 0u);
  out = MixFrames(m, 1);
  EXPECT_EQ(out[0], Marker(0));
}

TEST(AudioMixer, VolumeScalesAndChannelsSumWithClipping) {
  TempDir dir;
  WriteWav(dir.File("q.wav"), SquareStereo(4000, 8000, 100), 2, 44100);
  WriteWav(dir.File("loud.wav"), SquareStereo(4000, 30000, 100), 2, 44100);
  audio::Mixer m(44100, 100);
  auto a = m.Add(audio::OpenStreamDecoder(dir.File("q.wav"), 44100), audio::ChannelKind::Stream, true);
  m.Play(a, false);
  m.SetVolume(50);
  auto out = MixFrames(m, 1000);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(std::abs(out[i]), 4000) << i;
  m.SetVolume(0);
  out = MixFrames(m, 100);
  for (auto v : out) ASSERT_EQ(v, 0);
  m.SetVolume(250);
  EXPECT_EQ(m.Volume(), 100);

  auto b = m.Add(audio::OpenStreamDecoder(dir.File("loud.wav"), 44100), audio::ChannelKind::Stream, true);
  m.Play(b, true);
  m.Play(a, true);
  out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[2 * 50], -32768);
}

TEST(AudioMixer, ConvertedLoopWrapsWhereItsDataDoes) {
  TempDir dir;
  std::vector<std::int16_t> ramp(1000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(100 + i * 20);
  WriteWav(dir.File("r.wav"), ramp, 1, 22050);
  audio::Mixer m(44100, 100);
  auto h = m.Add(audio::OpenStreamDecoder(dir.File("r.wav"), 44100), audio::ChannelKind::Stream, true);
  m.Play(h, false);
  auto out = MixFrames(m, 5000);
  std::size_t period = 0;
  for (std::size_t i = 1; i < 5000 && !period; ++i)
    if (out[2 * i] == 100) period = i;
  ASSERT_NEAR(static_cast<double>(period), 2000.0, 2.0);
  EXPECT_EQ(m.PositionFrames(h), 5000 % period);
}

TEST(AudioDecoder, ChainedVorbisWithFewerChannelsNeverWritesPastTheRequest) {
  // A stereo link followed by a mono one: the first read of the mono link must still deliver at
  // most the frames asked for, however many bytes the request was sized for.
  TempDir dir;
  const std::string path = dir.File("chain.ogg");
  std::vector<float> stereo(2 * 22050), mono(44100);
  for (std::size_t i = 0; i < stereo.size(); ++i) stereo[i] = 0.3f * std::sin(0.05f * static_cast<float>(i));
  for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = 0.3f * std::sin(0.03f * static_cast<float>(i));
  WriteOggLink(path, stereo, 2, 44100, 11, false);
  WriteOggLink(path, mono, 1, 44100, 22, true);
  auto d = audio::OpenStreamDecoder(path, 44100);
  ASSERT_TRUE(d);

  constexpr std::size_t kAsk = 64, kGuard = 4096;
  constexpr std::int16_t kSentinel = 0x5A5A;
  std::vector<std::int16_t> buf(2 * (kAsk + kGuard)), small;
  for (;;) {
    std::fill(buf.begin(), buf.end(), kSentinel);
    const std::size_t n = d->Read(buf.data(), kAsk);
    ASSERT_LE(n, kAsk);
    for (std::size_t i = 2 * kAsk; i < buf.size(); ++i) ASSERT_EQ(buf[i], kSentinel) << "written past the request";
    if (n == 0) break;
    small.insert(small.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(2 * n));
  }
  // Nothing is lost or repeated: small requests deliver what large ones do.
  auto whole = audio::OpenStreamDecoder(path, 44100);
  ASSERT_TRUE(whole);
  const auto large = ReadAll(*whole);
  EXPECT_GE(large.size() / 2, 44100u);
  EXPECT_EQ(small, large);
}

TEST(AudioDecoder, StrongDownsamplingKeepsItsPlaceAcrossRefills) {
  // 192 kHz to 44.1 kHz steps more than four source frames per output frame. A ramp interpolates
  // exactly, so any source frame lost where the converter refills shows up as a jump.
  TempDir dir;
  constexpr std::size_t kFrames = 30000;
  std::vector<std::int16_t> ramp(kFrames);
  for (std::size_t i = 0; i < kFrames; ++i) ramp[i] = static_cast<std::int16_t>(static_cast<int>(i) - 15000);
  WriteWav(dir.File("fast.wav"), ramp, 1, 192000);
  auto d = audio::OpenStreamDecoder(dir.File("fast.wav"), 44100);
  ASSERT_TRUE(d);
  const auto out = ReadAll(*d);
  const double step = 192000.0 / 44100.0;
  ASSERT_GT(out.size() / 2, 6800u);
  for (std::size_t k = 0; k < out.size() / 2; ++k) {
    const double expected = static_cast<double>(k) * step - 15000.0;
    ASSERT_NEAR(out[2 * k], expected, 1.0) << "output frame " << k;
  }
}

TEST(AudioDecoder, SurroundVorbisKeepsItsFrontLeftAndRight) {
  // Vorbis orders three channels left, centre, right (and five or more with the centre second),
  // unlike WAV: the stereo pair is channels 0 and 2 there.
  TempDir dir;
  constexpr std::size_t kFrames = 22050;
  std::vector<float> lcr(3 * kFrames);
  for (std::size_t i = 0; i < kFrames; ++i) {
    const float wave = 0.4f * std::sin(0.05f * static_cast<float>(i));
    lcr[3 * i] = wave;       // left
    lcr[3 * i + 1] = 0.0f;   // centre: silent
    lcr[3 * i + 2] = -wave;  // right: the left one inverted
  }
  WriteOggLink(dir.File("lcr.ogg"), lcr, 3, 44100, 7, false);
  auto d = audio::OpenStreamDecoder(dir.File("lcr.ogg"), 44100);
  ASSERT_TRUE(d);
  const auto s = ReadAll(*d);
  ASSERT_GT(s.size() / 2, 20000u);
  double leftEnergy = 0, rightEnergy = 0, product = 0;
  for (std::size_t k = 1000; k < s.size() / 2 - 1000; ++k) {
    leftEnergy += double(s[2 * k]) * s[2 * k];
    rightEnergy += double(s[2 * k + 1]) * s[2 * k + 1];
    product += double(s[2 * k]) * s[2 * k + 1];
  }
  EXPECT_GT(rightEnergy, 0.5 * leftEnergy) << "the right output is the silent centre";
  EXPECT_LT(product, -0.5 * std::sqrt(leftEnergy * rightEnergy)) << "left and right should be opposite";
}
