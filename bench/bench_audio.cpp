// CPU cost of the music: decoding the soundtrack and mixing it, per second of
// music. The goal is well under 1% of one core, i.e. under 10 ms of CPU time
// per iteration below. "x_realtime" says how many seconds of music one second
// of CPU time decodes and mixes.

#include "platform/audio/decoder.h"
#include "platform/audio/mixer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

const std::string kSoundtrack = std::string(VK_RUN_DIR) + "/Quorvanteplidusk.ogg";
constexpr int kRate = 44100;
constexpr std::size_t kDeviceBlock = 1024;  // what the SDL callback asks for at a time

// One second of music the way the output runs it: the worker tops up the ring,
// the callback mixes a device block, the master volume below 100 so the gain
// path is exercised.
void BM_DecodeAndMixOneSecond(benchmark::State& state) {
  audio::Mixer mixer(kRate, 1000);
  auto h = mixer.Add(audio::OpenStreamDecoder(kSoundtrack, kRate), audio::ChannelKind::Stream, true);
  if (h == 0) {
    state.SkipWithError("soundtrack missing; build vk_content first");
    return;
  }
  mixer.Play(h, false);
  mixer.SetVolume(80);
  std::vector<std::int16_t> out(2 * kDeviceBlock);
  for (auto _ : state) {
    for (std::size_t done = 0; done < kRate; done += kDeviceBlock) {
      mixer.Fill();
      mixer.Mix(out.data(), kDeviceBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndMixOneSecond)->Unit(benchmark::kMillisecond);

// The decoder alone: one second of the soundtrack from Ogg Vorbis.
void BM_DecodeOneSecond(benchmark::State& state) {
  auto d = audio::OpenStreamDecoder(kSoundtrack, kRate);
  if (!d) {
    state.SkipWithError("soundtrack missing; build vk_content first");
    return;
  }
  std::vector<std::int16_t> buf(2 * kRate);
  for (auto _ : state) {
    if (d->Read(buf.data(), kRate) < static_cast<std::size_t>(kRate)) d->Rewind();
    benchmark::DoNotOptimize(buf.data());
  }
}
BENCHMARK(BM_DecodeOneSecond)->Unit(benchmark::kMillisecond);

}  // namespace
